// Rights for removing an installation made for all users. The program runs as
// its invoker (it is also what the user starts every day), and Settings starts
// the removal with the user's filtered rights, which cannot remove what was
// installed for everyone. Such a removal starts the program again with the
// "runas" verb, so that Windows asks for consent once, and waits for that run,
// which removes without asking the question again.
#pragma once

#include <windows.h>

#include "app/registration.h"

namespace larkspan {

// Process exit codes of /Uninstall.
constexpr int kUninstallDone = 0;
constexpr int kUninstallIncomplete = 1;  // something of ours stayed, or nothing could be done
constexpr int kUninstallDeclined = 2;    // the user answered No

// The argument of the run started for rights.
constexpr char kElevatedUninstallSwitch[] = "/UninstallElevated";

enum class ElevationResult {
    ElevationFinished,  // the run with rights ended with `exitCode`
    ElevationRefused,   // consent was not given
    ElevationFailed,    // the run could not be started
};
struct ElevatedRun {
    ElevationResult result = ElevationResult::ElevationFailed;
    DWORD exitCode = 0;
};

using RegistrationCheck = RegistrationState (*)(const char* folder) noexcept;
using ElevatedStart = ElevatedRun (*)(const char* program) noexcept;

// What a confirmed removal does about rights: remove in this process, or end
// with `exitCode` after showing `message` (when there is one).
struct RightsOutcome {
    bool removeHere = false;
    int exitCode = kUninstallIncomplete;
    const char* message = nullptr;
};
// `check` tells whether this process may remove the registration of the
// installation in `folder`; `start` runs `program` with rights. `elevatedRun`
// is true in the run that `start` made, which never starts another.
[[nodiscard]] RightsOutcome SettleRights(const char* program, const char* folder, bool elevatedRun,
                                         RegistrationCheck check, ElevatedStart start) noexcept;

// Starts `program` with the "runas" verb and the elevated run's argument, in
// the system folder, and waits for it to end.
[[nodiscard]] ElevatedRun StartElevated(const char* program) noexcept;

}  // namespace larkspan
