#include "tests/support/files.h"

#include "tools/packer/zip_packer.h"

#include <algorithm>
#include <atomic>

namespace support {

TempFolder::TempFolder(const std::string& label) {
    static std::atomic<unsigned> counter{0};
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const std::string root = std::string(temp) + "larkspan";
    ::CreateDirectoryA(root.c_str(), nullptr);
    // Process ids come again; a name an earlier run kept is passed over, so
    // nothing found here is ever removed.
    do {
        path_ = root + "\\" + label + "-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
    } while (!::CreateDirectoryA(path_.c_str(), nullptr) && ::GetLastError() == ERROR_ALREADY_EXISTS);
}

TempFolder::~TempFolder() {
    char keep[8] = {};
    if (::GetEnvironmentVariableA("LARKSPAN_E2E_KEEP", keep, sizeof keep) == 0) RemoveTree(path_);
}

CurrentDirectory::CurrentDirectory(const std::string& path) {
    ::GetCurrentDirectoryA(MAX_PATH, saved_);
    ::SetCurrentDirectoryA(path.c_str());
}

CurrentDirectory::~CurrentDirectory() { ::SetCurrentDirectoryA(saved_); }

void RemoveTree(const std::string& path) {
    // An empty path would list "\*", the root of the current drive.
    if (path.empty()) return;
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    // A read-only file cannot be deleted, nor a read-only folder removed.
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::DeleteFileA(path.c_str());
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        for (const std::string& name : ListFolder(path)) RemoveTree(path + "\\" + name);
    }
    ::RemoveDirectoryA(path.c_str());
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found{};
    HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::string WindowsPath(const std::string& path) {
    std::string result = path;
    if (!result.empty() && result[0] == '/') result = "Z:" + result;
    std::replace(result.begin(), result.end(), '/', '\\');
    return result;
}

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool FileExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string TakePendingDeletions() {
    constexpr char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
    constexpr char kPending[] = "PendingFileRenameOperations";
    char value[8192] = {};
    DWORD size = sizeof value - 2;
    if (::RegGetValueA(HKEY_LOCAL_MACHINE, kSessionManager, kPending, RRF_RT_REG_MULTI_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
    // Pairs of names, the second empty for a deletion: read by the size, not
    // up to the first empty string.
    std::string names(value, size);
    std::replace(names.begin(), names.end(), '\0', '\n');
    return names;
}

bool FolderExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::uint64_t Ticks(const FILETIME& time) {
    return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

std::uint64_t UnixTicks(std::uint32_t seconds) {
    return 116444736000000000ull + static_cast<std::uint64_t>(seconds) * 10000000ull;
}

FILETIME FileTimeOf(std::uint32_t unixSeconds) {
    const std::uint64_t ticks = UnixTicks(unixSeconds);
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

std::uint64_t DosTicks(std::uint32_t seconds) {
    const std::uint32_t dos = packer::DosDateTime(seconds);
    FILETIME time{};
    ::DosDateTimeToFileTime(static_cast<WORD>(dos >> 16), static_cast<WORD>(dos), &time);
    return Ticks(time);
}

double Now() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency;
}

}  // namespace support
