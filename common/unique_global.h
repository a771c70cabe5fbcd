// Owner of a global memory block and the lock that maps it for a scope.
#pragma once

#include <windows.h>

#include "common/unique.h"

namespace win32 {

using UniqueGlobal = UniqueOf<HGLOBAL, ::GlobalFree>;

// GlobalLock for the lifetime of the object.
class GlobalLockGuard {
public:
    explicit GlobalLockGuard(HGLOBAL block) noexcept : block_(block), data_(block ? ::GlobalLock(block) : nullptr) {}
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
    ~GlobalLockGuard() { unlock(); }
    void unlock() noexcept {
        if (data_) ::GlobalUnlock(block_);
        data_ = nullptr;
    }
    [[nodiscard]] void* get() const noexcept { return data_; }

private:
    HGLOBAL block_;
    void* data_;
};

}  // namespace win32
