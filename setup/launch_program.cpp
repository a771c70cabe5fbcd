#include "setup/launch_program.h"

#include <windows.h>

#include "resources/resource_ids.h"
#include "setup/format_last_error.h"
#include "setup/report_text.h"
#include "setup/setup_state.h"
#include "common/unique_handle.h"

namespace {

constexpr DWORD kRegistrationWaitMs = 20000;

}  // namespace

bool LaunchInstalledProgram() noexcept {
    // Room for the longest program path: the command line is never cut.
    char commandLine[kPathChars + 16];
    FormatWithInsert(commandLine, sizeof(commandLine), "\"%s\" /Install", g_setup.programPath);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                          g_setup.destinationFolder, &startup, &process)) {
        FormatLastError(g_setup.errorText, sizeof(g_setup.errorText));
        g_setup.installOk = false;
        return false;
    }
    const win32::UniqueHandle processHandle(process.hProcess);
    const win32::UniqueHandle threadHandle(process.hThread);
    if (::WaitForSingleObject(processHandle.get(), kRegistrationWaitMs) != WAIT_OBJECT_0) {
        g_setup.messageId = IDS_REGISTRATION_FAILED;
        g_setup.installOk = false;
    }
    return g_setup.installOk;
}
