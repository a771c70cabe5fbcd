// The program's registration step, run when the setup starts it with /Install,
// and the recognition of its command-line switches.
#pragma once

#include <windows.h>

namespace larkspan {

// True when the command line (without the program name) is the single
// argument, in any letter case.
[[nodiscard]] bool IsSingleSwitch(const char* commandLine, const char* name) noexcept;
[[nodiscard]] inline bool IsInstallArgument(const char* commandLine) noexcept {
    return IsSingleSwitch(commandLine, "/Install");
}
[[nodiscard]] inline bool IsUninstallArgument(const char* commandLine) noexcept {
    return IsSingleSwitch(commandLine, "/Uninstall");
}

// Records the installation in the program's own folder ("Larkspan.installed":
// product, version, time, and the payload files found there with their
// sizes), creates or updates the Start-menu shortcut and the registration for
// removal. Run again over an installation, it updates the same entries.
// Returns the process exit code: 0 on success, 1 when any part failed.
[[nodiscard]] int RunInstallStep() noexcept;

}  // namespace larkspan
