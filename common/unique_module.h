// Owner of a loaded module, freed with FreeLibrary.
#pragma once

#include <windows.h>

#include "common/unique.h"

namespace win32 {

using UniqueModule = UniqueOf<HMODULE, ::FreeLibrary>;

}  // namespace win32
