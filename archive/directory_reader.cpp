#include "archive/directory_reader.h"

#include "archive/item_stream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace {

constexpr std::uint32_t kEndRecordReach = 0xFFFF;  // how far back the end record may start
constexpr std::uint32_t kSearchStep = 1024;
constexpr std::uint32_t kWindowSize = kSearchStep + 4;  // windows overlap by one signature
constexpr std::uint16_t kUtBlockId = 0x5455;            // "UT"

[[nodiscard]] int SeekTo(ByteSource* source, std::uint32_t position) noexcept {
    return SeekSource(source, static_cast<std::int32_t>(position), SeekFromStart);
}

// Reads one field into `value`; a failure turns `status` into ReaderReadFailed.
void ReadField16(ByteSource* source, std::uint32_t* value, int* status) noexcept {
    if (ReadU16LE(source, value) != ReaderOk) *status = ReaderReadFailed;
}
void ReadField32(ByteSource* source, std::uint32_t* value, int* status) noexcept {
    if (ReadU32LE(source, value) != ReaderOk) *status = ReaderReadFailed;
}

[[nodiscard]] std::uint32_t Get16(const std::uint8_t* p) noexcept {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
}
[[nodiscard]] std::uint32_t Get32(const std::uint8_t* p) noexcept { return Get16(p) | Get16(p + 2) << 16; }

// Replaces the DOS times with those of the first "UT" block of a local extra
// field. Only bytes inside both the block and the field are read; times the
// block announces but does not hold keep their DOS value.
void ApplyUtBlock(const std::uint8_t* field, std::uint32_t length, ArchiveItem* item) noexcept {
    if (length <= 4) return;
    std::uint32_t position = 0;
    while (position + 4 <= length) {
        const std::uint32_t id = Get16(field + position);
        const std::uint32_t size = Get16(field + position + 2);
        if (id == kUtBlockId) {
            const std::uint32_t blockEnd = std::min(position + 4 + size, length);
            if (position + 5 > blockEnd) return;
            const std::uint32_t flags = field[position + 4];
            std::uint32_t at = position + 5;
            FILETIME* const targets[3] = {&item->writeTime, &item->accessTime, &item->creationTime};
            for (int bit = 0; bit < 3; ++bit) {
                if ((flags & (1u << bit)) == 0) continue;
                if (at + 4 > blockEnd) return;
                *targets[bit] = UnixSecondsToFileTime(Get32(field + at));
                at += 4;
            }
            return;
        }
        position += 4 + size;
        if (position + 4 >= length) return;
    }
}

constexpr std::uint32_t kSpanReadSize = 65536;  // the directory is read in pieces of this size
// Offsets of the fields the span walk reads inside a central directory entry.
constexpr std::uint32_t kCentralCompressedSizeAt = 20;
constexpr std::uint32_t kCentralNameLengthAt = 28;
constexpr std::uint32_t kCentralExtraLengthAt = 30;
constexpr std::uint32_t kCentralCommentLengthAt = 32;
constexpr std::uint32_t kCentralLocalHeaderAt = 42;

