#include "setup/format_last_error.h"

#include <windows.h>

#include "common/unique.h"

unsigned FormatLastError(char* buffer, unsigned size) noexcept {
    if (buffer == nullptr || size == 0) return 0;
    buffer[0] = '\0';
    const DWORD error = ::GetLastError();
    // The system allocates the text, so a text longer than the buffer is cut
    // here rather than lost (FormatMessageA fails outright on a short buffer).
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    const win32::UniqueOf<char*, ::LocalFree> owned(text);
    if (length == 0 || !owned) return 0;
    ::lstrcpynA(buffer, text, static_cast<int>(size));
    return static_cast<unsigned>(::lstrlenA(buffer));
}
