#include "setup/create_folder_path.h"

#include <windows.h>

namespace {

// The next `separator` at or after `from`, stepping over double-byte
// characters of the ANSI code page so that a trail byte is never taken for a
// separator; null when there is none.
char* FindSeparator(char* from, char separator) noexcept {
    for (char* p = from; *p != '\0'; ++p) {
        if (::IsDBCSLeadByte(static_cast<BYTE>(*p))) {
            if (p[1] == '\0') break;
            ++p;
            continue;
        }
        if (*p == separator) return p;
    }
    return nullptr;
}

}  // namespace

bool IsExistingFolder(const char* path) noexcept {
    const DWORD attributes = ::GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int CreateFolderPath(char* path) noexcept {
    int result = 1;
    char* scan = path;
    for (;;) {
        // Backslashes are used first; forward slashes only when no backslash is left.
        char* separator = FindSeparator(scan, '\\');
        if (separator == nullptr) separator = FindSeparator(scan, '/');
        if (separator == nullptr) break;
        char* cut = separator + 1;
        const char kept = *cut;
        *cut = '\0';
        if (!IsExistingFolder(path)) result = ::CreateDirectoryA(path, nullptr) ? 1 : 0;
        *cut = kept;
        scan = cut;
        if (result == 0) break;
    }
    if (!IsExistingFolder(path)) result = ::CreateDirectoryA(path, nullptr) ? 1 : 0;
    return result;
}
