// The process-wide record of one setup run. Every step of the run reads and
// writes it; one final message box reports what it holds at the end.
#pragma once

#include <windows.h>

class CAnimatedPictureWnd;

constexpr int kPathChars = MAX_PATH;  // 259 characters and the terminator

struct SetupState {
    HINSTANCE instance;
    char destinationFolder[kPathChars];
    char itemPath[kPathChars];
    char programPath[kPathChars];
    char errorText[kPathChars];
    UINT messageId;
    bool installOk;
    bool cancelled;
    DWORD totalBytes;
    DWORD doneBytes;
    HWND progressDialog;
    CAnimatedPictureWnd& pictureControl;
};

// The one run of this process. Its picture control is the global instance.
extern SetupState g_setup;

// Resets every field to its state at the start of a run (the picture control
// is left alone) and records the module the resources come from.
void ResetSetupState(HINSTANCE instance) noexcept;
