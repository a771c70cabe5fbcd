#include "app/program_file.h"

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

// A new folder under a random name in the temporary folder, made and opened in
// one step relative to the temporary folder's handle: never a folder or link
// that was there already.
[[nodiscard]] bool MakePrivateFolder(bool elevated, win32::UniqueFile& folder) noexcept {
    char temp[MAX_PATH];
    if (!TempFolder(elevated, temp)) return false;
    const win32::UniqueFile parent(::CreateFileA(temp, FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | SYNCHRONIZE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    win32::UniqueLocal descriptor;
    if (!parent || (elevated && !::ConvertStringSecurityDescriptorToSecurityDescriptorA(
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

}  // namespace

ProgramMove MoveProgramOut(HANDLE program, bool elevated, char (&movedTo)[kFinalPathChars]) noexcept {
    movedTo[0] = '\0';
    wchar_t name[MAX_PATH];
    win32::UniqueFile folder;
    if (!OwnName(program, name) || !MakePrivateFolder(elevated, folder)) return ProgramMove::ProgramNotMoved;
    // FILE_RENAME_INFORMATION ends in the name; the new folder is named by its
    // handle, so the move cannot be sent elsewhere.
    alignas(FILE_RENAME_INFORMATION) BYTE buffer[sizeof(FILE_RENAME_INFORMATION) + MAX_PATH * sizeof(wchar_t)] = {};
    auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer);
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = folder.get();
    rename->FileNameLength = static_cast<ULONG>(::lstrlenW(name) * sizeof(wchar_t));
    ::CopyMemory(rename->FileName, name, rename->FileNameLength);
    IO_STATUS_BLOCK io;
    const NTSTATUS status = ::NtSetInformationFile(program, &io, rename, sizeof buffer, FileRenameInformation);
    if (status < 0) {
        static_cast<void>(DeleteOpened(folder.get()));  // empty: it goes as its handle closes
        return status == kStatusNotSameDevice ? ProgramMove::ProgramOtherVolume : ProgramMove::ProgramNotMoved;
    }
    if (!FinalPath(program, movedTo)) movedTo[0] = '\0';
    // The file first, then its folder: the restart deletes them in this order.
    if (elevated) static_cast<void>(DeleteAtRestart(program) && DeleteAtRestart(folder.get()));
    return ProgramMove::ProgramMoved;
}

bool DeleteAtRestart(HANDLE entry) noexcept {
    char path[kFinalPathChars];
    return FinalPath(entry, path) && ::MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

}  // namespace larkspan
