// The licence agreement dialog (IDD_LICENSE): the payload's "License.rtf" in a
// read-only rich-edit control; the run goes on only after "I agree".
#pragma once

#include <windows.h>

// The licence text handed to the rich-edit control by LicenseStreamRead.
struct LicenseStreamState {
    BYTE* licenseBuffer;    // the extracted bytes of "License.rtf" (held by the dialog's owner), or null
    DWORD licenseLength;    // bytes in licenseBuffer
    DWORD licensePosition;  // next byte to hand over
};
extern LicenseStreamState g_licenseStream;

// True when the user agreed, or when the rich-edit library is not available;
// false otherwise (declined, or the dialog could not be shown).
[[nodiscard]] bool ShowLicenseDialog() noexcept;

INT_PTR CALLBACK LicenseDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

// Fills rich-edit control `controlId` of `dialog` with the licence text; on
// any failure the control stays empty.
void LoadLicenseText(HWND dialog, int controlId) noexcept;

// The EDITSTREAM reader: hands over at most `capacity` bytes of the licence
// text per call. 0 to go on, 1 for an error (null buffer or count pointer).
DWORD CALLBACK LicenseStreamRead(DWORD_PTR cookie, LPBYTE destination, LONG capacity, LONG* transferred) noexcept;

// Frees the licence text.
void ReleaseLicenseText() noexcept;
