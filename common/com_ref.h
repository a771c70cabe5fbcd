// One COM reference, released exactly once.
#pragma once

#include "common/unique.h"

namespace win32 {

template <typename Interface>
struct ComReferenceTraits {
    using Value = Interface*;
    static Value Invalid() noexcept { return nullptr; }
    static bool IsValid(Value v) noexcept { return v != nullptr; }
    static void Close(Value v) noexcept { v->Release(); }
};

template <typename Interface>
using ComRef = Unique<ComReferenceTraits<Interface>>;

}  // namespace win32
