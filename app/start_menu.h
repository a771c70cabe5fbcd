// The program's Start-menu entry: the folder "Orvane" with the shortcut
// "Larkspan" to the installed program, in the Programs folder of all users
// when the program may write there, else in the user's own.
#pragma once

namespace larkspan {

// Creates or updates the shortcut to `program` (started in `folder`).
// Needs COM initialised on the calling thread.
[[nodiscard]] bool CreateStartMenuShortcut(const char* program, const char* folder) noexcept;

// Removes the shortcut wherever it points at `program`, then the "Orvane"
// folder when that is left empty. A shortcut of another installation (another
// target) stays. Needs COM initialised on the calling thread. False when a
// shortcut of ours could not be removed.
[[nodiscard]] bool RemoveStartMenuShortcut(const char* program) noexcept;

}  // namespace larkspan
