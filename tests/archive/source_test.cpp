// The byte source over memory, handles and files, and opening archives from
// each kind of source, wherever the archive sits in it.
#include "archive/byte_source.h"
#include "archive/directory_reader.h"
#include "tests/support/files.h"
#include "tests/support/memory.h"
#include "tests/support/packing.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace support;

namespace {

Bytes ThreeItemArchive(const packer::Options& options = {}) {
    return packer::Pack({FileItem("program.exe", PatternData(50000, 1)),
                         FileItem("data/readme.txt", PatternData(3000, 2), packer::Method::Stored),
                         FileItem("License.rtf", PatternData(14479, 3))},
                        options)
        .bytes;
}

// Names and sizes of every item, as one comparable list.
std::vector<std::string> Describe(ArchiveHandle archive) {
    std::vector<std::string> lines;
    ArchiveItem item;
    if (GetArchiveItem(archive, -1, &item) != ArchiveOk) return lines;
    const int count = item.index;
    for (int i = 0; i < count; ++i) {
        if (GetArchiveItem(archive, i, &item) != ArchiveOk) {
            lines.push_back("failed");
            continue;
        }
        lines.push_back(std::string(item.name) + " " + std::to_string(item.uncompressedSize));
    }
    return lines;
}

Bytes ExtractToMemory(ArchiveHandle archive, int index) {
    ArchiveItem item;
    if (GetArchiveItem(archive, index, &item) != ArchiveOk) return {};
    Bytes data(item.uncompressedSize + 1);
    if (ExtractArchiveItem(archive, index, data.data(), static_cast<DWORD>(data.size()), TargetMemory, nullptr) !=
        ArchiveMoreData) {
        return {};
    }
    data.pop_back();
    return data;
}

}  // namespace

TEST(ByteSource, MemoryReadsStopAtTheEnd) {
    const Bytes block = PatternData(100);
    ByteSource* source = OpenByteSource(block.data(), 100, 3);
    ASSERT_NE(source, nullptr);
    std::uint8_t buffer[10] = {};
    ASSERT_EQ(SeekSource(source, 96, 0), 0);
    EXPECT_EQ(ReadBytes(buffer, 10, 1, source), 0u);  // one 10-byte item: short
    EXPECT_EQ(0, std::memcmp(buffer, block.data() + 96, 4));
    EXPECT_EQ(TellSource(source), 100u);
    ASSERT_EQ(SeekSource(source, -4, 1), 0);
    EXPECT_EQ(ReadBytes(buffer, 1, 10, source), 4u);  // ten 1-byte items: four
    EXPECT_EQ(TellSource(source), 100u);
    ASSERT_EQ(SeekSource(source, 0, 2), 0);
    EXPECT_EQ(TellSource(source), 100u);
    ASSERT_EQ(SeekSource(source, 500, 0), 0);
    EXPECT_EQ(ReadBytes(buffer, 1, 10, source), 0u);
    EXPECT_FALSE(SourceFailed(source));
    EXPECT_EQ(CloseByteSource(source), 0);
    EXPECT_EQ(CloseByteSource(nullptr), -1);
}

TEST(ByteSource, FieldsAreLittleEndianAndShortFieldsFail) {
    const Bytes block = {0x50, 0x4B, 0x01, 0x02, 0x17, 0x0B, 0xAA, 0xBB, 0xCC};
    ByteSource* source = OpenByteSource(block.data(), static_cast<std::uint32_t>(block.size()), 3);
    ASSERT_NE(source, nullptr);
    std::uint32_t value = 7;
    EXPECT_EQ(ReadU32LE(source, &value), 0);
    EXPECT_EQ(value, 0x02014B50u);
    EXPECT_EQ(ReadU16LE(source, &value), 0);
    EXPECT_EQ(value, 0x0B17u);
    // Three bytes are left: a 4-byte field there is unreadable, not a mix of old bytes.
    value = 7;
    EXPECT_EQ(ReadU32LE(source, &value), -1);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(ReadU8(source, &value), -1);
    EXPECT_EQ(value, 0u);
    CloseByteSource(source);
}

