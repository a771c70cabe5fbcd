// One COM reference, released exactly once.
#pragma once

#include <utility>

namespace win32 {

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

}  // namespace win32
