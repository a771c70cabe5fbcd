// Owners of GDI objects and of memory DCs from CreateCompatibleDC.
#pragma once

#include <windows.h>

#include "common/unique.h"

namespace win32 {

using UniqueMemoryDc = UniqueOf<HDC, ::DeleteDC>;
using UniqueGdiObject = UniqueOf<HGDIOBJ, ::DeleteObject>;

}  // namespace win32
