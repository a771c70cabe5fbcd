// Owner of an icon created or loaded as a private copy, destroyed with DestroyIcon.
#pragma once

#include <windows.h>

#include "common/unique.h"

namespace win32 {

struct IconTraits {
    using Value = HICON;
    static Value Invalid() noexcept { return nullptr; }
    static bool IsValid(Value v) noexcept { return v != nullptr; }
    static void Close(Value v) noexcept { ::DestroyIcon(v); }
};
using UniqueIcon = Unique<IconTraits>;

}  // namespace win32
