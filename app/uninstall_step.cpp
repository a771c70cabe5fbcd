#include "app/uninstall_step.h"

#include "app/elevation.h"
#include "app/finishing_copy.h"
#include "app/installation_record.h"
#include "app/product_info.h"
#include "app/real_path.h"
#include "app/registration.h"
#include "app/start_menu.h"
#include "common/com_apartment.h"
#include "common/path_text.h"
#include "common/unique_handle.h"

namespace larkspan {
namespace {

constexpr char kCaption[] = LARKSPAN_APP_TITLE;
constexpr char kQuestion[] = "Do you want to remove " LARKSPAN_APP_DISPLAY_NAME " from this computer?";
constexpr char kStillRunning[] = LARKSPAN_APP_DISPLAY_NAME " is running.\nPlease close it, then remove it again.";
constexpr char kNotRegistered[] = "No registration of " LARKSPAN_APP_DISPLAY_NAME
                                  " names the folder\n%s\nso nothing has been removed. You can remove the program "
                                  "by deleting that folder.";
constexpr char kNoRecord[] = "The list of installed files (" LARKSPAN_APP_MARKER_NAME
                             ") is missing or damaged, so nothing has been removed.\n" LARKSPAN_APP_DISPLAY_NAME
                             " is in the folder\n%s\nYou can remove it by deleting that folder.";
constexpr char kFolderHeld[] = "The folder\n%s\ncannot be changed now, so nothing has been removed.";
constexpr char kRemoved[] = LARKSPAN_APP_DISPLAY_NAME " has been removed from this computer.";
constexpr char kIncomplete[] = LARKSPAN_APP_DISPLAY_NAME " has not been removed completely.";
constexpr char kLeftInFolder[] = "\nLeft in the folder ";
constexpr char kShortcutStays[] = "\nThe Start-menu entry could not be removed.";
constexpr char kRegistrationStays[] = "\nThe registration for removal could not be removed.";
constexpr char kDeleteFolder[] = "\nYou can remove what is left by deleting the folder.";
constexpr char kChanged[] = " (changed since it was installed)";
constexpr char kLinked[] = " (reached through a link)";
constexpr char kUnchecked[] = " (recorded without a checksum)";
constexpr char kNotRemoved[] = " (could not be removed)";
constexpr char kMore[] = "\n...";
constexpr int kMessageChars = 1024;  // the most that wsprintfA writes
constexpr int kListChars = 4096;
constexpr int kReportChars = kListChars + 1024;
constexpr DWORD kFileAccess = GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES;

void ShowMessage(const char* text, UINT icon) noexcept { ::MessageBoxA(nullptr, text, kCaption, MB_OK | icon); }

void ShowAboutFolder(const char* format, const char* folder) noexcept {
    char text[kMessageChars];
    ::wsprintfA(text, format, folder);
    ShowMessage(text, MB_ICONWARNING);
}

// Appends as much of `text` as fits.
template <int N>
void Append(char (&buffer)[N], const char* text) noexcept {
    const int length = ::lstrlenA(buffer);
    ::lstrcpynA(buffer + length, text, N - length);
}

// What a removal leaves of ours; complete while it is empty.
struct RemovalReport {
    char files[kListChars] = {};
    bool filesCut = false;
    bool shortcutStays = false;
    bool registrationStays = false;
    [[nodiscard]] bool complete() const noexcept { return files[0] == '\0' && !shortcutStays && !registrationStays; }
};

void NameLeftFile(RemovalReport& report, const char* name, const char* reason) noexcept {
    if (::lstrlenA(report.files) + 1 + ::lstrlenA(name) + ::lstrlenA(reason) >= kListChars) {
        report.filesCut = true;
        return;
    }
    Append(report.files, "\n");
    Append(report.files, name);
    Append(report.files, reason);
}

void ShowReport(const RemovalReport& report, const char* folder) noexcept {
    if (report.complete()) {
        ShowMessage(kRemoved, MB_ICONINFORMATION);
        return;
    }
    static char text[kReportChars];  // kept off the stack
    ::lstrcpyA(text, kIncomplete);
    if (report.files[0] != '\0') {
        Append(text, kLeftInFolder);
        Append(text, folder);
        Append(text, ":");
        Append(text, report.files);
        if (report.filesCut) Append(text, kMore);
    }
    if (report.shortcutStays) Append(text, kShortcutStays);
    if (report.registrationStays) Append(text, kRegistrationStays);
    if (report.files[0] != '\0') Append(text, kDeleteFolder);
    ShowMessage(text, MB_ICONWARNING);
}

// Opens a recorded file through real folders and checks that it is as
// installed; false, with the file named in the report, when it is not, and
// without a word when it is gone already.
[[nodiscard]] bool OpenUnchanged(const HeldFolder& folder, const RecordedFile& file, win32::UniqueFile& entry,
                                 RemovalReport& report) noexcept {
    if (!file.hasCrc) {
        NameLeftFile(report, file.name, kUnchecked);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    switch (OpenBelow(folder, file.name, kFileAccess, entry, info)) {
        case PathCheck::PathReal:
            break;
        case PathCheck::PathMissing:
            return false;
        case PathCheck::PathLink:
            NameLeftFile(report, file.name, kLinked);
            return false;
        case PathCheck::PathFailed:
            NameLeftFile(report, file.name, kNotRemoved);
            return false;
    }
    ULONGLONG size = 0;
    std::uint32_t crc = 0;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !FileChecksum(entry.get(), size, crc) ||
        size != file.size || crc != file.crc) {
        NameLeftFile(report, file.name, kChanged);
        return false;
    }
    return true;
}

// Removes the folders of a stored name, deepest first, while they are empty
// and real folders.
void RemoveEmptyFoldersOf(const HeldFolder& folder, const char* name) noexcept {
    char path[MAX_PATH];
    int separators[MAX_PATH];
    int count = 0;
    ::lstrcpynA(path, name, MAX_PATH);
    for (int at = 0; path[at] != '\0'; at += static_cast<int>(win32::CharacterBytes(path + at))) {
        if (win32::IsPathSeparator(path[at])) separators[count++] = at;
    }
    while (count > 0) {
        path[separators[--count]] = '\0';
        win32::UniqueFile entry;
        BY_HANDLE_FILE_INFORMATION info;
        if (OpenBelow(folder, path, DELETE, entry, info) != PathCheck::PathReal ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || !DeleteOpened(entry.get())) {
            return;  // not empty: its parents are not either
        }
    }
}

void RemoveRecordedFile(const HeldFolder& folder, const RecordedFile& file, RemovalReport& report) noexcept {
    win32::UniqueFile entry;
    if (!OpenUnchanged(folder, file, entry, report)) return;
    if (!DeleteOpened(entry.get())) {
        NameLeftFile(report, file.name, kNotRemoved);
        return;
    }
    entry.reset();  // the file goes as its handle closes
    RemoveEmptyFoldersOf(folder, file.name);
}

[[nodiscard]] bool FindRecordedFile(InstallationRecord& record, const char* name, RecordedFile& file) noexcept {
    bool found = false;
    while (!found && NextRecordedFile(record, file)) found = ::lstrcmpiA(file.name, name) == 0;
    record.cursor = 0;
    return found;
}

}  // namespace

int RunUninstallStep(bool elevatedRun) noexcept {
    ProgramLocation own;
    if (!LocateProgram(own)) return kUninstallIncomplete;
    // The current directory would hold the installation folder open.
    char system[MAX_PATH];
    const UINT systemLength = ::GetSystemDirectoryA(system, MAX_PATH);
    if (systemLength != 0 && systemLength < MAX_PATH) ::SetCurrentDirectoryA(system);
    // The run for rights is started by a removal that holds the mutex.
    win32::UniqueHandle removal;
    if (!elevatedRun) {
        removal.reset(::CreateMutexA(nullptr, FALSE, kRemovalMutex));
        if (removal && ::GetLastError() == ERROR_ALREADY_EXISTS) return kUninstallIncomplete;
    }
    // A running program keeps its file: removing the rest would leave a
    // program without its registration and read-me behind.
    if (::FindWindowA(LARKSPAN_APP_WINDOW_CLASS, nullptr) != nullptr) {
        ShowMessage(kStillRunning, MB_ICONWARNING);
        return kUninstallIncomplete;
    }
    // The folder as the registration spells it, if it is this very folder;
    // then the whole record, before anything is asked or removed.
    HeldFolder folder;
    char registered[MAX_PATH];
    if (!HoldFolder(own.folder, folder) || !FindRegisteredFolder(folder.finalPath, registered)) {
        ShowAboutFolder(kNotRegistered, own.folder);
        return kUninstallIncomplete;
    }
    char program[MAX_PATH];
    static InstallationRecord record;  // 64 KiB: kept off the stack
    RecordedFile programFile;
    if (!JoinPath(program, registered, own.fileName) || !ReadInstallationRecord(registered, record) ||
        !FindRecordedFile(record, own.fileName, programFile)) {
        ShowAboutFolder(kNoRecord, registered);
        return kUninstallIncomplete;
    }
    if (!elevatedRun &&
        ::MessageBoxA(nullptr, kQuestion, kCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) {
        return kUninstallDeclined;
    }
    // Let go of the folder for a run with rights; hold it again for the removal.
    char finalPath[kFinalPathChars];
    ::lstrcpyA(finalPath, folder.finalPath);
    folder.handle.reset();
    const RightsOutcome rights = SettleRights(program, registered, elevatedRun, CheckRegistration, StartElevated);
    if (!rights.removeHere) {
        if (rights.message != nullptr) ShowMessage(rights.message, MB_ICONERROR);
        return rights.exitCode;
    }
    if (!HoldFolder(registered, folder) || ::lstrcmpiA(folder.finalPath, finalPath) != 0) {
        ShowAboutFolder(kFolderHeld, registered);
        return kUninstallIncomplete;
    }

    RemovalReport report;
    {
        const win32::ComApartment com;
        report.shortcutStays = !com || !RemoveStartMenuShortcut(program);
    }
    report.registrationStays = !RemoveRegistration(registered);
    RecordedFile file;
    while (NextRecordedFile(record, file)) {
        if (::lstrcmpiA(file.name, own.fileName) != 0) RemoveRecordedFile(folder, file, report);
    }
    win32::UniqueFile entry;
    BY_HANDLE_FILE_INFORMATION info;
    if (OpenBelow(folder, LARKSPAN_APP_MARKER_NAME, DELETE | FILE_WRITE_ATTRIBUTES, entry, info) !=
            PathCheck::PathReal ||
        !DeleteOpened(entry.get())) {
        NameLeftFile(report, LARKSPAN_APP_MARKER_NAME, kNotRemoved);
    }
    entry.reset();
    // The program file goes once this process has ended.
    if (OpenUnchanged(folder, programFile, entry, report) && !StartFinishingCopy(entry.get(), folder.handle.get())) {
        NameLeftFile(report, own.fileName, kNotRemoved);
    }
    ShowReport(report, registered);
    return report.complete() ? kUninstallDone : kUninstallIncomplete;
}

}  // namespace larkspan
