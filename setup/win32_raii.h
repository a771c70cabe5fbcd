// Small move-only owners for Win32 handles, DCs, GDI objects, global memory
// blocks, modules and COM references. Each has the shape get / put / release /
// reset; none is copyable, so nothing is ever closed twice.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace win32 {

template <typename Traits>
class Unique {
public:
    using Value = typename Traits::Value;

    Unique() noexcept = default;
    explicit Unique(Value value) noexcept : value_(value) {}
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : value_(other.release()) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~Unique() { reset(); }

    [[nodiscard]] Value get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return Traits::IsValid(value_); }
    // Closes what is held and returns the address to be filled by an API call.
    [[nodiscard]] Value* put() noexcept {
        reset();
        return &value_;
    }
    [[nodiscard]] Value release() noexcept { return std::exchange(value_, Traits::Invalid()); }
    void reset(Value value = Traits::Invalid()) noexcept {
        Value old = std::exchange(value_, value);
        if (Traits::IsValid(old)) Traits::Close(old);
    }

private:
    Value value_ = Traits::Invalid();
};

struct KernelHandleTraits {  // handles whose failure value is null (events, threads, processes)
    using Value = HANDLE;
    static Value Invalid() noexcept { return nullptr; }
    static bool IsValid(Value v) noexcept { return v != nullptr && v != INVALID_HANDLE_VALUE; }
    static void Close(Value v) noexcept { ::CloseHandle(v); }
};
struct FileHandleTraits {  // CreateFile-style handles, whose failure value is INVALID_HANDLE_VALUE
    using Value = HANDLE;
    static Value Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Value v) noexcept { return v != nullptr && v != INVALID_HANDLE_VALUE; }
    static void Close(Value v) noexcept { ::CloseHandle(v); }
};
struct ModuleTraits {
    using Value = HMODULE;
    static Value Invalid() noexcept { return nullptr; }
    static bool IsValid(Value v) noexcept { return v != nullptr; }
    static void Close(Value v) noexcept { ::FreeLibrary(v); }
};
struct MemoryDcTraits {  // DCs from CreateCompatibleDC
    using Value = HDC;
    static Value Invalid() noexcept { return nullptr; }
    static bool IsValid(Value v) noexcept { return v != nullptr; }
    static void Close(Value v) noexcept { ::DeleteDC(v); }
};
struct GdiObjectTraits {
    using Value = HGDIOBJ;
    static Value Invalid() noexcept { return nullptr; }
    static bool IsValid(Value v) noexcept { return v != nullptr; }
    static void Close(Value v) noexcept { ::DeleteObject(v); }
};
struct GlobalTraits {
    using Value = HGLOBAL;
    static Value Invalid() noexcept { return nullptr; }
    static bool IsValid(Value v) noexcept { return v != nullptr; }
    static void Close(Value v) noexcept { ::GlobalFree(v); }
};
struct IconTraits {
    using Value = HICON;
    static Value Invalid() noexcept { return nullptr; }
    static bool IsValid(Value v) noexcept { return v != nullptr; }
    static void Close(Value v) noexcept { ::DestroyIcon(v); }
};

using UniqueHandle = Unique<KernelHandleTraits>;
using UniqueFile = Unique<FileHandleTraits>;
using UniqueModule = Unique<ModuleTraits>;
using UniqueMemoryDc = Unique<MemoryDcTraits>;
using UniqueGdiObject = Unique<GdiObjectTraits>;
using UniqueGlobal = Unique<GlobalTraits>;
using UniqueIcon = Unique<IconTraits>;

// A window's DC from GetDC, given back with ReleaseDC.
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

// Selects an object into a DC and selects the previous one back when it ends,
// so a GDI object is never deleted while still selected.
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

// One COM reference, released exactly once.
template <typename Interface>
class ComRef {
public:
    ComRef() noexcept = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : p_(other.release()) {}
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~ComRef() { reset(); }
    [[nodiscard]] Interface* get() const noexcept { return p_; }
    Interface* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    [[nodiscard]] Interface** put() noexcept {
        reset();
        return &p_;
    }
    [[nodiscard]] Interface* release() noexcept { return std::exchange(p_, nullptr); }
    void reset(Interface* p = nullptr) noexcept {
        Interface* old = std::exchange(p_, p);
        if (old) old->Release();
    }

private:
    Interface* p_ = nullptr;
};

// Loads a DLL from the system folder only, never through the search order
// (an installer often runs from a Downloads folder that may hold planted DLLs).
[[nodiscard]] inline HMODULE LoadSystemLibrary(const char* fileName) noexcept {
    char path[MAX_PATH];
    UINT length = ::GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    if (::lstrlenA(fileName) + length + 2 > MAX_PATH) return nullptr;
    ::lstrcatA(path, "\\");
    ::lstrcatA(path, fileName);
    return ::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace win32
