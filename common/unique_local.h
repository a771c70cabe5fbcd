// Owner of memory that a system function allocated with LocalAlloc for its
// caller (a security descriptor made from text, say), freed with LocalFree.
#pragma once

#include <windows.h>

#include "common/unique.h"

namespace win32 {

using UniqueLocal = UniqueOf<HLOCAL, ::LocalFree>;

}  // namespace win32