// Reads every entry that the cursor could reach (up to the first unreadable
// one) in large pieces rather than field by field, and keeps each one's span,
// sorted by header offset. Entries are walked exactly as StepToNextItem does.
[[nodiscard]] int ReadItemSpans(DirectoryReader* reader) noexcept {
    reader->spansRead = true;
    if (reader->entryCount == 0) return ReaderOk;
    reader->spans.reset(new (std::nothrow) ItemSpan[reader->entryCount]);
    std::unique_ptr<std::uint8_t[]> piece(new (std::nothrow) std::uint8_t[kSpanReadSize]);
    if (!reader->spans || !piece) {
        reader->spans.reset();
        return ReaderOutOfMemory;
    }
    std::uint32_t pieceStart = 0, pieceLength = 0;  // archive offset and length of the bytes in `piece`
    std::uint32_t offset = reader->directoryOffset;
    std::uint32_t count = 0;
    for (; count < reader->entryCount; ++count) {
        const bool inPiece = offset >= pieceStart && offset - pieceStart <= pieceLength &&
                             pieceLength - (offset - pieceStart) >= kCentralHeaderSize;
        if (!inPiece) {
            pieceStart = offset;
            pieceLength = 0;
            if (SeekTo(reader->source.get(), offset + reader->bytesBefore) != 0) break;
            pieceLength = static_cast<std::uint32_t>(ReadBytes(piece.get(), 1, kSpanReadSize, reader->source.get()));
            if (pieceLength < kCentralHeaderSize) break;
        }
        const std::uint8_t* e = piece.get() + (offset - pieceStart);
        if (Get32(e) != kCentralHeaderSignature) break;
        const std::uint32_t nameLength = Get16(e + kCentralNameLengthAt);
        ItemSpan& span = reader->spans[count];
        span.headerOffset = Get32(e + kCentralLocalHeaderAt);
        span.leastEnd = std::uint64_t{span.headerOffset} + kLocalHeaderSize + nameLength +
                        Get32(e + kCentralCompressedSizeAt);
        offset += kCentralHeaderSize + nameLength + Get16(e + kCentralExtraLengthAt) +
                  Get16(e + kCentralCommentLengthAt);
    }
    reader->spanCount = count;
    std::sort(reader->spans.get(), reader->spans.get() + count,
              [](const ItemSpan& a, const ItemSpan& b) { return a.headerOffset < b.headerOffset; });
    std::uint64_t furthest = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        furthest = std::max(furthest, reader->spans[i].leastEnd);
        reader->spans[i].furthestEnd = furthest;
    }
    return ReaderOk;
}

// ReaderOk when the item at `headerOffset`, ending at `end`, shares no byte
// with any other item: no other entry names the same header, it ends before
// the next item's header, and no item before it reaches into its header.
[[nodiscard]] int CheckItemSpan(DirectoryReader* reader, std::uint32_t headerOffset, std::uint64_t end) noexcept {
    if (!reader->spansRead) {
        const int status = ReadItemSpans(reader);
        if (status != ReaderOk) return status;
    }
    if (!reader->spans) return ReaderOutOfMemory;
    const ItemSpan* first = reader->spans.get();
    const ItemSpan* last = first + reader->spanCount;
    const auto byOffset = [](const ItemSpan& span, std::uint32_t value) { return span.headerOffset < value; };
    const ItemSpan* own = std::lower_bound(first, last, headerOffset, byOffset);
    if (own == last || own->headerOffset != headerOffset) return ReaderDamaged;  // not an entry the walk reached
    const ItemSpan* next = own + 1;
    if (next != last && (next->headerOffset == headerOffset || next->headerOffset < end)) return ReaderDamaged;
    if (own != first && (own - 1)->furthestEnd > headerOffset) return ReaderDamaged;
    return ReaderOk;
}

}  // namespace

std::uint32_t FindEndRecord(ByteSource* source) noexcept {
    if (SeekSource(source, 0, SeekFromEnd) != 0) return 0;
    const std::uint32_t length = TellSource(source);
    const std::uint32_t reach = std::min(kEndRecordReach, length);
    std::unique_ptr<std::uint8_t[]> window(new (std::nothrow) std::uint8_t[kWindowSize]);
    if (!window) return 0;
    std::uint32_t found = 0;
    std::uint32_t back = 4;
    while (back < reach && found == 0) {
        back = std::min(back + kSearchStep, reach);
        const std::uint32_t size = std::min(kWindowSize, back);
        const std::uint32_t windowStart = length - back;
        if (SeekTo(source, windowStart) != 0) break;
        if (ReadBytes(window.get(), size, 1, source) != 1) break;
        for (std::uint32_t i = size - 4 + 1; i-- > 0;) {
            if (Get32(window.get() + i) == kEndRecordSignature) {
                found = windowStart + i;
                break;
            }
        }
    }
    return found;
}

