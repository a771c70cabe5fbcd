// The archive format: finds and checks the end record, walks the central
// directory with a cursor, checks an item's local header against its directory
// entry and fills the ArchiveItem record with name, attributes, sizes and times.
#pragma once

#include "archive/archive.h"
#include "archive/byte_source.h"
#include "archive/reader_status.h"

#include <cstdint>
#include <memory>

struct ItemStream;

// The fixed fields of one central directory entry, each widened to 32 bits.
struct DirectoryEntry {
    std::uint32_t versionMadeBy = 0;
    std::uint32_t versionNeeded = 0;
    std::uint32_t flags = 0;
    std::uint32_t method = 0;
    std::uint32_t dosDateTime = 0;  // time in the low 16 bits, date in the high 16 bits
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint32_t nameLength = 0;
    std::uint32_t extraLength = 0;
    std::uint32_t commentLength = 0;
    std::uint32_t diskNumberStart = 0;
    std::uint32_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    std::uint32_t localHeaderOffset = 0;
};

// Where one item lies, from its directory entry: the local header's offset and
// the least end its header, name and data can have (the local extra field,
// known only from the local header, comes on top).
struct ItemSpan {
    std::uint32_t headerOffset = 0;
    std::uint64_t leastEnd = 0;
    std::uint64_t furthestEnd = 0;  // the largest leastEnd of this span and all spans before it
};

struct DirectoryReader {
    UniqueByteSource source;
    std::uint32_t entryCount = 0;
    std::uint32_t bytesBefore = 0;  // source bytes ahead of the archive's offset 0
    std::uint32_t cursorIndex = 0;
    std::uint32_t cursorOffset = 0;  // archive offset of the entry under the cursor
    bool cursorValid = false;
    std::uint32_t directoryOffset = 0;
    DirectoryEntry entry;          // the entry under the cursor (last one read without error)
    ItemStream* stream = nullptr;  // owned; at most one open item
    // Every readable entry's span, sorted by header offset; read once, on the
    // first local header check, so that no item may use another item's bytes.
    std::unique_ptr<ItemSpan[]> spans;
    std::uint32_t spanCount = 0;
    bool spansRead = false;
};

// Where the local extra field of the entry under the cursor lies.
struct LocalHeaderLayout {
    std::uint32_t extraOffset = 0;  // archive offset of the local extra field
    std::uint32_t extraSize = 0;
    std::uint32_t nameAndExtraSize = 0;  // local name length + local extra field length
};

constexpr std::uint32_t kLocalHeaderSignature = 0x04555550;    // 50 55 55 04
constexpr std::uint32_t kCentralHeaderSignature = 0x02014B50;  // 50 4B 01 02
constexpr std::uint32_t kEndRecordSignature = 0x06054B50;      // 50 4B 05 06
constexpr std::uint32_t kCentralHeaderSize = 46;
constexpr std::uint32_t kLocalHeaderSize = 30;

// Compression methods the reader accepts.
constexpr std::uint32_t kMethodStored = 0;
constexpr std::uint32_t kMethodDeflated = 8;
// General-purpose flag bit 3: sizes and CRC follow the data in a descriptor.
constexpr std::uint32_t kFlagDataDescriptor = 1u << 3;

// Source position of the end record nearest the end; 0 when there is none.
[[nodiscard]] std::uint32_t FindEndRecord(ByteSource* source) noexcept;
// Takes over the source; on failure the source is closed and null returned.
[[nodiscard]] DirectoryReader* OpenDirectory(ByteSource* source) noexcept;
int CloseDirectory(DirectoryReader* reader) noexcept;

[[nodiscard]] int RewindItems(DirectoryReader* reader) noexcept;
[[nodiscard]] int StepToNextItem(DirectoryReader* reader) noexcept;
// Reads the entry at the cursor; with a name buffer also its name (a name that
// does not fit the buffer with its terminator is refused as damaged).
[[nodiscard]] int LoadDirectoryEntry(DirectoryReader* reader, char* name, std::uint32_t nameSize) noexcept;
// Moves the cursor onto entry `index`; ReaderOk only when that entry was read.
[[nodiscard]] int PositionOnItem(DirectoryReader* reader, std::uint32_t index) noexcept;
[[nodiscard]] int VerifyLocalHeader(DirectoryReader* reader, LocalHeaderLayout* layout) noexcept;

// Fills `item` for entry `index` (0 to entryCount - 1): ArchiveOk,
// ArchiveErrItemHeader or ArchiveErrItemRead; `item` is untouched on failure.
[[nodiscard]] ArchiveResult FillArchiveItem(DirectoryReader* reader, std::uint32_t index, ArchiveItem* item) noexcept;

// Windows attribute bits from an entry's external attributes.
[[nodiscard]] DWORD AttributesFromExternal(std::uint32_t external) noexcept;
// Seconds since 1970-01-01 UTC (unsigned, up to 2106) as a UTC FILETIME.
[[nodiscard]] FILETIME UnixSecondsToFileTime(std::uint32_t seconds) noexcept;
