// The program's Start-menu entry: the folder "Orvane" with the shortcut
// "Larkspan" to the installed program, in the Programs folder of all users or
// of the user. /Install records where it made the shortcut, and /Uninstall
// removes exactly that file, found by identity below a Programs folder.
#pragma once

#include <windows.h>

namespace larkspan {

// Where /Install may make the entry (as for the registration).
enum class ShortcutScope { MachineOnly, MachineOrThisUser };

// Creates or updates the shortcut to `program` (started in `folder`), and
// names the shortcut file in `made`. Needs COM initialised on the calling thread.
[[nodiscard]] bool CreateStartMenuShortcut(const char* program, const char* folder, ShortcutScope scope,
                                           char (&made)[MAX_PATH]) noexcept;

enum class ShortcutRemoval {
    ShortcutRemoved,  // removed, and the "Orvane" folder too when that was left empty
    ShortcutGone,     // not there any more
    ShortcutStays,    // there, but not the entry of a Programs folder, a link, or not removable
};
// Removes the recorded shortcut file `recorded` when it is, by identity, the
// shortcut "Orvane\Larkspan.lnk" of one of the Programs folders: reached
// through real folders, no link itself and with no other name. Link targets
// are never compared.
[[nodiscard]] ShortcutRemoval RemoveRecordedShortcut(const char* recorded) noexcept;

}  // namespace larkspan
