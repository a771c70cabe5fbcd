#include "app/real_path.h"

#include "app/installation_record.h"
#include "common/path_text.h"

namespace larkspan {
namespace {

constexpr int kMaxDepth = 32;  // folders on the way to an entry; deeper names are refused
// Listing a folder is an access that takes part in sharing, so a held folder,
// shared for reading and writing only, can be neither renamed nor deleted.
constexpr DWORD kHoldAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
constexpr DWORD kHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kNoLinks = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// Opens one entry on the way; false with the reason in `check`.
[[nodiscard]] bool OpenReal(const char* path, const char* expectedFinal, DWORD access, DWORD sharing,
                            win32::UniqueFile& opened, BY_HANDLE_FILE_INFORMATION& info, PathCheck& check) noexcept {
    opened.reset(::CreateFileA(path, access, sharing, nullptr, OPEN_EXISTING, kNoLinks, nullptr));
    if (!opened) {
        const DWORD error = ::GetLastError();
        check = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathCheck::PathMissing
                                                                               : PathCheck::PathFailed;
        return false;
    }
    char finalPath[kFinalPathChars];
    if (!::GetFileInformationByHandle(opened.get(), &info) || !FinalPath(opened.get(), finalPath)) {
        check = PathCheck::PathFailed;
        return false;
    }
    // A link opened as itself shows its attribute; one that the system
    // followed all the same (as Wine follows a Unix symbolic link) shows as
    // another final path.
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || ::lstrcmpiA(finalPath, expectedFinal) != 0) {
        check = PathCheck::PathLink;
        return false;
    }
    return true;
}

}  // namespace

bool FinalPath(HANDLE entry, char (&path)[kFinalPathChars]) noexcept {
    const DWORD length = ::GetFinalPathNameByHandleA(entry, path, kFinalPathChars, FILE_NAME_NORMALIZED);
    return length != 0 && length < static_cast<DWORD>(kFinalPathChars);
}

const char* WithoutLongPrefix(const char* finalPath) noexcept {
    const bool prefixed = finalPath[0] == '\\' && finalPath[1] == '\\' && finalPath[2] == '?' && finalPath[3] == '\\';
    return prefixed ? finalPath + 4 : finalPath;
}

bool HoldFolder(const char* path, HeldFolder& folder) noexcept {
    if (::lstrlenA(path) >= MAX_PATH) return false;
    ::lstrcpyA(folder.path, path);
    folder.handle.reset(
        ::CreateFileA(path, kHoldAccess, kHoldSharing, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    return folder.handle && ::GetFileInformationByHandle(folder.handle.get(), &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && FinalPath(folder.handle.get(), folder.finalPath);
}

void RemoveHeldFolderIfEmpty(win32::UniqueFile& held) noexcept {
    char path[kFinalPathChars];
    const bool named = FinalPath(held.get(), path);
    held.reset();  // it does not share the deletion
    BY_HANDLE_FILE_INFORMATION info;
    win32::UniqueFile folder;
    PathCheck check = PathCheck::PathReal;
    if (named && OpenReal(path, path, DELETE | FILE_READ_ATTRIBUTES, kHoldSharing, folder, info, check)) {
        static_cast<void>(DeleteOpened(folder.get()));  // fails while anything is left in it
    }
}

PathCheck OpenBelow(const HeldFolder& folder, const char* name, DWORD access, win32::UniqueFile& entry,
                    BY_HANDLE_FILE_INFORMATION& info) noexcept {
    char path[MAX_PATH];
    char expected[kFinalPathChars];
    const int folderLength = ::lstrlenA(folder.path);
    const int finalLength = ::lstrlenA(folder.finalPath);
    if (!JoinPath(path, folder.path, name) || finalLength + 1 + ::lstrlenA(name) >= kFinalPathChars) {
        return PathCheck::PathFailed;
    }
    ::lstrcpyA(expected, folder.finalPath);
    win32::UniqueFile held[kMaxDepth];
    int depth = 0;
    PathCheck check = PathCheck::PathReal;
    for (int at = folderLength + 1;;) {
        const char c = path[at];
        if (c != '\0' && !win32::IsPathSeparator(c)) {
            at += static_cast<int>(win32::CharacterBytes(path + at));
            continue;
        }
        // The entry reached so far: its path and the final path it must have.
        path[at] = '\0';
        ::lstrcpynA(expected + finalLength, path + folderLength, at - folderLength + 1);
        expected[finalLength] = '\\';
        if (c == '\0') {
            return OpenReal(path, expected, access, FILE_SHARE_READ, entry, info, check) ? PathCheck::PathReal : check;
        }
        if (depth == kMaxDepth || !OpenReal(path, expected, kHoldAccess, kHoldSharing, held[depth], info, check)) {
            return depth == kMaxDepth ? PathCheck::PathFailed : check;
        }
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return PathCheck::PathMissing;
        ++depth;
        path[at] = '\\';
        ++at;
    }
}

bool DeleteOpened(HANDLE entry) noexcept {
    // Items may carry the read-only attribute from the archive. Zero times
    // leave the times as they are.
    FILE_BASIC_INFO basic = {};
    if (::GetFileInformationByHandleEx(entry, FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        const DWORD attributes = basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        basic = {};
        basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
        static_cast<void>(::SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic));
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return ::SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

}  // namespace larkspan
