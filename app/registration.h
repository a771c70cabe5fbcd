// The program's registration for removal: the key
// Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvane Larkspan, machine-
// wide (HKEY_LOCAL_MACHINE) when the program may write there, else per user.
#pragma once

#include <windows.h>

namespace larkspan {

// Creates or updates the key for the program installed in `folder`.
// `totalBytes` is the size of the installed files.
[[nodiscard]] bool RegisterForRemoval(const char* program, const char* folder, ULONGLONG totalBytes) noexcept;

// The InstallLocation of a registration whose folder is the folder with the
// final path `folderFinalPath`: the same folder, however either is spelled (a
// link, a short name, another letter case). False when none is.
[[nodiscard]] bool FindRegisteredFolder(const char* folderFinalPath, char (&registered)[MAX_PATH]) noexcept;

enum class RegistrationState {
    RegistrationNone,       // no key of this installation
    RegistrationRemovable,  // every key of this installation may be removed
    RegistrationDenied,     // a key of this installation may not be removed with the current rights
};
// What removing the registration of the installation in `folder` would meet.
// Keys of other installations (another InstallLocation) are never counted.
[[nodiscard]] RegistrationState CheckRegistration(const char* folder) noexcept;

// Removes the keys whose InstallLocation is `folder`; false when one stays.
[[nodiscard]] bool RemoveRegistration(const char* folder) noexcept;

}  // namespace larkspan