DirectoryReader* OpenDirectory(ByteSource* source) noexcept {
    UniqueByteSource owned(source);
    if (!owned) return nullptr;
    const std::uint32_t endPosition = FindEndRecord(source);
    int status = endPosition == 0 ? ReaderReadFailed : ReaderOk;
    std::uint32_t signature = 0, thisDisk = 0, directoryDisk = 0, entries = 0, totalEntries = 0;
    std::uint32_t directorySize = 0, directoryOffset = 0, commentLength = 0;
    if (status == ReaderOk) {
        if (SeekTo(source, endPosition) != 0) status = ReaderReadFailed;
    }
    if (status == ReaderOk) {
        int readStatus = ReaderOk;
        ReadField32(source, &signature, &readStatus);
        ReadField16(source, &thisDisk, &readStatus);
        ReadField16(source, &directoryDisk, &readStatus);
        ReadField16(source, &entries, &readStatus);
        ReadField16(source, &totalEntries, &readStatus);
        if (totalEntries != entries || directoryDisk != 0 || thisDisk != 0) status = ReaderDamaged;
        ReadField32(source, &directorySize, &readStatus);
        ReadField32(source, &directoryOffset, &readStatus);
        ReadField16(source, &commentLength, &readStatus);
        if (readStatus != ReaderOk) status = readStatus;
    }
    // 64-bit sums: damaged offsets must not wrap around into a plausible extent.
    const std::uint64_t recordAt = static_cast<std::uint64_t>(endPosition) + source->startOffset;
    const std::uint64_t directoryEnd = static_cast<std::uint64_t>(directoryOffset) + directorySize;
    if (status == ReaderOk && recordAt < directoryEnd) status = ReaderDamaged;
    if (status != ReaderOk) return nullptr;
    std::unique_ptr<DirectoryReader> reader(new (std::nothrow) DirectoryReader);
    if (!reader) return nullptr;
    reader->source = std::move(owned);
    reader->entryCount = entries;
    reader->bytesBefore = static_cast<std::uint32_t>(recordAt - directoryEnd);
    reader->directoryOffset = directoryOffset;
    source->startOffset = 0;
    static_cast<void>(RewindItems(reader.get()));
    return reader.release();
}

int CloseDirectory(DirectoryReader* reader) noexcept {
    if (reader == nullptr) return ReaderBadArgument;
    if (reader->stream != nullptr) static_cast<void>(CloseItemData(reader));
    std::unique_ptr<DirectoryReader> freed(reader);  // closes its source
    return ReaderOk;
}

int LoadDirectoryEntry(DirectoryReader* reader, char* name, std::uint32_t nameSize) noexcept {
    if (reader == nullptr) return ReaderBadArgument;
    ByteSource* source = reader->source.get();
    if (SeekTo(source, reader->cursorOffset + reader->bytesBefore) != 0) return ReaderReadFailed;
    std::uint32_t signature = 0;
    if (ReadU32LE(source, &signature) != ReaderOk) return ReaderReadFailed;
    if (signature != kCentralHeaderSignature) return ReaderDamaged;

    DirectoryEntry e;
    int status = ReaderOk;
    ReadField16(source, &e.versionMadeBy, &status);
    ReadField16(source, &e.versionNeeded, &status);
    ReadField16(source, &e.flags, &status);
    ReadField16(source, &e.method, &status);
    ReadField32(source, &e.dosDateTime, &status);
    ReadField32(source, &e.crc32, &status);
    ReadField32(source, &e.compressedSize, &status);
    ReadField32(source, &e.uncompressedSize, &status);
    ReadField16(source, &e.nameLength, &status);
    ReadField16(source, &e.extraLength, &status);
    ReadField16(source, &e.commentLength, &status);
    ReadField16(source, &e.diskNumberStart, &status);
    ReadField16(source, &e.internalAttributes, &status);
    ReadField32(source, &e.externalAttributes, &status);
    ReadField32(source, &e.localHeaderOffset, &status);

    if (status == ReaderOk && name != nullptr) {
        if (e.nameLength >= nameSize) {
            status = ReaderDamaged;  // the name would not fit with its terminator
        } else {
            name[e.nameLength] = '\0';
            if (e.nameLength != 0 && ReadBytes(name, e.nameLength, 1, source) != 1) status = ReaderReadFailed;
        }
    }
    if (status == ReaderOk) reader->entry = e;
    return status;
}