TEST(ByteSource, FieldAtTheEndOfAFileFails) {
    TempFolder temp;
    const std::string path = temp / "two.bin";
    ASSERT_TRUE(WriteWholeFile(path, {0x34, 0x12}));
    ByteSource* source = OpenByteSource(path.c_str(), 0, 2);
    ASSERT_NE(source, nullptr);
    std::uint32_t value = 9;
    EXPECT_EQ(ReadU16LE(source, &value), 0);
    EXPECT_EQ(value, 0x1234u);
    EXPECT_EQ(ReadU16LE(source, &value), -1);
    EXPECT_EQ(value, 0u);
    CloseByteSource(source);
}

TEST(ByteSource, HandleSourceCountsFromTheHandlesPosition) {
    TempFolder temp;
    const std::string path = temp / "big.bin";
    const Bytes content = PatternData(3000);
    ASSERT_TRUE(WriteWholeFile(path, content));
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_EQ(::SetFilePointer(file, 1000, nullptr, FILE_BEGIN), 1000u);
    ByteSource* source = OpenByteSource(file, 0, 1);
    ASSERT_NE(source, nullptr);
    EXPECT_TRUE(source->canSeek);
    EXPECT_EQ(TellSource(source), 0u);
    ASSERT_EQ(SeekSource(source, 20, 1), 0);
    ASSERT_EQ(SeekSource(source, 0, 0), 0);
    EXPECT_EQ(::SetFilePointer(file, 0, nullptr, FILE_CURRENT), 1000u);  // the duplicate shares the position
    std::uint8_t byte = 0;
    EXPECT_EQ(ReadBytes(&byte, 1, 1, source), 1u);
    EXPECT_EQ(byte, content[1000]);
    ASSERT_EQ(SeekSource(source, 0, 2), 0);
    EXPECT_EQ(TellSource(source), 2000u);
    CloseByteSource(source);
    // Only the duplicate was closed.
    ASSERT_EQ(::SetFilePointer(file, 5, nullptr, FILE_BEGIN), 5u);
    DWORD got = 0;
    EXPECT_TRUE(::ReadFile(file, &byte, 1, &got, nullptr));
    EXPECT_EQ(byte, content[5]);
    ::CloseHandle(file);
}

TEST(ByteSource, PipeSourceCannotSeekAndArchiveRefusesPipes) {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    ByteSource* source = OpenByteSource(readEnd, 0, 1);
    ASSERT_NE(source, nullptr);
    EXPECT_FALSE(source->canSeek);
    EXPECT_EQ(SeekSource(source, 0, 0), 29);
    EXPECT_EQ(TellSource(source), 0u);
    CloseByteSource(source);
    EXPECT_EQ(OpenArchive(readEnd, 0, SourceHandle), nullptr);
    ::CloseHandle(readEnd);
    ::CloseHandle(writeEnd);
}

TEST(OpenArchive, RefusesUnknownKindsMissingFilesAndBlocksWithoutEndRecord) {
    const Bytes archive = ThreeItemArchive();
    EXPECT_EQ(OpenArchive(archive.data(), static_cast<DWORD>(archive.size()), 0), nullptr);
    EXPECT_EQ(OpenArchive(archive.data(), static_cast<DWORD>(archive.size()), 4), nullptr);
    TempFolder temp;
    EXPECT_EQ(OpenArchive((temp / "missing.zip").c_str(), 0, SourceFileName), nullptr);
    const Bytes noise = PatternData(5000);
    EXPECT_EQ(OpenMemory(noise), nullptr);
    EXPECT_EQ(OpenArchive(nullptr, 0, SourceMemory), nullptr);
    // A file that holds nothing but an end record (its signature at position 0).
    Bytes onlyEnd(22, 0);
    Put32(onlyEnd, 0, 0x06054B50);
    EXPECT_EQ(OpenMemory(onlyEnd), nullptr);
    // The same record with one byte before it is an empty archive.
    Bytes prefixed = onlyEnd;
    prefixed.insert(prefixed.begin(), 0x00);
    ArchiveHandle empty = OpenMemory(prefixed);
    ASSERT_NE(empty, nullptr);
    ArchiveItem item;
    ASSERT_EQ(GetArchiveItem(empty, -1, &item), ArchiveOk);
    EXPECT_EQ(item.index, 0);
    EXPECT_EQ(GetArchiveItem(empty, 0, &item), ArchiveErrArgument);
    EXPECT_EQ(CloseArchive(empty), ArchiveOk);
}

