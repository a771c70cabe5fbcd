#include "setup/copy_items.h"

#include <commctrl.h>

#include "archive/archive.h"
#include "resources/resource_ids.h"
#include "setup/format_last_error.h"
#include "setup/item_target.h"
#include "setup/payload.h"
#include "setup/progress_percent.h"
#include "setup/setup_dialog.h"
#include "setup/setup_state.h"
#include "common/unique_window.h"

namespace {

// An empty drain of the queue is cheap on Windows but a server round trip
// under Wine, and at disk speed a 16 KiB block is written every few tens of
// microseconds; draining after every block made the drains cost more than the
// copy. The queue is drained when this much time has passed since the last
// drain (so a click, a move of the dialog or a repaint waits at most about
// this plus one tick of the clock), and once after every item.
constexpr DWORD kDrainIntervalMs = 15;

DWORD g_lastDrainTick = 0;  // GetTickCount of the last drain during the copy
unsigned g_barPercent = 0;  // the position the bar was last given

void Fail() noexcept { g_setup.installOk = false; }

void DrainMessages() noexcept {
    static_cast<void>(PumpMessages());
    // Read after the drain: time spent in a dispatched message (the Cancel
    // question waits for its answer there) does not count as copying.
    g_lastDrainTick = ::GetTickCount();
}

// Reads the item count and the sum of all items' sizes, and checks every
// item's target. False when a record cannot be read, the archive holds no
// item, or a name would leave the destination folder, name a device, be
// changed by the system or make a path that does not fit: a payload with such
// an item is refused before anything is written, so no half installation is
// left behind.
bool MeasureArchive(ArchiveHandle archive, int* count) noexcept {
    ArchiveItem item{};
    if (GetArchiveItem(archive, -1, &item) != ArchiveOk || item.index <= 0) return false;
    *count = item.index;
    for (int i = 0; i < *count; ++i) {
        ArchiveItem record{};
        if (GetArchiveItem(archive, i, &record) != ArchiveOk) return false;
        record.name[sizeof(record.name) - 1] = '\0';
        char target[MAX_PATH];
        if (!BuildItemTarget(target, sizeof(target), g_setup.destinationFolder, record.name)) return false;
        g_setup.totalBytes += record.uncompressedSize;
    }
    return true;
}

void ShowProgressDialog() noexcept {
    HWND dialog = g_setup.progressDialog;
    ::SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    ::ShowWindow(dialog, SW_SHOW);
    DrainMessages();
}

// Copies item after item until all are written, one fails, or the user has
// confirmed Cancel (then the item in progress is finished and no other begun).
void CopyItems(ArchiveHandle archive, int count) noexcept {
    for (int i = 0; i < count; ++i) {
        if (g_setup.cancelled) return;
        ArchiveItem record{};
        if (GetArchiveItem(archive, i, &record) != ArchiveOk) return Fail();
        record.name[sizeof(record.name) - 1] = '\0';
        // Checked once more: the measuring pass refused every bad name already.
        if (!BuildItemTarget(g_setup.itemPath, sizeof(g_setup.itemPath), g_setup.destinationFolder, record.name)) {
            return Fail();
        }
        ::SetDlgItemTextA(g_setup.progressDialog, IDC_PROGRESS_FILE, g_setup.itemPath);
        if (i == 0) {
            ::lstrcpynA(g_setup.programPath, g_setup.itemPath, sizeof(g_setup.programPath));
            ShowProgressDialog();
        }
        const ArchiveResult result = ExtractArchiveItem(archive, i, g_setup.itemPath, 0, TargetFileName, CopyProgress);
        DrainMessages();
        if (result != ArchiveOk) return Fail();
    }
}

void CopyPayload() noexcept {
    PayloadBlock payload;
    switch (FindPayload(g_setup.instance, &payload)) {
        case PayloadStatus::Found:
            break;
        case PayloadStatus::Missing:  // a setup without its payload: nothing to install
        case PayloadStatus::Empty:
            g_setup.messageId = IDS_UNEXPECTED;
            return Fail();
        case PayloadStatus::NotLoaded:
            FormatLastError(g_setup.errorText, sizeof(g_setup.errorText));
            return Fail();
    }

    UniqueArchive archive(OpenArchive(payload.data, payload.size, SourceMemory));
    if (!archive) return Fail();
    int count = 0;
    if (!MeasureArchive(archive.get(), &count)) return Fail();
    CopyItems(archive.get(), count);
}

}  // namespace

int PumpMessages() noexcept {
    MSG message;
    BOOL got;
    while ((got = ::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) != FALSE) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    return got;
}

int CopyProgress(DWORD* bytesWritten) noexcept {
    if (bytesWritten != nullptr) g_setup.doneBytes += *bytesWritten;
    // The bar only hears of a position it does not show yet.
    const unsigned percent = ProgressPercent(g_setup.doneBytes, g_setup.totalBytes);
    if (percent != g_barPercent) {
        g_barPercent = percent;
        ::SendDlgItemMessageA(g_setup.progressDialog, IDC_PROGRESS_BAR, PBM_SETPOS, percent, 0);
    }
    // GetTickCount reads a counter the system keeps in the process's memory:
    // no call into the system per block.
    if (::GetTickCount() - g_lastDrainTick >= kDrainIntervalMs) DrainMessages();
    return 0;
}

void CopyArchiveItems() noexcept {
    g_setup.totalBytes = 0;
    g_setup.doneBytes = 0;
    g_barPercent = 0;  // a new progress bar stands at 0
    win32::UniqueWindow dialog(
        ::CreateDialogParamA(g_setup.instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, SetupDialogProc, 0));
    g_setup.progressDialog = dialog.get();
    if (!dialog) {
        g_setup.messageId = IDS_NO_MEMORY;
        g_setup.installOk = false;
        return;
    }
    if (g_setup.installOk && !g_setup.cancelled) CopyPayload();
    dialog.reset();
    g_setup.progressDialog = nullptr;
}
