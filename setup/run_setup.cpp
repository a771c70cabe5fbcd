#include "setup/run_setup.h"

#include "resources/resource_ids.h"
#include "setup/copy_items.h"
#include "setup/launch_program.h"
#include "setup/license_dialog.h"
#include "setup/report_text.h"
#include "setup/setup_checksum.h"
#include "setup/setup_dialog.h"
#include "setup/setup_messages.h"
#include "setup/setup_state.h"

void ShowFinalReport() noexcept {
    if (g_setup.destinationFolder[0] == '\0') return;
    char text[kPathChars];
    if (g_setup.installOk && !g_setup.cancelled) {
        LoadSetupString(IDS_SUCCESS, text, sizeof(text));
    } else {
        if (g_setup.messageId != 0 && !g_setup.cancelled) {
            LoadSetupString(g_setup.messageId, g_setup.errorText, sizeof(g_setup.errorText));
        }
        if (g_setup.errorText[0] != '\0') {
            char firstLine[128];
            LoadSetupString(IDS_CANNOT_INSTALL, firstLine, sizeof(firstLine));
            ComposeFinalReport(text, sizeof(text), firstLine, g_setup.errorText);
        } else {
            LoadSetupString(IDS_INCOMPLETE, text, sizeof(text));
        }
    }
    char caption[64];
    LoadSetupString(IDS_CAPTION, caption, sizeof(caption));
    ::MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONINFORMATION);
}

int RunSetup(HINSTANCE instance) noexcept {
    g_setup.errorText[0] = '\0';
    g_setup.installOk = true;
    g_setup.instance = instance;

    if (!VerifySetupChecksum()) return 0;
    if (!ShowLicenseDialog()) return 0;

    const INT_PTR choice = ::DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, SetupDialogProc, 0);
    if (choice == IDCANCEL) {
        g_setup.cancelled = true;
    } else if (choice != IDOK) {
        g_setup.messageId = IDS_NO_MEMORY;
        g_setup.installOk = false;
    } else {
        CopyArchiveItems();
        if (g_setup.installOk && !g_setup.cancelled) g_setup.installOk = LaunchInstalledProgram();
    }
    ShowFinalReport();
    return 1;
}
