// The small icon (group 117) in the title bar of the setup's dialogs.
#pragma once

#include <windows.h>

// Loads icon 117 at the small-icon size and gives it to the dialog, if it loads.
void SetDialogSmallIcon(HWND dialog) noexcept;

// Takes the small icon back from the dialog and destroys it (on WM_DESTROY).
void ReleaseDialogSmallIcon(HWND dialog) noexcept;