TEST(OpenArchive, MemoryFileNameAndHandleSourcesAgree) {
    TempFolder temp;
    const Bytes archive = ThreeItemArchive();
    const std::string path = temp / "payload.zip";
    ASSERT_TRUE(WriteWholeFile(path, archive));

    ArchiveHandle fromMemory = OpenMemory(archive);
    ArchiveHandle fromName = OpenArchive(path.c_str(), 0, SourceFileName);
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ArchiveHandle fromHandle = OpenArchive(file, 0, SourceHandle);
    ASSERT_NE(fromMemory, nullptr);
    ASSERT_NE(fromName, nullptr);
    ASSERT_NE(fromHandle, nullptr);
    ::CloseHandle(file);  // the archive reads through its own duplicate

    const std::vector<std::string> expected = {"program.exe 50000", "data/readme.txt 3000", "License.rtf 14479"};
    EXPECT_EQ(Describe(fromMemory), expected);
    EXPECT_EQ(Describe(fromName), expected);
    EXPECT_EQ(Describe(fromHandle), expected);
    for (int i = 0; i < 3; ++i) {
        const Bytes data = ExtractToMemory(fromMemory, i);
        EXPECT_EQ(ExtractToMemory(fromName, i), data);
        EXPECT_EQ(ExtractToMemory(fromHandle, i), data);
    }
    EXPECT_EQ(ExtractToMemory(fromMemory, 0), PatternData(50000, 1));
    CloseArchive(fromMemory);
    CloseArchive(fromName);
    CloseArchive(fromHandle);
}

TEST(OpenArchive, HandlePositionedInsideALargerFile) {
    TempFolder temp;
    const Bytes archive = ThreeItemArchive();
    Bytes container = PatternData(1000, 9);
    container.insert(container.end(), archive.begin(), archive.end());
    const std::string path = temp / "container.bin";
    ASSERT_TRUE(WriteWholeFile(path, container));
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_EQ(::SetFilePointer(file, 1000, nullptr, FILE_BEGIN), 1000u);
    // The handle's position becomes part of bytesBefore; later seeks are absolute.
    DirectoryReader* reader = OpenDirectory(OpenByteSource(file, 0, 1));
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->bytesBefore, 1000u);
    EXPECT_EQ(reader->source->startOffset, 0u);
    EXPECT_EQ(reader->entryCount, 3u);
    CloseDirectory(reader);
    ASSERT_EQ(::SetFilePointer(file, 1000, nullptr, FILE_BEGIN), 1000u);
    ArchiveHandle opened = OpenArchive(file, 0, SourceHandle);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(Describe(opened).size(), 3u);
    EXPECT_EQ(ExtractToMemory(opened, 2), PatternData(14479, 3));
    CloseArchive(opened);
    ::CloseHandle(file);
}

TEST(OpenDirectory, BytesBeforeIsThePrefixLength) {
    packer::Options options;
    options.prepend = PatternData(777, 5);
    const Bytes archive = ThreeItemArchive(options);
    ByteSource* source = OpenByteSource(archive.data(), static_cast<std::uint32_t>(archive.size()), 3);
    DirectoryReader* reader = OpenDirectory(source);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->bytesBefore, 777u);
    EXPECT_EQ(reader->entryCount, 3u);
    EXPECT_TRUE(reader->cursorValid);
    EXPECT_EQ(CloseDirectory(reader), ReaderOk);

    ArchiveHandle opened = OpenMemory(archive);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(ExtractToMemory(opened, 1), PatternData(3000, 2));
    EXPECT_EQ(ExtractToMemory(opened, 0), PatternData(50000, 1));
    CloseArchive(opened);
}

TEST(OpenDirectory, TheEndRecordNearestTheEndWins) {
    // Two archives back to back: the second one's end record is nearer the end.
    Bytes first = packer::Pack({FileItem("first.txt", PatternData(100))}).bytes;
    const Bytes second =
        packer::Pack({FileItem("a.txt", PatternData(200, 2)), FileItem("b.txt", PatternData(300, 3))}).bytes;
    first.insert(first.end(), second.begin(), second.end());
    ArchiveHandle opened = OpenMemory(first);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(Describe(opened), (std::vector<std::string>{"a.txt 200", "b.txt 300"}));
    EXPECT_EQ(ExtractToMemory(opened, 1), PatternData(300, 3));
    CloseArchive(opened);
}

