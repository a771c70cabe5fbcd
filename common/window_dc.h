// DCs borrowed from a window: GetDC / ReleaseDC, and BeginPaint / EndPaint.
#pragma once

#include <windows.h>

namespace win32 {

class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    [[nodiscard]] HDC get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

private:
    HWND window_;
    HDC dc_;
};

// The DC of one WM_PAINT, ended with EndPaint once BeginPaint gave one.
class PaintDc {
public:
    explicit PaintDc(HWND window) noexcept : window_(window), dc_(::BeginPaint(window, &paint_)) {}
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    ~PaintDc() {
        if (dc_) ::EndPaint(window_, &paint_);
    }
    [[nodiscard]] HDC get() const noexcept { return dc_; }
    [[nodiscard]] const PAINTSTRUCT& paint() const noexcept { return paint_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

}  // namespace win32
