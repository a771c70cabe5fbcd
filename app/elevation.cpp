#include "app/elevation.h"

#include <shellapi.h>

#include "app/product_info.h"
#include "common/com_apartment.h"
#include "common/unique_handle.h"

namespace larkspan {
namespace {

constexpr char kNeedsRights[] = LARKSPAN_APP_DISPLAY_NAME
    " is installed for all users of this computer, and removing it needs administrator rights.\n"
    "Nothing has been removed.";

}  // namespace

RightsOutcome SettleRights(const char* program, const char* folder, bool elevatedRun, RegistrationCheck check,
                           ElevatedStart start) noexcept {
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
    const ElevatedRun run = start(program);
    if (run.result == ElevationResult::ElevationFinished) {
        outcome.exitCode = static_cast<int>(run.exitCode);  // that run showed its own messages
    } else {
        outcome.message = kNeedsRights;
    }
    return outcome;
}

ElevatedRun StartElevated(const char* program) noexcept {
    ElevatedRun run;
    char system[MAX_PATH];
    const UINT systemLength = ::GetSystemDirectoryA(system, MAX_PATH);
    if (systemLength == 0 || systemLength >= MAX_PATH) return run;
    const win32::ComApartment com;  // the shell may hand the start to COM
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = "runas";
    info.lpFile = program;
    info.lpParameters = kElevatedUninstallSwitch;
    info.lpDirectory = system;  // so that the run holds no handle on the installation folder
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExA(&info)) {
        if (::GetLastError() == ERROR_CANCELLED) run.result = ElevationResult::ElevationRefused;
        return run;
    }
    const win32::UniqueHandle process(info.hProcess);
    if (process && ::WaitForSingleObject(process.get(), INFINITE) == WAIT_OBJECT_0 &&
        ::GetExitCodeProcess(process.get(), &run.exitCode)) {
        run.result = ElevationResult::ElevationFinished;
    }
    return run;
}

}  // namespace larkspan
