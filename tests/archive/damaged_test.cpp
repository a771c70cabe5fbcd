// Damaged item data and names that would lead outside their folder: such
// items fail and are never reported as extracted.
#include "tests/support/files.h"
#include "tests/support/memory.h"
#include "tests/support/packing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace support;

namespace {

ArchiveResult ExtractTo(ArchiveHandle archive, int index, const std::string& target) {
    return ExtractArchiveItem(archive, index, const_cast<char*>(target.c_str()), 0, TargetFileName, nullptr);
}

// Mode 3 until the item is done; the last result.
ArchiveResult ExtractWholeToMemory(ArchiveHandle archive, int index, std::size_t size, Bytes* out) {
    GuardedBlock buffer(size);
    ArchiveResult result = ArchiveMoreData;
    for (int calls = 0; calls < 100 && result == ArchiveMoreData; ++calls) {
        result = ExtractArchiveItem(archive, index, buffer.data(), static_cast<DWORD>(size), TargetMemory, nullptr);
        if (calls == 0 && out != nullptr) out->assign(buffer.data(), buffer.data() + size);
    }
    return result;
}

}  // namespace

TEST(DamagedData, ChecksumMismatchFailsEveryMode) {
    for (const std::size_t size : {5000, 0}) {  // an empty item's CRC-32 is checked too
        const Bytes data = PatternData(size, 21);
        for (const packer::Method method : {packer::Method::Stored, packer::Method::Deflate}) {
            const packer::Packed packed = packer::Pack({FileItem("x.bin", data, method)});
            Bytes archive = packed.bytes;
            // The same wrong CRC in both headers, so only the data can tell.
            const std::uint32_t wrong = packed.items[0].crc32 ^ 0x00010000u;
            Put32(archive, packed.items[0].localHeaderOffset + LocalCrc, wrong);
            Put32(archive, packed.items[0].centralHeaderOffset + CentralCrc, wrong);
            ArchiveHandle opened = OpenMemory(archive);
            ASSERT_NE(opened, nullptr);
            ArchiveItem item;
            ASSERT_EQ(GetArchiveItem(opened, 0, &item), ArchiveOk);
            TempFolder temp;
            EXPECT_EQ(ExtractTo(opened, 0, temp / "x.bin"), ArchiveErrExtract);
            EXPECT_FALSE(Exists(temp / "x.bin")) << "a damaged file must not look installed";
            // The call that delivers the last bytes already fails: a whole-size buffer too.
            if (size != 0) {
                EXPECT_EQ(ExtractWholeToMemory(opened, 0, data.size(), nullptr), ArchiveErrMemoryExtract);
            }
            EXPECT_EQ(ExtractWholeToMemory(opened, 0, 1000, nullptr), ArchiveErrMemoryExtract);
            EXPECT_EQ(ExtractArchiveItem(opened, 0, nullptr, 0, TargetMemory, nullptr),
                      size == 0 ? ArchiveErrMemoryExtract : ArchiveOk);
            CloseArchive(opened);
        }
    }
}

TEST(DamagedData, ChangedStoredByteFails) {
    const packer::Packed packed = packer::Pack({FileItem("x.bin", PatternData(3000, 22), packer::Method::Stored)});
    Bytes archive = packed.bytes;
    archive[packed.items[0].dataOffset + 1234] ^= 0x40;
    ArchiveHandle opened = OpenMemory(archive);
    ASSERT_NE(opened, nullptr);
    TempFolder temp;
    EXPECT_EQ(ExtractTo(opened, 0, temp / "x.bin"), ArchiveErrExtract);
    EXPECT_EQ(ExtractWholeToMemory(opened, 0, 3000, nullptr), ArchiveErrMemoryExtract);
    CloseArchive(opened);
}

TEST(DamagedData, StoredItemShorterThanItsSizeEnds) {
    const packer::Packed packed = packer::Pack({FileItem("x.bin", PatternData(40000, 23), packer::Method::Stored)});
    Bytes archive = packed.bytes;
    for (std::size_t offset : {packed.items[0].localHeaderOffset + LocalCompressed,
                               packed.items[0].centralHeaderOffset + CentralCompressed}) {
        Put32(archive, offset, 30000);
    }
    ArchiveHandle opened = OpenMemory(archive);
    ASSERT_NE(opened, nullptr);
    TempFolder temp;
    EXPECT_EQ(ExtractTo(opened, 0, temp / "x.bin"), ArchiveErrExtract);
    EXPECT_EQ(ExtractWholeToMemory(opened, 0, 4096, nullptr), ArchiveErrMemoryExtract);
    EXPECT_EQ(ExtractWholeToMemory(opened, 0, 40000, nullptr), ArchiveErrMemoryExtract);
    CloseArchive(opened);
}

