// CoInitializeEx for the calling thread, undone by the owner that succeeded.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace win32 {

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

}  // namespace win32
