// Owners that the product program needs beyond the setup's (setup/win32_raii.h):
// an open registry key and the thread's COM apartment.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

#include "setup/win32_raii.h"

namespace larkspan {

// Keys opened or created below a root; the predefined roots are never held.
struct RegistryKeyTraits {
    using Value = HKEY;
    static Value Invalid() noexcept { return nullptr; }
    static bool IsValid(Value v) noexcept { return v != nullptr; }
    static void Close(Value v) noexcept { ::RegCloseKey(v); }
};
using UniqueRegistryKey = win32::Unique<RegistryKeyTraits>;

// CoInitializeEx for the calling thread, undone by the owner that succeeded.
class ComApartment {
public:
    ComApartment() noexcept
        : initialized_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ComApartment(ComApartment&& other) noexcept : initialized_(std::exchange(other.initialized_, false)) {}
    ComApartment& operator=(ComApartment&& other) noexcept {
        if (this != &other) {
            reset();
            initialized_ = std::exchange(other.initialized_, false);
        }
        return *this;
    }
    ~ComApartment() { reset(); }
    explicit operator bool() const noexcept { return initialized_; }
    void reset() noexcept {
        if (std::exchange(initialized_, false)) ::CoUninitialize();
    }

private:
    bool initialized_;
};

}  // namespace larkspan
