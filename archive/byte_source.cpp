#include "archive/byte_source.h"

#include "archive/archive.h"
#include "archive/reader_status.h"

#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace {

[[nodiscard]] std::uint32_t CurrentFilePosition(HANDLE handle) noexcept {
    const DWORD position = ::SetFilePointer(handle, 0, nullptr, FILE_CURRENT);
    return position == INVALID_SET_FILE_POINTER ? 0 : position;
}

// Reads exactly `n` bytes into `destination`; false on a failure or a short read.
[[nodiscard]] bool ReadExactly(ByteSource* source, std::uint8_t* destination, std::size_t n) noexcept {
    return ReadBytes(destination, n, 1, source) == 1;
}

}  // namespace

ByteSource* OpenByteSource(const void* first, std::uint32_t length, int kind) noexcept {
    if (kind != SourceHandle && kind != SourceFileName && kind != SourceMemory) return nullptr;
    win32::UniqueFile handle;
    if (kind == SourceHandle) {
        HANDLE process = ::GetCurrentProcess();
        if (!::DuplicateHandle(process, const_cast<void*>(first), process, handle.put(), 0, FALSE,
                               DUPLICATE_SAME_ACCESS)) {
            return nullptr;
        }
    } else if (kind == SourceFileName) {
        if (first == nullptr) return nullptr;
        handle.reset(::CreateFileA(static_cast<const char*>(first), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!handle) return nullptr;
    }
    std::unique_ptr<ByteSource> source(new (std::nothrow) ByteSource);
    if (!source) return nullptr;
    if (kind == SourceMemory) {
        source->isHandle = false;
        source->canSeek = true;
        source->block = static_cast<const std::uint8_t*>(first);
        source->blockLength = first == nullptr ? 0 : length;
        return source.release();
    }
    source->isHandle = true;
    source->osHandle = std::move(handle);
    source->canSeek = ::GetFileType(source->osHandle.get()) == FILE_TYPE_DISK;
    source->startOffset = source->canSeek ? CurrentFilePosition(source->osHandle.get()) : 0;
    return source.release();
}

int CloseByteSource(ByteSource* source) noexcept {
    if (source == nullptr) return -1;
    std::unique_ptr<ByteSource> freed(source);  // closes the handle it holds
    return 0;
}

std::size_t ReadBytes(void* destination, std::size_t size, std::size_t count, ByteSource* source) noexcept {
    if (source == nullptr || destination == nullptr || size == 0 || count == 0) return 0;
    const unsigned long long wanted = static_cast<unsigned long long>(size) * count;
    if (wanted > 0xFFFFFFFFull) return 0;
    if (source->isHandle) {
        DWORD got = 0;
        if (!::ReadFile(source->osHandle.get(), destination, static_cast<DWORD>(wanted), &got, nullptr)) {
            source->readFailed = true;
        }
        return got / size;
    }
    if (source->blockPosition >= source->blockLength) return 0;
    std::uint32_t n = static_cast<std::uint32_t>(wanted);
    const std::uint32_t available = source->blockLength - source->blockPosition;
    if (n > available) n = available;
    std::memcpy(destination, source->block + source->blockPosition, n);
    source->blockPosition += n;
    return n / size;
}

int SeekSource(ByteSource* source, std::int32_t offset, int origin) noexcept {
    if (source == nullptr) return kSeekNoDevice;
    if (source->isHandle) {
        if (!source->canSeek) return kSeekNotSeekable;
        DWORD moved = INVALID_SET_FILE_POINTER;
        ::SetLastError(NO_ERROR);
        switch (origin) {
            case SeekFromStart:
                moved = ::SetFilePointer(source->osHandle.get(),
                                         static_cast<LONG>(source->startOffset + static_cast<std::uint32_t>(offset)),
                                         nullptr, FILE_BEGIN);
                break;
            case SeekFromCurrent:
                moved = ::SetFilePointer(source->osHandle.get(), offset, nullptr, FILE_CURRENT);
                break;
            case SeekFromEnd:
                moved = ::SetFilePointer(source->osHandle.get(), offset, nullptr, FILE_END);
                break;
            default:
                return kSeekNoDevice;
        }
        // A refused move (a negative position) leaves the file pointer where it
        // was; reading on from there would deliver the wrong bytes.
        if (moved == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return kSeekInvalid;
        return 0;
    }
    switch (origin) {
        case SeekFromStart:
            source->blockPosition = static_cast<std::uint32_t>(offset);
            break;
        case SeekFromCurrent:
            source->blockPosition += static_cast<std::uint32_t>(offset);
            break;
        case SeekFromEnd:
            source->blockPosition = source->blockLength + static_cast<std::uint32_t>(offset);
            break;
        default:
            break;
    }
    return 0;
}

std::uint32_t TellSource(ByteSource* source) noexcept {
    if (source == nullptr) return 0;
    if (source->isHandle) {
        if (!source->canSeek) return 0;
        return CurrentFilePosition(source->osHandle.get()) - source->startOffset;
    }
    return source->blockPosition;
}

bool SourceFailed(const ByteSource* source) noexcept {
    return source != nullptr && source->isHandle && source->readFailed;
}

// A field that runs past the end of the data counts as unreadable, whether or
// not the system reported an error: a short field never yields a value.
int ReadU8(ByteSource* source, std::uint32_t* value) noexcept {
    std::uint8_t byte = 0;
    if (!ReadExactly(source, &byte, 1)) {
        *value = 0;
        return ReaderReadFailed;
    }
    *value = byte;
    return ReaderOk;
}

int ReadU16LE(ByteSource* source, std::uint32_t* value) noexcept {
    std::uint8_t bytes[2] = {};
    if (!ReadExactly(source, bytes, 2)) {
        *value = 0;
        return ReaderReadFailed;
    }
    *value = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8;
    return ReaderOk;
}

int ReadU32LE(ByteSource* source, std::uint32_t* value) noexcept {
    std::uint8_t bytes[4] = {};
    if (!ReadExactly(source, bytes, 4)) {
        *value = 0;
        return ReaderReadFailed;
    }
    *value = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
             static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    return ReaderOk;
}
