#include "app/folder_entry.h"

#include <winternl.h>

#include "common/path_text.h"

namespace larkspan {
namespace {

constexpr int kNameChars = MAX_PATH;
// Listing takes part in sharing, and so does DELETE: a held folder, shared for
// reading and writing only, can be neither renamed nor deleted by anybody else.
constexpr DWORD kHoldAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | DELETE | SYNCHRONIZE;
constexpr DWORD kReadAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr int kHoldAttempts = 20;
constexpr DWORD kHoldRetryMs = 100;
constexpr DWORD kEntrySharing = FILE_SHARE_READ;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

constexpr NTSTATUS kStatusNameNotFound = static_cast<NTSTATUS>(0xC0000034L);
constexpr NTSTATUS kStatusPathNotFound = static_cast<NTSTATUS>(0xC000003AL);
constexpr NTSTATUS kStatusSharingViolation = static_cast<NTSTATUS>(0xC0000043L);
constexpr NTSTATUS kStatusNotADirectory = static_cast<NTSTATUS>(0xC0000103L);
constexpr NTSTATUS kStatusIsADirectory = static_cast<NTSTATUS>(0xC00000BAL);
constexpr ULONG kOpenExisting = 1;  // FILE_OPEN

// The 128-bit file id (Windows 8 on; the build targets older systems too).
constexpr FILE_INFO_BY_HANDLE_CLASS kIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
struct FullFileId {
    ULONGLONG volumeSerialNumber;
    BYTE fileId[16];
};

// Deletion that ignores the read-only attribute and takes the name away at
// once, even while another handle shares the deletion (Windows 10 1809 on).
constexpr FILE_INFO_BY_HANDLE_CLASS kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;

[[nodiscard]] bool WideName(const char* name, int length, wchar_t (&wide)[kNameChars], USHORT& bytes) noexcept {
    const int characters = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, length, wide, kNameChars - 1);
    if (characters <= 0) return false;
    wide[characters] = L'\0';
    bytes = static_cast<USHORT>(characters * sizeof(wchar_t));
    return true;
}

// Whether the open entry is the entry `name` of the folder `parent` itself:
// the system names it as that folder's child of that name. A link opened as
// itself already shows its attribute; this catches a link that was followed
// all the same (Wine follows a Unix symbolic link wherever it is met), so that
// what the entry leads to is never taken for the entry.
[[nodiscard]] bool IsChildOf(HANDLE entry, const FileIdentity& parent, const wchar_t* name) noexcept {
    wchar_t path[kFinalPathChars];
    const DWORD length = ::GetFinalPathNameByHandleW(entry, path, kFinalPathChars, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= static_cast<DWORD>(kFinalPathChars)) return false;
    DWORD slash = length;
    while (slash > 0 && path[slash - 1] != L'\\') --slash;
    if (slash == 0 || ::CompareStringOrdinal(path + slash, -1, name, -1, TRUE) != CSTR_EQUAL) return false;
    path[slash] = L'\0';  // the folder, with its backslash (so that a drive names its root)
    const win32::UniqueFile folder(::CreateFileW(path, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    FileIdentity identity;
    return folder && IdentityOf(folder.get(), identity) && identity == parent;
}

[[nodiscard]] bool StartsWith(const char* text, const char* prefix) noexcept {
    while (*prefix != '\0' && *text == *prefix) {
        ++text;
        ++prefix;
    }
    return *prefix == '\0';
}

// Opens one name of a held folder relative to its handle, as itself.
[[nodiscard]] EntryCheck OpenChild(const HeldFolder& parent, const char* name, int nameLength, EntryKind kind,
                                   DWORD access, DWORD sharing, win32::UniqueFile& opened) noexcept {
    wchar_t wide[kNameChars];
    UNICODE_STRING text;
    if (!WideName(name, nameLength, wide, text.Length)) return EntryCheck::EntryFailed;
    text.Buffer = wide;
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, parent.handle.get(), nullptr);
    IO_STATUS_BLOCK io;
    const ULONG options = FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT |
                          (kind == EntryKind::Folder ? FILE_DIRECTORY_FILE : FILE_NON_DIRECTORY_FILE);
    HANDLE handle = nullptr;
    const NTSTATUS status = ::NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, 0, sharing,
                                           kOpenExisting, options, nullptr, 0);
    if (status < 0) {
        switch (status) {
            case kStatusNameNotFound:
            case kStatusPathNotFound:
                return EntryCheck::EntryMissing;
            case kStatusSharingViolation:
                return EntryCheck::EntryInUse;
            case kStatusNotADirectory:
            case kStatusIsADirectory:
                return EntryCheck::EntryOtherKind;
            default:
                return EntryCheck::EntryFailed;
        }
    }
    opened.reset(handle);
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(opened.get(), &info)) return EntryCheck::EntryFailed;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        !IsChildOf(opened.get(), parent.identity, wide)) {
        return EntryCheck::EntryLink;
    }
    if (kind == EntryKind::File && info.nNumberOfLinks > 1) return EntryCheck::EntryOtherNames;
    return EntryCheck::EntryReal;
}

}  // namespace

bool FileIdentity::operator==(const FileIdentity& other) const noexcept {
    if (volume != other.volume) return false;
    for (int i = 0; i < static_cast<int>(sizeof id); ++i) {
        if (id[i] != other.id[i]) return false;
    }
    return true;
}

