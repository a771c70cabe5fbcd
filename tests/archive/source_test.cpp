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

// The same bytes from memory and from a file: three bytes are left for the
// last 4-byte field, which is then unreadable, not a mix of old bytes, and so
// is a field after the end.
TEST(ByteSource, FieldsAreLittleEndianAndShortFieldsFail) {
    const Bytes block = {0x50, 0x4B, 0x01, 0x02, 0x17, 0x0B, 0xAA, 0xBB, 0xCC};
    TempFolder temp;
    const std::string path = temp / "fields.bin";
    ASSERT_TRUE(WriteWholeFile(path, block));
    struct Kind {
        const char* what;
        const void* first;
        int kind;
    };
    for (const Kind k : {Kind{"memory", block.data(), 3}, Kind{"file", path.c_str(), 2}}) {
        SCOPED_TRACE(k.what);
        ByteSource* source = OpenByteSource(k.first, static_cast<std::uint32_t>(block.size()), k.kind);
        ASSERT_NE(source, nullptr);
        std::uint32_t value = 7;
        EXPECT_EQ(ReadU32LE(source, &value), 0);
        EXPECT_EQ(value, 0x02014B50u);
        EXPECT_EQ(ReadU16LE(source, &value), 0);
        EXPECT_EQ(value, 0x0B17u);
        EXPECT_EQ(ReadU32LE(source, &value), -1);
        EXPECT_EQ(value, 0u);
        value = 7;
        EXPECT_EQ(ReadU16LE(source, &value), -1);
        EXPECT_EQ(value, 0u);
        value = 7;
        EXPECT_EQ(ReadU8(source, &value), -1);
        EXPECT_EQ(value, 0u);
        CloseByteSource(source);
    }
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

// The same archive from every kind of source, alone or behind other bytes (for
// a handle: behind the handle's position, after which seeks are absolute):
// the directory counts the bytes before it, and every item reads alike. The
// archive reads a handle through its own duplicate.
TEST(OpenArchive, EveryKindOfSourceReadsTheSameItems) {
    TempFolder temp;
    const Bytes archive = ThreeItemArchive();
    const auto after = [&archive](Bytes bytes) {
        bytes.insert(bytes.end(), archive.begin(), archive.end());
        return bytes;
    };
    struct Case {
        const char* what;
        int kind;
        Bytes contents;
        std::uint32_t before;  // bytes before the archive
        LONG position;         // where a handle stands when it is given
    };
    const Case cases[] = {
        {"memory", SourceMemory, archive, 0, 0},
        {"file name", SourceFileName, archive, 0, 0},
        {"handle", SourceHandle, archive, 0, 0},
        {"memory behind other bytes", SourceMemory, after(PatternData(777, 5)), 777, 0},
        {"file name behind other bytes", SourceFileName, after(PatternData(777, 5)), 777, 0},
        {"handle inside a larger file", SourceHandle, after(PatternData(1000, 9)), 1000, 1000},
    };
    const std::vector<std::string> described = {"program.exe 50000", "data/readme.txt 3000", "License.rtf 14479"};
    const Bytes data[] = {PatternData(50000, 1), PatternData(3000, 2), PatternData(14479, 3)};
    const std::string path = temp / "source.bin";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteWholeFile(path, c.contents));
        HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        const auto size = static_cast<std::uint32_t>(c.contents.size());
        const auto source = [&]() -> const void* {
            ::SetFilePointer(file, c.position, nullptr, FILE_BEGIN);
            if (c.kind == SourceMemory) return c.contents.data();
            return c.kind == SourceFileName ? static_cast<const void*>(path.c_str()) : file;
        };
        DirectoryReader* reader = OpenDirectory(OpenByteSource(source(), size, c.kind));
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(reader->bytesBefore, c.before);
        EXPECT_EQ(reader->source->startOffset, 0u);
        EXPECT_EQ(reader->entryCount, 3u);
        EXPECT_TRUE(reader->cursorValid);
        EXPECT_EQ(CloseDirectory(reader), ReaderOk);
        const UniqueArchive opened(OpenArchive(source(), size, c.kind));
        ::CloseHandle(file);
        ASSERT_TRUE(opened);
        EXPECT_EQ(Describe(opened.get()), described);
        for (int i : {2, 0, 1}) EXPECT_EQ(ExtractToMemory(opened.get(), i), data[i]) << "item " << i;
    }
}

