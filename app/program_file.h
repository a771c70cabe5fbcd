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

// What a user with a standard user's rights may do to the file or folder at
// `path` (an access mask), opened as itself; false when that cannot be told.
using UserRightsQuery = bool (*)(const wchar_t* path, DWORD& granted) noexcept;
// The system's answer for this run's user without administrator rights (and
// so for every group of users it belongs to): its own rights with the
// administrators' group and every privilege taken away, checked against the
// entry's security descriptor.
[[nodiscard]] bool StandardUserRights(const wchar_t* path, DWORD& granted) noexcept;

// Has Windows delete the open file or folder when it next restarts (only a
// run with rights may); false when it cannot be scheduled. The system deletes
// it by its name then, with all rights and following links: so nothing is
// scheduled that a user with the rights that `rights` tells could replace by
// then (the entry, or a folder on its way, taken away or renamed and a link
// put in its place). Anything that cannot be told counts as could.
[[nodiscard]] bool DeleteAtRestart(HANDLE entry, UserRightsQuery rights = StandardUserRights) noexcept;

// The system calls that settling the program file makes, or a test's stand-ins
// (Wine lets every user change every folder, and keeps all drives on one file
// system).
using RenameFunction = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
struct ProgramFileCalls {
    UserRightsQuery rights = StandardUserRights;
    RenameFunction rename = ::NtSetInformationFile;
};

enum class ProgramOutcome {
    ProgramMoved,              // moved out; `movedTo` names where it stays
    ProgramMovedForRestart,    // moved out, and it and its new folder go when Windows restarts
    ProgramAtRestart,          // stays in its folder until Windows restarts, which deletes it
    ProgramInUse,              // open elsewhere without sharing a move, and not left for the restart
    ProgramNoTemporaryFolder,  // the temporary folder is missing, full or not writable
    ProgramOtherVolume,        // neither the temporary folder nor the program's own drive could take it
    ProgramChanged,            // opened again for moving, it was another file
};
// Settles the program file `program` (open with FILE_READ_ATTRIBUTES, checked
// to be `identity`): opens it again for moving, without sharing that, and
// moves it out of its folder into a new folder with a random name: in the
// system's temporary folder, made so that only administrators and the system
// may use it, in a run with rights (`elevated`); in the user's temporary
// folder otherwise. A file cannot move to another drive, so where the
// temporary folder is on another drive than the program, the new folder is
// made in the root of the program's own drive instead. In a run with rights
// the moved file and its folder are deleted when Windows restarts, and a file
// that cannot be moved is deleted in its folder then, where DeleteAtRestart
// allows that (`atRestart` names it).
[[nodiscard]] ProgramOutcome SettleProgramFile(HANDLE program, const FileIdentity& identity, bool elevated,
                                               char (&movedTo)[kFinalPathChars], char (&atRestart)[kFinalPathChars],
                                               const ProgramFileCalls& calls = {}) noexcept;

}  // namespace larkspan