TEST(DamagedData, DeflateDataEndingBeforeItsSizeFails) {
    const Bytes data = PatternData(20000, 24);
    const packer::Packed packed = packer::Pack({FileItem("x.bin", data)});
    Bytes archive = packed.bytes;
    for (std::size_t offset : {packed.items[0].localHeaderOffset + LocalUncompressed,
                               packed.items[0].centralHeaderOffset + CentralUncompressed}) {
        Put32(archive, offset, 20010);
    }
    ArchiveHandle opened = OpenMemory(archive);
    ASSERT_NE(opened, nullptr);
    TempFolder temp;
    EXPECT_EQ(ExtractTo(opened, 0, temp / "x.bin"), ArchiveErrExtract);
    EXPECT_FALSE(Exists(temp / "x.bin"));
    // Whole pieces come as they are; the call that meets the early end fails,
    // never handing back a buffer that is only partly written.
    for (const DWORD piece : {DWORD{20010}, DWORD{16384}}) {
        GuardedBlock buffer(piece);
        ArchiveResult result = ExtractArchiveItem(opened, 0, buffer.data(), piece, TargetMemory, nullptr);
        if (piece < data.size()) {
            EXPECT_EQ(result, ArchiveMoreData);
            EXPECT_TRUE(std::equal(buffer.data(), buffer.data() + piece, data.begin()));
            result = ExtractArchiveItem(opened, 0, buffer.data(), piece, TargetMemory, nullptr);
        }
        EXPECT_EQ(result, ArchiveErrMemoryExtract) << piece;
    }
    CloseArchive(opened);
}

TEST(DamagedData, CorruptDeflateStreamFails) {
    const packer::Packed packed = packer::Pack({FileItem("x.bin", PatternData(20000, 25))});
    Bytes archive = packed.bytes;
    for (std::uint32_t i = 0; i < 16; ++i) archive[packed.items[0].dataOffset + i] = 0xFF;
    ArchiveHandle opened = OpenMemory(archive);
    ASSERT_NE(opened, nullptr);
    TempFolder temp;
    EXPECT_EQ(ExtractTo(opened, 0, temp / "x.bin"), ArchiveErrExtract);
    EXPECT_EQ(ExtractWholeToMemory(opened, 0, 1000, nullptr), ArchiveErrMemoryExtract);
    CloseArchive(opened);
}

TEST(StoredNames, NamesThatWouldLeaveTheirBaseAreRefused) {
    TempFolder outer;
    const std::string base = outer / "base";
    ASSERT_TRUE(::CreateDirectoryA(base.c_str(), nullptr));
    const std::vector<std::string> folders = {"../escaped/", "a/../../escaped/", "..\\escaped\\", "/rooted/",
                                              "\\rooted\\", "C:escaped/", "C:\\escaped\\", ".../escaped/",
                                              "nul/", "Com1.d/", "trailing./"};
    std::vector<packer::Item> items;
    for (const std::string& name : folders) items.push_back(FolderItem(name));
    items.push_back(FileItem("../escaped.txt", PatternData(10)));
    items.push_back(FileItem("ok..name/fine.txt", PatternData(10)));
    items.push_back(FolderItem("ok..name/"));
    items.push_back(FileItem("NUL.txt", PatternData(10)));  // the null device, wherever it stands
    const Bytes archive = packer::Pack(items).bytes;
    ArchiveHandle opened = nullptr;
    {
        CurrentDirectory inside(base);
        opened = OpenMemory(archive);
        ASSERT_NE(opened, nullptr);
        for (std::size_t i = 0; i < folders.size(); ++i) {
            EXPECT_EQ(ExtractTo(opened, static_cast<int>(i), outer / "unused"), ArchiveErrOpenFile) << folders[i];
        }
        // A file item with its stored name as the target.
        const int file = static_cast<int>(folders.size());
        EXPECT_EQ(ExtractArchiveItem(opened, file, nullptr, 0, TargetFileName, nullptr), ArchiveErrOpenFile);
        // Dots inside a name are fine.
        EXPECT_EQ(ExtractTo(opened, file + 2, outer / "unused"), ArchiveOk);
        EXPECT_EQ(ExtractArchiveItem(opened, file + 1, nullptr, 0, TargetFileName, nullptr), ArchiveOk);
        EXPECT_EQ(ExtractArchiveItem(opened, file + 3, nullptr, 0, TargetFileName, nullptr), ArchiveErrOpenFile);
    }
    EXPECT_FALSE(Exists(outer / "escaped"));
    EXPECT_FALSE(Exists(outer / "escaped.txt"));
    EXPECT_FALSE(Exists(outer / "rooted"));
    EXPECT_FALSE(Exists(outer / "unused"));
    EXPECT_EQ(ReadWholeFile(base + "\\ok..name\\fine.txt"), PatternData(10));
    CloseArchive(opened);
}

TEST(StoredNames, OverlongPathsAreRefusedWithoutOverrun) {
    TempFolder temp;
    const Bytes archive =
        packer::Pack({FileItem("a.txt", PatternData(10)), FolderItem(std::string(250, 'f') + "/")}).bytes;
    ArchiveHandle opened = nullptr;
    {
        CurrentDirectory inside(temp.path());
        opened = OpenMemory(archive);
    }
    ASSERT_NE(opened, nullptr);
    // File-name, extension and folder parts beyond 255 characters, and a path beyond 259.
    for (const std::string& target :
         {temp / std::string(256, 'n'), temp / ("n." + std::string(256, 'e')), std::string(256, 'd') + "\\x.txt",
          temp / (std::string(200, 'd') + "\\" + std::string(100, 'n'))}) {
        EXPECT_EQ(ExtractTo(opened, 0, target), ArchiveErrOpenFile) << target.size();
    }
    // baseFolder and the folder item's name together exceed 259 characters.
    EXPECT_EQ(ExtractTo(opened, 1, temp / "unused"), ArchiveErrOpenFile);
    EXPECT_EQ(ExtractTo(opened, 0, temp / "fits.txt"), ArchiveOk);
    CloseArchive(opened);
}
