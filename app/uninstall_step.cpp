#include "app/uninstall_step.h"

#include "app/elevation.h"
#include "app/folder_entry.h"
#include "app/in_use.h"
#include "app/installation_record.h"
#include "app/product_info.h"
#include "app/program_file.h"
#include "app/registration.h"
#include "app/start_menu.h"
#include "common/com_apartment.h"
#include "common/unique_handle.h"

namespace larkspan {
namespace {

constexpr char kCaption[] = LARKSPAN_APP_TITLE;
constexpr char kStillRunning[] = LARKSPAN_APP_DISPLAY_NAME " is running.\nPlease close it, then remove it again.";
constexpr char kInUseBy[] = LARKSPAN_APP_DISPLAY_NAME
    " is in use by %s.\nPlease close it, then remove " LARKSPAN_APP_PRODUCT " again. Nothing has been removed.";
constexpr char kAlreadyRemoving[] = "A removal of " LARKSPAN_APP_DISPLAY_NAME
                                    " is already under way, so nothing has been removed by this one.";
constexpr char kNotRegistered[] = "No registration of " LARKSPAN_APP_DISPLAY_NAME
                                  " names the folder\n%s\nso nothing has been removed. You can remove the program "
                                  "by deleting that folder.";
constexpr char kNoRecord[] = "The list of installed files (" LARKSPAN_APP_MARKER_NAME
                             ") is missing or damaged, so nothing has been removed.\n" LARKSPAN_APP_DISPLAY_NAME
                             " is in the folder\n%s\nYou can remove it by deleting that folder.";
constexpr char kFolderHeld[] = "The folder\n%s\ncannot be changed now, so nothing has been removed.";
constexpr char kRemoved[] = LARKSPAN_APP_DISPLAY_NAME " has been removed from this computer.";
constexpr char kMovedAway[] =
    "\nWindows keeps the file of a running program, so the program file was moved to\n%s\nYou can delete it now.";
constexpr char kAtRestart[] = LARKSPAN_APP_DISPLAY_NAME
    " has been removed from this computer, but for what is still in use, which goes when Windows restarts.";
constexpr char kIncomplete[] = LARKSPAN_APP_DISPLAY_NAME " has not been removed completely.";
constexpr char kLeftInFolder[] = "\nLeft in the folder ";
constexpr char kShortcutStays[] = "\nThe Start-menu entry could not be removed:\n";
constexpr char kRegistrationStays[] = "\nThe registration for removal could not be removed.";
constexpr char kRecordStays[] = "\nThe list of installed files (" LARKSPAN_APP_MARKER_NAME ") could not be removed.";
constexpr char kRemoveAgain[] = "\nRemove " LARKSPAN_APP_PRODUCT " again to finish, once the cause is gone.";
constexpr char kDeleteFolder[] = "\nYou can remove what is left by deleting the folder.";
constexpr char kChanged[] = " (changed since it was installed)";
constexpr char kLinked[] = " (reached through a link)";
constexpr char kOtherNames[] = " (has other names on this disk)";
constexpr char kFolderNotFound[] = " (its folder was not found)";
constexpr char kUnchecked[] = " (recorded without a checksum)";
constexpr char kInUse[] = " (in use)";
constexpr char kNotRemoved[] = " (could not be removed)";
constexpr char kNoTemporaryFolder[] = " (could not be moved out: the temporary folder cannot take it)";
constexpr char kOtherVolume[] =
    " (could not be moved out: the temporary folder is on another drive, and the root of its own drive cannot take it)";
constexpr char kMore[] = "\n...";
constexpr int kMessageChars = 1024;  // the most that wsprintfA writes
constexpr int kListChars = 4096;
constexpr int kReportChars = kListChars + 2048;
constexpr DWORD kFileAccess = DELETE | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
constexpr DWORD kRecordAccess = kFileAccess | FILE_WRITE_DATA;
constexpr DWORD kReadAccess = FILE_READ_DATA | FILE_READ_ATTRIBUTES;

void ShowMessage(HWND owner, const char* text, UINT icon) noexcept {
    ::MessageBoxA(owner, text, kCaption, MB_OK | MB_SETFOREGROUND | icon);
}

void ShowAbout(HWND owner, const char* format, const char* subject) noexcept {
    char text[kMessageChars];
    ::wsprintfA(text, format, subject);
    ShowMessage(owner, text, MB_ICONWARNING);
}

// Appends as much of `text` as fits.
template <int N>
void Append(char (&buffer)[N], const char* text) noexcept {
    const int length = ::lstrlenA(buffer);
    ::lstrcpynA(buffer + length, text, N - length);
}

// What a removal leaves of ours.
struct RemovalReport {
    char files[kListChars] = {};  // named, each with its reason
    bool filesCut = false;
    bool failed = false;     // a step failed: the later ones wait for another removal
    bool atRestart = false;  // something of the installation goes when Windows restarts
    bool shortcutStays = false;
    bool registrationStays = false;
    bool recordStays = false;
    char movedTo[kFinalPathChars] = {};        // where the program file went, when it stays there
    char atRestartName[kFinalPathChars] = {};  // the program file, when it goes at the restart
    const char* shortcut = nullptr;            // the recorded shortcut, when it stays
    [[nodiscard]] bool nothingLeft() const noexcept {
        return files[0] == '\0' && !failed && !shortcutStays && !registrationStays && !recordStays;
    }
};

void NameLeft(RemovalReport& report, const char* name, const char* reason) noexcept {
    if (::lstrlenA(report.files) + 1 + ::lstrlenA(name) + ::lstrlenA(reason) >= kListChars) {
        report.filesCut = true;
        return;
    }
    Append(report.files, "\n");
    Append(report.files, name);
    Append(report.files, reason);
}

// Why an entry that could not be taken stays, or null when it is gone.
[[nodiscard]] const char* ReasonFor(EntryCheck check) noexcept {
    switch (check) {
        case EntryCheck::EntryReal:
        case EntryCheck::EntryMissing:
            return nullptr;
        case EntryCheck::EntryFolderMissing:
            return kFolderNotFound;
        case EntryCheck::EntryOtherKind:
            return kChanged;
        case EntryCheck::EntryLink:
            return kLinked;
        case EntryCheck::EntryOtherNames:
            return kOtherNames;
        case EntryCheck::EntryInUse:
            return kInUse;
        case EntryCheck::EntryFailed:
            break;
    }
    return kNotRemoved;
}

void ShowReport(HWND owner, const RemovalReport& report, const char* folder) noexcept {
    static char text[kReportChars];  // kept off the stack
    char line[kMessageChars];
    if (report.nothingLeft()) {
        ::lstrcpyA(text, report.atRestart ? kAtRestart : kRemoved);
        if (report.atRestart) {
            Append(text, "\n");
            Append(text, report.atRestartName);
        }
        if (report.movedTo[0] != '\0') {
            ::wsprintfA(line, kMovedAway, report.movedTo);
            Append(text, line);
        }
        ShowMessage(owner, text, MB_ICONINFORMATION);
        return;
    }
    ::lstrcpyA(text, kIncomplete);
    if (report.files[0] != '\0') {
        Append(text, kLeftInFolder);
        Append(text, folder);
        Append(text, ":");
        Append(text, report.files);
        if (report.filesCut) Append(text, kMore);
    }
    if (report.shortcutStays) {
        Append(text, kShortcutStays);
        Append(text, report.shortcut);
    }
    if (report.registrationStays) Append(text, kRegistrationStays);
    if (report.recordStays) Append(text, kRecordStays);
    Append(text, report.failed ? kRemoveAgain : kDeleteFolder);
    ShowMessage(owner, text, MB_ICONWARNING);
}

// The installation that this run works on: its folder, the running program's
// own file in it and the whole record, all by identity.
struct Installation {
    HeldFolder folder;
    FileIdentity program;
    win32::UniqueFile recordFile;
    FileIdentity recordIdentity;
    InstallationRecord* record = nullptr;  // the record's lines, read whole
};

enum class Found { FoundWhole, FoundNotRegistered, FoundNoRecord, FoundHeld };
// A run that only looks needs no rights beyond reading; the run that removes
// holds the folder and the record for deletion.
enum class Purpose { ForLooking, ForRemoval };

// The program's folder when a registration names it, the program's file in
// it being this very program, and the record in it, read whole and naming the
// program.
[[nodiscard]] Found FindInstallation(const ProgramLocation& own, Purpose purpose, Installation& at) noexcept {
    OpenedEntry entry;
    FileIdentity identity;
    const bool removing = purpose == Purpose::ForRemoval;
    if (!IdentityOfPath(own.program, LastPart::Follow, at.program)) return Found::FoundNotRegistered;
    if (!HoldFolderAt(own.folder, removing ? FolderUse::ForDeletion : FolderUse::ForReading, at.folder)) {
        return ::GetLastError() == ERROR_SHARING_VIOLATION ? Found::FoundHeld : Found::FoundNotRegistered;
    }
    if (OpenBelow(at.folder, own.fileName, EntryKind::File, FILE_READ_ATTRIBUTES, entry) != EntryCheck::EntryReal ||
        !IdentityOf(entry.entry.get(), identity) || !(identity == at.program) ||
        CheckRegistration(at.folder.identity) == RegistrationState::RegistrationNone) {
        return Found::FoundNotRegistered;
    }
    if (OpenBelow(at.folder, LARKSPAN_APP_MARKER_NAME, EntryKind::File, removing ? kRecordAccess : kReadAccess,
                  entry) != EntryCheck::EntryReal ||
        !IdentityOf(entry.entry.get(), at.recordIdentity) || !ReadInstallationRecord(entry.entry.get(), *at.record) ||
        !NamesFile(*at.record, own.fileName)) {
        return Found::FoundNoRecord;
    }
    at.recordFile = std::move(entry.entry);
    return Found::FoundWhole;
}

[[nodiscard]] bool ReportFound(HWND owner, Found found, const char* folder) noexcept {
    switch (found) {
        case Found::FoundWhole:
            return true;
        case Found::FoundNotRegistered:
            ShowAbout(owner, kNotRegistered, folder);
            break;
        case Found::FoundNoRecord:
            ShowAbout(owner, kNoRecord, folder);
            break;
        case Found::FoundHeld:
            ShowAbout(owner, kFolderHeld, folder);
            break;
    }
    return false;
}

// Nobody but the removal uses the program, in any session; otherwise says who does.
[[nodiscard]] bool NobodyElseUses(HWND owner, const RemovalProcesses& removal) noexcept {
    char user[kUserNameChars];
    if (!IsProgramInUse(removal, user)) return true;
    if (user[0] != '\0') {
        ShowAbout(owner, kInUseBy, user);
    } else {
        ShowMessage(owner, kStillRunning, MB_ICONWARNING);
    }
    return false;
}

enum class FileOutcome { FileGone, FileKept, FileFailed };

// Removes one recorded file when it is unchanged and ours to delete; names it
// otherwise. The record and the program have steps of their own: a line that
// names either (by identity, in any spelling) is passed over.
[[nodiscard]] FileOutcome RemoveRecordedFile(const Installation& at, const RecordedFile& file,
                                             RemovalReport& report) noexcept {
    OpenedEntry opened;
    FileIdentity identity;
    const EntryCheck check = OpenBelow(at.folder, file.name, EntryKind::File, kFileAccess, opened);
    // The record is open here for writing, so that a line naming it finds it in use.
    if (check == EntryCheck::EntryInUse &&
        OpenBelow(at.folder, file.name, EntryKind::File, FILE_READ_ATTRIBUTES, opened) == EntryCheck::EntryReal &&
        IdentityOf(opened.entry.get(), identity) && (identity == at.program || identity == at.recordIdentity)) {
        return FileOutcome::FileKept;
    }
    if (check != EntryCheck::EntryReal) {
        const char* reason = ReasonFor(check);
        if (reason == nullptr) return FileOutcome::FileGone;
        NameLeft(report, file.name, reason);
        return check == EntryCheck::EntryInUse || check == EntryCheck::EntryFailed ? FileOutcome::FileFailed
                                                                                   : FileOutcome::FileKept;
    }
    if (!IdentityOf(opened.entry.get(), identity)) {
        NameLeft(report, file.name, kNotRemoved);
        return FileOutcome::FileFailed;
    }
    if (identity == at.program || identity == at.recordIdentity) return FileOutcome::FileKept;
    if (!file.hasCrc) {
        NameLeft(report, file.name, kUnchecked);
        return FileOutcome::FileKept;
    }
    ULONGLONG size = 0;
    std::uint32_t crc = 0;
    if (!FileChecksum(opened.entry.get(), size, crc) || size != file.size || crc != file.crc) {
        NameLeft(report, file.name, kChanged);
        return FileOutcome::FileKept;
    }
    if (!DeleteOpened(opened.entry.get())) {
        NameLeft(report, file.name, kNotRemoved);
        return FileOutcome::FileFailed;
    }
    opened.entry.reset();  // the file goes as its handle closes
    RemoveEmptyFolders(opened);
    return FileOutcome::FileGone;
}

// Moves the program file out of the installation folder or, where that cannot
// be done and this run has rights, has it deleted when Windows restarts.
void RemoveProgramFile(const Installation& at, const char* fileName, bool elevated, RemovalReport& report) noexcept {
    OpenedEntry program;
    FileIdentity identity;
    const EntryCheck check = OpenBelow(at.folder, fileName, EntryKind::File, FILE_READ_ATTRIBUTES, program);
    if (check == EntryCheck::EntryMissing) return;  // moved out of the installation already
    if (check != EntryCheck::EntryReal || !IdentityOf(program.entry.get(), identity) || !(identity == at.program)) {
        NameLeft(report, fileName, ReasonFor(check) != nullptr ? ReasonFor(check) : kNotRemoved);
        report.failed = true;
        return;
    }
    const char* reason = kNotRemoved;
    switch (SettleProgramFile(program.entry.get(), at.program, elevated, report.movedTo, report.atRestartName)) {
        case ProgramOutcome::ProgramMovedForRestart:
            report.movedTo[0] = '\0';  // nothing of it for the user to do
            return;
        case ProgramOutcome::ProgramMoved:
            return;
        case ProgramOutcome::ProgramAtRestart:
            report.atRestart = true;
            return;
        case ProgramOutcome::ProgramInUse:
            reason = kInUse;
            break;
        case ProgramOutcome::ProgramNoTemporaryFolder:
            reason = kNoTemporaryFolder;
            break;
        case ProgramOutcome::ProgramOtherVolume:
            reason = kOtherVolume;
            break;
        case ProgramOutcome::ProgramChanged:
            break;
    }
    NameLeft(report, fileName, reason);
    report.failed = true;
}

// Every step in turn; a failed one leaves the later ones.
void RemoveInstallation(Installation& at, const char* fileName, bool elevated, RemovalReport& report) noexcept {
    InstallationRecord& record = *at.record;
    RecordedFile file;
    record.cursor = 0;
    while (NextRecordedFile(record, file)) {
        const FileOutcome outcome = RemoveRecordedFile(at, file, report);
        if (outcome == FileOutcome::FileGone) MarkGone(record, file);
        if (outcome == FileOutcome::FileFailed) report.failed = true;
    }
    if (!report.failed) RemoveProgramFile(at, fileName, elevated, report);
    if (!report.failed && record.shortcut[0] != '\0') {
        const win32::ComApartment com;  // the shell's folders
        report.shortcutStays = RemoveRecordedShortcut(record.shortcut) == ShortcutRemoval::ShortcutStays;
        report.shortcut = record.shortcut;
        report.failed = report.shortcutStays;
    }
    if (!report.failed && !RemoveRegistration(at.folder.identity)) {
        report.registrationStays = true;
        report.failed = true;
    }
    if (report.failed) {
        // What is left stays recorded, so that a later removal can finish.
        static_cast<void>(RewriteInstallationRecord(at.recordFile.get(), record));
        return;
    }
    report.recordStays = !DeleteOpened(at.recordFile.get());
    at.recordFile.reset();
    // The folder goes now when nothing else is in it; after the program file,
    // which is still in it, when Windows restarts.
    if (!report.recordStays && report.atRestart) {
        static_cast<void>(DeleteAtRestart(at.folder.handle.get()));
    } else if (!report.recordStays) {
        static_cast<void>(DeleteOpened(at.folder.handle.get()));  // fails while anything is left in it
    }
    at.folder.handle.reset();
}

}  // namespace

int RunUninstallStep(DWORD firstRunId) noexcept {
    ProgramLocation own;
    if (!LocateProgram(own)) return kUninstallIncomplete;
    // The current directory would hold the installation folder open.
    char system[MAX_PATH];
    const UINT systemLength = ::GetSystemDirectoryA(system, MAX_PATH);
    if (systemLength != 0 && systemLength < MAX_PATH) ::SetCurrentDirectoryA(system);
    const OwnerWindow owner;
    // A run for rights goes on without asking only for the removal that
    // started it, which holds the mutex until this run ends. Any other run
    // holds the mutex itself, from before its question until it ends.
    const bool elevatedRun = IsTrustedElevatedRun(firstRunId);
    win32::UniqueHandle removal;
    if (!elevatedRun) {
        removal.reset(::CreateMutexA(nullptr, TRUE, kRemovalMutex));
        if (!removal || ::GetLastError() == ERROR_ALREADY_EXISTS) {
            ShowMessage(owner.get(), kAlreadyRemoving, MB_ICONWARNING);
            return kUninstallIncomplete;
        }
    }
    RemovalProcesses processes;
    if (!AddRemovalProcess(processes, ::GetCurrentProcess())) return kUninstallIncomplete;
    if (elevatedRun) {
        const win32::UniqueHandle first(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, firstRunId));
        if (!first || !AddRemovalProcess(processes, first.get())) return kUninstallIncomplete;
    }