bool IdentityOf(HANDLE entry, FileIdentity& identity) noexcept {
    identity = {};
    FullFileId full;
    if (::GetFileInformationByHandleEx(entry, kIdInfo, &full, sizeof full)) {
        identity.volume = full.volumeSerialNumber;
        ::CopyMemory(identity.id, full.fileId, sizeof identity.id);
        return true;
    }
    // Systems and file systems without 128-bit ids.
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(entry, &info)) return false;
    identity.volume = info.dwVolumeSerialNumber;
    const ULONGLONG index = (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    ::CopyMemory(identity.id, &index, sizeof index);
    return true;
}

bool IdentityOfPath(const char* path, LastPart last, FileIdentity& identity) noexcept {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (last == LastPart::AsItIs ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    const win32::UniqueFile entry(
        ::CreateFileA(path, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
    return entry && IdentityOf(entry.get(), identity);
}

bool HoldFolderAt(const char* path, FolderUse use, HeldFolder& folder) noexcept {
    const DWORD access = use == FolderUse::ForDeletion ? kHoldAccess : kReadAccess;
    // Holding for deletion waits a moment for whoever has the folder open
    // without sharing that (a scanner or an indexer looking in, a process
    // that is just ending and still has it as its current folder).
    for (int attempt = 1;; ++attempt) {
        folder.handle.reset(
            ::CreateFileA(path, access, kHoldSharing, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (folder.handle || use != FolderUse::ForDeletion || ::GetLastError() != ERROR_SHARING_VIOLATION ||
            attempt == kHoldAttempts) {
            break;
        }
        ::Sleep(kHoldRetryMs);
    }
    BY_HANDLE_FILE_INFORMATION info;
    return folder.handle && ::GetFileInformationByHandle(folder.handle.get(), &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && IdentityOf(folder.handle.get(), folder.identity);
}

EntryCheck OpenBelow(const HeldFolder& root, const char* name, EntryKind kind, DWORD access,
                     OpenedEntry& opened) noexcept {
    opened.entry.reset();
    for (HeldFolder& folder : opened.folders) folder.handle.reset();
    opened.depth = 0;
    const HeldFolder* parent = &root;
    int start = 0;
    for (int at = 0;; at += static_cast<int>(win32::CharacterBytes(name + at))) {
        const char c = name[at];
        if (c != '\0' && !win32::IsPathSeparator(c)) continue;
        if (at == start) return EntryCheck::EntryFailed;  // an empty part
        if (c == '\0') return OpenChild(*parent, name + start, at - start, kind, access, kEntrySharing, opened.entry);
        if (opened.depth == kMaxFolderDepth) return EntryCheck::EntryFailed;
        HeldFolder& next = opened.folders[opened.depth];
        const EntryCheck check = OpenChild(*parent, name + start, at - start, EntryKind::Folder, kHoldAccess,
                                           kHoldSharing, next.handle);
        if (check == EntryCheck::EntryMissing || check == EntryCheck::EntryOtherKind) {
            return EntryCheck::EntryFolderMissing;
        }
        if (check != EntryCheck::EntryReal) return check;
        if (!IdentityOf(next.handle.get(), next.identity)) return EntryCheck::EntryFailed;
        ++opened.depth;
        parent = &next;
        start = at + 1;
    }
}

void RemoveEmptyFolders(OpenedEntry& opened) noexcept {
    while (opened.depth > 0) {
        HeldFolder& folder = opened.folders[opened.depth - 1];
        if (!DeleteOpened(folder.handle.get())) return;  // not empty: its parents are not either
        folder.handle.reset();                           // it goes as its handle closes
        --opened.depth;
    }
}

bool DeleteOpened(HANDLE entry) noexcept {
    FILE_DISPOSITION_INFO_EX disposition = {kDispositionDelete | kDispositionPosixSemantics |
                                            kDispositionIgnoreReadOnly};
    if (::SetFileInformationByHandle(entry, kDispositionInfoEx, &disposition, sizeof disposition)) return true;
    // Items may carry the read-only attribute from the archive. Zero times
    // leave the times as they are.
    FILE_BASIC_INFO basic = {};
    if (!::GetFileInformationByHandleEx(entry, FileBasicInfo, &basic, sizeof basic)) return false;
    const DWORD attributes = basic.FileAttributes;
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) {
        basic = {};
        const DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        basic.FileAttributes = writable != 0 ? writable : FILE_ATTRIBUTE_NORMAL;
        if (!::SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic)) return false;
    }
    FILE_DISPOSITION_INFO plain = {TRUE};
    if (::SetFileInformationByHandle(entry, FileDispositionInfo, &plain, sizeof plain)) return true;
    if (readOnly) {
        basic = {};
        basic.FileAttributes = attributes;
        static_cast<void>(::SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic));
    }
    return false;
}

bool FinalPath(HANDLE entry, char (&path)[kFinalPathChars]) noexcept {
    char full[kFinalPathChars];
    const DWORD length = ::GetFinalPathNameByHandleA(entry, full, kFinalPathChars, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= static_cast<DWORD>(kFinalPathChars)) return false;
    if (StartsWith(full, "\\\\?\\UNC\\")) {
        ::lstrcpyA(path, "\\");  // \\?\UNC\server\share is \\server\share
        ::lstrcatA(path, full + sizeof "\\\\?\\UNC" - 1);
    } else {
        ::lstrcpyA(path, StartsWith(full, "\\\\?\\") ? full + sizeof "\\\\?\\" - 1 : full);
    }
    return true;
}

}  // namespace larkspan
