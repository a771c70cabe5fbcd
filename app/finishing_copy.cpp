#include "app/finishing_copy.h"

#include <bcrypt.h>

#include "app/elevation.h"
#include "app/installation_record.h"
#include "app/product_info.h"
#include "app/real_path.h"
#include "common/load_system_library.h"
#include "common/unique_handle.h"
#include "common/unique_module.h"

#include <cstdint>

namespace larkspan {
namespace {

constexpr char kFinishSwitch[] = "/FinishUninstall";
constexpr char kCopyName[] = "Larkspan-Uninstall.exe";
constexpr char kLeftTitle[] = LARKSPAN_APP_TITLE;
constexpr char kProgramStays[] =
    "The program file\n%s\ncould not be removed. You can remove it, and its folder, by deleting them.";
constexpr int kRandomBytes = 16;
constexpr int kRandomNameChars = sizeof "Larkspan-" + 2 * kRandomBytes + sizeof ".tmp";
constexpr int kNameAttempts = 16;  // a taken name is rare; a run of them means something else is wrong
constexpr int kCommandChars = MAX_PATH + 128;
constexpr int kMessageChars = 2 * MAX_PATH;
constexpr int kHandleCount = 5;
constexpr DWORD kCopyChunk = 16 * 1024;
constexpr int kDeleteAttempts = 50;  // the ended program's file can stay mapped for a moment
constexpr DWORD kDeleteRetryMs = 100;

// "Larkspan-" and 32 hexadecimal digits from the system's random generator,
// and `suffix`.
[[nodiscard]] bool RandomName(char (&name)[kRandomNameChars], const char* suffix) noexcept {
    using GenRandom = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, ULONG);
    const win32::UniqueModule bcrypt(win32::LoadSystemLibrary("bcrypt.dll"));
    const auto genRandom = bcrypt ? reinterpret_cast<GenRandom>(
                                        reinterpret_cast<void (*)()>(::GetProcAddress(bcrypt.get(), "BCryptGenRandom")))
                                  : nullptr;
    BYTE bytes[kRandomBytes];
    if (genRandom == nullptr || genRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
        return false;
    }
    int length = ::wsprintfA(name, "Larkspan-");
    for (const BYTE b : bytes) length += ::wsprintfA(name + length, "%02X", b);
    ::lstrcpyA(name + length, suffix);
    return true;
}

// temp (with its trailing backslash) + a new random name + suffix.
[[nodiscard]] bool RandomPath(char (&path)[MAX_PATH], const char* temp, const char* suffix) noexcept {
    char name[kRandomNameChars];
    if (!RandomName(name, suffix) || ::lstrlenA(temp) + ::lstrlenA(name) >= MAX_PATH) return false;
    ::lstrcpyA(path, temp);
    ::lstrcatA(path, name);
    return true;
}

[[nodiscard]] bool TempPath(char (&temp)[MAX_PATH]) noexcept {
    const DWORD length = ::GetTempPathA(MAX_PATH, temp);
    return length != 0 && length < MAX_PATH;
}

// A new folder under a random name, held for deletion and not shared for it.
[[nodiscard]] bool MakePrivateFolder(const char* temp, char (&path)[MAX_PATH], win32::UniqueFile& folder) noexcept {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (!RandomPath(path, temp, "")) return false;
        if (!::CreateDirectoryA(path, nullptr)) {
            if (::GetLastError() == ERROR_ALREADY_EXISTS) continue;  // never use what is there already
            return false;
        }
        folder.reset(::CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        BY_HANDLE_FILE_INFORMATION info;
        if (!folder || !::GetFileInformationByHandle(folder.get(), &info)) return false;
        return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    }
    return false;
}

[[nodiscard]] bool CopyContents(HANDLE from, HANDLE to) noexcept {
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(from, start, nullptr, FILE_BEGIN)) return false;
    BYTE chunk[kCopyChunk];
    for (;;) {
        DWORD read = 0;
        DWORD written = 0;
        if (!::ReadFile(from, chunk, kCopyChunk, &read, nullptr)) return false;
        if (read == 0) return true;
        if (!::WriteFile(to, chunk, read, &written, nullptr) || written != read) return false;
    }
}

