// Damaged item data and names that would lead outside their folder: such
// items fail and are never reported as extracted.
#include "tests/support/files.h"
#include "tests/support/memory.h"
#include "tests/support/packing.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace support;

namespace {

ArchiveResult ExtractTo(ArchiveHandle archive, int index, const std::string& target) {
    return ExtractArchiveItem(archive, index, const_cast<char*>(target.c_str()), 0, TargetFileName, nullptr);
}

// Sets a 32-bit field to `value` in the item's local and central header alike,
// so that the headers agree and only the data can tell.
void PutInBothHeaders(Bytes& archive, const packer::ItemLayout& item, std::size_t local, std::size_t central,
                      std::uint32_t value) {
    Put32(archive, item.localHeaderOffset + local, value);
    Put32(archive, item.centralHeaderOffset + central, value);
}

// A memory extraction in pieces of `size` bytes: `delivered` whole pieces come
// first, each holding the item's next bytes, then the call that fails.
struct Pieces {
    DWORD size;
    int delivered;
};

struct Damage {
    const char* what;
    packer::Method method;
    std::size_t size;
    void (*damage)(Bytes& archive, const packer::ItemLayout& item);
    std::vector<Pieces> pieces;
};

}  // namespace

// Damaged data fails extraction to a file, and the file is not left behind. In
// memory, whole pieces come as they are and the call that meets the damage (or
// delivers the last bytes) fails, never handing back a buffer that is only
// partly written. A zero-length call delivers an empty item whole, so its
// CRC-32 is checked then.
TEST(DamagedData, FailsInEveryModeAtTheDamagedPiece) {
    const auto wrongCrc = [](Bytes& b, const packer::ItemLayout& l) {
        PutInBothHeaders(b, l, LocalCrc, CentralCrc, l.crc32 ^ 0x00010000u);
    };
    const Damage cases[] = {
        {"wrong CRC-32, stored", packer::Method::Stored, 5000, wrongCrc, {{5000, 0}, {1000, 4}}},
        {"wrong CRC-32, deflated", packer::Method::Deflate, 5000, wrongCrc, {{5000, 0}, {1000, 4}}},
        {"wrong CRC-32 of an empty stored item", packer::Method::Stored, 0, wrongCrc, {{1000, 0}}},
        {"wrong CRC-32 of an empty deflated item", packer::Method::Deflate, 0, wrongCrc, {{1000, 0}}},
        {"a changed stored byte",
         packer::Method::Stored,
         3000,
         [](Bytes& b, const packer::ItemLayout& l) { b[l.dataOffset + 1234] ^= 0x40; },
         {{3000, 0}}},
        {"stored data shorter than its size",
         packer::Method::Stored,
         40000,
         [](Bytes& b, const packer::ItemLayout& l) {
             PutInBothHeaders(b, l, LocalCompressed, CentralCompressed, 30000);
         },
         {{4096, 7}, {40000, 0}}},
        {"deflate data ending before its size",
         packer::Method::Deflate,
         20000,
         [](Bytes& b, const packer::ItemLayout& l) {
             PutInBothHeaders(b, l, LocalUncompressed, CentralUncompressed, 20010);
         },
         {{20010, 0}, {16384, 1}}},
        {"a corrupt deflate stream",
         packer::Method::Deflate,
         20000,
         [](Bytes& b, const packer::ItemLayout& l) { std::fill_n(b.begin() + l.dataOffset, 16, std::uint8_t{0xFF}); },
         {{1000, 0}}},
    };
    for (const Damage& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes data = PatternData(c.size, 21);
        const packer::Packed packed = packer::Pack({FileItem("x.bin", data, c.method)});
        Bytes archive = packed.bytes;
        c.damage(archive, packed.items[0]);
        const UniqueArchive opened(OpenMemory(archive));
        ASSERT_TRUE(opened);
        ArchiveItem item;
        ASSERT_EQ(GetArchiveItem(opened.get(), 0, &item), ArchiveOk);
        TempFolder temp;
        EXPECT_EQ(ExtractTo(opened.get(), 0, temp / "x.bin"), ArchiveErrExtract);
        EXPECT_FALSE(Exists(temp / "x.bin")) << "a damaged file must not look installed";
        for (const Pieces& p : c.pieces) {
            GuardedBlock buffer(p.size);
            for (int i = 0; i < p.delivered; ++i) {
                ASSERT_EQ(ExtractArchiveItem(opened.get(), 0, buffer.data(), p.size, TargetMemory, nullptr),
                          ArchiveMoreData)
                    << "piece " << i << " of " << p.size;
                EXPECT_TRUE(std::equal(buffer.data(), buffer.data() + p.size, data.begin() + i * p.size));
            }
            EXPECT_EQ(ExtractArchiveItem(opened.get(), 0, buffer.data(), p.size, TargetMemory, nullptr),
                      ArchiveErrMemoryExtract)
                << "pieces of " << p.size;
        }
        EXPECT_EQ(ExtractArchiveItem(opened.get(), 0, nullptr, 0, TargetMemory, nullptr),
                  c.size == 0 ? ArchiveErrMemoryExtract : ArchiveOk);
    }
}

