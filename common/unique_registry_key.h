// Keys opened or created below a root; the predefined roots are never held.
#pragma once

#include <windows.h>

#include "common/unique.h"

namespace win32 {

struct RegistryKeyTraits {
    using Value = HKEY;
    static Value Invalid() noexcept { return nullptr; }
    static bool IsValid(Value v) noexcept { return v != nullptr; }
    static void Close(Value v) noexcept { ::RegCloseKey(v); }
};
using UniqueRegistryKey = Unique<RegistryKeyTraits>;

}  // namespace win32