// Writes the program into a new file at `path`, then opens it again for
// reading and deletion on close, shared for reading only, and checks that it
// holds the program: from then on nobody can change, rename or replace it.
[[nodiscard]] bool WriteCopy(HANDLE program, const char* path, win32::UniqueFile& copy) noexcept {
    {
        win32::UniqueFile written(
            ::CreateFileA(path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!written) return false;
        if (!CopyContents(program, written.get())) {
            static_cast<void>(DeleteOpened(written.get()));
            return false;
        }
    }
    copy.reset(::CreateFileA(path, GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    ULONGLONG programSize = 0, copySize = 0;
    std::uint32_t programCrc = 0, copyCrc = 0;
    return copy && ::GetFileInformationByHandle(copy.get(), &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
           FileChecksum(program, programSize, programCrc) && FileChecksum(copy.get(), copySize, copyCrc) &&
           programSize == copySize && programCrc == copyCrc;
}

// Starts the copy with inheritable duplicates of `handles` (the first is
// this process) named on its command line.
[[nodiscard]] bool StartCopy(const char* copyPath, const char* temp, const HANDLE (&handles)[kHandleCount]) noexcept {
    win32::UniqueHandle inherited[kHandleCount];
    for (int i = 0; i < kHandleCount; ++i) {
        // A handle of this very process: the copy waits for it, never for a
        // later one that reuses the id.
        const DWORD access = i == 0 ? SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION : 0;
        if (!::DuplicateHandle(::GetCurrentProcess(), handles[i], ::GetCurrentProcess(), inherited[i].put(), access,
                               TRUE, i == 0 ? 0 : DUPLICATE_SAME_ACCESS)) {
            return false;
        }
    }
    char command[kCommandChars];
    ::wsprintfA(command, "\"%s\" %s %lu %lu %lu %lu %lu", copyPath, kFinishSwitch, HandleToULong(inherited[0].get()),
                HandleToULong(inherited[1].get()), HandleToULong(inherited[2].get()), HandleToULong(inherited[3].get()),
                HandleToULong(inherited[4].get()));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    // The copy's current directory is the temporary folder, so that it holds
    // no handle on a folder it is to remove.
    if (!::CreateProcessA(copyPath, command, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, temp, &startup,
                          &info)) {
        return false;
    }
    const win32::UniqueHandle process(info.hProcess);
    const win32::UniqueHandle thread(info.hThread);
    return true;
}

// Renames the open file to `path` (replacing nothing).
[[nodiscard]] bool RenameOpened(HANDLE file, const char* path) noexcept {
    constexpr char kNtPrefix[] = "\\??\\";
    char target[MAX_PATH + sizeof kNtPrefix];
    ::lstrcpyA(target, kNtPrefix);
    ::lstrcatA(target, path);
    // FILE_RENAME_INFO ends in the name, in wide characters.
    alignas(FILE_RENAME_INFO) BYTE buffer[sizeof(FILE_RENAME_INFO) + sizeof target * sizeof(WCHAR)] = {};
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
    const int characters = ::MultiByteToWideChar(CP_ACP, 0, target, -1, info->FileName, sizeof target);
    if (characters <= 1) return false;
    info->FileNameLength = static_cast<DWORD>((characters - 1) * sizeof(WCHAR));
    return ::SetFileInformationByHandle(file, FileRenameInfo, info, sizeof buffer) != FALSE;
}

// Whether the handle is open on this process's own program file (a copy
// started by hand with made-up numbers must not rename whatever they hold).
[[nodiscard]] bool IsOwnProgramFile(HANDLE file) noexcept {
    char self[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    const win32::UniqueFile own(::CreateFileA(self, FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION ownInfo;
    BY_HANDLE_FILE_INFORMATION info;
    return own && ::GetFileInformationByHandle(own.get(), &ownInfo) && ::GetFileInformationByHandle(file, &info) &&
           ownInfo.dwVolumeSerialNumber == info.dwVolumeSerialNumber && ownInfo.nFileIndexHigh == info.nFileIndexHigh &&
           ownInfo.nFileIndexLow == info.nFileIndexLow;
}

// The copy's last step: its file, which cannot go while it runs, moves out of
// its folder to a random name beside it, so that the folder can go now and
// the file when the copy ends and its last handle closes.
void LeavePrivateFolder(HANDLE copy, HANDLE privateFolder) noexcept {
    char temp[MAX_PATH];
    char target[MAX_PATH];
    if (!TempPath(temp) || !IsOwnProgramFile(copy)) return;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (!RandomPath(target, temp, ".tmp")) return;
        if (RenameOpened(copy, target)) break;
        if (::GetLastError() != ERROR_ALREADY_EXISTS && ::GetLastError() != ERROR_FILE_EXISTS) return;
    }
    static_cast<void>(DeleteOpened(privateFolder));  // only when the copy has left it
}

[[nodiscard]] bool IsBlank(char c) noexcept { return c == ' ' || c == '\t'; }

}  // namespace

bool StartFinishingCopy(HANDLE program, HANDLE folder) noexcept {
    char temp[MAX_PATH];
    char privatePath[MAX_PATH];
    char copyPath[MAX_PATH];
    win32::UniqueFile privateFolder;
    win32::UniqueFile copy;
    if (!TempPath(temp) || !MakePrivateFolder(temp, privatePath, privateFolder)) return false;
    if (JoinPath(copyPath, privatePath, kCopyName) && WriteCopy(program, copyPath, copy) &&
        StartCopy(copyPath, temp, {::GetCurrentProcess(), program, folder, privateFolder.get(), copy.get()})) {
        return true;
    }
    copy.reset();  // deleted as it closes
    static_cast<void>(DeleteOpened(privateFolder.get()));
    return false;
}

bool ParseFinishArguments(const char* commandLine, FinishHandles& handles) noexcept {
    if (commandLine == nullptr) return false;
    const char* at = commandLine;
    while (IsBlank(*at)) ++at;
    const int switchLength = sizeof kFinishSwitch - 1;
    if (::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, at, switchLength, kFinishSwitch, switchLength) !=
            CSTR_EQUAL ||
        !IsBlank(at[switchLength])) {
        return false;
    }
    at += switchLength;
    HANDLE* const fields[kHandleCount] = {&handles.original, &handles.program, &handles.folder, &handles.privateFolder,
                                          &handles.copy};
    for (HANDLE* field : fields) {
        while (IsBlank(*at)) ++at;
        ULONGLONG value = 0;
        const char* digits = at;
        while (*at >= '0' && *at <= '9' && value <= MAXDWORD) value = value * 10 + static_cast<ULONGLONG>(*at++ - '0');
        if (at == digits || value == 0 || value > MAXDWORD) return false;
        *field = ULongToHandle(static_cast<ULONG>(value));
    }
    for (; *at != '\0'; ++at) {
        if (!IsBlank(*at) && *at != '\r' && *at != '\n') return false;
    }
    return true;
}

int RunFinishStep(const FinishHandles& handles) noexcept {
    win32::UniqueHandle process(handles.original);
    win32::UniqueFile program(handles.program);
    win32::UniqueFile folder(handles.folder);
    const win32::UniqueFile privateFolder(handles.privateFolder);
    const win32::UniqueFile copy(handles.copy);
    const win32::UniqueHandle removal(::CreateMutexA(nullptr, FALSE, kRemovalMutex));
    // Only a real, other process that has ended releases its program file.
    const bool ended = ::GetProcessId(process.get()) != 0 && ::GetProcessId(process.get()) != ::GetCurrentProcessId() &&
                       ::WaitForSingleObject(process.get(), INFINITE) == WAIT_OBJECT_0;
    // An ended process keeps its program file in use while a handle to it is open.
    process.reset();
    bool removed = false;
    for (int attempt = 0; ended && attempt < kDeleteAttempts && !removed; ++attempt) {
        removed = DeleteOpened(program.get());
        if (!removed) ::Sleep(kDeleteRetryMs);
    }
    char programPath[kFinalPathChars] = {};
    if (!removed && ended && FinalPath(program.get(), programPath)) {
        char text[kMessageChars + sizeof kProgramStays];
        ::wsprintfA(text, kProgramStays, WithoutLongPrefix(programPath));
        ::MessageBoxA(nullptr, text, kLeftTitle, MB_OK | MB_ICONWARNING);
    }
    program.reset();  // the file goes as its last handle closes
    if (removed) RemoveHeldFolderIfEmpty(folder);
    LeavePrivateFolder(copy.get(), privateFolder.get());
    return removed ? kUninstallDone : kUninstallIncomplete;
}

}  // namespace larkspan
