// Reaching what lies below a folder by identity, never by spelling. A folder is
// opened once and held; everything below it is opened relative to the handle of
// its parent, one name at a time, without following a link, so that no path is
// ever resolved twice and no name can lead elsewhere between a check and its
// use. Whether two handles are the same file or folder is decided by their
// volume and file id, never by comparing their paths.
#pragma once

#include <windows.h>

#include "common/unique_handle.h"

namespace larkspan {

// The volume serial number and file id of an open file or folder.
struct FileIdentity {
    ULONGLONG volume = 0;
    BYTE id[16] = {};
    [[nodiscard]] bool operator==(const FileIdentity& other) const noexcept;
};
[[nodiscard]] bool IdentityOf(HANDLE entry, FileIdentity& identity) noexcept;
// The identity of what a path names, its last part followed when it is a link
// (as starting a program through a link does) or not.
enum class LastPart { Follow, AsItIs };
[[nodiscard]] bool IdentityOfPath(const char* path, LastPart last, FileIdentity& identity) noexcept;

// A folder held open, shared for reading and writing only: nobody else can
// rename, move or delete it while it is held, and what lies below it is opened
// through this handle.
struct HeldFolder {
    win32::UniqueFile handle;
    FileIdentity identity;
};
// Reading needs no rights beyond listing the folder; a folder held for
// deletion can itself be deleted through its handle once it is empty.
enum class FolderUse { ForReading, ForDeletion };
// Holds the folder that `path` names (links on the way followed).
[[nodiscard]] bool HoldFolderAt(const char* path, FolderUse use, HeldFolder& folder) noexcept;

enum class EntryCheck {
    EntryReal,           // opened; the entry is that very name of its folder
    EntryMissing,        // the name is not in its folder
    EntryFolderMissing,  // a folder on the way is not there
    EntryOtherKind,      // a folder where a file is expected, or the other way round
    EntryLink,           // a link on the way or the entry itself is one
    EntryOtherNames,     // a file with more than one name (a hard link)
    EntryInUse,          // open elsewhere in a way that does not share this access
    EntryFailed,         // could not be opened otherwise (not allowed, too deep, a bad name)
};
enum class EntryKind { File, Folder };

// An entry opened below a held folder, with the folders on the way, outermost
// first, each held while it is.
constexpr int kMaxFolderDepth = 32;  // deeper names are refused
struct OpenedEntry {
    win32::UniqueFile entry;
    HeldFolder folders[kMaxFolderDepth];
    int depth = 0;
};

// Opens the stored name `name` ("docs\Guide.txt") below `root`: every folder on
// the way relative to its parent, the entry last with `access`, shared for
// reading only (so that nobody can change, move or delete it while it is
// open). The entry must be of `kind`, not a link and reached through none,
// and, for a file, have no other name.
[[nodiscard]] EntryCheck OpenBelow(const HeldFolder& root, const char* name, EntryKind kind, DWORD access,
                                   OpenedEntry& opened) noexcept;
// After the entry has gone: removes the folders on the way, deepest first,
// while they are empty.
void RemoveEmptyFolders(OpenedEntry& opened) noexcept;

// Deletes an open file or empty folder (opened with DELETE) when its last
// handle closes. A read-only file is deleted as it is where the system can;
// elsewhere its attribute is cleared first and put back when the deletion is
// refused, so that only the file that then goes ever changes.
[[nodiscard]] bool DeleteOpened(HANDLE entry) noexcept;

// The name that the system gives an open entry (links resolved), as a user
// reads it (without the "\\?\" in front); false when it cannot be had or does
// not fit.
constexpr int kFinalPathChars = MAX_PATH + 8;
[[nodiscard]] bool FinalPath(HANDLE entry, char (&path)[kFinalPathChars]) noexcept;

}  // namespace larkspan
