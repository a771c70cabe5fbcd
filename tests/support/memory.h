// Memory for the readers under test: blocks fenced by no-access pages, and
// archives opened over memory.
#pragma once

#include "archive/archive.h"
#include "tests/support/bytes.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace support {

// Bytes whose last one sits just before a PAGE_NOACCESS page, with another
// no-access page before the first: a read or write one byte past either end
// faults at once. Read-only on request, so that a write inside faults too.
class GuardedBlock {
public:
    // `size` bytes, zero or starting with as much of `contents` as fits.
    explicit GuardedBlock(std::size_t size, const Bytes& contents = {}, bool readOnly = false);
    explicit GuardedBlock(const Bytes& contents, bool readOnly = false)
        : GuardedBlock(contents.data(), contents.size(), readOnly) {}
    // A copy of the `size` bytes at `bytes` (zero bytes when it is null).
    GuardedBlock(const std::uint8_t* bytes, std::size_t size, bool readOnly);
    GuardedBlock(const GuardedBlock&) = delete;
    GuardedBlock& operator=(const GuardedBlock&) = delete;
    ~GuardedBlock();
    [[nodiscard]] std::uint8_t* data() const noexcept { return data_; }
    [[nodiscard]] std::size_t size() const noexcept { return size_; }
    [[nodiscard]] bool ok() const noexcept { return base_ != nullptr; }

private:
    void* base_ = nullptr;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Opens an archive over `bytes` in memory (which must outlive the handle).
ArchiveHandle OpenMemory(const Bytes& bytes);

}  // namespace support
