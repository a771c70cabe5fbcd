#include "setup/setup_dialog.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstring>
#include <memory>
#include <new>

#include "picture/animated_picture_wnd.h"
#include "resources/resource_ids.h"
#include "setup/create_folder_path.h"
#include "setup/dialog_icon.h"
#include "setup/setup_messages.h"
#include "setup/setup_state.h"
#include "common/com_apartment.h"
#include "common/com_ref.h"
#include "common/shell_memory.h"

namespace {

// The longest folder path the setup's buffers hold, without the terminator.
constexpr int kFolderChars = kPathChars - 1;

// A text buffer of `chars` characters and the terminator; null when memory is short.
std::unique_ptr<char[]> NewText(std::size_t chars) noexcept {
    return std::unique_ptr<char[]>(new (std::nothrow) char[chars + 1]);
}

// The whole text of the folder field, however long: the field's limit holds
// typing and pasting, but a text set from outside (WM_SETTEXT) may exceed it.
std::unique_ptr<char[]> ReadFolderField(HWND dialog) noexcept {
    HWND field = ::GetDlgItem(dialog, IDC_MAIN_FOLDER);
    const int length = field != nullptr ? ::GetWindowTextLengthA(field) : 0;
    std::unique_ptr<char[]> text = NewText(static_cast<std::size_t>(length > 0 ? length : 0));
    if (!text) return text;
    text[0] = '\0';
    if (field != nullptr && length > 0) ::GetWindowTextA(field, text.get(), length + 1);
    return text;
}

// The absolute path that `folder` names, resolved against the current
// directory (of its drive) as the system resolves it, however long; null
// when the system cannot resolve it or memory is short.
std::unique_ptr<char[]> AbsoluteFolder(const char* folder) noexcept {
    const DWORD needed = ::GetFullPathNameA(folder, 0, nullptr, nullptr);  // with the terminator
    if (needed == 0) return nullptr;
    std::unique_ptr<char[]> full = NewText(needed - 1);
    if (!full) return full;
    const DWORD written = ::GetFullPathNameA(folder, needed, full.get(), nullptr);  // without it
    if (written == 0 || written >= needed) return nullptr;
    return full;
}

// Reads the field into destinationFolder as an absolute path. False, after
// string IDS_CANNOT_CREATE_FOLDER naming the text (or the absolute path), when the text, or the
// absolute path it names, is longer than a path may be, or cannot be made
// absolute: such a folder is never cut and used, nor used relative to
// whatever the current directory happens to be.
bool TakeTypedFolder(HWND dialog) noexcept {
    constexpr std::size_t kLongest = kFolderChars;
    const std::unique_ptr<char[]> typed = ReadFolderField(dialog);
    const char* text = typed ? typed.get() : "";
    // Install has been pressed: the folder is recorded even when it is then
    // refused, so that Cancel asks from here on.
    ::lstrcpynA(g_setup.destinationFolder, text, sizeof(g_setup.destinationFolder));
    if (text[0] == '\0') return true;  // asked about as it stands, and refused when created
    const std::unique_ptr<char[]> full = std::strlen(text) <= kLongest ? AbsoluteFolder(text) : nullptr;
    if (full && std::strlen(full.get()) <= kLongest) {
        ::lstrcpynA(g_setup.destinationFolder, full.get(), sizeof(g_setup.destinationFolder));
        return true;
    }
    ShowSetupMessage(dialog, IDS_CANNOT_CREATE_FOLDER, MB_OK | MB_ICONERROR, full ? full.get() : text);
    return false;
}

void StartAnimation(HWND dialog) noexcept {
    CAnimatedPictureWnd& picture = g_setup.pictureControl;
    HWND frame = ::GetDlgItem(dialog, IDC_MAIN_PICTURE);
    if (frame == nullptr) return;
    static_cast<void>(picture.Attach(frame));
    if (picture.LoadFromResource(MAKEINTRESOURCEA(IDR_ANIMATION), "GIF")) picture.Play();
}

BOOL OnSetupDialogInit(HWND dialog) noexcept {
    // The progress dialog is created only after the main dialog has filled
    // the destination folder; it needs no preparation here.
    if (g_setup.destinationFolder[0] != '\0') return FALSE;
    SetDialogSmallIcon(dialog);
    char defaultFolder[kPathChars];
    LoadSetupString(IDS_DEFAULT_FOLDER, defaultFolder, sizeof(defaultFolder));
    ::SendDlgItemMessageA(dialog, IDC_MAIN_FOLDER, EM_LIMITTEXT, kFolderChars, 0);
    ::SetDlgItemTextA(dialog, IDC_MAIN_FOLDER, defaultFolder);
    StartAnimation(dialog);
    return FALSE;
}

// Install: the dialog ends with 1 only when the folder exists (created after
// asking, if need be).
BOOL OnInstall(HWND dialog) noexcept {
    if (!TakeTypedFolder(dialog)) return TRUE;
    if (IsExistingFolder(g_setup.destinationFolder)) {
        ::EndDialog(dialog, IDOK);
        return TRUE;
    }
    if (ShowSetupMessage(dialog, IDS_ASK_CREATE_FOLDER, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1,
                         g_setup.destinationFolder) != IDYES) {
        return TRUE;
    }
    if (CreateFolderPath(g_setup.destinationFolder) != 0) {
        ::EndDialog(dialog, IDOK);
        return TRUE;
    }
    ShowSetupMessage(dialog, IDS_CANNOT_CREATE_FOLDER, MB_OK | MB_ICONERROR, g_setup.destinationFolder);
    return TRUE;
}

// Cancel, the close box and Escape, in the main dialog and in the progress
// dialog. Once a folder has been chosen, cancelling asks first (No is default).
BOOL OnCancel(HWND dialog) noexcept {
    if (g_setup.destinationFolder[0] == '\0') {
        g_setup.cancelled = true;
        ::EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    if (ShowSetupMessage(dialog, IDS_ASK_ABORT, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES) {
        g_setup.cancelled = true;
    }
    // For the modeless progress dialog, EndDialog only hides it; the copy
    // stops after the item in progress when it sees `cancelled`.
    if (g_setup.cancelled) ::EndDialog(dialog, IDCANCEL);
    return TRUE;
}

BOOL OnBrowse(HWND dialog) noexcept {
    if (g_setup.destinationFolder[0] == '\0') {
        LoadSetupString(IDS_DEFAULT_FOLDER, g_setup.destinationFolder, sizeof(g_setup.destinationFolder));
    }
    // No owner: the main dialog stays usable while the browser is open.
    if (BrowseForFolder(nullptr, g_setup.destinationFolder) == 1) {
        ::SetDlgItemTextA(dialog, IDC_MAIN_FOLDER, g_setup.destinationFolder);
    }
    return FALSE;
}

BOOL OnSetupCommand(HWND dialog, int id) noexcept {
    switch (id) {
        case IDOK:
            return OnInstall(dialog);
        case IDCANCEL:
            return OnCancel(dialog);
        case IDC_MAIN_BROWSE:
            return OnBrowse(dialog);
        default:
            return FALSE;
    }
}

BOOL OnSetupDialogDestroy(HWND dialog) noexcept {
    CAnimatedPictureWnd& picture = g_setup.pictureControl;
    if (picture.m_hWnd != nullptr && ::GetParent(picture.m_hWnd) == dialog) {
        picture.Stop();
        static_cast<void>(picture.Detach(false));
    }
    ReleaseDialogSmallIcon(dialog);
    return FALSE;
}

int BrowseWithAllocator(HWND owner, char* path, IMalloc* allocator) noexcept {
    char title[128];
    LoadSetupString(IDS_BROWSE_TITLE, title, sizeof(title));
    win32::ShellMemory<char> displayName(allocator, static_cast<char*>(allocator->Alloc(MAX_PATH)));
    if (!displayName) return 0;

    win32::ShellMemory<ITEMIDLIST> drives(allocator);
    if (FAILED(::SHGetSpecialFolderLocation(owner, CSIDL_DRIVES, drives.put())) || !drives) return 0;
    BROWSEINFOA info{};
    info.hwndOwner = owner;
    info.pidlRoot = drives.get();
    info.pszDisplayName = displayName.get();
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    info.lpfn = nullptr;
    info.lParam = 0;

    int result = 0;
    const win32::ShellMemory<ITEMIDLIST> chosen(allocator, ::SHBrowseForFolderA(&info));
    if (chosen) {
        char chosenPath[MAX_PATH];
        if (::SHGetPathFromIDListA(chosen.get(), chosenPath)) {
            ::lstrcpynA(path, chosenPath, MAX_PATH);
            result = 1;
        }
    }
    return result;
}

}  // namespace

int BrowseForFolder(HWND owner, char* path) noexcept {
    // The browser's new dialog style needs COM on this thread.
    const win32::ComApartment apartment;
    win32::ComRef<IMalloc> allocator;
    if (FAILED(::SHGetMalloc(allocator.put())) || !allocator) return 0;
    return BrowseWithAllocator(owner, path, allocator.get());
}

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) noexcept {
    switch (message) {
        case WM_INITDIALOG:
            return OnSetupDialogInit(dialog);
        case WM_COMMAND:
            return OnSetupCommand(dialog, LOWORD(wParam));
        case WM_DESTROY:
            return OnSetupDialogDestroy(dialog);
        default:
            return FALSE;
    }
}
