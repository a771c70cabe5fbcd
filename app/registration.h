// The program's registration for removal: the key
// Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvane Larkspan in the
// 32-bit view of the registry, machine-wide (HKEY_LOCAL_MACHINE) or per user.
// A key is this installation's only when its InstallLocation is, by identity,
// the installation folder: the same folder however either is spelled (a link,
// a short name, another letter case), and never a sibling whose name differs
// only in case.
#pragma once

#include <windows.h>

#include "app/folder_entry.h"

namespace larkspan {

// Where /Install may register.
enum class RegistrationScope {
    MachineOnly,        // a run with rights: for all users, or not at all
    MachineOrThisUser,  // for all users where this process may, else for its user
};
// Creates or updates the key for the program installed in `folder`.
// `totalBytes` is the size of the installed files.
[[nodiscard]] bool RegisterForRemoval(const char* program, const char* folder, ULONGLONG totalBytes,
                                      RegistrationScope scope) noexcept;

enum class RegistrationState {
    RegistrationNone,       // no key of this installation
    RegistrationRemovable,  // every key of this installation may be removed
    RegistrationDenied,     // a key of this installation may not be removed with the current rights
};
// What removing the registration of the installation in `folder` would meet.
// Keys of other installations are never counted.
[[nodiscard]] RegistrationState CheckRegistration(const FileIdentity& folder) noexcept;

// Removes the keys of the installation in `folder`; false when one stays.
[[nodiscard]] bool RemoveRegistration(const FileIdentity& folder) noexcept;

}  // namespace larkspan
