#include "setup/setup_state.h"

void ResetSetupState(HINSTANCE instance) noexcept {
    g_setup.instance = instance;
    g_setup.destinationFolder[0] = '\0';
    g_setup.itemPath[0] = '\0';
    g_setup.programPath[0] = '\0';
    g_setup.errorText[0] = '\0';
    g_setup.messageId = 0;
    g_setup.installOk = true;
    g_setup.cancelled = false;
    g_setup.totalBytes = 0;
    g_setup.doneBytes = 0;
    g_setup.progressDialog = nullptr;
}
