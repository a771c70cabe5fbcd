#include "app/install_step.h"

#include "app/elevation.h"
#include "app/installation_record.h"
#include "app/registration.h"
#include "app/start_menu.h"
#include "common/com_apartment.h"

namespace larkspan {
namespace {

constexpr int kSwitchChars = 32;
constexpr char kShortcutNotMade[] = "the Start-menu shortcut";
constexpr char kRegistrationNotMade[] = "the registration for removal";

[[nodiscard]] bool IsBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The same letters in either case, ASCII only: switches are never compared
// linguistically.
[[nodiscard]] bool SameSwitch(const char* a, const char* b) noexcept {
    for (;; ++a, ++b) {
        const char x = *a >= 'a' && *a <= 'z' ? static_cast<char>(*a - 'a' + 'A') : *a;
        const char y = *b >= 'a' && *b <= 'z' ? static_cast<char>(*b - 'a' + 'A') : *b;
        if (x != y) return false;
        if (x == '\0') return true;
    }
}

// What follows the first argument when that is the switch `name`; null otherwise.
[[nodiscard]] const char* AfterSwitch(const char* commandLine, const char* name) noexcept {
    if (commandLine == nullptr) return nullptr;
    while (IsBlank(*commandLine)) ++commandLine;
    char argument[kSwitchChars];
    int length = 0;
    while (commandLine[length] != '\0' && !IsBlank(commandLine[length])) {
        if (length + 1 >= kSwitchChars) return nullptr;
        argument[length] = commandLine[length];
        ++length;
    }
    argument[length] = '\0';
    if (!SameSwitch(argument, name)) return nullptr;
    const char* rest = commandLine + length;
    while (IsBlank(*rest)) ++rest;
    return rest;
}

}  // namespace

bool IsSingleSwitch(const char* commandLine, const char* name) noexcept {
    const char* rest = AfterSwitch(commandLine, name);
    return rest != nullptr && *rest == '\0';  // no second argument
}

bool IsElevatedUninstallArgument(const char* commandLine, DWORD& firstRunId) noexcept {
    firstRunId = 0;
    const char* at = AfterSwitch(commandLine, kElevatedUninstallSwitch);
    if (at == nullptr) return false;
    ULONGLONG value = 0;
    const char* digits = at;
    while (*at >= '0' && *at <= '9' && value <= MAXDWORD) value = value * 10 + static_cast<ULONGLONG>(*at++ - '0');
    while (IsBlank(*at)) ++at;
    if (at != digits && *at == '\0' && value <= MAXDWORD) firstRunId = static_cast<DWORD>(value);
    return true;
}

int RunInstallStep() noexcept {
    ProgramLocation location;
    if (!LocateProgram(location)) return 1;
    // A run with rights makes the entries for all users or none: falling back
    // to the per-user forms would give them to whoever typed the
    // administrator's name, not to the user. A run without rights (started by
    // hand) makes them for its user where it may not for all.
    const bool elevated = IsProcessElevated();
    // The record first: whatever else fails, /Uninstall can find the files.
    ULONGLONG totalBytes = 0;
    win32::UniqueFile record;
    const bool recorded = WriteInstallationRecord(location.folder, totalBytes, record);
    char shortcut[MAX_PATH] = {};
    bool shortcutMade = false;
    {
        win32::ComApartment com;
        shortcutMade = com && CreateStartMenuShortcut(
                                  location.program, location.folder,
                                  elevated ? ShortcutScope::MachineOnly : ShortcutScope::MachineOrThisUser, shortcut);
    }
    // The shortcut's own path, so that /Uninstall removes exactly that file;
    // what was not made is said in the record.
    const bool shortcutRecorded = shortcutMade ? AppendRecordLine(record.get(), kShortcutPrefix, shortcut)
                                               : AppendRecordLine(record.get(), kNotMadePrefix, kShortcutNotMade);
    const bool registered = RegisterForRemoval(
        location.program, location.folder, totalBytes,
        elevated ? RegistrationScope::MachineOnly : RegistrationScope::MachineOrThisUser);
    const bool registrationRecorded = registered ||
                                      AppendRecordLine(record.get(), kNotMadePrefix, kRegistrationNotMade);
    return recorded && shortcutMade && shortcutRecorded && registered && registrationRecorded ? 0 : 1;
}

}  // namespace larkspan
