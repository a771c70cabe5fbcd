// The packer's archives read back by a small reader of our own, written here
// from the archive layout and independent of the packer's code.
#include "tools/packer/host_deflaters.h"
#include "tools/packer/zip_packer.h"

#include "tests/support/bytes.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>

#include <sys/wait.h>

namespace {

using support::Get16;
using support::Get32;

struct UtBlock {
    bool present = false;
    std::uint32_t size = 0;
    std::uint8_t flags = 0;
    std::vector<std::uint32_t> times;
};

UtBlock FindUt(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t length) {
    UtBlock ut;
    std::size_t pos = at;
    while (pos + 4 <= at + length) {
        const std::uint32_t id = Get16(b, pos), size = Get16(b, pos + 2);
        if (id == 0x5455) {  // "UT"
            ut.present = true;
            ut.size = size;
            ut.flags = b.at(pos + 4);
            for (std::size_t t = 1; t + 4 <= size; t += 4) ut.times.push_back(Get32(b, pos + 4 + t));
            return ut;
        }
        pos += 4 + size;
    }
    return ut;
}

// The fields that a central and a local header share, in the same order.
struct Header {
    std::uint32_t needed = 0, flags = 0, method = 0, dosTime = 0, crc = 0, csize = 0, usize = 0;
    bool operator==(const Header& o) const {
        return needed == o.needed && flags == o.flags && method == o.method && dosTime == o.dosTime && crc == o.crc &&
               csize == o.csize && usize == o.usize;
    }
};
std::ostream& operator<<(std::ostream& out, const Header& h) {
    return out << "needed " << h.needed << " flags " << h.flags << " method " << h.method << " time " << h.dosTime
               << " crc " << h.crc << " sizes " << h.csize << "/" << h.usize;
}
Header ReadHeader(const std::vector<std::uint8_t>& b, std::size_t at) {
    return {Get16(b, at),      Get16(b, at + 2),  Get16(b, at + 4), Get32(b, at + 6),
            Get32(b, at + 10), Get32(b, at + 14), Get32(b, at + 18)};
}

// An item as its central header (the Header part) and its local header tell it.
struct Entry : Header {
    std::size_t centralAt = 0;
    std::uint32_t madeBy = 0, attributes = 0, localOffset = 0;
    std::string name;
    UtBlock centralUt;
    std::size_t localAt = 0;
    std::uint32_t localSignature = 0;
    Header local;
    std::string localName;
    std::size_t localExtraAt = 0, localExtraLength = 0;
    UtBlock localUt;
    std::size_t dataAt = 0;
};

struct Archive {
    std::size_t endAt = 0;
    std::size_t bytesBefore = 0;
    std::uint32_t entries = 0, directorySize = 0, directoryOffset = 0;
    std::string comment;
    std::vector<Entry> items;
};

// Reads the archive the way an extractor would: end record found from the back,
// central headers walked in order, each local header checked against its entry.
Archive Read(const std::vector<std::uint8_t>& b) {
    Archive a;
    bool found = false;
    for (std::size_t at = b.size() - 22 + 1; at-- > 0;) {
        if (Get32(b, at) == 0x06054B50) {
            a.endAt = at;
            found = true;
            break;
        }
    }
    EXPECT_TRUE(found) << "no end record";
    if (!found) return a;
    EXPECT_EQ(Get16(b, a.endAt + 4), 0u);
    EXPECT_EQ(Get16(b, a.endAt + 6), 0u);
    a.entries = Get16(b, a.endAt + 8);
    EXPECT_EQ(Get16(b, a.endAt + 10), a.entries);
    a.directorySize = Get32(b, a.endAt + 12);
    a.directoryOffset = Get32(b, a.endAt + 16);
    const std::uint32_t commentLength = Get16(b, a.endAt + 20);
    EXPECT_EQ(a.endAt + 22 + commentLength, b.size()) << "comment must end the file";
    a.comment.assign(b.begin() + static_cast<std::ptrdiff_t>(a.endAt + 22), b.end());
    a.bytesBefore = a.endAt - (a.directoryOffset + a.directorySize);

    std::size_t at = a.bytesBefore + a.directoryOffset;
    for (std::uint32_t i = 0; i < a.entries; ++i) {
        Entry e;
        e.centralAt = at;
        EXPECT_EQ(Get32(b, at), 0x02014B50u) << "central header " << i;
        e.madeBy = Get16(b, at + 4);
        static_cast<Header&>(e) = ReadHeader(b, at + 6);
        const std::uint32_t n = Get16(b, at + 28), x = Get16(b, at + 30), c = Get16(b, at + 32);
        EXPECT_EQ(Get16(b, at + 34), 0u);
        e.attributes = Get32(b, at + 38);
        e.localOffset = Get32(b, at + 42);
        e.name.assign(b.begin() + static_cast<std::ptrdiff_t>(at + 46),
                      b.begin() + static_cast<std::ptrdiff_t>(at + 46 + n));
        e.centralUt = FindUt(b, at + 46 + n, x);
        at += 46 + n + x + c;

        const std::size_t l = a.bytesBefore + e.localOffset;
        e.localAt = l;
        e.localSignature = Get32(b, l);
        e.local = ReadHeader(b, l + 4);
        const std::uint32_t ln = Get16(b, l + 26), lx = Get16(b, l + 28);
        e.localName.assign(b.begin() + static_cast<std::ptrdiff_t>(l + 30),
                           b.begin() + static_cast<std::ptrdiff_t>(l + 30 + ln));
        e.localExtraAt = l + 30 + ln;
        e.localExtraLength = lx;
        e.localUt = FindUt(b, e.localExtraAt, lx);
        e.dataAt = l + 30 + ln + lx;
        a.items.push_back(e);
    }
    EXPECT_EQ(at, a.endAt) << "central directory size does not reach the end record";
    return a;
}

std::vector<std::uint8_t> ItemData(const std::vector<std::uint8_t>& b, const Entry& e) {
    const auto* in = b.data() + e.dataAt;
    if (e.method == 0) return std::vector<std::uint8_t>(in, in + e.csize);
    std::vector<std::uint8_t> out(e.usize + 64);
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = e.csize;
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END) << e.name;
    EXPECT_EQ(z.avail_in, 0u) << "deflate data longer than its compressed size: " << e.name;
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

std::uint32_t Crc(const std::vector<std::uint8_t>& d) {
    return static_cast<std::uint32_t>(crc32(crc32(0, nullptr, 0), d.data(), static_cast<uInt>(d.size())));
}

std::vector<std::uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

packer::Item NewItem(std::string name, std::vector<std::uint8_t> data = {},
                     packer::Method method = packer::Method::Deflate) {
    packer::Item item;
    item.name = std::move(name);
    item.data = std::move(data);
    item.method = method;
    return item;
}

std::vector<std::uint8_t> Compressible(std::size_t n) {
    std::vector<std::uint8_t> d(n);
    for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<std::uint8_t>("Larkspan by Orvane. "[i % 20]);
    return d;
}

std::vector<std::uint8_t> Noise(std::size_t n) {
    std::vector<std::uint8_t> d(n);
    std::uint32_t s = 12345;
    for (auto& v : d) {
        s = s * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>(s >> 16);
    }
    return d;
}

constexpr std::uint32_t kNewYear2026 = 1767225600;  // 2026-01-01 00:00:00 UTC
constexpr std::uint32_t kLeapDay2024 = 1709214359;  // 2024-02-29 13:45:59 UTC

std::uint32_t Dos(int year, int month, int day, int hour, int minute, int second) {
    return (static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day) << 16) |
           static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
}