TEST(StoredNames, NamesThatWouldLeaveTheirBaseAreRefused) {
    TempFolder outer;
    const std::string base = outer / "base";
    ASSERT_TRUE(::CreateDirectoryA(base.c_str(), nullptr));
    const std::vector<std::string> folders = {"../escaped/", "a/../../escaped/", "..\\escaped\\", "/rooted/",
                                              "\\rooted\\",  "C:escaped/",       ".../escaped/",  "nul/",
                                              "Com1.d/",     "trailing./"};
    std::vector<packer::Item> items;
    for (const std::string& name : folders) items.push_back(FolderItem(name));
    items.push_back(FileItem("../escaped.txt", PatternData(10)));
    items.push_back(FileItem("ok..name/fine.txt", PatternData(10)));
    items.push_back(FolderItem("ok..name/"));
    items.push_back(FileItem("NUL.txt", PatternData(10)));  // the null device, wherever it stands
    const Bytes archive = packer::Pack(items).bytes;
    UniqueArchive opened;
    {
        CurrentDirectory inside(base);
        opened.reset(OpenMemory(archive));
        ASSERT_TRUE(opened);
        for (std::size_t i = 0; i < folders.size(); ++i) {
            EXPECT_EQ(ExtractTo(opened.get(), static_cast<int>(i), outer / "unused"), ArchiveErrOpenFile) << folders[i];
        }
        // A file item with its stored name as the target.
        const int file = static_cast<int>(folders.size());
        EXPECT_EQ(ExtractArchiveItem(opened.get(), file, nullptr, 0, TargetFileName, nullptr), ArchiveErrOpenFile);
        // Dots inside a name are fine.
        EXPECT_EQ(ExtractTo(opened.get(), file + 2, outer / "unused"), ArchiveOk);
        EXPECT_EQ(ExtractArchiveItem(opened.get(), file + 1, nullptr, 0, TargetFileName, nullptr), ArchiveOk);
        EXPECT_EQ(ExtractArchiveItem(opened.get(), file + 3, nullptr, 0, TargetFileName, nullptr), ArchiveErrOpenFile);
    }
    EXPECT_FALSE(Exists(outer / "escaped"));
    EXPECT_FALSE(Exists(outer / "escaped.txt"));
    EXPECT_FALSE(Exists(outer / "rooted"));
    EXPECT_FALSE(Exists(outer / "unused"));
    EXPECT_EQ(ReadWholeFile(base + "\\ok..name\\fine.txt"), PatternData(10));
}

TEST(StoredNames, OverlongPathsAreRefusedWithoutOverrun) {
    TempFolder temp;
    const Bytes archive =
        packer::Pack({FileItem("a.txt", PatternData(10)), FolderItem(std::string(250, 'f') + "/")}).bytes;
    UniqueArchive opened;
    {
        CurrentDirectory inside(temp.path());
        opened.reset(OpenMemory(archive));
    }
    ASSERT_TRUE(opened);
    // File-name, extension and folder parts beyond 255 characters, and a path beyond 259.
    for (const std::string& target :
         {temp / std::string(256, 'n'), temp / ("n." + std::string(256, 'e')), std::string(256, 'd') + "\\x.txt",
          temp / (std::string(200, 'd') + "\\" + std::string(100, 'n'))}) {
        EXPECT_EQ(ExtractTo(opened.get(), 0, target), ArchiveErrOpenFile) << target.size();
    }
    // baseFolder and the folder item's name together exceed 259 characters.
    EXPECT_EQ(ExtractTo(opened.get(), 1, temp / "unused"), ArchiveErrOpenFile);
    EXPECT_EQ(ExtractTo(opened.get(), 0, temp / "fits.txt"), ArchiveOk);
}
