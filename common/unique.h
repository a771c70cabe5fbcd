// The move-only owner shape shared by every handle kind: get / put / release /
// reset; none is copyable, so nothing is ever closed twice. A Traits type names
// the value, its failure value and how it is closed; UniqueOf serves the common
// case of a null failure value and one function that closes.
#pragma once

#include <type_traits>
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
    // For owners of records reached through a pointer.
    template <typename V = Value, typename = std::enable_if_t<std::is_pointer_v<V>>>
    V operator->() const noexcept {
        return value_;
    }
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

// Traits of a value that is null when nothing is held and is given back by one
// function (whose result, if any, is of no use to an owner that is letting go).
template <typename V, auto CloseFunction>
struct NullableTraits {
    using Value = V;
    static Value Invalid() noexcept { return nullptr; }
    static bool IsValid(Value v) noexcept { return v != nullptr; }
    static void Close(Value v) noexcept { static_cast<void>(CloseFunction(v)); }
};

template <typename V, auto CloseFunction>
using UniqueOf = Unique<NullableTraits<V, CloseFunction>>;

}  // namespace win32
