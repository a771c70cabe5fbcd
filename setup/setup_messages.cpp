#include "setup/setup_messages.h"

#include "resources/resource_ids.h"
#include "setup/report_text.h"
#include "setup/setup_state.h"

void LoadSetupString(UINT id, char* buffer, int size) noexcept {
    if (buffer == nullptr || size <= 0) return;
    buffer[0] = '\0';
    if (::LoadStringA(g_setup.instance, id, buffer, size) <= 0) buffer[0] = '\0';
}

int ShowSetupMessage(HWND owner, UINT id, UINT type, const char* folder) noexcept {
    char format[128];
    char caption[64];
    char text[kPathChars];
    LoadSetupString(id, format, sizeof(format));
    LoadSetupString(IDS_CAPTION, caption, sizeof(caption));
    if (folder != nullptr) {
        FormatWithInsert(text, sizeof(text), format, folder);
    } else {
        ::lstrcpynA(text, format, sizeof(text));
    }
    return ::MessageBoxA(owner, text, caption, type);
}
