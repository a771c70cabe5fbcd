// The four operations through which the setup sees its embedded archive: open
// an archive (memory block, OS file handle or file name), read item records,
// extract an item (to a handle, to a file path, or into memory piece by piece)
// and close it again. Results are ArchiveResult bit patterns; 0 is success.
#pragma once

#include <windows.h>
#include <cstdint>

#include "common/unique.h"

// Where OpenArchive reads from (its third argument).
enum ArchiveSourceKind : int {
    SourceHandle = 1,    // an open OS file handle (a disk file); the archive works on a duplicate
    SourceFileName = 2,  // a zero-terminated ANSI path
    SourceMemory = 3,    // the address of a memory block; the second argument is its length
};

// Where ExtractArchiveItem writes to (its fifth argument).
enum ArchiveTargetKind : int {
    TargetHandle = 1,    // an open OS file handle, written from its position and left open
    TargetFileName = 2,  // a file path; null or empty means the item's stored name
    TargetMemory = 3,    // a buffer; the length argument is its size
};

using ArchiveResult = std::uint32_t;
enum : ArchiveResult {
    ArchiveOk = 0,
    ArchiveErrOpenFile = 0x200,           // target file not created, or an invalid target handle
    ArchiveErrExtract = 0x400,            // item data not read, not decompressed, not written, or damaged
    ArchiveMoreData = 0x600,              // memory extraction: bytes delivered, call again for more
    ArchiveErrItemHeader = 0x700,         // the item's local header or directory entry is damaged
    ArchiveErrItemRead = 0x800,           // the item's local extra field could not be read
    ArchiveErrArgument = 0x10000,         // no handle, index out of range, unknown mode
    ArchiveErrHandleKind = 0x80000,       // the handle is not a reading handle
    ArchiveErrMemoryExtract = 0x5000000,  // memory extraction: data not read or damaged
};

// The record GetArchiveItem fills. In the count form (index -1) only `index`
// is set: it holds the number of items.
struct ArchiveItem {
    std::int32_t index;
    char name[260];  // bytes as stored, zero-terminated, forward slashes kept
    DWORD attributes;
    FILETIME accessTime;
    FILETIME creationTime;
    FILETIME writeTime;
    DWORD compressedSize;
    DWORD uncompressedSize;
};

// Called after every block written by a handle or file extraction with the
// address of the number of bytes that block held. Its result is ignored.
using ExtractProgressFn = int (*)(DWORD* bytesWritten);

struct ArchiveState;

// What OpenArchive hands out. Only handles of kind kArchiveReadingHandle are
// accepted by the other operations.
constexpr std::int32_t kArchiveReadingHandle = 1;
struct ArchiveHandleRecord {
    std::int32_t kind;
    ArchiveState* state;
};
using ArchiveHandle = ArchiveHandleRecord*;

[[nodiscard]] ArchiveHandle OpenArchive(const void* source, DWORD size, int kind) noexcept;
[[nodiscard]] ArchiveResult GetArchiveItem(ArchiveHandle archive, int index, ArchiveItem* item) noexcept;
[[nodiscard]] ArchiveResult ExtractArchiveItem(ArchiveHandle archive, int index, void* target, DWORD length, int mode,
                                               ExtractProgressFn progress) noexcept;
ArchiveResult CloseArchive(ArchiveHandle archive) noexcept;

// Closes the archive it holds when it ends, on every path.
using UniqueArchive = win32::UniqueOf<ArchiveHandle, CloseArchive>;
