// Owners of GDI objects and of memory DCs from CreateCompatibleDC.
#pragma once

#include <windows.h>

#include "common/unique.h"

namespace win32 {

struct MemoryDcTraits {
    using Value = HDC;
    static Value Invalid() noexcept { return nullptr; }
    static bool IsValid(Value v) noexcept { return v != nullptr; }
    static void Close(Value v) noexcept { ::DeleteDC(v); }
};
struct GdiObjectTraits {
    using Value = HGDIOBJ;
    static Value Invalid() noexcept { return nullptr; }
    static bool IsValid(Value v) noexcept { return v != nullptr; }
    static void Close(Value v) noexcept { ::DeleteObject(v); }
};

using UniqueMemoryDc = Unique<MemoryDcTraits>;
using UniqueGdiObject = Unique<GdiObjectTraits>;

}  // namespace win32
