// Reaching what lies below the installation folder only through real folders.
// The record is a file in a folder that users may write to, and so is every
// folder below it: any of them can be replaced by a link (a junction, a
// symbolic link, a mount point) to somewhere else. So every folder on the way
// and the entry itself are opened without following a link, must not be one,
// and must have exactly the final path below the installation folder's own;
// the folders on the way are held open, so that none can be swapped while the
// entry is opened, and the entry is then changed only through its handle.
#pragma once

#include <windows.h>

#include "common/unique_handle.h"

namespace larkspan {

constexpr int kFinalPathChars = MAX_PATH + 8;  // room for the "\\?\" in front of a full path

// The final path of an open file or folder (links resolved, as the system
// names it); false when it cannot be had or does not fit.
[[nodiscard]] bool FinalPath(HANDLE entry, char (&path)[kFinalPathChars]) noexcept;
// A final path as a user reads it: without the "\\?\" in front.
[[nodiscard]] const char* WithoutLongPrefix(const char* finalPath) noexcept;

// The installation folder, held open and not shared for deletion, so that
// nobody else can rename or replace it while it is held.
struct HeldFolder {
    char path[MAX_PATH] = {};
    char finalPath[kFinalPathChars] = {};
    win32::UniqueFile handle;
};
[[nodiscard]] bool HoldFolder(const char* path, HeldFolder& folder) noexcept;

// Lets go of a held folder and removes it when it is empty and, opened again,
// still a real folder at the same final path.
void RemoveHeldFolderIfEmpty(win32::UniqueFile& held) noexcept;

enum class PathCheck {
    PathReal,     // opened; `entry` holds it
    PathMissing,  // nothing there
    PathLink,     // a link on the way or the entry itself is one
    PathFailed,   // could not be opened (in use, not allowed)
};
// Opens the stored name `name` below the folder with `access` (shared for
// reading only) and its file information.
[[nodiscard]] PathCheck OpenBelow(const HeldFolder& folder, const char* name, DWORD access, win32::UniqueFile& entry,
                                  BY_HANDLE_FILE_INFORMATION& info) noexcept;

// Deletes an open file or empty folder (opened with DELETE) when its last
// handle closes; a read-only file too (opened with FILE_WRITE_ATTRIBUTES).
[[nodiscard]] bool DeleteOpened(HANDLE entry) noexcept;

}  // namespace larkspan