int RewindItems(DirectoryReader* reader) noexcept {
    if (reader == nullptr) return ReaderBadArgument;
    reader->cursorOffset = reader->directoryOffset;
    reader->cursorIndex = 0;
    const int status = LoadDirectoryEntry(reader, nullptr, 0);
    reader->cursorValid = status == ReaderOk;
    return status;
}

int StepToNextItem(DirectoryReader* reader) noexcept {
    if (reader == nullptr) return ReaderBadArgument;
    if (!reader->cursorValid) return ReaderEndOfList;
    if (reader->cursorIndex + 1 >= reader->entryCount) return ReaderEndOfList;
    const DirectoryEntry& e = reader->entry;
    reader->cursorOffset += kCentralHeaderSize + e.nameLength + e.extraLength + e.commentLength;
    reader->cursorIndex += 1;
    const int status = LoadDirectoryEntry(reader, nullptr, 0);
    reader->cursorValid = status == ReaderOk;
    return status;
}

int PositionOnItem(DirectoryReader* reader, std::uint32_t index) noexcept {
    if (reader == nullptr || index >= reader->entryCount) return ReaderBadArgument;
    // Only a step back starts again from the first entry. An unreadable entry
    // stays unreadable and hides every entry behind it, so a move forward from
    // it ends at once instead of walking the whole directory again.
    if (index < reader->cursorIndex) {
        const int status = RewindItems(reader);
        if (status != ReaderOk) return status;
    }
    while (reader->cursorIndex < index) {
        const int status = StepToNextItem(reader);
        if (status != ReaderOk) return status;  // an unreadable entry ends the walk
    }
    return reader->cursorValid ? ReaderOk : ReaderDamaged;
}

int VerifyLocalHeader(DirectoryReader* reader, LocalHeaderLayout* layout) noexcept {
    *layout = LocalHeaderLayout{};
    if (reader == nullptr || !reader->cursorValid) return ReaderBadArgument;
    ByteSource* source = reader->source.get();
    const DirectoryEntry& e = reader->entry;
    if (SeekTo(source, e.localHeaderOffset + reader->bytesBefore) != 0) return ReaderReadFailed;
    std::uint32_t signature = 0;
    if (ReadU32LE(source, &signature) != ReaderOk) return ReaderReadFailed;
    if (signature != kLocalHeaderSignature) return ReaderDamaged;

    int status = ReaderOk;
    int readStatus = ReaderOk;
    std::uint32_t version = 0, flags = 0, method = 0, dosDateTime = 0;
    ReadField16(source, &version, &readStatus);
    ReadField16(source, &flags, &readStatus);
    ReadField16(source, &method, &readStatus);
    if (readStatus == ReaderOk && (method != e.method || (method != kMethodStored && method != kMethodDeflated)))
        status = ReaderDamaged;
    ReadField32(source, &dosDateTime, &readStatus);
    const bool descriptor = (flags & kFlagDataDescriptor) != 0;
    const std::uint32_t expected[3] = {e.crc32, e.compressedSize, e.uncompressedSize};
    for (std::uint32_t want : expected) {
        std::uint32_t value = 0;
        ReadField32(source, &value, &readStatus);
        if (readStatus == ReaderOk && value != want && !descriptor) status = ReaderDamaged;
    }
    std::uint32_t nameLength = 0, extraLength = 0;
    ReadField16(source, &nameLength, &readStatus);
    if (readStatus == ReaderOk && nameLength != e.nameLength) status = ReaderDamaged;
    ReadField16(source, &extraLength, &readStatus);
    if (readStatus != ReaderOk) return ReaderReadFailed;
    if (status == ReaderOk) {
        const std::uint64_t end = std::uint64_t{e.localHeaderOffset} + kLocalHeaderSize + nameLength + extraLength +
                                  e.compressedSize;
        status = CheckItemSpan(reader, e.localHeaderOffset, end);
    }

    layout->extraOffset = e.localHeaderOffset + kLocalHeaderSize + nameLength;
    layout->extraSize = extraLength;
    layout->nameAndExtraSize = nameLength + extraLength;
    return status;
}

