// The main dialog (IDD_MAIN), where the destination folder is chosen, and the
// dialog procedure it shares with the progress dialog (IDD_PROGRESS).
#pragma once

#include <windows.h>

// Dialog procedure of IDD_MAIN and IDD_PROGRESS. The progress dialog is told apart
// by a destination folder that is already filled when it is created.
INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

// Lets the user pick a folder below "My Computer" with the shell's browser.
// 1 when a folder was chosen (its path then stands in `path`, which holds at
// least MAX_PATH characters); 0 otherwise, with `path` unchanged.
[[nodiscard]] int BrowseForFolder(HWND owner, char* path) noexcept;
