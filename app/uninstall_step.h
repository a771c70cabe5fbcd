// Larkspan.exe /Uninstall: removes what /Install recorded and made, after one
// question, and only what is still as it was installed and reached through
// real folders, deciding by the identity of opened handles, never by spelling.
#pragma once

#include <windows.h>

namespace larkspan {

// Works on the program's own folder, when a registration names that folder
// (by identity), and only on a whole record. A run started for rights
// (`firstRunId`, the removal that started it) goes on without asking only when
// that removal is alive, runs this very program file and holds the removal
// mutex, and its own rights are elevated; any other run takes the mutex (or
// ends when another removal holds it) and asks once. On Yes, with the program
// in use by nobody else: when the installation is for all users and this
// process may not remove it, starts the program again with rights and waits
// for it; otherwise removes, in this order, the recorded files found
// unchanged (then the folders they leave empty), the program file (moved out,
// as a running program's file cannot be deleted), the Start-menu shortcut, the
// registration, the record and the folder. A step that fails leaves every
// later one, so that the registration and the record, which then names only
// what is left, let a later removal finish. Everything of ours that stays is
// named in the final message. Returns an exit code of elevation.h: 0 only when
// everything went.
[[nodiscard]] int RunUninstallStep(DWORD firstRunId) noexcept;

}  // namespace larkspan