// Bits of an entry's external attributes: the DOS attributes in the low byte,
// the Unix mode in the high 16 bits.
constexpr std::uint32_t kDosReadOnly = 0x1u;
constexpr std::uint32_t kDosHidden = 0x2u;
constexpr std::uint32_t kDosSystem = 0x4u;
constexpr std::uint32_t kDosDirectory = 0x10u;
constexpr std::uint32_t kDosArchive = 0x20u;
constexpr std::uint32_t kUnixDirectory = 0x40000000u;   // S_IFDIR (040000) << 16
constexpr std::uint32_t kUnixOwnerWrite = 0x00800000u;  // S_IWUSR (0200) << 16

DWORD AttributesFromExternal(std::uint32_t a) noexcept {
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if ((a & kUnixDirectory) != 0 || (a & kDosDirectory) != 0) {
        attributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_NORMAL;
    }
    if ((a & kDosArchive) != 0) attributes |= FILE_ATTRIBUTE_ARCHIVE;
    if ((a & kDosHidden) != 0) attributes |= FILE_ATTRIBUTE_HIDDEN;
    if ((a & kUnixOwnerWrite) == 0 || (a & kDosReadOnly) != 0) attributes |= FILE_ATTRIBUTE_READONLY;
    if ((a & kDosSystem) != 0) attributes |= FILE_ATTRIBUTE_SYSTEM;
    return attributes;
}

FILETIME UnixSecondsToFileTime(std::uint32_t seconds) noexcept {
    // 100-ns ticks from 1601-01-01 to 1970-01-01, then one tick count per second.
    const std::uint64_t ticks = 116444736000000000ull + static_cast<std::uint64_t>(seconds) * 10000000ull;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

ArchiveResult FillArchiveItem(DirectoryReader* reader, std::uint32_t index, ArchiveItem* item) noexcept {
    if (PositionOnItem(reader, index) != ReaderOk) return ArchiveErrItemHeader;
    ArchiveItem record;
    std::memset(&record, 0, sizeof record);
    if (LoadDirectoryEntry(reader, record.name, sizeof record.name) != ReaderOk) return ArchiveErrItemHeader;
    LocalHeaderLayout layout;
    if (VerifyLocalHeader(reader, &layout) != ReaderOk) return ArchiveErrItemHeader;

    std::unique_ptr<std::uint8_t[]> extra;
    if (layout.extraSize != 0) {
        extra.reset(new (std::nothrow) std::uint8_t[layout.extraSize]);
        if (!extra) return ArchiveErrItemRead;
        if (SeekTo(reader->source.get(), layout.extraOffset + reader->bytesBefore) != 0) return ArchiveErrItemRead;
        if (ReadBytes(extra.get(), layout.extraSize, 1, reader->source.get()) != 1) return ArchiveErrItemRead;
    }

    const DirectoryEntry& e = reader->entry;
    record.index = static_cast<std::int32_t>(reader->cursorIndex);
    record.attributes = AttributesFromExternal(e.externalAttributes);
    record.compressedSize = e.compressedSize;
    record.uncompressedSize = e.uncompressedSize;
    FILETIME dosTime{};
    if (!::DosDateTimeToFileTime(static_cast<WORD>(e.dosDateTime >> 16), static_cast<WORD>(e.dosDateTime & 0xFFFF),
                                 &dosTime)) {
        dosTime = FILETIME{};  // not a valid DOS date: zero times unless a "UT" block gives them
    }
    record.accessTime = dosTime;
    record.creationTime = dosTime;
    record.writeTime = dosTime;
    ApplyUtBlock(extra.get(), layout.extraSize, &record);
    *item = record;
    return ArchiveOk;
}
