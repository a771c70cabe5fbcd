#include "app/program_file.h"

#include <aclapi.h>
#include <bcrypt.h>
#include <sddl.h>
#include <winternl.h>

#include "common/load_system_library.h"
#include "common/unique_handle.h"
#include "common/unique_local.h"
#include "common/unique_module.h"

namespace larkspan {
namespace {

constexpr int kRandomBytes = 16;
constexpr int kRandomNameChars = sizeof "Larkspan-" + 2 * kRandomBytes;
constexpr int kNameAttempts = 16;  // a taken name is rare; a run of them means something else is wrong
constexpr char kSystemTemp[] = "\\Temp\\";
// Full control for administrators and the system, nothing inherited from the
// temporary folder: nobody with a user's rights can open, change or replace
// what a run with rights puts there.
constexpr char kAdministratorsOnly[] = "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
constexpr DWORD kPrivateAccess = FILE_ADD_FILE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | DELETE | SYNCHRONIZE;
constexpr ULONG kCreateNew = 2;  // FILE_CREATE
constexpr NTSTATUS kStatusNameCollision = static_cast<NTSTATUS>(0xC0000035L);
constexpr NTSTATUS kStatusNotSameDevice = static_cast<NTSTATUS>(0xC00000D4L);
constexpr DWORD kProgramAccess = DELETE | FILE_READ_ATTRIBUTES;

// "Larkspan-" and 32 hexadecimal digits from the system's random generator.
[[nodiscard]] bool RandomName(wchar_t (&name)[kRandomNameChars]) noexcept {
    using GenRandom = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, ULONG);
    const win32::UniqueModule bcrypt(win32::LoadSystemLibrary("bcrypt.dll"));
    const auto genRandom = bcrypt ? reinterpret_cast<GenRandom>(
                                        reinterpret_cast<void (*)()>(::GetProcAddress(bcrypt.get(), "BCryptGenRandom")))
                                  : nullptr;
    BYTE bytes[kRandomBytes];
    if (genRandom == nullptr || genRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
        return false;
    }
    constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    int length = ::wsprintfW(name, L"Larkspan-");
    for (const BYTE b : bytes) {
        name[length++] = kDigits[b >> 4];
        name[length++] = kDigits[b & 0xF];
    }
    name[length] = L'\0';
    return true;
}

[[nodiscard]] bool TempFolder(bool elevated, char (&temp)[MAX_PATH]) noexcept {
    if (!elevated) {
        const DWORD length = ::GetTempPathA(MAX_PATH, temp);
        return length != 0 && length < MAX_PATH;
    }
    // Not the environment's: a process with the user's rights can point that
    // anywhere, and it can write in the user's own temporary folder.
    const UINT length = ::GetSystemWindowsDirectoryA(temp, MAX_PATH);
    if (length == 0 || length + sizeof kSystemTemp > MAX_PATH) return false;
    ::lstrcatA(temp, kSystemTemp);
    return true;
}

// The root of the drive (or the folder a volume is mounted at) that holds the
// open file.
[[nodiscard]] bool DriveRootOf(HANDLE file, char (&root)[MAX_PATH]) noexcept {
    char path[kFinalPathChars];
    return FinalPath(file, path) && ::GetVolumePathNameA(path, root, MAX_PATH) != FALSE;
}

// A new folder under a random name in `parentPath`, made and opened in one
// step relative to the parent's handle: never a folder or link that was there
// already. `restricted`: only administrators and the system may use it.
[[nodiscard]] bool MakePrivateFolder(const char* parentPath, bool restricted, win32::UniqueFile& folder) noexcept {
    const win32::UniqueFile parent(::CreateFileA(parentPath, FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | SYNCHRONIZE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    win32::UniqueLocal descriptor;
    if (!parent || (restricted && !::ConvertStringSecurityDescriptorToSecurityDescriptorA(
                                      kAdministratorsOnly, SDDL_REVISION_1,
                                      reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr))) {
        return false;
    }
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        wchar_t name[kRandomNameChars];
        if (!RandomName(name)) return false;
        UNICODE_STRING text;
        text.Buffer = name;
        text.Length = static_cast<USHORT>(::lstrlenW(name) * sizeof(wchar_t));
        text.MaximumLength = text.Length;
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, parent.get(), descriptor.get());
        IO_STATUS_BLOCK io;
        HANDLE made = nullptr;
        const NTSTATUS status = ::NtCreateFile(
            &made, kPrivateAccess, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE,
            kCreateNew, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
        if (status == kStatusNameCollision) continue;  // never use what is there already
        if (status < 0) return false;
        folder.reset(made);
        return true;
    }
    return false;
}

// The open file's own name, the last part of the name the system gives it.
[[nodiscard]] bool OwnName(HANDLE file, wchar_t (&name)[MAX_PATH]) noexcept {
    wchar_t path[kFinalPathChars];
    const DWORD length = ::GetFinalPathNameByHandleW(file, path, kFinalPathChars, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= static_cast<DWORD>(kFinalPathChars)) return false;
    DWORD start = length;
    while (start > 0 && path[start - 1] != L'\\') --start;
    if (length - start >= MAX_PATH) return false;
    ::lstrcpyW(name, path + start);
    return true;
}

// Moves the file into a new folder made in `parentPath`.
[[nodiscard]] ProgramOutcome MoveInto(HANDLE program, const wchar_t* name, const char* parentPath, bool elevated,
                                      char (&movedTo)[kFinalPathChars], const ProgramFileCalls& calls) noexcept {
    win32::UniqueFile folder;
    if (!MakePrivateFolder(parentPath, elevated, folder)) return ProgramOutcome::ProgramNoTemporaryFolder;
    // FILE_RENAME_INFORMATION ends in the name; the new folder is named by its
    // handle, so the move cannot be sent elsewhere.
    alignas(FILE_RENAME_INFORMATION) BYTE buffer[sizeof(FILE_RENAME_INFORMATION) + MAX_PATH * sizeof(wchar_t)] = {};
    auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer);
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = folder.get();
    rename->FileNameLength = static_cast<ULONG>(::lstrlenW(name) * sizeof(wchar_t));
    ::CopyMemory(rename->FileName, name, rename->FileNameLength);
    IO_STATUS_BLOCK io;
    const NTSTATUS status = calls.rename(program, &io, rename, sizeof buffer, FileRenameInformation);
    if (status < 0) {
        static_cast<void>(DeleteOpened(folder.get()));  // empty: it goes as its handle closes
        return status == kStatusNotSameDevice ? ProgramOutcome::ProgramOtherVolume
                                              : ProgramOutcome::ProgramNoTemporaryFolder;
    }
    if (!FinalPath(program, movedTo)) movedTo[0] = '\0';
    // The file first, then its folder: the restart deletes them in this order.
    if (elevated && DeleteAtRestart(program, calls.rights) && DeleteAtRestart(folder.get(), calls.rights)) {
        return ProgramOutcome::ProgramMovedForRestart;
    }
    return ProgramOutcome::ProgramMoved;
}

// The open entry's name as the system gives it (links resolved), without the
// "\\?\" in front; false for a name of another form (a network share).
[[nodiscard]] bool DrivePath(HANDLE entry, wchar_t (&path)[kFinalPathChars]) noexcept {
    wchar_t full[kFinalPathChars];
    const DWORD length = ::GetFinalPathNameByHandleW(entry, full, kFinalPathChars, FILE_NAME_NORMALIZED);
    constexpr int kPrefix = 4;  // "\\?\"
    if (length == 0 || length >= static_cast<DWORD>(kFinalPathChars) || length < kPrefix + 3 ||
        ::CompareStringOrdinal(full, kPrefix, L"\\\\?\\", kPrefix, FALSE) != CSTR_EQUAL || full[kPrefix + 1] != L':' ||
        full[kPrefix + 2] != L'\\') {
        return false;
    }
    ::lstrcpyW(path, full + kPrefix);
    return true;
}

// Whether a user with the rights that `rights` tells could put something else
// at `path` (a drive path, "X:\...") before Windows restarts: replace the entry,
// or a folder on its way, with a link (add to a folder, and take away or
// rename what is in it). Anything that cannot be told counts as could. The
// path is walked in place; it is whole again whenever the answer is false.
[[nodiscard]] bool CouldUserReplace(wchar_t (&path)[kFinalPathChars], UserRightsQuery rights) noexcept {
    // To put something else at a name, one must add to its folder and take
    // away what has the name now (or rename it). Whoever may change a
    // folder's permissions or owner may do both.
    constexpr DWORD kTakeOver = WRITE_DAC | WRITE_OWNER;
    constexpr DWORD kAdd = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | kTakeOver;
    constexpr DWORD kTakeAwayChild = FILE_DELETE_CHILD | kTakeOver;
    constexpr DWORD kTakeAway = DELETE | kTakeOver;
    // From the drive's root, one name at a time: each folder on the way, the
    // entry last. The root itself cannot be replaced.
    int end = 3;  // after "X:\"
    wchar_t saved = path[end];
    path[end] = L'\0';
    DWORD parent = 0;
    if (!rights(path, parent)) return true;
    path[end] = saved;
    while (path[end] != L'\0') {
        while (path[end] != L'\0' && path[end] != L'\\') ++end;
        saved = path[end];
        path[end] = L'\0';
        DWORD child = 0;
        if (!rights(path, child)) return true;
        if ((parent & kAdd) != 0 && ((parent & kTakeAwayChild) != 0 || (child & kTakeAway) != 0)) return true;
        path[end] = saved;
        if (saved != L'\0') ++end;
        parent = child;
    }
    return false;
}

[[nodiscard]] ProgramOutcome MoveProgramOut(HANDLE program, bool elevated, char (&movedTo)[kFinalPathChars],
                                            const ProgramFileCalls& calls) noexcept {
    wchar_t name[MAX_PATH];
    char temp[MAX_PATH];
    if (!OwnName(program, name) || !TempFolder(elevated, temp)) return ProgramOutcome::ProgramNoTemporaryFolder;
    const ProgramOutcome moved = MoveInto(program, name, temp, elevated, movedTo, calls);
    // A program on another drive than the temporary folder (installed on D:,
    // say) would otherwise stay for good: its own drive's root takes it.
    char root[MAX_PATH];
    if (moved != ProgramOutcome::ProgramOtherVolume || !DriveRootOf(program, root)) return moved;
    const ProgramOutcome again = MoveInto(program, name, root, elevated, movedTo, calls);
    return again == ProgramOutcome::ProgramNoTemporaryFolder ? ProgramOutcome::ProgramOtherVolume : again;
}

}  // namespace

