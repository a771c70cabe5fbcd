// Owners of GDI objects, one per handle type, and of memory DCs from
// CreateCompatibleDC.
#pragma once

#include <windows.h>

#include "common/unique.h"

namespace win32 {

// DeleteObject for one handle type, so that each owner hands out its own type.
template <typename Handle>
BOOL DeleteGdiObject(Handle object) noexcept {
    return ::DeleteObject(object);
}

using UniqueMemoryDc = UniqueOf<HDC, ::DeleteDC>;
using UniqueBitmap = UniqueOf<HBITMAP, DeleteGdiObject<HBITMAP>>;
using UniqueBrush = UniqueOf<HBRUSH, DeleteGdiObject<HBRUSH>>;
using UniqueFont = UniqueOf<HFONT, DeleteGdiObject<HFONT>>;

}  // namespace win32
