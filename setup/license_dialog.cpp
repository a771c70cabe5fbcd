#include "setup/license_dialog.h"

#include <richedit.h>

#include <cstring>
#include <memory>
#include <new>

#include "archive/archive.h"
#include "resources/resource_ids.h"
#include "setup/dialog_icon.h"
#include "setup/payload.h"
#include "setup/setup_state.h"
#include "common/load_system_library.h"
#include "common/unique_module.h"

LicenseStreamState g_licenseStream{nullptr, 0, 0};

namespace {

constexpr char kLicenseItemName[] = "License.rtf";

// Owns the bytes that g_licenseStream hands over.
std::unique_ptr<BYTE[]> g_licenseText;

// Reads the licence item of the payload into g_licenseStream; false when
// there is none or it cannot be read into memory.
bool ExtractLicense() noexcept {
    PayloadBlock payload;
    if (FindPayload(g_setup.instance, &payload) != PayloadStatus::Found) return false;
    UniqueArchive archive(OpenArchive(payload.data, payload.size, SourceMemory));
    if (!archive) return false;

    ArchiveItem item{};
    if (GetArchiveItem(archive.get(), -1, &item) != ArchiveOk || item.index <= 0) return false;
    const int count = item.index;
    for (int i = 0; i < count; ++i) {
        ArchiveItem record{};
        if (GetArchiveItem(archive.get(), i, &record) != ArchiveOk) continue;
        record.name[sizeof(record.name) - 1] = '\0';
        if (::lstrcmpA(record.name, kLicenseItemName) != 0) continue;

        g_licenseText.reset(new (std::nothrow) BYTE[record.uncompressedSize ? record.uncompressedSize : 1]);
        if (!g_licenseText) return false;
        BYTE* buffer = g_licenseText.get();
        g_licenseStream.licenseBuffer = buffer;
        g_licenseStream.licenseLength = record.uncompressedSize;
        // A buffer of the item's size receives the whole item, CRC-32 checked,
        // in the first call; the next one confirms its end. Anything else means
        // a damaged item, and no part of it is shown.
        ArchiveResult result = ExtractArchiveItem(archive.get(), i, buffer, record.uncompressedSize, TargetMemory,
                                                  nullptr);
        if (result == ArchiveMoreData) {
            result = ExtractArchiveItem(archive.get(), i, buffer, record.uncompressedSize, TargetMemory, nullptr);
        }
        if (result != ArchiveOk) {
            ReleaseLicenseText();
            return false;
        }
        return true;
    }
    return false;
}

BOOL OnLicenseDialogInit(HWND dialog) noexcept {
    SetDialogSmallIcon(dialog);
    ::EnableWindow(::GetDlgItem(dialog, IDOK), FALSE);
    LoadLicenseText(dialog, IDC_LICENSE_TEXT);
    return FALSE;
}

BOOL OnLicenseCommand(HWND dialog, int id) noexcept {
    switch (id) {
        case IDOK:
        case IDCANCEL:  // also the close box and the Escape key
            ReleaseLicenseText();
            ::EndDialog(dialog, id);
            return TRUE;
        case IDC_LICENSE_AGREE_CHECK:
            ::EnableWindow(::GetDlgItem(dialog, IDOK),
                           ::IsDlgButtonChecked(dialog, IDC_LICENSE_AGREE_CHECK) == BST_CHECKED);
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void ReleaseLicenseText() noexcept {
    g_licenseText.reset();
    g_licenseStream.licenseBuffer = nullptr;
    g_licenseStream.licenseLength = 0;
    g_licenseStream.licensePosition = 0;
}

void LoadLicenseText(HWND dialog, int controlId) noexcept {
    ReleaseLicenseText();
    if (!ExtractLicense()) return;
    g_licenseStream.licensePosition = 0;
    EDITSTREAM stream{};
    stream.dwCookie = 0;
    stream.dwError = 0;
    stream.pfnCallback = LicenseStreamRead;
    ::SendDlgItemMessageA(dialog, controlId, EM_STREAMIN, SF_RTF | SFF_PLAINRTF, reinterpret_cast<LPARAM>(&stream));
}

DWORD CALLBACK LicenseStreamRead(DWORD_PTR, LPBYTE destination, LONG capacity, LONG* transferred) noexcept {
    if (destination == nullptr || transferred == nullptr) return 1;
    const DWORD left = g_licenseStream.licenseBuffer != nullptr &&
                               g_licenseStream.licensePosition < g_licenseStream.licenseLength
                           ? g_licenseStream.licenseLength - g_licenseStream.licensePosition
                           : 0;
    const DWORD wanted = capacity > 0 ? static_cast<DWORD>(capacity) : 0;
    const DWORD count = wanted < left ? wanted : left;
    if (count > 0) std::memcpy(destination, g_licenseStream.licenseBuffer + g_licenseStream.licensePosition, count);
    *transferred = static_cast<LONG>(count);
    g_licenseStream.licensePosition += count;
    return 0;
}

INT_PTR CALLBACK LicenseDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) noexcept {
    switch (message) {
        case WM_INITDIALOG:
            return OnLicenseDialogInit(dialog);
        case WM_COMMAND:
            return OnLicenseCommand(dialog, LOWORD(wParam));
        case WM_DESTROY:
            ReleaseDialogSmallIcon(dialog);
            return FALSE;
        default:
            return FALSE;
    }
}

bool ShowLicenseDialog() noexcept {
    // The rich-edit control's library, from the system folder only and only
    // for as long as the dialog lives.
    win32::UniqueModule richEdit(win32::LoadSystemLibrary("RICHED20.DLL"));
    if (!richEdit) return true;
    const INT_PTR result = ::DialogBoxParamA(g_setup.instance, MAKEINTRESOURCEA(IDD_LICENSE), nullptr,
                                             LicenseDialogProc, 0);
    ReleaseLicenseText();
    return result == IDOK;
}
