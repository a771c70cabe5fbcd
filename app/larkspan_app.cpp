// Larkspan.exe, the product program that the setup installs and then starts
// once with /Install. In that mode it records its installation, creates its
// Start-menu entry and registers itself for removal, and ends at once;
// /Uninstall removes all of that again (and /UninstallElevated is its run for
// rights); otherwise it shows its window.
#include "app/install_step.h"
#include "app/main_window.h"
#include "app/uninstall_step.h"
#include "common/load_system_library.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    // The program's folder may hold planted DLLs: every DLL loaded from here
    // on comes from the system.
    win32::RestrictDllSearchToSystem();
    if (larkspan::IsInstallArgument(commandLine)) return larkspan::RunInstallStep();
    if (larkspan::IsUninstallArgument(commandLine)) return larkspan::RunUninstallStep(0);
    DWORD firstRunId = 0;
    if (larkspan::IsElevatedUninstallArgument(commandLine, firstRunId)) return larkspan::RunUninstallStep(firstRunId);
    return larkspan::RunMainWindow(instance, showCommand);
}
