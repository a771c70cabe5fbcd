// The payload archive carried in the setup's own resources (RT_RCDATA 118,
// language 1033), and an owner that closes an archive opened over it.
#pragma once

#include <windows.h>

#include "archive/archive.h"

enum class PayloadStatus {
    PayloadFound,      // data and size are set
    PayloadMissing,    // no such resource
    PayloadEmpty,      // the resource is 0 bytes long
    PayloadNotLoaded,  // LoadResource or LockResource failed; GetLastError tells why
};

struct PayloadBlock {
    const void* data = nullptr;
    DWORD size = 0;
};

// Finds, loads and locks the payload resource of `instance`. The block belongs
// to the module and stays valid for the life of the process.
[[nodiscard]] PayloadStatus FindPayload(HINSTANCE instance, PayloadBlock* block) noexcept;

// Closes the archive it holds when it ends, on every path.
class ScopedArchive {
public:
    explicit ScopedArchive(ArchiveHandle archive) noexcept : archive_(archive) {}
    ScopedArchive(const ScopedArchive&) = delete;
    ScopedArchive& operator=(const ScopedArchive&) = delete;
    ~ScopedArchive() {
        if (archive_ != nullptr) static_cast<void>(CloseArchive(archive_));
    }
    [[nodiscard]] ArchiveHandle get() const noexcept { return archive_; }
    explicit operator bool() const noexcept { return archive_ != nullptr; }

private:
    ArchiveHandle archive_;
};
