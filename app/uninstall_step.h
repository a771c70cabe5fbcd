// Larkspan.exe /Uninstall: removes what /Install recorded and made, after one
// question, and only what is still as it was installed and reached through
// real folders; the program file itself goes with the finishing copy.
#pragma once

#include <windows.h>

namespace larkspan {

// Works on the folder that the registration names when that is the program's
// own folder (whatever spelling started the program), and only on a whole
// record. Asks once (a run for rights, `elevatedRun`, was asked for already);
// on Yes, when the installation is for all users and this process may not
// remove it, starts the program again with rights and waits for it;
// otherwise removes the Start-menu shortcut and its empty folder, the
// registration, the recorded files found unchanged (then the folders they
// leave empty) and the record, and hands the program file to the finishing
// copy. Anything of ours left behind is named in the final message. Returns
// an exit code of elevation.h: 0 only when everything went.
[[nodiscard]] int RunUninstallStep(bool elevatedRun) noexcept;

}  // namespace larkspan
