// Loads a DLL from the system folder only, never through the search order
// (an installer often runs from a Downloads folder that may hold planted DLLs).
#pragma once

#include <windows.h>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace win32 {

// Every DLL loaded from now on comes from the system folder. Called first
// thing by a program; systems without this call still get full system paths
// from LoadSystemLibrary.
inline void RestrictDllSearchToSystem() noexcept {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return;
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

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
