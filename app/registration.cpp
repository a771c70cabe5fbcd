#include "app/registration.h"

#include "common/unique_registry_key.h"
#include "app/product_info.h"
#include "app/real_path.h"

namespace larkspan {
namespace {

// Machine-wide first: the program is everyone's when it may be.
const HKEY kRoots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
constexpr char kUninstallKey[] = LARKSPAN_APP_UNINSTALL_KEY;
constexpr DWORD kBytesPerKilobyte = 1024;
constexpr DWORD kFlagSet = 1;
constexpr int kCommandChars = MAX_PATH + 16;  // quotes, blank and "/Uninstall" around the path

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
    // EstimatedSize is in kilobytes, rounded up so that a small program shows.
    const ULONGLONG kilobytes = (totalBytes + kBytesPerKilobyte - 1) / kBytesPerKilobyte;
    const DWORD estimated = kilobytes > MAXDWORD ? MAXDWORD : static_cast<DWORD>(kilobytes);
    return SetText(key, "DisplayName", LARKSPAN_APP_DISPLAY_NAME) &&
           SetText(key, "DisplayVersion", LARKSPAN_APP_VERSION) && SetText(key, "Publisher", LARKSPAN_APP_COMPANY) &&
           SetText(key, "InstallLocation", folder) && SetText(key, "DisplayIcon", program) &&
           SetText(key, "UninstallString", command) && SetNumber(key, "EstimatedSize", estimated) &&
           SetNumber(key, "NoModify", kFlagSet) && SetNumber(key, "NoRepair", kFlagSet);
}

// The InstallLocation of the key below the root; false when there is none.
[[nodiscard]] bool ReadLocation(HKEY root, char (&location)[MAX_PATH]) noexcept {
    win32::UniqueRegistryKey key;
    if (::RegOpenKeyExA(root, kUninstallKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return false;
    DWORD size = sizeof location - 1;
    DWORD type = 0;
    location[size] = '\0';
    return ::RegQueryValueExA(key.get(), "InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(location), &size) ==
               ERROR_SUCCESS &&
           type == REG_SZ;
}

// Whether the key below the root belongs to the installation in `folder`
// (spelled as registered).
[[nodiscard]] bool BelongsTo(HKEY root, const char* folder) noexcept {
    char location[MAX_PATH] = {};
    return ReadLocation(root, location) && ::lstrcmpiA(location, folder) == 0;
}

}  // namespace

bool RegisterForRemoval(const char* program, const char* folder, ULONGLONG totalBytes) noexcept {
    for (const HKEY root : kRoots) {
        win32::UniqueRegistryKey key;
        if (::RegCreateKeyExA(root, kUninstallKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                              key.put(), nullptr) != ERROR_SUCCESS) {
            continue;
        }
        if (WriteValues(key.get(), program, folder, totalBytes)) return true;
    }
    return false;
}

bool FindRegisteredFolder(const char* folderFinalPath, char (&registered)[MAX_PATH]) noexcept {
    for (const HKEY root : kRoots) {
        char location[MAX_PATH] = {};
        if (!ReadLocation(root, location)) continue;
        const win32::UniqueFile opened(::CreateFileA(location, FILE_READ_ATTRIBUTES,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        char finalPath[kFinalPathChars];
        if (opened && FinalPath(opened.get(), finalPath) && ::lstrcmpiA(finalPath, folderFinalPath) == 0) {
            ::lstrcpyA(registered, location);
            return true;
        }
    }
    return false;
}

RegistrationState CheckRegistration(const char* folder) noexcept {
    RegistrationState state = RegistrationState::RegistrationNone;
    for (const HKEY root : kRoots) {
        if (!BelongsTo(root, folder)) continue;
        win32::UniqueRegistryKey key;
        if (::RegOpenKeyExA(root, kUninstallKey, 0, DELETE, key.put()) != ERROR_SUCCESS) {
            return RegistrationState::RegistrationDenied;
        }
        state = RegistrationState::RegistrationRemovable;
    }
    return state;
}

bool RemoveRegistration(const char* folder) noexcept {
    bool ok = true;
    for (const HKEY root : kRoots) {
        if (BelongsTo(root, folder) && ::RegDeleteKeyA(root, kUninstallKey) != ERROR_SUCCESS) ok = false;
    }
    return ok;
}

}  // namespace larkspan