ProgramOutcome SettleProgramFile(HANDLE program, const FileIdentity& identity, bool elevated,
                                 char (&movedTo)[kFinalPathChars], char (&atRestart)[kFinalPathChars],
                                 const ProgramFileCalls& calls) noexcept {
    movedTo[0] = '\0';
    atRestart[0] = '\0';
    // It is opened again for moving, not shared for that, so that nobody can
    // move it meanwhile and put another file at its name; and it must be the
    // same file still (Wine opens it again by its name). Open elsewhere
    // without sharing a move, it is in use.
    const win32::UniqueFile movable(::ReOpenFile(program, kProgramAccess, FILE_SHARE_READ, 0));
    FileIdentity reopened;
    if (movable && (!IdentityOf(movable.get(), reopened) || !(reopened == identity))) {
        return ProgramOutcome::ProgramChanged;
    }
    ProgramOutcome outcome = ProgramOutcome::ProgramInUse;
    if (movable) {
        outcome = MoveProgramOut(movable.get(), elevated, movedTo, calls);
        if (outcome == ProgramOutcome::ProgramMoved || outcome == ProgramOutcome::ProgramMovedForRestart) {
            return outcome;
        }
    }
    if (elevated && FinalPath(program, atRestart) && DeleteAtRestart(program, calls.rights)) {
        return ProgramOutcome::ProgramAtRestart;
    }
    atRestart[0] = '\0';
    return outcome;
}

