// Item records: the count form, the one-record cache, attributes, times from
// "UT" blocks, names, and entries or headers that cannot be read.
#include "tests/support/files.h"
#include "tests/support/memory.h"
#include "tests/support/packing.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

using namespace support;

namespace {

// A record full of a marker byte, to see whether a failing call touched it.
ArchiveItem MarkedRecord() {
    ArchiveItem item;
    std::memset(&item, 0x5A, sizeof item);
    return item;
}

bool IsMarked(const ArchiveItem& item) {
    const ArchiveItem marked = MarkedRecord();
    return std::memcmp(&item, &marked, sizeof item) == 0;
}

ArchiveItem RecordOf(const packer::Item& packed, ArchiveResult* result = nullptr) {
    const Bytes archive = packer::Pack({packed}).bytes;
    ArchiveItem item = MarkedRecord();
    const UniqueArchive opened(OpenMemory(archive));
    if (!opened) {
        ADD_FAILURE() << "archive not opened";
        return item;
    }
    const ArchiveResult got = GetArchiveItem(opened.get(), 0, &item);
    if (result != nullptr) *result = got;
    return item;
}

}  // namespace

TEST(ArchiveItems, CountFormAndRecords) {
    const Bytes archive = packer::Pack({FileItem("program.exe", PatternData(1234, 1)),
                                        FileItem("sub/License.rtf", PatternData(99, 2), packer::Method::Stored),
                                        FolderItem("sub/")})
                              .bytes;
    const UniqueArchive opened(OpenMemory(archive));
    ASSERT_TRUE(opened);
    ArchiveItem item = MarkedRecord();
    ASSERT_EQ(GetArchiveItem(opened.get(), -1, &item), ArchiveOk);
    EXPECT_EQ(item.index, 3);
    EXPECT_EQ(item.name[0], '\0');
    EXPECT_EQ(item.attributes, 0u);
    EXPECT_EQ(item.compressedSize, 0u);
    EXPECT_EQ(item.uncompressedSize, 0u);
    EXPECT_EQ(Ticks(item.writeTime) | Ticks(item.accessTime) | Ticks(item.creationTime), 0u);

    item = MarkedRecord();
    EXPECT_EQ(GetArchiveItem(opened.get(), 3, &item), ArchiveErrArgument);
    EXPECT_EQ(GetArchiveItem(opened.get(), -2, &item), ArchiveErrArgument);
    EXPECT_TRUE(IsMarked(item));

    // Backwards and forwards in any order.
    for (int i : {2, 0, 1, 1, 2, 0}) {
        ASSERT_EQ(GetArchiveItem(opened.get(), i, &item), ArchiveOk);
        EXPECT_EQ(item.index, i);
    }
    ASSERT_EQ(GetArchiveItem(opened.get(), 1, &item), ArchiveOk);
    EXPECT_STREQ(item.name, "sub/License.rtf");
    EXPECT_EQ(item.uncompressedSize, 99u);
    EXPECT_EQ(item.compressedSize, 99u);
    ASSERT_EQ(GetArchiveItem(opened.get(), 0, &item), ArchiveOk);
    EXPECT_STREQ(item.name, "program.exe");
    EXPECT_EQ(item.uncompressedSize, 1234u);
    EXPECT_LT(item.compressedSize, 1234u);
    EXPECT_EQ(Ticks(item.writeTime), UnixTicks(1700000000));
    EXPECT_EQ(Ticks(item.accessTime), UnixTicks(1700000100));
    EXPECT_EQ(Ticks(item.creationTime), UnixTicks(1600000000));
    ASSERT_EQ(GetArchiveItem(opened.get(), 2, &item), ArchiveOk);
    EXPECT_STREQ(item.name, "sub/");
    EXPECT_EQ(item.attributes & FILE_ATTRIBUTE_DIRECTORY, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST(ArchiveItems, TheLastRecordComesFromTheCache) {
    const packer::Packed layout = packer::Pack(
        {FileItem("first.txt", PatternData(10)), FileItem("other.txt", PatternData(20))});
    Bytes archive = layout.bytes;
    const UniqueArchive opened(OpenMemory(archive));
    ASSERT_TRUE(opened);
    ArchiveItem item;
    ASSERT_EQ(GetArchiveItem(opened.get(), 0, &item), ArchiveOk);
    // Rename the item in the central directory: a cached record does not see it.
    archive[layout.items[0].centralHeaderOffset + 46] = 'F';
    ASSERT_EQ(GetArchiveItem(opened.get(), 0, &item), ArchiveOk);
    EXPECT_STREQ(item.name, "first.txt");
    ASSERT_EQ(GetArchiveItem(opened.get(), -1, &item), ArchiveOk);  // the count form keeps the cache
    ASSERT_EQ(GetArchiveItem(opened.get(), 0, &item), ArchiveOk);
    EXPECT_STREQ(item.name, "first.txt");
    ASSERT_EQ(GetArchiveItem(opened.get(), 1, &item), ArchiveOk);
    ASSERT_EQ(GetArchiveItem(opened.get(), 0, &item), ArchiveOk);
    EXPECT_STREQ(item.name, "First.txt");
}

TEST(ArchiveItems, AttributesFromExternalAttributes) {
    struct Case {
        std::uint32_t external;
        DWORD attributes;
    };
    for (const Case c : {Case{0x81800020u, 0xA0}, Case{0x81000021u, 0xA1}, Case{0x00000020u, 0xA1},
                         Case{0x41ED0010u, 0x90}, Case{0x81A40000u, 0x80}, Case{0x81A40006u, 0x86}}) {
        packer::Item packed = FileItem("x", PatternData(5));
        packed.externalAttributes = c.external;
        const ArchiveItem item = RecordOf(packed);
        EXPECT_EQ(item.attributes, c.attributes) << std::hex << c.external;
    }
}

// The record's three times: those the item's first "UT" block announces and
// holds, the DOS time for the rest. No byte outside the block and the local
// extra field is read, not even the item data right behind it.
TEST(ArchiveItems, TimesComeFromTheUtBlockOrTheDosTime) {
    struct Case {
        const char* what;
        void (*change)(packer::Item& item);
        Bytes fieldEnd;  // when given: a stored item of 'A's, no UT block of its own, these bytes ending its field
        std::uint64_t write, access, creation;
    };
    const std::uint64_t dos1500 = DosTicks(1500000000), dos1700 = DosTicks(1700000000);
    const Case cases[] = {
        {"all three flagged",
         [](packer::Item& item) {
             item.modificationTime = 1500000000;
             item.accessTime = 1500000001;
             item.creationTime = 1500000002;
         },
         {},
         UnixTicks(1500000000),
         UnixTicks(1500000001),
         UnixTicks(1500000002)},
        {"only the write time flagged",
         [](packer::Item& item) {
             item.modificationTime = 1500000000;
             item.localUtFlags = 1;
         },
         {},
         UnixTicks(1500000000),
         dos1500,
         dos1500},
        {"no UT block",
         [](packer::Item& item) {
             item.modificationTime = 1500000000;
             item.localUtFlags = 0;
         },
         {},
         dos1500,
         dos1500,
         dos1500},
        {"both ends of the range, past January 2038 staying positive",
         [](packer::Item& item) {
             item.modificationTime = 0;
             item.accessTime = 0xFFFFFFFFu;  // 2106-02-07 06:28:15
             item.creationTime = 0x80000000u;
         },
         {},
         116444736000000000ull,
         UnixTicks(0xFFFFFFFFu),
         UnixTicks(0x80000000u)},
        {"a large unknown block before it",
         [](packer::Item& item) {
             item.localExtraBefore = {0x99, 0x88, 0x2C, 0x01};  // ID 0x8899, 300 bytes of data
             const Bytes filler = PatternData(300, 4);
             item.localExtraBefore.insert(item.localExtraBefore.end(), filler.begin(), filler.end());
         },
         {},
         UnixTicks(1700000000),
         UnixTicks(1700000100),
         UnixTicks(1600000000)},
        {"three times announced, one held",
         nullptr,
         {0x55, 0x54, 0x05, 0x00, 0x07, 0x10, 0x20, 0x30, 0x40},
         UnixTicks(0x40302010u),
         dos1700,
         dos1700},
        {"a block size running past the field",
         nullptr,
         {0x55, 0x54, 0x0D, 0x00, 0x07, 0x10, 0x20, 0x30, 0x40},
         UnixTicks(0x40302010u),
         dos1700,
         dos1700},
        {"flags with no time", nullptr, {0x55, 0x54, 0x01, 0x00, 0x07}, dos1700, dos1700, dos1700},
        {"write and creation flagged, access not",
         nullptr,
         {0x55, 0x54, 0x09, 0x00, 0x05, 0x10, 0x20, 0x30, 0x40, 0x11, 0x21, 0x31, 0x41},
         UnixTicks(0x40302010u),
         dos1700,
         UnixTicks(0x41312111u)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        packer::Item packed = FileItem("x", PatternData(5));
        if (c.change != nullptr) c.change(packed);
        if (!c.fieldEnd.empty()) {
            packed.data = Bytes(64, 0x41);
            packed.method = packer::Method::Stored;
            packed.localUtFlags = 0;
            packed.localExtraAfter = c.fieldEnd;
        }
        const ArchiveItem item = RecordOf(packed);
        EXPECT_EQ(Ticks(item.writeTime), c.write);
        EXPECT_EQ(Ticks(item.accessTime), c.access);
        EXPECT_EQ(Ticks(item.creationTime), c.creation);
    }
}

TEST(ArchiveItems, NamesUpTo259BytesOnly) {
    ArchiveResult result = 1;
    ArchiveItem item = RecordOf(FileItem(std::string(259, 'n'), PatternData(5)), &result);
    EXPECT_EQ(result, ArchiveOk);
    EXPECT_EQ(std::strlen(item.name), 259u);
    item = RecordOf(FileItem(std::string(260, 'n'), PatternData(5)), &result);
    EXPECT_EQ(result, ArchiveErrItemHeader);
    EXPECT_TRUE(IsMarked(item));
    // Nor can such an item be extracted.
    const Bytes archive = packer::Pack({FileItem(std::string(260, 'n'), PatternData(5))}).bytes;
    const UniqueArchive opened(OpenMemory(archive));
    ASSERT_TRUE(opened);
    TempFolder temp;
    const std::string target = temp / "long.bin";
    EXPECT_NE(ExtractArchiveItem(opened.get(), 0, const_cast<char*>(target.c_str()), 0, TargetFileName, nullptr),
              ArchiveOk);
    EXPECT_FALSE(Exists(target));
}

TEST(ArchiveItems, LocalHeaderChecks) {
    const packer::Packed packed = packer::Pack({FileItem("a.txt", PatternData(500, 1))});
    const std::size_t local = packed.items[0].localHeaderOffset;
    struct Patch {
        std::size_t offset;
        std::uint32_t value;
        int width;
        std::size_t central;  // where the central header gets the same value too; 0 for nowhere
    };
    // The last: a method other than stored or deflate, in both headers.
    for (const Patch patch :
         {Patch{0, 0x04034B50u, 4, 0}, Patch{8, 0, 2, 0}, Patch{LocalCrc, 1, 4, 0}, Patch{LocalCompressed, 1, 4, 0},
          Patch{LocalUncompressed, 1, 4, 0}, Patch{26, 6, 2, 0}, Patch{8, 12, 2, 10}}) {
        Bytes archive = packed.bytes;
        const auto put = patch.width == 4 ? Put32 : Put16;
        put(archive, local + patch.offset, patch.value);
        if (patch.central != 0) put(archive, packed.items[0].centralHeaderOffset + patch.central, patch.value);
        const UniqueArchive opened(OpenMemory(archive));
        ASSERT_TRUE(opened);
        ArchiveItem item;
        EXPECT_EQ(GetArchiveItem(opened.get(), 0, &item), ArchiveErrItemHeader)
            << "field at " << patch.offset << " set to " << patch.value;
    }
    // A local extra field that runs past the end of the data.
    Bytes archive = packed.bytes;
    archive.resize(packed.items[0].dataOffset);  // cut the archive, then append only a fresh directory
    Put16(archive, local + 28, 0xFFFF);
    const Bytes tail(packed.bytes.begin() + packed.centralDirectoryOffset, packed.bytes.end());
    Bytes cut = archive;
    cut.insert(cut.end(), tail.begin(), tail.end());
    Put32(cut, cut.size() - 22 + 16, static_cast<std::uint32_t>(archive.size()));
    const UniqueArchive opened(OpenMemory(cut));
    ASSERT_TRUE(opened);
    ArchiveItem item;
    EXPECT_EQ(GetArchiveItem(opened.get(), 0, &item), ArchiveErrItemRead);
}

TEST(ArchiveItems, DataDescriptorItemsUseTheDirectoryValues) {
    packer::Item packed = FileItem("described.bin", PatternData(40000, 6));
    packed.dataDescriptor = true;
    packer::Item stored = FileItem("stored.bin", PatternData(1000, 7), packer::Method::Stored);
    stored.dataDescriptor = true;
    const packer::Packed archive = packer::Pack({packed, stored});
    EXPECT_EQ(Get32(archive.bytes, archive.items[0].localHeaderOffset + LocalCrc), 0u);
    const UniqueArchive opened(OpenMemory(archive.bytes));
    ASSERT_TRUE(opened);
    ArchiveItem item;
    ASSERT_EQ(GetArchiveItem(opened.get(), 0, &item), ArchiveOk);
    EXPECT_EQ(item.uncompressedSize, 40000u);
    Bytes buffer(40000);
    EXPECT_EQ(ExtractArchiveItem(opened.get(), 0, buffer.data(), 40000, TargetMemory, nullptr), ArchiveMoreData);
    EXPECT_EQ(buffer, PatternData(40000, 6));
    EXPECT_EQ(ExtractArchiveItem(opened.get(), 0, buffer.data(), 40000, TargetMemory, nullptr), ArchiveOk);
    buffer.assign(1000, 0);
    EXPECT_EQ(ExtractArchiveItem(opened.get(), 1, buffer.data(), 1000, TargetMemory, nullptr), ArchiveMoreData);
    EXPECT_EQ(buffer, PatternData(1000, 7));
}

// Damaged items are refused in every operation, their records untouched and
// no file written, while the items the damage leaves alone still work, in
// either direction: an entry without its signature hides the entries behind
// it, standard local signatures refuse every item, and no item may deliver
// bytes that belong to another (entries sharing a local header, an item whose
// data is stretched over the next one, a local extra field grown into the next
// header).
TEST(ArchiveItems, DamagedItemsAreRefusedInEveryOperation) {
    const packer::Packed packed = packer::Pack({FileItem("a.bin", PatternData(1000, 1), packer::Method::Stored),
                                                FileItem("b.bin", PatternData(1000, 1)),
                                                FileItem("c.bin", PatternData(1000, 1))});
    const packer::ItemLayout* at = packed.items.data();
    struct Case {
        const char* what;
        void (*patch)(Bytes&, const packer::ItemLayout*);
        bool refused[3];
    };
    const Case cases[] = {
        {"entry 1 without its signature",
         [](Bytes& b, const packer::ItemLayout* l) { b[l[1].centralHeaderOffset] = 'X'; },
         {false, true, true}},
        {"standard local signatures",
         [](Bytes& b, const packer::ItemLayout* l) {
             for (int i : {0, 1, 2}) Put32(b, l[i].localHeaderOffset, 0x04034B50u);
         },
         {true, true, true}},
        {"every entry names the first local header",
         [](Bytes& b, const packer::ItemLayout* l) {
             for (int i : {1, 2}) {
                 Put32(b, l[i].centralHeaderOffset + 42, l[0].localHeaderOffset);
                 Put32(b, l[i].centralHeaderOffset + CentralCompressed, l[0].compressedSize);
                 Put16(b, l[i].centralHeaderOffset + 10, 0);  // stored, like the first
             }
         },
         {true, true, true}},
        {"the first item's data stretched over the second item",
         [](Bytes& b, const packer::ItemLayout* l) {
             const std::uint32_t size = l[1].dataOffset + l[1].compressedSize - l[0].dataOffset;
             const auto crc = static_cast<std::uint32_t>(crc32(0, b.data() + l[0].dataOffset, size));
             for (std::size_t header :
                  {std::size_t{l[0].localHeaderOffset} + 14, std::size_t{l[0].centralHeaderOffset} + 16}) {
                 Put32(b, header, crc);
                 Put32(b, header + 4, size);
                 Put32(b, header + 8, size);
             }
         },
         {true, true, false}},
        {"the first local extra field grown into the second header",
         [](Bytes& b, const packer::ItemLayout* l) {
             Put16(b, l[0].localHeaderOffset + 28, l[0].dataOffset - l[0].localHeaderOffset - 30 - 5 + 1);
         },
         {true, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes archive = packed.bytes;
        c.patch(archive, at);
        const UniqueArchive opened(OpenMemory(archive));
        ASSERT_TRUE(opened);
        ArchiveItem item;
        ASSERT_EQ(GetArchiveItem(opened.get(), -1, &item), ArchiveOk);
        EXPECT_EQ(item.index, 3);
        TempFolder temp;
        const std::string target = temp / "out.bin";
        for (int i : {0, 1, 2, 2, 1, 0}) {
            const bool refused = c.refused[i];
            item = MarkedRecord();
            EXPECT_EQ(GetArchiveItem(opened.get(), i, &item), refused ? ArchiveErrItemHeader : ArchiveOk) << i;
            EXPECT_EQ(IsMarked(item), refused) << i;
            if (!refused) {
                EXPECT_EQ(std::string(item.name), std::string(1, static_cast<char>('a' + i)) + ".bin");
            }
            Bytes buffer(1000);
            EXPECT_EQ(ExtractArchiveItem(opened.get(), i, buffer.data(), 1000, TargetMemory, nullptr),
                      refused ? ArchiveErrMemoryExtract : ArchiveMoreData)
                << i;
            EXPECT_EQ(
                ExtractArchiveItem(opened.get(), i, const_cast<char*>(target.c_str()), 0, TargetFileName, nullptr),
                refused ? ArchiveErrItemHeader : ArchiveOk)
                << i;
            EXPECT_EQ(Exists(target), !refused) << i;
            ::DeleteFileA(target.c_str());
        }
    }
}
