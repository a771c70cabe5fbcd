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

// Whether the command line is the switch of the run for rights with the id of
// the removal that started it (`firstRunId`, 0 when missing or not a number).
[[nodiscard]] bool IsElevatedUninstallArgument(const char* commandLine, DWORD& firstRunId) noexcept;

// Records the installation in the program's own folder ("Larkspan.installed":
// product, version, time, the payload files found there with their sizes and
// CRC-32, and the Start-menu shortcut), creates or updates the shortcut and
// the registration for removal: for all users only in a run with rights, for
// all users or else for the user in a run without. Run again over an
// installation, it updates the same entries. Returns the process exit code:
// 0 on success, 1 when any part failed (the record names what was not made).
[[nodiscard]] int RunInstallStep() noexcept;

}  // namespace larkspan
