// Larkspan.exe, the product program that the setup installs and then starts
// once with /Install. In that mode it records its installation, creates its
// Start-menu entry and registers itself for removal, and ends at once;
// /Uninstall removes all of that again; otherwise it shows its window.
#include "app/install_step.h"
#include "app/main_window.h"
#include "app/uninstall_step.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    if (larkspan::IsInstallArgument(commandLine)) return larkspan::RunInstallStep();
    if (larkspan::IsUninstallArgument(commandLine)) return larkspan::RunUninstallStep();
    HANDLE original = nullptr;
    char program[MAX_PATH];
    if (larkspan::ParseFinishArguments(commandLine, original, program)) {
        return larkspan::RunFinishStep(original, program);
    }
    return larkspan::RunMainWindow(instance, showCommand);
}
