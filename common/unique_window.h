// Owner of a window that this thread made, destroyed with DestroyWindow.
#pragma once

#include <windows.h>

#include "common/unique.h"

namespace win32 {

using UniqueWindow = UniqueOf<HWND, ::DestroyWindow>;

}  // namespace win32
