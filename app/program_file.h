// The program file of a removal. A running program's file cannot be deleted
// (Windows keeps the file of every mapped image), but it can be moved to
// another folder of the same volume. So the removal moves its own program file
// out of the installation folder into a new folder of its own in the temporary
// folder, and the installation folder can go now, with nothing started to
// finish the work. What is moved stays there: a run with rights has it deleted
// when Windows restarts (where nobody without rights could have replaced it by
// then); otherwise the run names it, for the user to delete.
#pragma once

#include <windows.h>
#include <winternl.h>

#include "app/folder_entry.h"

namespace larkspan {

enum class ProgramMove {
    ProgramMoved,            // moved out; `movedTo` names it
    ProgramMovedForRestart,  // moved out, and it and its new folder go when Windows restarts
    ProgramOtherVolume,      // neither the temporary folder nor the program's own drive could take it
    ProgramNotMoved,         // the temporary folder is missing, full or not writable, or the file is in use
};
// Moves the program file, open with DELETE, out of its folder into a new
// folder with a random name: in the system's temporary folder, created so that
// only administrators and the system may use it, in a run with rights
// (`elevated`); in the user's temporary folder otherwise. A file cannot move to
// another drive, so where the temporary folder is on another drive than the
// program, the new folder is made in the root of the program's own drive
// instead. In a run with rights the moved file and its folder are deleted when
// Windows restarts, where DeleteAtRestart allows that.
// `rename` is NtSetInformationFile, or a test's stand-in.
using RenameFunction = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
[[nodiscard]] ProgramMove MoveProgramOut(HANDLE program, bool elevated, char (&movedTo)[kFinalPathChars],
                                         RenameFunction rename = ::NtSetInformationFile) noexcept;

// What a user with a standard user's rights may do to the file or folder at
// `path` (an access mask), opened as itself; false when that cannot be told.
using UserRightsQuery = bool (*)(const wchar_t* path, DWORD& granted) noexcept;
// The system's answer for this run's user without administrator rights (and
// so for every group of users it belongs to): its own rights with the
// administrators' group and every privilege taken away, checked against the
// entry's security descriptor.
[[nodiscard]] bool StandardUserRights(const wchar_t* path, DWORD& granted) noexcept;

// Whether a user with the rights that `rights` tells could put something else
// at the name of the open entry before Windows restarts: replace the entry,
// or a folder on its way, with a link (add to a folder, and take away or
// rename what is in it). Anything that cannot be told counts as could.
[[nodiscard]] bool CouldUserReplace(HANDLE entry, UserRightsQuery rights) noexcept;

// Has Windows delete the open file or folder when it next restarts (only a
// run with rights may); false when it cannot be scheduled. The system deletes
// it by its name then, with all rights and following links: so nothing is
// scheduled that a user without administrator rights could replace by then.
[[nodiscard]] bool DeleteAtRestart(HANDLE entry, UserRightsQuery rights = StandardUserRights) noexcept;

}  // namespace larkspan
