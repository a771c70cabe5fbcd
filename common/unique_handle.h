// Owners of kernel handles closed with CloseHandle.
#pragma once

#include <windows.h>

#include "common/unique.h"

namespace win32 {

struct KernelHandleTraits {  // handles whose failure value is null (events, threads, processes)
    using Value = HANDLE;
    static Value Invalid() noexcept { return nullptr; }
    static bool IsValid(Value v) noexcept { return v != nullptr && v != INVALID_HANDLE_VALUE; }
    static void Close(Value v) noexcept { ::CloseHandle(v); }
};
struct FileHandleTraits {  // CreateFile-style handles, whose failure value is INVALID_HANDLE_VALUE
    using Value = HANDLE;
    static Value Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Value v) noexcept { return v != nullptr && v != INVALID_HANDLE_VALUE; }
    static void Close(Value v) noexcept { ::CloseHandle(v); }
};

using UniqueHandle = Unique<KernelHandleTraits>;
using UniqueFile = Unique<FileHandleTraits>;

}  // namespace win32
