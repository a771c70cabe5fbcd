#include "app/registration.h"

#include "app/product_info.h"
#include "common/unique_registry_key.h"

namespace larkspan {
namespace {

// Machine-wide first: the program is everyone's when it may be.
const HKEY kRoots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
constexpr char kUninstallKey[] = LARKSPAN_APP_UNINSTALL_KEY;
// The program is a 32-bit one; its key is named in that view, so that a run of
// any build, and the system's list of programs, find it in the same place.
constexpr REGSAM kView = KEY_WOW64_32KEY;
constexpr DWORD kBytesPerKilobyte = 1024;
constexpr DWORD kFlagSet = 1;
constexpr int kCommandChars = MAX_PATH + 16;  // quotes, blank and "/Uninstall" around the path
constexpr int kIconChars = MAX_PATH + 4;      // the path and ",0"
constexpr int kDateChars = sizeof "YYYYMMDD";

[[nodiscard]] bool SetText(HKEY key, const char* name, const char* value) noexcept {
    return ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                            static_cast<DWORD>(::lstrlenA(value) + 1)) == ERROR_SUCCESS;
}

[[nodiscard]] bool SetNumber(HKEY key, const char* name, DWORD value) noexcept {
    return ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
           ERROR_SUCCESS;
}

[[nodiscard]] bool WriteValues(HKEY key, const char* program, const char* folder, ULONGLONG totalBytes) noexcept {
    char command[kCommandChars];
    ::wsprintfA(command, "\"%s\" /Uninstall", program);
    char icon[kIconChars];
    ::wsprintfA(icon, "%s,0", program);
    SYSTEMTIME today;
    ::GetLocalTime(&today);
    char date[kDateChars];
    ::wsprintfA(date, "%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
    // EstimatedSize is in kilobytes, rounded up so that a small program shows.
    const ULONGLONG kilobytes = (totalBytes + kBytesPerKilobyte - 1) / kBytesPerKilobyte;
    const DWORD estimated = kilobytes > MAXDWORD ? MAXDWORD : static_cast<DWORD>(kilobytes);
    return SetText(key, "DisplayName", LARKSPAN_APP_DISPLAY_NAME) &&
           SetText(key, "DisplayVersion", LARKSPAN_APP_VERSION) && SetText(key, "Publisher", LARKSPAN_APP_COMPANY) &&
           SetText(key, "InstallLocation", folder) && SetText(key, "DisplayIcon", icon) &&
           SetText(key, "InstallDate", date) && SetText(key, "UninstallString", command) &&
           SetNumber(key, "EstimatedSize", estimated) && SetNumber(key, "NoModify", kFlagSet) &&
           SetNumber(key, "NoRepair", kFlagSet);
}

// Whether the key below the root belongs to the installation in `folder`: its
// InstallLocation opens to that very folder.
[[nodiscard]] bool BelongsTo(HKEY root, const FileIdentity& folder) noexcept {
    win32::UniqueRegistryKey key;
    if (::RegOpenKeyExA(root, kUninstallKey, 0, KEY_QUERY_VALUE | kView, key.put()) != ERROR_SUCCESS) return false;
    char location[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH;
    DWORD type = 0;
    FileIdentity identity;
    return ::RegQueryValueExA(key.get(), "InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(location), &size) ==
               ERROR_SUCCESS &&
           type == REG_SZ && IdentityOfPath(location, LastPart::Follow, identity) && identity == folder;
}

}  // namespace

bool RegisterForRemoval(const char* program, const char* folder, ULONGLONG totalBytes,
                        RegistrationScope scope) noexcept {
    for (const HKEY root : kRoots) {
        if (root != HKEY_LOCAL_MACHINE && scope == RegistrationScope::MachineOnly) break;
        win32::UniqueRegistryKey key;
        if (::RegCreateKeyExA(root, kUninstallKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | kView, nullptr,
                              key.put(), nullptr) != ERROR_SUCCESS) {
            continue;
        }
        if (WriteValues(key.get(), program, folder, totalBytes)) return true;
    }
    return false;
}

RegistrationState CheckRegistration(const FileIdentity& folder) noexcept {
    RegistrationState state = RegistrationState::RegistrationNone;
    for (const HKEY root : kRoots) {
        if (!BelongsTo(root, folder)) continue;
        win32::UniqueRegistryKey key;
        if (::RegOpenKeyExA(root, kUninstallKey, 0, DELETE | kView, key.put()) != ERROR_SUCCESS) {
            return RegistrationState::RegistrationDenied;
        }
        state = RegistrationState::RegistrationRemovable;
    }
    return state;
}

bool RemoveRegistration(const FileIdentity& folder) noexcept {
    bool ok = true;
    for (const HKEY root : kRoots) {
        if (BelongsTo(root, folder) && ::RegDeleteKeyExA(root, kUninstallKey, kView, 0) != ERROR_SUCCESS) ok = false;
    }
    return ok;
}

}  // namespace larkspan
