#include "resources/payload/install_step.h"

#include "resources/payload/product_info.h"
#include "setup/win32_raii.h"

namespace larkspan {
namespace {

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The program's folder with a trailing backslash, joined with the marker name.
bool MarkerPath(char (&path)[MAX_PATH]) noexcept {
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    char* slash = nullptr;
    for (char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/') slash = p;
    }
    if (slash == nullptr) return false;
    const char* name = LARKSPAN_APP_MARKER_NAME;
    const int used = static_cast<int>(slash + 1 - path);
    if (used + ::lstrlenA(name) + 1 > MAX_PATH) return false;
    ::lstrcpyA(slash + 1, name);
    return true;
}

}  // namespace

bool IsInstallArgument(const char* commandLine) noexcept {
    if (commandLine == nullptr) return false;
    while (IsBlank(*commandLine)) ++commandLine;
    char argument[16];
    int length = 0;
    while (commandLine[length] != '\0' && !IsBlank(commandLine[length])) {
        if (length + 1 >= static_cast<int>(sizeof argument)) return false;
        argument[length] = commandLine[length];
        ++length;
    }
    argument[length] = '\0';
    for (const char* rest = commandLine + length; *rest != '\0'; ++rest) {
        if (!IsBlank(*rest)) return false;  // more than one argument
    }
    return ::lstrcmpiA(argument, "/Install") == 0;
}

int RunInstallStep() noexcept {
    char path[MAX_PATH];
    if (!MarkerPath(path)) return 1;
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    char text[256];
    const int length = ::wsprintfA(text,
                                   "%s %s\r\nInstalled: %04u-%02u-%02u %02u:%02u:%02u UTC\r\n",
                                   LARKSPAN_APP_TITLE, LARKSPAN_APP_VERSION, now.wYear, now.wMonth, now.wDay,
                                   now.wHour, now.wMinute, now.wSecond);
    win32::UniqueFile file(::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                         nullptr));
    if (!file) return 1;
    DWORD written = 0;
    if (!::WriteFile(file.get(), text, static_cast<DWORD>(length), &written, nullptr) ||
        written != static_cast<DWORD>(length)) {
        return 1;
    }
    return 0;
}

}  // namespace larkspan
