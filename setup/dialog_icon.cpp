#include "setup/dialog_icon.h"

#include "resources/resource_ids.h"
#include "setup/setup_state.h"

void SetDialogSmallIcon(HWND dialog) noexcept {
    HANDLE icon = ::LoadImageA(g_setup.instance, MAKEINTRESOURCEA(IDI_SETUP_SMALL), IMAGE_ICON,
                               ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
    if (icon != nullptr) ::SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void ReleaseDialogSmallIcon(HWND dialog) noexcept {
    const LRESULT previous = ::SendMessageA(dialog, WM_SETICON, ICON_SMALL, 0);
    if (previous != 0) ::DestroyIcon(reinterpret_cast<HICON>(previous));
}