TEST(PackerDosTime, ConvertsUtcWithoutZoneAndClampsBefore1980) {
    EXPECT_EQ(packer::DosDateTime(kNewYear2026), Dos(2026, 1, 1, 0, 0, 0));
    EXPECT_EQ(packer::DosDateTime(kLeapDay2024), Dos(2024, 2, 29, 13, 45, 58));
    EXPECT_EQ(packer::DosDateTime(315532800), Dos(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(packer::DosDateTime(4102444799u), Dos(2099, 12, 31, 23, 59, 58));
    EXPECT_EQ(packer::DosDateTime(951825600), Dos(2000, 2, 29, 12, 0, 0));
    EXPECT_EQ(packer::DosDateTime(315532799), Dos(1980, 1, 1, 0, 0, 0));
}

TEST(Packer, WritesPayloadFormReadableByAnIndependentReader) {
    std::vector<packer::Item> items = {NewItem("Larkspan.exe", Compressible(100000)), NewItem("docs/"),
                                       NewItem("docs/noise.bin", Noise(40000), packer::Method::Stored),
                                       NewItem("empty.txt")};
    items[0].modificationTime = kLeapDay2024;
    items[0].accessTime = kLeapDay2024 + 100;
    items[0].creationTime = kLeapDay2024 - 100;
    items[1].folder = true;
    for (std::size_t i = 1; i < items.size(); ++i) items[i].modificationTime = kNewYear2026;
    const packer::Packed packed = packer::Pack(items);
    const auto& b = packed.bytes;
    const Archive a = Read(b);

    ASSERT_EQ(a.entries, 4u);
    ASSERT_EQ(a.items.size(), 4u);
    EXPECT_EQ(a.bytesBefore, 0u);
    EXPECT_EQ(a.comment, "");
    EXPECT_EQ(packed.endRecordOffset, a.endAt);
    EXPECT_EQ(packed.centralDirectoryOffset, a.directoryOffset);
    EXPECT_EQ(packed.centralDirectorySize, a.directorySize);
    EXPECT_EQ(b[0], 0x50);
    EXPECT_EQ(b[1], 0x55);
    EXPECT_EQ(b[2], 0x55);
    EXPECT_EQ(b[3], 0x04);

    const std::uint32_t defaultFile = (0100644u << 16) | 0x20, defaultFolder = (040755u << 16) | 0x10;
    for (std::size_t i = 0; i < 4; ++i) {
        const Entry& e = a.items[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.name, items[i].name);
        EXPECT_EQ(e.localName, items[i].name);
        EXPECT_EQ(e.localSignature, 0x04555550u);
        EXPECT_EQ(e.madeBy, 0x031Eu);
        EXPECT_EQ(e.needed, 20u);
        EXPECT_EQ(e.flags, 0u);
        EXPECT_EQ(e.local, static_cast<const Header&>(e)) << "the local header repeats the central one";
        EXPECT_EQ(e.dosTime, packer::DosDateTime(items[i].modificationTime));
        EXPECT_EQ(e.attributes, items[i].folder ? defaultFolder : defaultFile);
        // Local "UT": all three times in the order modification, access, creation.
        ASSERT_TRUE(e.localUt.present);
        EXPECT_EQ(e.localUt.size, 13u);
        EXPECT_EQ(e.localUt.flags, 7);
        EXPECT_EQ(e.localUt.times,
                  (std::vector<std::uint32_t>{items[i].modificationTime, items[i].accessTime, items[i].creationTime}));
        // Central "UT": the same flags, the modification time only.
        ASSERT_TRUE(e.centralUt.present);
        EXPECT_EQ(e.centralUt.size, 5u);
        EXPECT_EQ(e.centralUt.flags, 7);
        EXPECT_EQ(e.centralUt.times, std::vector<std::uint32_t>{items[i].modificationTime});

        const auto data = ItemData(b, e);
        EXPECT_EQ(data, items[i].data);
        EXPECT_EQ(e.usize, items[i].data.size());
        EXPECT_EQ(e.crc, Crc(items[i].data));

        const packer::ItemLayout& layout = packed.items[i];
        EXPECT_EQ(layout.localHeaderOffset, e.localAt);
        EXPECT_EQ(layout.dataOffset, e.dataAt);
        EXPECT_EQ(layout.centralHeaderOffset, e.centralAt);
        EXPECT_EQ(layout.compressedSize, e.csize);
        EXPECT_EQ(layout.crc32, e.crc);
    }
    EXPECT_EQ(a.items[0].method, 8u);
    EXPECT_LT(a.items[0].csize, 2000u) << "repetitive data must shrink";
    EXPECT_EQ(a.items[1].method, 0u) << "folders are stored";
    EXPECT_EQ(a.items[1].csize, 0u);
    EXPECT_EQ(a.items[2].method, 0u);
    EXPECT_EQ(a.items[2].csize, 40000u);
    EXPECT_EQ(a.items[3].method, 8u);
    // Items follow each other with nothing between them, then the directory.
    EXPECT_EQ(a.items[0].dataAt + a.items[0].csize, a.items[1].localAt);
    EXPECT_EQ(a.items[3].dataAt + a.items[3].csize, a.directoryOffset);
}

TEST(Packer, DataDescriptorZeroesLocalFieldsAndFollowsTheData) {
    std::vector<packer::Item> items = {NewItem("a.txt", Compressible(5000)),
                                       NewItem("b.bin", Noise(300), packer::Method::Stored)};
    for (packer::Item& item : items) item.dataDescriptor = true;
    const packer::Packed packed = packer::Pack(items);
    const Archive a = Read(packed.bytes);
    ASSERT_EQ(a.items.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const Entry& e = a.items[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.flags, 8u);
        EXPECT_EQ(e.local, (Header{e.needed, 8, e.method, e.dosTime, 0, 0, 0})) << "CRC-32 and sizes zero";
        EXPECT_EQ(e.crc, Crc(items[i].data));
        EXPECT_EQ(e.usize, items[i].data.size());
        const std::size_t d = e.dataAt + e.csize;
        EXPECT_EQ(Get32(packed.bytes, d), 0x08074B50u);
        EXPECT_EQ(Get32(packed.bytes, d + 4), e.crc);
        EXPECT_EQ(Get32(packed.bytes, d + 8), e.csize);
        EXPECT_EQ(Get32(packed.bytes, d + 12), e.usize);
        EXPECT_EQ(ItemData(packed.bytes, e), items[i].data);
    }
    EXPECT_EQ(a.items[0].dataAt + a.items[0].csize + 16, a.items[1].localAt);
}

// A deflater whose output has the length a case asks for: just below, at and
// above the item's own size.
std::size_t g_deflatedSize = 0;
std::vector<std::uint8_t> DeflateToGivenSize(const std::vector<std::uint8_t>&, int) {
    return std::vector<std::uint8_t>(g_deflatedSize, 0xAB);
}

TEST(Packer, StoresWhenDeflateWouldNotBeSmallerOnlyWhenAsked) {
    const auto data = Noise(100);
    // The deflate data's size, whether storing is asked for, the method that results.
    for (const auto& [size, asked, method] :
         {std::tuple{99u, true, 8u}, {100u, true, 0u}, {101u, true, 0u}, {101u, false, 8u}}) {
        SCOPED_TRACE(size);
        g_deflatedSize = size;
        packer::Options options;
        options.deflater = DeflateToGivenSize;
        options.storeWhenNotSmaller = asked;
        const packer::Packed packed = packer::Pack({NewItem("a.bin", data)}, options);
        const Archive a = Read(packed.bytes);
        ASSERT_EQ(a.items.size(), 1u);
        EXPECT_EQ(a.items[0].method, method);
        EXPECT_EQ(a.items[0].local, static_cast<const Header&>(a.items[0]));
        EXPECT_EQ(a.items[0].csize, method == 0 ? data.size() : size);
        if (method == 0) {
            EXPECT_EQ(ItemData(packed.bytes, a.items[0]), data);
        }
    }
}

TEST(Packer, PrependKeepsArchiveRelativeOffsetsAndCommentEndsTheFile) {
    const std::vector<packer::Item> items = {NewItem("one", Text("first item")), NewItem("two", Text("second item"))};
    packer::Options options;
    options.prepend = Noise(777);
    options.comment = "Orvane Larkspan 2.80";
    const packer::Packed packed = packer::Pack(items, options);
    const Archive a = Read(packed.bytes);
    EXPECT_TRUE(std::equal(options.prepend.begin(), options.prepend.end(), packed.bytes.begin()));
    EXPECT_EQ(a.bytesBefore, 777u);
    EXPECT_EQ(a.comment, options.comment);
    EXPECT_EQ(packed.centralDirectoryOffset, a.directoryOffset + 777u);
    ASSERT_EQ(a.items.size(), 2u);
    EXPECT_EQ(a.items[0].localOffset, 0u);
    EXPECT_EQ(packed.items[0].localHeaderOffset, 777u);
    EXPECT_EQ(packed.items[1].localHeaderOffset, a.items[1].localOffset + 777u);
    EXPECT_EQ(ItemData(packed.bytes, a.items[1]), items[1].data);
}

TEST(Packer, HonoursAttributesUtFlagsRawExtrasAndStandardSignature) {
    std::vector<packer::Item> items = {NewItem("ro.txt", Text("read only")), NewItem("bare.txt", Text("no times")),
                                       NewItem("extras.txt", Text("extras around the time block"))};
    items[0].externalAttributes = (0100444u << 16) | 0x01;
    items[0].localUtFlags = 5;  // modification and creation only
    items[0].modificationTime = 1000000000;
    items[0].accessTime = 1111111111;
    items[0].creationTime = 999999999;
    items[1].localUtFlags = 0;
    items[2].localExtraBefore = {0x0A, 0x00, 0x02, 0x00, 0xAB, 0xCD};
    items[2].localExtraAfter = {0xEE, 0xFF, 0x10};
    packer::Options options;
    options.standardLocalSignature = true;
    const packer::Packed packed = packer::Pack(items, options);
    const Archive a = Read(packed.bytes);
    ASSERT_EQ(a.items.size(), 3u);
    for (const Entry& e : a.items) EXPECT_EQ(e.localSignature, 0x04034B50u) << e.name;

    EXPECT_EQ(a.items[0].attributes, items[0].externalAttributes);
    EXPECT_EQ(a.items[0].localUt.flags, 5);
    EXPECT_EQ(a.items[0].localUt.size, 9u);
    EXPECT_EQ(a.items[0].localUt.times, (std::vector<std::uint32_t>{1000000000, 999999999}));
    EXPECT_EQ(a.items[0].centralUt.times, (std::vector<std::uint32_t>{1000000000}));

    EXPECT_FALSE(a.items[1].localUt.present);
    EXPECT_EQ(a.items[1].localExtraLength, 0u);
    EXPECT_FALSE(a.items[1].centralUt.present);

    const Entry& x = a.items[2];
    ASSERT_EQ(x.localExtraLength, 6u + 17u + 3u);
    EXPECT_EQ(packed.bytes[x.localExtraAt], 0x0A);
    EXPECT_EQ(Get16(packed.bytes, x.localExtraAt + 6), 0x5455u);
    EXPECT_EQ(packed.bytes[x.localExtraAt + 23], 0xEE);
    EXPECT_EQ(packed.bytes[x.localExtraAt + 25], 0x10);
    EXPECT_TRUE(x.localUt.present);
    EXPECT_EQ(ItemData(packed.bytes, x), items[2].data);
}

// --- the command-line tool ---------------------------------------------------

class PackTool : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::string(::testing::TempDir()) + "larkspan-pack-test-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_EQ(std::system(("rm -rf '" + dir_ + "' && mkdir -p '" + dir_ + "'").c_str()), 0);
    }
    void TearDown() override { (void)std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string Write(const std::string& name, const std::vector<std::uint8_t>& data) {
        const std::string path = dir_ + "/" + name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        return path;
    }
    std::vector<std::uint8_t> Load(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    int Run(const std::string& env, const std::string& args, const std::string& errors = "/dev/null") {
        const std::string command = env + " '" LARKSPAN_PACK_TOOL "' " + args + " 2>" + errors;
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string dir_;
};

TEST_F(PackTool, OptionsApplyToTheItemsThatFollowThem) {
    const auto program = Compressible(20000), readme = Text("Read me first.\r\n"), licence = Compressible(3000);
    const std::string p = Write("prog.exe", program), r = Write("readme.txt", readme), l = Write("lic.rtf", licence);
    const std::string out = dir_ + "/out.zip";
    ASSERT_EQ(Run("", "--time 1709214359 Larkspan.exe=" + p + " --store " + r +
                          " --folder Docs --data-descriptor --attributes 0x81240001 Docs/License.rtf=" + l +
                          " --deflate --level 9 last.rtf=" + l + " -o " + out),
              0);
    const auto bytes = Load(out);
    const Archive a = Read(bytes);
    ASSERT_EQ(a.items.size(), 5u);
    EXPECT_EQ(a.items[0].name, "Larkspan.exe");
    EXPECT_EQ(a.items[1].name, "readme.txt");
    EXPECT_EQ(a.items[2].name, "Docs/");
    EXPECT_EQ(a.items[3].name, "Docs/License.rtf");
    EXPECT_EQ(a.items[4].name, "last.rtf");
    EXPECT_EQ(a.items[0].method, 8u);
    EXPECT_EQ(a.items[1].method, 0u);
    EXPECT_EQ(a.items[2].method, 0u);
    EXPECT_EQ(a.items[3].method, 0u) << "--store still applies";
    EXPECT_EQ(a.items[4].method, 8u);
    EXPECT_EQ(a.items[0].flags | a.items[1].flags, 0u);
    EXPECT_EQ(a.items[3].flags, 8u);
    EXPECT_EQ(a.items[4].flags, 8u);
    EXPECT_EQ(a.items[0].attributes, (0100644u << 16) | 0x20);
    EXPECT_EQ(a.items[2].attributes, (040755u << 16) | 0x10) << "--attributes came after the folder";
    EXPECT_EQ(a.items[2].flags, 0u);
    EXPECT_EQ(a.items[3].attributes, 0x81240001u);
    EXPECT_EQ(ItemData(bytes, a.items[0]), program);
    EXPECT_EQ(ItemData(bytes, a.items[1]), readme);
    EXPECT_EQ(ItemData(bytes, a.items[3]), licence);
    EXPECT_EQ(ItemData(bytes, a.items[4]), licence);
    for (const Entry& e : a.items) {
        EXPECT_EQ(e.localSignature, 0x04555550u);
        EXPECT_EQ(e.dosTime, Dos(2024, 2, 29, 13, 45, 58)) << e.name;
        EXPECT_EQ(e.localUt.times, (std::vector<std::uint32_t>(3, kLeapDay2024))) << e.name;
    }
}

// The raw deflate data that libdeflate itself makes at `level`.
std::vector<std::uint8_t> LibdeflateAt(const std::vector<std::uint8_t>& data, int level) {
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
    std::vector<std::uint8_t> out(libdeflate_deflate_compress_bound(compressor, data.size()));
    out.resize(libdeflate_deflate_compress(compressor, data.data(), data.size(), out.data(), out.size()));
    libdeflate_free_compressor(compressor);
    return out;
}

// Random letters of a four-letter alphabet: data that only the choice of codes
// makes smaller, where libdeflate's level 12 beats Zopfli.
std::vector<std::uint8_t> FourLetters(std::size_t n) {
    std::vector<std::uint8_t> d = Noise(n);
    for (auto& v : d) v = static_cast<std::uint8_t>('a' + v % 4);
    return d;
}

// --level 1..11 is libdeflate's level alone; 12, also without --level, the
// smaller of libdeflate's level 12 and Zopfli: Zopfli's on machine code, where
// it wins, libdeflate's on the letters. What deflate would not make smaller
// (noise, an empty and a one-byte file) is stored, --deflate or not.
TEST_F(PackTool, LevelPicksTheEncoderAndWhatWouldNotShrinkIsStored) {
    // Real machine code (the start of this program), kept short: Zopfli is slow.
    auto program = Load("/proc/self/exe");
    program.resize(std::min<std::size_t>(program.size(), 65536));
    const auto letters = FourLetters(20000), noise = Noise(30000);
    const std::string p = Write("program", program), l = Write("letters", letters), n = Write("noise", noise),
                      e = Write("empty", {}), one = Write("one", Text("x")), out = dir_ + "/out.zip";
    ASSERT_EQ(Run("", "a=" + p + " --level 1 b=" + p + " --level 9 c=" + p + " --level 11 d=" + p +
                          " --level 12 e=" + p + " f=" + l + " --deflate " + n + " " + e + " " + one + " -o " + out),
              0);
    const auto bytes = Load(out);
    const Archive a = Read(bytes);
    ASSERT_EQ(a.items.size(), 9u);
    // The level in force, whether libdeflate's output at that level is the item's.
    for (const auto& [i, level, libdeflates] :
         {std::tuple{0u, 12, false}, {1u, 1, true}, {2u, 9, true}, {3u, 11, true}, {4u, 12, false}, {5u, 12, true}}) {
        SCOPED_TRACE(a.items[i].name);
        const auto& data = i == 5 ? letters : program;
        const auto libdeflate = LibdeflateAt(data, level);
        EXPECT_EQ(a.items[i].method, 8u);
        if (libdeflates) {
            ASSERT_EQ(a.items[i].csize, libdeflate.size());
            EXPECT_TRUE(std::equal(libdeflate.begin(), libdeflate.end(), bytes.begin() + a.items[i].dataAt));
        } else {
            EXPECT_LT(a.items[i].csize, libdeflate.size()) << "Zopfli's output, smaller than libdeflate's";
        }
        EXPECT_EQ(ItemData(bytes, a.items[i]), data);
    }
    EXPECT_LT(a.items[3].csize, a.items[2].csize) << "levels 9 and 11 differ on this data";
    EXPECT_LT(a.items[2].csize, a.items[1].csize) << "levels 1 and 9 differ on this data";
    for (std::size_t i = 6; i < 9; ++i) {
        EXPECT_EQ(a.items[i].method, 0u) << a.items[i].name;
        EXPECT_EQ(a.items[i].csize, a.items[i].usize) << a.items[i].name;
    }
    EXPECT_EQ(ItemData(bytes, a.items[6]), noise);
}

// The same bytes at --jobs 1, 2 and 8 as the library packs on one thread, over
// items that take each way through the threads: Zopfli's two parts of `large`
// (the second starting inside a byte and holding a stored block) joined, a
// text, noise (stored), an empty item, machine code at libdeflate's level 9
// alone. With --quiet nothing on standard error.
TEST_F(PackTool, SameArchiveWhateverTheNumberOfThreads) {
    std::vector<std::uint8_t> large(1000000, 0), program = Load("/proc/self/exe");
    const auto tail = Noise(5000);
    large.insert(large.end(), tail.begin(), tail.end());
    program.resize(std::min<std::size_t>(program.size(), 65536));
    const std::pair<std::string, std::vector<std::uint8_t>> files[] = {
        {"large", large}, {"text", Compressible(3000)}, {"noise", Noise(30000)}, {"empty", {}}, {"nine", program}};
    std::string args = "--time 1709214359";
    std::vector<packer::Item> items;
    for (const auto& [name, data] : files) {
        args += (name == "nine" ? " --level 9 " : " ") + name + "=" + Write(name, data);
        items.push_back(NewItem(name, data));
        items.back().level = name == "nine" ? 9 : 12;
        items.back().modificationTime = items.back().accessTime = items.back().creationTime = kLeapDay2024;
    }
    packer::Options options;
    options.deflater = packer::SmallestDeflate;
    options.storeWhenNotSmaller = true;
    const auto expected = packer::Pack(items, options).bytes;
    ASSERT_LT(Read(expected).items[0].csize, LibdeflateAt(large, 12).size()) << "Zopfli's parts are in the archive";
    // The number of threads, whether --quiet is given.
    for (const auto& [jobs, quiet] : {std::pair{1, true}, {2, false}, {8, true}}) {
        SCOPED_TRACE(jobs);
        const std::string out = dir_ + "/out.zip", errors = dir_ + "/errors.txt";
        ASSERT_EQ(Run("", args + " --jobs " + std::to_string(jobs) + (quiet ? " --quiet" : "") + " -o " + out, errors),
                  0);
        EXPECT_TRUE(Load(out) == expected);
        if (quiet) {
            EXPECT_TRUE(Load(errors).empty());
        }
    }
}

TEST_F(PackTool, TimeComesFromSourceDateEpochAndOutputIsDeterministic) {
    const std::string f = Write("data.txt", Compressible(5000));
    const std::string pre = Write("stub.bin", Noise(512));
    const std::string a1 = dir_ + "/a1.zip", a2 = dir_ + "/a2.zip", a3 = dir_ + "/a3.zip", a4 = dir_ + "/a4.zip";
    ASSERT_EQ(
        Run("SOURCE_DATE_EPOCH=1767225600", "--prepend " + pre + " --comment 'Larkspan payload' -o " + a1 + " " + f),
        0);
    ASSERT_EQ(
        Run("SOURCE_DATE_EPOCH=1767225600", "--prepend " + pre + " --comment 'Larkspan payload' -o " + a2 + " " + f),
        0);
    ASSERT_EQ(Run("SOURCE_DATE_EPOCH=1767225600", "--time 1709214359 -o " + a3 + " " + f), 0);
    ASSERT_EQ(Run("env -u SOURCE_DATE_EPOCH", "-o " + a4 + " " + f), 0);
    const auto b1 = Load(a1);
    EXPECT_EQ(b1, Load(a2));
    const Archive r1 = Read(b1);
    ASSERT_EQ(r1.items.size(), 1u);
    EXPECT_EQ(r1.items[0].name, "data.txt") << "the base name is the default stored name";
    EXPECT_EQ(r1.bytesBefore, 512u);
    EXPECT_EQ(r1.comment, "Larkspan payload");
    EXPECT_EQ(r1.items[0].localUt.times, (std::vector<std::uint32_t>(3, kNewYear2026)));
    const Archive r3 = Read(Load(a3));
    ASSERT_EQ(r3.items.size(), 1u);
    EXPECT_EQ(r3.items[0].localUt.times, (std::vector<std::uint32_t>(3, kLeapDay2024))) << "--time wins";
    const Archive r4 = Read(Load(a4));
    ASSERT_EQ(r4.items.size(), 1u);
    EXPECT_EQ(r4.items[0].localUt.times, (std::vector<std::uint32_t>(3, 0u)));
    EXPECT_EQ(r4.items[0].dosTime, Dos(1980, 1, 1, 0, 0, 0));
}

TEST_F(PackTool, RefusesBadInvocations) {
    const std::string f = Write("x.txt", Text("x"));
    EXPECT_NE(Run("", f), 0) << "no output";
    EXPECT_NE(Run("", "-o " + dir_ + "/o.zip " + dir_ + "/missing.txt"), 0);
    EXPECT_NE(Run("", "--level 0 -o " + dir_ + "/o.zip " + f), 0);
    EXPECT_NE(Run("", "--level 13 -o " + dir_ + "/o.zip " + f), 0);
    EXPECT_NE(Run("", "--attributes zz -o " + dir_ + "/o.zip " + f), 0);
    EXPECT_NE(Run("", "--bogus -o " + dir_ + "/o.zip " + f), 0);
    EXPECT_NE(Run("", "-o " + dir_ + "/no/such/dir/o.zip " + f), 0);
}

}  // namespace
