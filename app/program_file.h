// The program file of a removal. A running program's file cannot be deleted
// (Windows keeps the file of every mapped image), but it can be moved to
// another folder of the same volume. So the removal moves its own program file
// out of the installation folder into a new folder of its own in the temporary
// folder, and the installation folder can go now, with nothing started to
// finish the work. What is moved stays there: a run with rights has it deleted
// when Windows restarts; a run without them names it, for the user to delete.
#pragma once

#include <windows.h>

#include "app/folder_entry.h"

namespace larkspan {

enum class ProgramMove {
    ProgramMoved,        // moved out; `movedTo` names it
    ProgramOtherVolume,  // the temporary folder is on another volume
    ProgramNotMoved,     // the temporary folder is missing, full or not writable, or the file is in use
};
// Moves the program file, open with DELETE, out of its folder into a new
// folder with a random name: in the system's temporary folder, created so that
// only administrators and the system may use it, in a run with rights
// (`elevated`); in the user's temporary folder otherwise. In a run with rights
// the moved file and its folder are deleted when Windows restarts.
[[nodiscard]] ProgramMove MoveProgramOut(HANDLE program, bool elevated, char (&movedTo)[kFinalPathChars]) noexcept;

// Has Windows delete the open file or folder when it next restarts (only a
// run with rights may); false when it cannot be scheduled.
[[nodiscard]] bool DeleteAtRestart(HANDLE entry) noexcept;

}  // namespace larkspan