bool StandardUserRights(const wchar_t* path, DWORD& granted) noexcept {
    granted = 0;
    // The user's own token without what only an elevated run has: the groups
    // of administrators (deny-only, as in the user's filtered token) and every
    // privilege. AccessCheck takes it as an impersonation token.
    win32::UniqueHandle own;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, own.put())) return false;
    constexpr WELL_KNOWN_SID_TYPE kAdministrativeGroups[] = {WinBuiltinAdministratorsSid, WinBuiltinBackupOperatorsSid,
                                                             WinBuiltinPowerUsersSid};
    BYTE sids[sizeof kAdministrativeGroups / sizeof kAdministrativeGroups[0]][SECURITY_MAX_SID_SIZE];
    SID_AND_ATTRIBUTES disabled[sizeof kAdministrativeGroups / sizeof kAdministrativeGroups[0]] = {};
    DWORD count = 0;
    for (const WELL_KNOWN_SID_TYPE group : kAdministrativeGroups) {
        DWORD size = SECURITY_MAX_SID_SIZE;
        if (!::CreateWellKnownSid(group, nullptr, sids[count], &size)) return false;
        disabled[count].Sid = sids[count];
        ++count;
    }
    win32::UniqueHandle restricted;
    win32::UniqueHandle user;
    if (!::CreateRestrictedToken(own.get(), DISABLE_MAX_PRIVILEGE, count, disabled, 0, nullptr, 0, nullptr,
                                 restricted.put()) ||
        !::DuplicateToken(restricted.get(), SecurityIdentification, user.put())) {
        return false;
    }
    const win32::UniqueFile entry(
        ::CreateFileW(path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    win32::UniqueLocal descriptor;
    if (!entry || ::GetSecurityInfo(entry.get(), SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, nullptr, nullptr,
                                    reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS) {
        return false;
    }
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges;
    DWORD privilegesSize = sizeof privileges;
    BOOL allowed = FALSE;
    // Nothing allowed at all is an answer too: allowed is false, granted 0.
    return ::AccessCheck(descriptor.get(), user.get(), MAXIMUM_ALLOWED, &mapping, &privileges, &privilegesSize,
                         &granted, &allowed) != FALSE;
}

bool DeleteAtRestart(HANDLE entry, UserRightsQuery rights) noexcept {
    // A name of another form than a drive path (a network share) is never
    // left for the restart.
    wchar_t path[kFinalPathChars];
    return DrivePath(entry, path) && !CouldUserReplace(path, rights) &&
           ::MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

}  // namespace larkspan
