// Copying the payload's items into the destination folder under the
// progress dialog (IDD_PROGRESS).
#pragma once

#include <windows.h>

// Creates the progress dialog, copies every item of the payload into the
// destination folder and destroys the dialog again. Every outcome is recorded
// in g_setup. A confirmed Cancel stops the copy after the item in progress.
void CopyArchiveItems() noexcept;

// The progress function of every extraction: advances the bar by the bytes
// just written (a message only when the percentage changes) and drains the
// message queue when 15 ms or more have passed since the last drain. Always 0.
int CopyProgress(DWORD* bytesWritten) noexcept;

// Dispatches every waiting message of the thread without waiting for one;
// returns the result of the last, empty peek (0).
int PumpMessages() noexcept;
