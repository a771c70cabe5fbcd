// Owner of a loaded module, freed with FreeLibrary.
#pragma once

#include <windows.h>

#include "common/unique.h"

namespace win32 {

struct ModuleTraits {
    using Value = HMODULE;
    static Value Invalid() noexcept { return nullptr; }
    static bool IsValid(Value v) noexcept { return v != nullptr; }
    static void Close(Value v) noexcept { ::FreeLibrary(v); }
};
using UniqueModule = Unique<ModuleTraits>;

}  // namespace win32
