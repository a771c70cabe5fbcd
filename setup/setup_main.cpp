// The setup program's entry point.
#include <windows.h>
#include <commctrl.h>

#include "setup/run_setup.h"
#include "setup/setup_state.h"

namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// Every DLL loaded from now on comes from the system folder: a setup is often
// started from a Downloads folder where a planted DLL may wait. (Systems
// without this call still get full system paths from LoadSystemLibrary.)
void RestrictDllSearchToSystem() noexcept {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return;
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    RestrictDllSearchToSystem();
    ::InitCommonControls();
    ResetSetupState(instance);
    return RunSetup(instance) != 0 ? 1 : 0;
}
