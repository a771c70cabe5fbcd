// Selects an object into a DC and selects the previous one back when it ends,
// so a GDI object is never deleted while still selected.
#pragma once

#include <windows.h>

#include <utility>

namespace win32 {

class SelectionRestorer {
public:
    SelectionRestorer() noexcept = default;
    SelectionRestorer(HDC dc, HGDIOBJ previous) noexcept : dc_(dc), previous_(previous) {}
    SelectionRestorer(const SelectionRestorer&) = delete;
    SelectionRestorer& operator=(const SelectionRestorer&) = delete;
    SelectionRestorer(SelectionRestorer&& other) noexcept
        : dc_(std::exchange(other.dc_, nullptr)), previous_(std::exchange(other.previous_, nullptr)) {}
    SelectionRestorer& operator=(SelectionRestorer&& other) noexcept {
        if (this != &other) {
            restore();
            dc_ = std::exchange(other.dc_, nullptr);
            previous_ = std::exchange(other.previous_, nullptr);
        }
        return *this;
    }
    ~SelectionRestorer() { restore(); }
    void restore() noexcept {
        if (dc_ && previous_) ::SelectObject(dc_, previous_);
        dc_ = nullptr;
        previous_ = nullptr;
    }
    [[nodiscard]] HGDIOBJ previous() const noexcept { return previous_; }

private:
    HDC dc_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

[[nodiscard]] inline SelectionRestorer SelectObject(HDC dc, HGDIOBJ object) noexcept {
    HGDIOBJ previous = ::SelectObject(dc, object);
    if (previous == nullptr || previous == HGDI_ERROR) return {};
    return SelectionRestorer(dc, previous);
}

}  // namespace win32
