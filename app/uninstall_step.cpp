#include "app/uninstall_step.h"

#include "common/com_apartment.h"
#include "common/unique_handle.h"
#include "app/installation_record.h"
#include "app/product_info.h"
#include "app/registration.h"
#include "app/start_menu.h"
#include "common/path_text.h"

namespace larkspan {
namespace {

constexpr char kCaption[] = LARKSPAN_APP_TITLE;
constexpr char kQuestion[] = "Do you want to remove " LARKSPAN_APP_DISPLAY_NAME " from this computer?";
constexpr char kStillRunning[] = LARKSPAN_APP_DISPLAY_NAME " is running.\nPlease close it, then remove it again.";
constexpr char kNeedsRights[] = LARKSPAN_APP_DISPLAY_NAME
    " is installed for all users of this computer.\n"
    "Please remove it with administrator rights.";
constexpr char kNoRecord[] =
    "The list of installed files (" LARKSPAN_APP_MARKER_NAME
    ") is missing or damaged.\n"
    "The Start-menu entry and the registration have been removed; the files in the folder\n%s\nhave been left "
    "in place.";
// Held by a removal and its finishing copy: a second removal started
// meanwhile (a double click) ends at once instead of finding half of it gone.
constexpr char kRemovalMutex[] = "Orvane Larkspan removal";
constexpr char kFinishSwitch[] = "/FinishUninstall";
constexpr char kHelperName[] = "Larkspan-Uninstall-%lu.exe";
constexpr int kMessageChars = 2 * MAX_PATH;
constexpr int kCommandChars = 3 * MAX_PATH;
constexpr DWORD kOriginalEndMs = 60000;  // the original ends at once after starting us
constexpr int kDeleteAttempts = 50;      // the ended program's file can stay mapped for a moment
constexpr DWORD kDeleteRetryMs = 100;

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t'; }

[[nodiscard]] bool RemoveFile(const char* path) noexcept {
    // Items may carry the read-only attribute from the archive.
    ::SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return ::DeleteFileA(path) != FALSE;
}

// Removes the folders of a stored name, deepest first, while they are empty.
void RemoveEmptyFoldersOf(const char* folder, const char* name) noexcept {
    char path[MAX_PATH];
    if (!JoinPath(path, folder, name)) return;
    const int folderLength = ::lstrlenA(folder);
    for (int end = ::lstrlenA(path) - 1; end > folderLength; --end) {
        if (!win32::IsPathSeparator(path[end])) continue;
        path[end] = '\0';
        if (!::RemoveDirectoryA(path)) return;  // not empty: its parents are not either
    }
}

void ShowMessage(const char* text, UINT icon) noexcept { ::MessageBoxA(nullptr, text, kCaption, MB_OK | icon); }

// Copies the program into the temporary folder and starts the copy, which
// waits for this process to end and then removes the program file.
[[nodiscard]] bool StartFinishingCopy(const ProgramLocation& location) noexcept {
    char temp[MAX_PATH];
    const DWORD tempLength = ::GetTempPathA(MAX_PATH, temp);
    if (tempLength == 0 || tempLength >= MAX_PATH) return false;
    char helperName[MAX_PATH];
    ::wsprintfA(helperName, kHelperName, ::GetCurrentProcessId());
    if (tempLength + ::lstrlenA(helperName) + 1 > MAX_PATH) return false;
    char helper[MAX_PATH];
    ::lstrcpyA(helper, temp);
    ::lstrcatA(helper, helperName);
    if (!::CopyFileA(location.program, helper, FALSE)) return false;

    // A handle of this process that the copy inherits: it waits on this very
    // process, never on a later one that reuses the id.
    HANDLE inheritable = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), &inheritable,
                           SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0)) {
        ::DeleteFileA(helper);
        return false;
    }
    win32::UniqueHandle self(inheritable);
    char command[kCommandChars];
    ::wsprintfA(command, "\"%s\" %s %lu \"%s\"", helper, kFinishSwitch, HandleToULong(self.get()), location.program);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    // The copy's current directory is the temporary folder, so that it holds
    // no handle on the folder it is to remove.
    if (!::CreateProcessA(helper, command, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, temp, &startup,
                          &info)) {
        ::DeleteFileA(helper);
        return false;
    }
    win32::UniqueHandle process(info.hProcess);
    win32::UniqueHandle thread(info.hThread);
    return true;
}

}  // namespace

