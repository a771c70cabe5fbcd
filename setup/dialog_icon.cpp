#include "setup/dialog_icon.h"

#include "resources/resource_ids.h"
#include "setup/setup_state.h"
#include "common/unique_icon.h"

void SetDialogSmallIcon(HWND dialog) noexcept {
    HANDLE icon = ::LoadImageA(g_setup.instance, MAKEINTRESOURCEA(IDI_SETUP_SMALL), IMAGE_ICON,
                               ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
    if (icon != nullptr) ::SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void ReleaseDialogSmallIcon(HWND dialog) noexcept {
    // The dialog hands back the icon it held; the owner destroys it.
    const win32::UniqueIcon previous(reinterpret_cast<HICON>(::SendMessageA(dialog, WM_SETICON, ICON_SMALL, 0)));
}