    // The whole installation, before anything is asked or removed.
    static InstallationRecord record;  // 72 KiB: kept off the stack
    Installation at;
    at.record = &record;
    if (!ReportFound(owner.get(), FindInstallation(own, Purpose::ForLooking, at), own.folder)) {
        return kUninstallIncomplete;
    }
    if (!elevatedRun && !AskToRemove(owner.get())) return kUninstallDeclined;
    if (!NobodyElseUses(owner.get(), processes)) return kUninstallIncomplete;

    // A run for rights holds the folder itself: let go of it meanwhile, and
    // find the same installation again, by identity, to remove it here.
    const FileIdentity folder = at.folder.identity;
    at = Installation();
    at.record = &record;
    const RightsOutcome rights = SettleRights(owner.get(), own.program, folder, elevatedRun, CheckRegistration,
                                              StartElevated);
    if (!rights.removeHere) {
        if (rights.message != nullptr) ShowMessage(owner.get(), rights.message, MB_ICONERROR);
        return rights.exitCode;
    }
    const Found again = FindInstallation(own, Purpose::ForRemoval, at);
    if (again == Found::FoundWhole && !(at.folder.identity == folder)) {
        ShowAbout(owner.get(), kFolderHeld, own.folder);
        return kUninstallIncomplete;
    }
    if (!ReportFound(owner.get(), again, own.folder)) return kUninstallIncomplete;

    RemovalReport report;
    RemoveInstallation(at, own.fileName, IsProcessElevated(), report);
    ShowReport(owner.get(), report, own.folder);
    if (report.nothingLeft()) return report.atRestart ? kUninstallAtRestart : kUninstallDone;
    return kUninstallIncomplete;
}

}  // namespace larkspan
