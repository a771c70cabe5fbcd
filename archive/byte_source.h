// A small file-like reader over the archive's storage: a memory block, an
// open OS file handle (read through a duplicate, with the handle's position at
// opening as position 0), or a file named by a path.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "common/unique.h"
#include "common/unique_handle.h"

struct ByteSource {
    bool isHandle = false;                // kinds 1 and 2
    bool canSeek = false;                 // memory always; handles only for disk files
    win32::UniqueFile osHandle;           // the duplicate (kind 1) or the opened file (kind 2)
    bool readFailed = false;              // a ReadFile call failed; never cleared
    std::uint32_t startOffset = 0;        // handle position at opening (seekable handles only)
    const std::uint8_t* block = nullptr;  // memory block, owned by the caller
    std::uint32_t blockLength = 0;
    std::uint32_t blockPosition = 0;
};

// kind: the ArchiveSourceKind values of archive/archive.h (SourceHandle,
// SourceFileName, SourceMemory: first = address, length = its size).
[[nodiscard]] ByteSource* OpenByteSource(const void* first, std::uint32_t length, int kind) noexcept;
int CloseByteSource(ByteSource* source) noexcept;
using UniqueByteSource = win32::UniqueOf<ByteSource*, CloseByteSource>;

// Reads up to `count` items of `size` bytes; returns the number of whole items read.
[[nodiscard]] std::size_t ReadBytes(void* destination, std::size_t size, std::size_t count,
                                    ByteSource* source) noexcept;
// SeekSource's results besides 0, in the C library's errno numbering.
constexpr int kSeekNoDevice = 19;     // no source, or an origin other than 0, 1 and 2
constexpr int kSeekInvalid = 22;      // the system refused the move (a negative position)
constexpr int kSeekNotSeekable = 29;  // a handle that is not a disk file

// Where SeekSource measures its offset from (the C library's SEEK_SET, SEEK_CUR
// and SEEK_END numbering).
enum SeekOrigin : int {
    SeekFromStart = 0,
    SeekFromCurrent = 1,
    SeekFromEnd = 2,
};

// origin: a SeekOrigin. 0 on success.
[[nodiscard]] int SeekSource(ByteSource* source, std::int32_t offset, int origin) noexcept;
[[nodiscard]] std::uint32_t TellSource(ByteSource* source) noexcept;
[[nodiscard]] bool SourceFailed(const ByteSource* source) noexcept;

// Little-endian field reads: 0 on success, -1 (ReaderReadFailed) when the read
// failed or ran short; the value is then 0.
[[nodiscard]] int ReadU8(ByteSource* source, std::uint32_t* value) noexcept;
[[nodiscard]] int ReadU16LE(ByteSource* source, std::uint32_t* value) noexcept;
[[nodiscard]] int ReadU32LE(ByteSource* source, std::uint32_t* value) noexcept;