TEST(OpenDirectory, FindsTheSignatureAtEveryDistanceFromTheEnd) {
    // Comment lengths that put the signature across the overlap of two search
    // windows, at the far end of the reach, and just beyond it.
    for (std::size_t length : {0u, 1000u, 1001u, 1002u, 1003u, 1004u, 1005u, 1006u, 1007u, 1008u, 1009u, 2030u,
                               2031u, 2032u, 2033u, 2034u, 65512u, 65513u, 65514u, 65535u}) {
        packer::Options options;
        options.comment.assign(length, 'c');
        const Bytes archive = packer::Pack({FileItem("x.txt", PatternData(10))}, options).bytes;
        ArchiveHandle opened = OpenMemory(archive);
        const bool reachable = 22 + length <= 0xFFFF;
        EXPECT_EQ(opened != nullptr, reachable) << "comment length " << length;
        if (opened != nullptr) {
            EXPECT_EQ(Describe(opened), std::vector<std::string>{"x.txt 10"});
            CloseArchive(opened);
        }
    }
}

TEST(OpenDirectory, RefusesMultiDiskCountsAndOverlongDirectories) {
    const packer::Packed packed = packer::Pack({FileItem("x.txt", PatternData(10))});
    const std::size_t end = packed.endRecordOffset;
    struct Patch {
        std::size_t offset;
        std::uint32_t value;
    };
    for (const Patch patch : {Patch{4, 1}, Patch{6, 1}, Patch{8, 2}, Patch{10, 2}}) {
        Bytes bytes = packed.bytes;
        Put16(bytes, end + patch.offset, patch.value);
        EXPECT_EQ(OpenMemory(bytes), nullptr) << "field at " << patch.offset;
    }
    Bytes longer = packed.bytes;
    Put32(longer, end + 12, packed.centralDirectorySize + 1);  // would end after the end record
    EXPECT_EQ(OpenMemory(longer), nullptr);
    Bytes huge = packed.bytes;
    Put32(huge, end + 12, 0xFFFFFFF0u);  // must not wrap around into a plausible extent
    EXPECT_EQ(OpenMemory(huge), nullptr);
}

TEST(OpenDirectory, StandardLocalSignatureCountsButEveryItemFails) {
    packer::Options options;
    options.standardLocalSignature = true;
    const Bytes archive = ThreeItemArchive(options);
    ArchiveHandle opened = OpenMemory(archive);
    ASSERT_NE(opened, nullptr);
    ArchiveItem item;
    ASSERT_EQ(GetArchiveItem(opened, -1, &item), ArchiveOk);
    EXPECT_EQ(item.index, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(GetArchiveItem(opened, i, &item), ArchiveErrItemHeader);
        Bytes buffer(100);
        EXPECT_EQ(ExtractArchiveItem(opened, i, buffer.data(), 100, TargetMemory, nullptr), ArchiveErrMemoryExtract);
    }
    CloseArchive(opened);
}

// An end record that claims more entries than the directory holds: every
// missing entry fails without walking the directory from its start again, and
// only a step back starts from the first entry.
TEST(DirectoryWalk, AMoveForwardFromAnUnreadableEntryReadsNothing) {
    const packer::Packed packed = packer::Pack(
        {FileItem("a.txt", PatternData(10)), FileItem("b.txt", PatternData(20)), FileItem("c.txt", PatternData(30))});
    Bytes archive = packed.bytes;
    Put16(archive, packed.endRecordOffset + 8, 0xFFFF);
    Put16(archive, packed.endRecordOffset + 10, 0xFFFF);
    DirectoryReader* reader = OpenDirectory(OpenByteSource(archive.data(), static_cast<std::uint32_t>(archive.size()), 3));
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(PositionOnItem(reader, 2), ReaderOk);
    EXPECT_NE(PositionOnItem(reader, 3), ReaderOk);  // the end record stands where entry 3 would be
    for (std::uint32_t index : {3u, 4u, 1000u, 0xFFFEu}) {
        ASSERT_EQ(SeekSource(reader->source, 12345, 0), 0);
        EXPECT_NE(PositionOnItem(reader, index), ReaderOk) << index;
        EXPECT_EQ(TellSource(reader->source), 12345u) << "entry " << index << " was looked for by reading";
    }
    EXPECT_EQ(PositionOnItem(reader, 1), ReaderOk);
    EXPECT_EQ(reader->cursorIndex, 1u);
    CloseDirectory(reader);
}
