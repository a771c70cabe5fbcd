#include "app/start_menu.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "app/installation_record.h"
#include "app/product_info.h"
#include "common/com_ref.h"

namespace larkspan {
namespace {

// All users' Programs folder first: the entry is everyone's when it may be.
constexpr int kProgramsFolders[] = {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS};

// The "Orvane" folder below a Programs folder, and the shortcut in it.
[[nodiscard]] bool ShortcutPaths(int programsFolder, char (&menuFolder)[MAX_PATH],
                                 char (&shortcut)[MAX_PATH]) noexcept {
    char programs[MAX_PATH];
    if (FAILED(::SHGetFolderPathA(nullptr, programsFolder, nullptr, SHGFP_TYPE_CURRENT, programs))) return false;
    return JoinPath(menuFolder, programs, LARKSPAN_APP_MENU_FOLDER) &&
           JoinPath(shortcut, menuFolder, LARKSPAN_APP_SHORTCUT_NAME);
}

[[nodiscard]] bool WidePath(const char* path, wchar_t (&wide)[MAX_PATH]) noexcept {
    return ::MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) > 0;
}

win32::ComRef<IShellLinkA> NewShellLink() noexcept {
    win32::ComRef<IShellLinkA> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  reinterpret_cast<void**>(link.put())))) {
        link.reset();
    }
    return link;
}

[[nodiscard]] bool SaveShortcut(const char* shortcut, const char* program, const char* folder) noexcept {
    win32::ComRef<IShellLinkA> link = NewShellLink();
    if (!link) return false;
    if (FAILED(link->SetPath(program)) || FAILED(link->SetWorkingDirectory(folder)) ||
        FAILED(link->SetDescription(LARKSPAN_APP_DISPLAY_NAME)) || FAILED(link->SetIconLocation(program, 0))) {
        return false;
    }
    win32::ComRef<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put())))) return false;
    wchar_t wide[MAX_PATH];
    return WidePath(shortcut, wide) && SUCCEEDED(file->Save(wide, TRUE));
}

// Whether the shortcut file points at the program.
[[nodiscard]] bool PointsAt(const char* shortcut, const char* program) noexcept {
    win32::ComRef<IShellLinkA> link = NewShellLink();
    if (!link) return false;
    win32::ComRef<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put())))) return false;
    wchar_t wide[MAX_PATH];
    if (!WidePath(shortcut, wide) || FAILED(file->Load(wide, STGM_READ))) return false;
    char target[MAX_PATH] = {};
    if (FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))) return false;
    return ::lstrcmpiA(target, program) == 0;
}

}  // namespace

bool CreateStartMenuShortcut(const char* program, const char* folder) noexcept {
    for (const int programsFolder : kProgramsFolders) {
        char menuFolder[MAX_PATH];
        char shortcut[MAX_PATH];
        if (!ShortcutPaths(programsFolder, menuFolder, shortcut)) continue;
        const bool created = ::CreateDirectoryA(menuFolder, nullptr) != FALSE;
        if (!created && ::GetLastError() != ERROR_ALREADY_EXISTS) continue;
        if (SaveShortcut(shortcut, program, folder)) return true;
        // Not allowed here: leave no empty folder behind, try the next place.
        if (created) ::RemoveDirectoryA(menuFolder);
    }
    return false;
}

bool RemoveStartMenuShortcut(const char* program) noexcept {
    bool ok = true;
    for (const int programsFolder : kProgramsFolders) {
        char menuFolder[MAX_PATH];
        char shortcut[MAX_PATH];
        if (!ShortcutPaths(programsFolder, menuFolder, shortcut)) continue;
        if (::GetFileAttributesA(shortcut) == INVALID_FILE_ATTRIBUTES || !PointsAt(shortcut, program)) continue;
        if (!::DeleteFileA(shortcut)) {
            ok = false;
            continue;
        }
        // Fails, as it should, while the folder holds anything else.
        ::RemoveDirectoryA(menuFolder);
    }
    return ok;
}

}  // namespace larkspan