int RunUninstallStep() noexcept {
    ProgramLocation location;
    if (!LocateProgram(location)) return kUninstallIncomplete;
    const win32::UniqueHandle removal(::CreateMutexA(nullptr, FALSE, kRemovalMutex));
    if (removal && ::GetLastError() == ERROR_ALREADY_EXISTS) return kUninstallIncomplete;
    // A running program keeps its file: removing the rest would leave a
    // program without its registration and read-me behind.
    if (::FindWindowA(LARKSPAN_APP_WINDOW_CLASS, nullptr) != nullptr) {
        ShowMessage(kStillRunning, MB_ICONWARNING);
        return kUninstallIncomplete;
    }
    if (::MessageBoxA(nullptr, kQuestion, kCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) {
        return kUninstallDeclined;
    }
    // Nothing is removed unless all of it may be: a per-user run over a
    // machine-wide installation would otherwise leave half an installation.
    if (CheckRegistration(location.folder) == RegistrationState::RegistrationDenied) {
        ShowMessage(kNeedsRights, MB_ICONERROR);
        return kUninstallIncomplete;
    }
    bool complete = true;
    {
        win32::ComApartment com;
        complete = com && RemoveStartMenuShortcut(location.program);
    }
    complete = RemoveRegistration(location.folder) && complete;

    static InstallationRecord record;  // 64 KiB: kept off the stack
    if (!ReadInstallationRecord(location.folder, record)) {
        char text[kMessageChars + sizeof kNoRecord];
        ::wsprintfA(text, kNoRecord, location.folder);
        ShowMessage(text, MB_ICONWARNING);
        return kUninstallIncomplete;
    }
    bool programRecorded = false;
    RecordedFile file;
    while (NextRecordedFile(record, file)) {
        char path[MAX_PATH];
        ULONGLONG size = 0;
        if (!JoinPath(path, location.folder, file.name) || !FileSize(path, size) || size != file.size) continue;
        if (::lstrcmpiA(file.name, location.fileName) == 0) {
            programRecorded = true;  // removed by the finishing copy once this process has ended
            continue;
        }
        if (RemoveFile(path)) {
            RemoveEmptyFoldersOf(location.folder, file.name);
        } else {
            complete = false;
        }
    }
    char recordPath[MAX_PATH];
    if (!JoinPath(recordPath, location.folder, LARKSPAN_APP_MARKER_NAME) || !RemoveFile(recordPath)) complete = false;
    if (programRecorded && !StartFinishingCopy(location)) complete = false;
    return complete ? kUninstallDone : kUninstallIncomplete;
}

bool ParseFinishArguments(const char* commandLine, HANDLE& original, char (&program)[MAX_PATH]) noexcept {
    if (commandLine == nullptr) return false;
    const char* at = commandLine;
    while (IsBlank(*at)) ++at;
    const int switchLength = sizeof kFinishSwitch - 1;
    if (::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, at, switchLength, kFinishSwitch, switchLength) !=
            CSTR_EQUAL ||
        !IsBlank(at[switchLength])) {
        return false;
    }
    at += switchLength;
    while (IsBlank(*at)) ++at;
    ULONGLONG value = 0;
    const char* digits = at;
    while (*at >= '0' && *at <= '9' && value <= MAXDWORD) value = value * 10 + static_cast<ULONGLONG>(*at++ - '0');
    if (at == digits || value == 0 || value > MAXDWORD || !IsBlank(*at)) return false;
    while (IsBlank(*at)) ++at;
    if (*at != '"') return false;
    ++at;
    int length = 0;
    while (at[length] != '"' && at[length] != '\0') ++length;
    if (at[length] != '"' || length == 0 || length >= MAX_PATH) return false;
    for (const char* rest = at + length + 1; *rest != '\0'; ++rest) {
        if (!IsBlank(*rest) && *rest != '\r' && *rest != '\n') return false;
    }
    ::lstrcpynA(program, at, length + 1);
    original = ULongToHandle(static_cast<ULONG>(value));
    return true;
}

int RunFinishStep(HANDLE original, const char* program) noexcept {
    win32::UniqueHandle process(original);
    const win32::UniqueHandle removal(::CreateMutexA(nullptr, FALSE, kRemovalMutex));
    // Only a real, other process that has ended releases its program file.
    const bool ended = ::GetProcessId(process.get()) != 0 && ::GetProcessId(process.get()) != ::GetCurrentProcessId() &&
                       ::WaitForSingleObject(process.get(), kOriginalEndMs) == WAIT_OBJECT_0;
    bool removed = false;
    if (ended) {
        for (int attempt = 0; attempt < kDeleteAttempts && !removed; ++attempt) {
            removed = RemoveFile(program);
            if (!removed) ::Sleep(kDeleteRetryMs);
        }
    }
    if (removed) {
        char folder[MAX_PATH];
        ::lstrcpynA(folder, program, MAX_PATH);
        for (int i = ::lstrlenA(folder) - 1; i > 0; --i) {
            if (win32::IsPathSeparator(folder[i])) {
                folder[i] = '\0';
                ::RemoveDirectoryA(folder);  // only when nothing else is left in it
                break;
            }
        }
    }
    // This copy cannot remove its own running file: it goes at the next start
    // of the system where that may be arranged, else with the temporary folder.
    char self[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (length != 0 && length < MAX_PATH) ::MoveFileExA(self, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return removed ? kUninstallDone : kUninstallIncomplete;
}

}  // namespace larkspan
