// Loads a DLL from the system folder only, never through the search order
// (an installer often runs from a Downloads folder that may hold planted DLLs).
#pragma once

#include <windows.h>

namespace win32 {

[[nodiscard]] inline HMODULE LoadSystemLibrary(const char* fileName) noexcept {
    char path[MAX_PATH];
    UINT length = ::GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    if (::lstrlenA(fileName) + length + 2 > MAX_PATH) return nullptr;
    ::lstrcatA(path, "\\");
    ::lstrcatA(path, fileName);
    return ::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace win32
