#include "app/elevation.h"

#include "app/product_info.h"
#include "common/com_apartment.h"
#include "common/unique_handle.h"

namespace larkspan {
namespace {

constexpr char kCaption[] = LARKSPAN_APP_TITLE;
constexpr char kQuestion[] = "Do you want to remove " LARKSPAN_APP_DISPLAY_NAME " from this computer?";
constexpr char kNeedsRights[] = LARKSPAN_APP_DISPLAY_NAME
    " is installed for all users of this computer, and removing it needs administrator rights.\n"
    "Nothing has been removed.";
constexpr char kOwnerClass[] = "Static";  // a system class: nothing to register for a window never shown
constexpr int kParameterChars = sizeof kElevatedUninstallSwitch + 16;

[[nodiscard]] bool OwnProgramIdentity(FileIdentity& identity) noexcept {
    char self[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    return length != 0 && length < MAX_PATH && IdentityOfPath(self, LastPart::Follow, identity);
}

}  // namespace

OwnerWindow::OwnerWindow() noexcept
    : window_(::CreateWindowExA(0, kOwnerClass, kCaption, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                ::GetModuleHandleA(nullptr), nullptr)) {}

bool AskToRemove(HWND owner, MessageBoxFunction ask) noexcept {
    return ask(owner, kQuestion, kCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_SETFOREGROUND) == IDYES;
}

bool IsProcessElevated() noexcept {
    win32::UniqueHandle token;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()) &&
           ::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
}

bool IsTrustedElevatedRun(DWORD firstRunId) noexcept {
    if (firstRunId == 0 || firstRunId == ::GetCurrentProcessId() || !IsProcessElevated()) return false;
    const win32::UniqueHandle first(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, firstRunId));
    if (!first || ::WaitForSingleObject(first.get(), 0) != WAIT_TIMEOUT) return false;
    char image[MAX_PATH];
    DWORD imageChars = MAX_PATH;
    FileIdentity theirs;
    FileIdentity ours;
    if (!::QueryFullProcessImageNameA(first.get(), 0, image, &imageChars) ||
        !IdentityOfPath(image, LastPart::Follow, theirs) || !OwnProgramIdentity(ours) || !(theirs == ours)) {
        return false;
    }
    // Held means owned by another thread: a mutex that this thread can take,
    // or one left by a removal that has died, is held by nobody.
    const win32::UniqueHandle removal(::OpenMutexA(SYNCHRONIZE, FALSE, kRemovalMutex));
    if (!removal) return false;
    const DWORD wait = ::WaitForSingleObject(removal.get(), 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        ::ReleaseMutex(removal.get());
        return false;
    }
    return wait == WAIT_TIMEOUT;
}

RightsOutcome SettleRights(HWND owner, const char* program, const FileIdentity& folder, bool elevatedRun,
                           RegistrationCheck check, ElevatedStart start) noexcept {
    RightsOutcome outcome;
    // Nothing is removed unless all of it may be: a run without rights over an
    // installation for all users would otherwise leave half an installation.
    if (check(folder) != RegistrationState::RegistrationDenied) {
        outcome.removeHere = true;
        return outcome;
    }
    if (elevatedRun) {  // rights were given and still do not suffice
        outcome.message = kNeedsRights;
        return outcome;
    }
    const ElevatedRun run = start(owner, program);
    if (run.result == ElevationResult::ElevationFinished) {
        outcome.exitCode = static_cast<int>(run.exitCode);  // that run showed its own messages
    } else {
        outcome.message = kNeedsRights;
    }
    return outcome;
}

ElevatedRun StartElevated(HWND owner, const char* program) noexcept {
    return StartElevatedWith(owner, program, ::ShellExecuteExA);
}

ElevatedRun StartElevatedWith(HWND owner, const char* program, ShellExecuteFunction run) noexcept {
    ElevatedRun elevated;
    char system[MAX_PATH];
    const UINT systemLength = ::GetSystemDirectoryA(system, MAX_PATH);
    if (systemLength == 0 || systemLength >= MAX_PATH) return elevated;
    char parameters[kParameterChars];
    ::wsprintfA(parameters, "%s %lu", kElevatedUninstallSwitch, ::GetCurrentProcessId());
    const win32::ComApartment com;  // the shell may hand the start to COM
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;  // the consent prompt comes to the front with this window's process
    info.lpVerb = "runas";
    info.lpFile = program;
    info.lpParameters = parameters;
    info.lpDirectory = system;  // so that the run holds no handle on the installation folder
    info.nShow = SW_SHOWNORMAL;
    if (!run(&info)) {
        if (::GetLastError() == ERROR_CANCELLED) elevated.result = ElevationResult::ElevationRefused;
        return elevated;
    }
    const win32::UniqueHandle process(info.hProcess);
    if (process && ::WaitForSingleObject(process.get(), INFINITE) == WAIT_OBJECT_0 &&
        ::GetExitCodeProcess(process.get(), &elevated.exitCode)) {
        elevated.result = ElevationResult::ElevationFinished;
    }
    return elevated;
}

}  // namespace larkspan
