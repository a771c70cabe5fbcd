// The setup's message boxes: texts from the string table, caption string IDS_CAPTION.
#pragma once

#include <windows.h>

// Loads string `id` into `buffer`; the buffer is empty when the string is missing.
void LoadSetupString(UINT id, char* buffer, int size) noexcept;

// Shows string `id` with caption IDS_CAPTION. When `folder` is not null, the string is
// a format text whose "%s" receives the folder (shortened when too long for
// the 260-character message). Returns MessageBoxA's result.
int ShowSetupMessage(HWND owner, UINT id, UINT type, const char* folder = nullptr) noexcept;