TEST(OpenDirectory, TheEndRecordNearestTheEndWins) {
    // Two archives back to back: the second one's end record is nearer the end.
    Bytes first = packer::Pack({FileItem("first.txt", PatternData(100))}).bytes;
    const Bytes second =
        packer::Pack({FileItem("a.txt", PatternData(200, 2)), FileItem("b.txt", PatternData(300, 3))}).bytes;
    first.insert(first.end(), second.begin(), second.end());
    const UniqueArchive opened(OpenMemory(first));
    ASSERT_TRUE(opened);
    EXPECT_EQ(Describe(opened.get()), (std::vector<std::string>{"a.txt 200", "b.txt 300"}));
    EXPECT_EQ(ExtractToMemory(opened.get(), 1), PatternData(300, 3));
}

TEST(OpenDirectory, FindsTheSignatureAtEveryDistanceFromTheEnd) {
    // Comment lengths that put the signature across the overlap of two search
    // windows, at the far end of the reach, and just beyond it.
    for (std::size_t length : {0u,    1000u, 1001u, 1002u, 1003u, 1004u, 1005u,  1006u,  1007u,  1008u,
                               1009u, 2030u, 2031u, 2032u, 2033u, 2034u, 65512u, 65513u, 65514u, 65535u}) {
        packer::Options options;
        options.comment.assign(length, 'c');
        const Bytes archive = packer::Pack({FileItem("x.txt", PatternData(10))}, options).bytes;
        const UniqueArchive opened(OpenMemory(archive));
        const bool reachable = 22 + length <= 0xFFFF;
        EXPECT_EQ(static_cast<bool>(opened), reachable) << "comment length " << length;
        if (opened) {
            EXPECT_EQ(Describe(opened.get()), std::vector<std::string>{"x.txt 10"});
        }
    }
}

TEST(OpenDirectory, RefusesMultiDiskCountsAndOverlongDirectories) {
    const packer::Packed packed = packer::Pack({FileItem("x.txt", PatternData(10))});
    const std::size_t end = packed.endRecordOffset;
    struct Patch {
        std::size_t offset;
        std::uint32_t value;
        int width;
    };
    // Multi-disk counts, and directory sizes that would end after the end
    // record (the huge one must not wrap around into a plausible extent).
    for (const Patch patch : {Patch{4, 1, 2}, Patch{6, 1, 2}, Patch{8, 2, 2}, Patch{10, 2, 2},
                              Patch{12, packed.centralDirectorySize + 1, 4}, Patch{12, 0xFFFFFFF0u, 4}}) {
        Bytes bytes = packed.bytes;
        (patch.width == 4 ? Put32 : Put16)(bytes, end + patch.offset, patch.value);
        EXPECT_EQ(OpenMemory(bytes), nullptr) << "field at " << patch.offset << " set to " << patch.value;
    }
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
    DirectoryReader* reader = OpenDirectory(
        OpenByteSource(archive.data(), static_cast<std::uint32_t>(archive.size()), 3));
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(PositionOnItem(reader, 2), ReaderOk);
    EXPECT_NE(PositionOnItem(reader, 3), ReaderOk);  // the end record stands where entry 3 would be
    for (std::uint32_t index : {3u, 4u, 0xFFFEu}) {
        ASSERT_EQ(SeekSource(reader->source.get(), 12345, SeekFromStart), 0);
        EXPECT_NE(PositionOnItem(reader, index), ReaderOk) << index;
        EXPECT_EQ(TellSource(reader->source.get()), 12345u) << "entry " << index << " was looked for by reading";
    }
    EXPECT_EQ(PositionOnItem(reader, 1), ReaderOk);
    EXPECT_EQ(reader->cursorIndex, 1u);
    CloseDirectory(reader);
}
