// Rights for removing an installation made for all users. The program runs as
// its invoker (it is also what the user starts every day), and Settings starts
// the removal with the user's filtered rights, which cannot remove what was
// installed for everyone. Such a removal starts the program again with the
// "runas" verb, so that Windows asks for consent once, and waits for that run,
// which removes without asking the question again. That run is a boundary:
// it goes on without asking only for the very removal that started it.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "app/folder_entry.h"
#include "app/registration.h"
#include "common/unique_window.h"

namespace larkspan {

// Process exit codes of /Uninstall.
constexpr int kUninstallDone = 0;
constexpr int kUninstallIncomplete = 1;  // something of ours stayed, or nothing could be done
constexpr int kUninstallDeclined = 2;    // the user answered No
constexpr int kUninstallAtRestart = ERROR_SUCCESS_REBOOT_REQUIRED;  // the rest goes when Windows restarts

// The argument of the run started for rights, followed by the id of the
// removal that started it.
constexpr char kElevatedUninstallSwitch[] = "/UninstallElevated";
// Held by a removal from before its question until it has ended, the run for
// rights included: a second removal started meanwhile removes nothing.
constexpr char kRemovalMutex[] = "Orvane Larkspan removal";

// An invisible top-level window that owns every message of a removal and is
// handed to the start for rights, so that the consent prompt comes to the
// front with the removal instead of waiting in the taskbar.
class OwnerWindow {
public:
    OwnerWindow() noexcept;
    [[nodiscard]] HWND get() const noexcept { return window_.get(); }

private:
    win32::UniqueWindow window_;
};

using MessageBoxFunction = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
// Asks whether to remove the program; true on Yes.
[[nodiscard]] bool AskToRemove(HWND owner, MessageBoxFunction ask = ::MessageBoxA) noexcept;

[[nodiscard]] bool IsProcessElevated() noexcept;

// Whether this run, started with kElevatedUninstallSwitch and `firstRunId`,
// may remove without asking: its rights are elevated, and that process is
// alive, runs this very program file (by identity) and holds the removal
// mutex. Otherwise the run behaves as a plain removal and asks.
[[nodiscard]] bool IsTrustedElevatedRun(DWORD firstRunId) noexcept;

enum class ElevationResult {
    ElevationFinished,  // the run with rights ended with `exitCode`
    ElevationRefused,   // consent was not given
    ElevationFailed,    // the run could not be started
};
struct ElevatedRun {
    ElevationResult result = ElevationResult::ElevationFailed;
    DWORD exitCode = 0;
};

using RegistrationCheck = RegistrationState (*)(const FileIdentity& folder) noexcept;
using ElevatedStart = ElevatedRun (*)(HWND owner, const char* program) noexcept;

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
[[nodiscard]] RightsOutcome SettleRights(HWND owner, const char* program, const FileIdentity& folder, bool elevatedRun,
                                         RegistrationCheck check, ElevatedStart start) noexcept;

// Starts `program` with the "runas" verb, the elevated run's argument and this
// process's id, in the system folder, owned by `owner`, and waits for it to end.
[[nodiscard]] ElevatedRun StartElevated(HWND owner, const char* program) noexcept;
// The same through `run` in place of ShellExecuteExA.
using ShellExecuteFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOA*);
[[nodiscard]] ElevatedRun StartElevatedWith(HWND owner, const char* program, ShellExecuteFunction run) noexcept;

}  // namespace larkspan
