// Keys opened or created below a root; the predefined roots are never held.
#pragma once

#include <windows.h>

#include "common/unique.h"

namespace win32 {

using UniqueRegistryKey = UniqueOf<HKEY, ::RegCloseKey>;

}  // namespace win32
