// A block from the shell's allocator (item ID lists, display names), given back
// to the allocator that handed it out.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace win32 {

template <typename Pointee>
class ShellMemory {
public:
    explicit ShellMemory(IMalloc* allocator, Pointee* p = nullptr) noexcept : allocator_(allocator), p_(p) {}
    ShellMemory(const ShellMemory&) = delete;
    ShellMemory& operator=(const ShellMemory&) = delete;
    ShellMemory(ShellMemory&& other) noexcept : allocator_(other.allocator_), p_(other.release()) {}
    ShellMemory& operator=(ShellMemory&& other) noexcept {
        if (this != &other) {
            reset(other.release());
            allocator_ = other.allocator_;
        }
        return *this;
    }
    ~ShellMemory() { reset(); }
    [[nodiscard]] Pointee* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    [[nodiscard]] Pointee** put() noexcept {
        reset();
        return &p_;
    }
    [[nodiscard]] Pointee* release() noexcept { return std::exchange(p_, nullptr); }
    void reset(Pointee* p = nullptr) noexcept {
        Pointee* old = std::exchange(p_, p);
        if (old) allocator_->Free(old);
    }

private:
    IMalloc* allocator_;
    Pointee* p_ = nullptr;
};

}  // namespace win32
