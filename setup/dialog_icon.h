// The small icon (group IDI_SETUP_SMALL) in the title bar of the setup's dialogs.
#pragma once

#include <windows.h>

// Loads icon IDI_SETUP_SMALL at the small-icon size and gives it to the dialog, if it loads.
void SetDialogSmallIcon(HWND dialog) noexcept;

// Takes the small icon back from the dialog and destroys it (on WM_DESTROY).
void ReleaseDialogSmallIcon(HWND dialog) noexcept;
