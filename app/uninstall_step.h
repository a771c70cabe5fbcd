// Larkspan.exe /Uninstall: removes what /Install recorded and made, after one
// question; and the finishing step, run by a copy of the program in the
// temporary folder, which removes the program file once the original ended.
#pragma once

#include <windows.h>

namespace larkspan {

// Process exit codes of /Uninstall.
constexpr int kUninstallDone = 0;
constexpr int kUninstallIncomplete = 1;  // something of ours stayed, or nothing could be done
constexpr int kUninstallDeclined = 2;    // the user answered No

// Asks once; on Yes removes the Start-menu shortcut and its empty folder, the
// registration, the recorded files whose size is unchanged (then the folders
// they leave empty) and the record, and hands the program file itself to a
// copy in the temporary folder. Anything else in the folder stays.
[[nodiscard]] int RunUninstallStep() noexcept;

// The finishing copy's command line: /FinishUninstall, the inherited handle of
// the original process (decimal) and the quoted path of the original program.
[[nodiscard]] bool ParseFinishArguments(const char* commandLine, HANDLE& original, char (&program)[MAX_PATH]) noexcept;

// Waits for the original process to end, removes its program file and then
// its folder when empty, and schedules the removal of this copy.
[[nodiscard]] int RunFinishStep(HANDLE original, const char* program) noexcept;

}  // namespace larkspan
