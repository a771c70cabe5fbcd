// The setup program's entry point.
#include <windows.h>
#include <commctrl.h>

#include "common/load_system_library.h"
#include "setup/run_setup.h"
#include "setup/setup_state.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // A setup is often started from a Downloads folder where a planted DLL may wait.
    win32::RestrictDllSearchToSystem();
    ::InitCommonControls();
    ResetSetupState(instance);
    return RunSetup(instance) != 0 ? 1 : 0;
}
