#include "app/install_step.h"

#include "common/com_apartment.h"
#include "app/installation_record.h"
#include "app/registration.h"
#include "app/start_menu.h"

namespace larkspan {
namespace {

constexpr int kSwitchChars = 32;

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool IsSingleSwitch(const char* commandLine, const char* name) noexcept {
    if (commandLine == nullptr) return false;
    while (IsBlank(*commandLine)) ++commandLine;
    char argument[kSwitchChars];
    int length = 0;
    while (commandLine[length] != '\0' && !IsBlank(commandLine[length])) {
        if (length + 1 >= kSwitchChars) return false;
        argument[length] = commandLine[length];
        ++length;
    }
    argument[length] = '\0';
    for (const char* rest = commandLine + length; *rest != '\0'; ++rest) {
        if (!IsBlank(*rest)) return false;  // more than one argument
    }
    return ::lstrcmpiA(argument, name) == 0;
}

int RunInstallStep() noexcept {
    ProgramLocation location;
    if (!LocateProgram(location)) return 1;
    // The record first: whatever else fails, /Uninstall can find the files.
    ULONGLONG totalBytes = 0;
    const bool recorded = WriteInstallationRecord(location.folder, totalBytes);
    bool shortcut = false;
    {
        win32::ComApartment com;
        shortcut = com && CreateStartMenuShortcut(location.program, location.folder);
    }
    const bool registered = RegisterForRemoval(location.program, location.folder, totalBytes);
    return recorded && shortcut && registered ? 0 : 1;
}

}  // namespace larkspan
