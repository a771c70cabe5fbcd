// Owner of an icon created or loaded as a private copy, destroyed with DestroyIcon.
#pragma once

#include <windows.h>

#include "common/unique.h"

namespace win32 {

using UniqueIcon = UniqueOf<HICON, ::DestroyIcon>;

}  // namespace win32
