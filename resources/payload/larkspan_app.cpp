// Larkspan.exe, the product program that the setup installs and then starts
// once with /Install. In that mode it records its installation and ends at
// once; otherwise it shows its window.
#include "resources/payload/install_step.h"
#include "resources/payload/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    if (larkspan::IsInstallArgument(commandLine)) return larkspan::RunInstallStep();
    return larkspan::RunMainWindow(instance, showCommand);
}
