#include "setup/create_folder_path.h"

#include <windows.h>

#include "common/path_text.h"

namespace {

// The next `separator` at or after `from`, stepping over double-byte
// characters of the ANSI code page so that a trail byte is never taken for a
// separator; null when there is none.
char* FindSeparator(char* from, char separator) noexcept {
    for (char* p = from; *p != '\0'; p += win32::CharacterBytes(p)) {
        if (*p == separator) return p;
    }
    return nullptr;
}

// The parts of a UNC path that name no folder to create: the server and the share.
constexpr int kUncRootParts = 2;

// Where the creatable levels of `path` begin: just after "\\server\share\"
// for a UNC path (either separator counts, as the system reads both), the
// path itself otherwise. The server and the share can only exist or not;
// they are never created. Null when the path is no more than its UNC root.
char* FirstCreatableLevel(char* path) noexcept {
    if (!win32::IsPathSeparator(path[0]) || !win32::IsPathSeparator(path[1])) return path;
    char* p = path + 2;
    for (int part = 0; part < kUncRootParts; ++part) {
        while (*p != '\0' && !win32::IsPathSeparator(*p)) p += win32::CharacterBytes(p);
        if (*p == '\0' || p[1] == '\0') return nullptr;
        ++p;
    }
    return p;
}

}  // namespace

bool IsExistingFolder(const char* path) noexcept {
    const DWORD attributes = ::GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int CreateFolderPath(char* path) noexcept {
    char* scan = FirstCreatableLevel(path);
    if (scan == nullptr) return IsExistingFolder(path) ? 1 : 0;
    int result = 1;
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
