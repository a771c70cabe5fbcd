#include "app/start_menu.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "app/folder_entry.h"
#include "app/installation_record.h"
#include "app/product_info.h"
#include "common/com_ref.h"

namespace larkspan {
namespace {

// All users' Programs folder first: the entry is everyone's when it may be.
constexpr int kProgramsFolders[] = {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS};
constexpr char kShortcutBelowPrograms[] = LARKSPAN_APP_MENU_FOLDER "\\" LARKSPAN_APP_SHORTCUT_NAME;
constexpr DWORD kShortcutAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

[[nodiscard]] bool ProgramsFolder(int which, char (&programs)[MAX_PATH]) noexcept {
    return SUCCEEDED(::SHGetFolderPathA(nullptr, which, nullptr, SHGFP_TYPE_CURRENT, programs));
}

[[nodiscard]] bool WidePath(const char* path, wchar_t (&wide)[MAX_PATH]) noexcept {
    return ::MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) > 0;
}

[[nodiscard]] bool SaveShortcut(const char* shortcut, const char* program, const char* folder) noexcept {
    win32::ComRef<IShellLinkA> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  reinterpret_cast<void**>(link.put()))) ||
        FAILED(link->SetPath(program)) || FAILED(link->SetWorkingDirectory(folder)) ||
        FAILED(link->SetDescription(LARKSPAN_APP_DISPLAY_NAME)) || FAILED(link->SetIconLocation(program, 0))) {
        return false;
    }
    win32::ComRef<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put())))) return false;
    wchar_t wide[MAX_PATH];
    return WidePath(shortcut, wide) && SUCCEEDED(file->Save(wide, TRUE));
}

}  // namespace

bool CreateStartMenuShortcut(const char* program, const char* folder, ShortcutScope scope,
                             char (&made)[MAX_PATH]) noexcept {
    for (const int programsFolder : kProgramsFolders) {
        if (programsFolder != CSIDL_COMMON_PROGRAMS && scope == ShortcutScope::MachineOnly) break;
        char programs[MAX_PATH];
        char menuFolder[MAX_PATH];
        if (!ProgramsFolder(programsFolder, programs) || !JoinPath(menuFolder, programs, LARKSPAN_APP_MENU_FOLDER) ||
            !JoinPath(made, menuFolder, LARKSPAN_APP_SHORTCUT_NAME)) {
            continue;
        }
        const bool created = ::CreateDirectoryA(menuFolder, nullptr) != FALSE;
        if (!created && ::GetLastError() != ERROR_ALREADY_EXISTS) continue;
        if (SaveShortcut(made, program, folder)) return true;
        // Not allowed here: leave no empty folder behind, try the next place.
        if (created) ::RemoveDirectoryA(menuFolder);
    }
    made[0] = '\0';
    return false;
}

ShortcutRemoval RemoveRecordedShortcut(const char* recorded) noexcept {
    FileIdentity target;
    if (!IdentityOfPath(recorded, LastPart::AsItIs, target)) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ShortcutRemoval::ShortcutGone
                                                                              : ShortcutRemoval::ShortcutStays;
    }
    for (const int programsFolder : kProgramsFolders) {
        char programs[MAX_PATH];
        HeldFolder held;
        if (!ProgramsFolder(programsFolder, programs) || !HoldFolderAt(programs, FolderUse::ForReading, held)) continue;
        OpenedEntry shortcut;
        FileIdentity identity;
        if (OpenBelow(held, kShortcutBelowPrograms, EntryKind::File, kShortcutAccess, shortcut) !=
                EntryCheck::EntryReal ||
            !IdentityOf(shortcut.entry.get(), identity) || !(identity == target)) {
            continue;
        }
        if (!DeleteOpened(shortcut.entry.get())) return ShortcutRemoval::ShortcutStays;
        shortcut.entry.reset();        // the file goes as its handle closes
        RemoveEmptyFolders(shortcut);  // the "Orvane" folder, when nothing else is in it
        return ShortcutRemoval::ShortcutRemoved;
    }
    return ShortcutRemoval::ShortcutStays;
}

}  // namespace larkspan
