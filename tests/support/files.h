// Files, folders and clocks for the Windows test and benchmark programs:
// temporary folders, the current directory for a while, removal of whole
// trees, listings, file times.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace support {

// A new, empty folder <temporary folder>\larkspan\<label>-<process>-<n>,
// removed with everything in it when the object ends, unless the environment
// variable LARKSPAN_E2E_KEEP is set (to look at what a test, mostly an
// end-to-end installation, left behind).
class TempFolder {
public:
    explicit TempFolder(const std::string& label = "test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    [[nodiscard]] const std::string& path() const { return path_; }
    // path() joined with `relative` by a backslash.
    [[nodiscard]] std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

private:
    std::string path_;
};

// Makes path the process's current directory for the object's lifetime.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::string& path);
    ~CurrentDirectory();
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

private:
    char saved_[MAX_PATH] = {};
};

// Removes what is at `path`: a file, or a folder with everything below it.
// Read-only and hidden entries go too; a junction or symbolic link is removed
// itself, never what it points to.
void RemoveTree(const std::string& path);
// The names in a folder, sorted, without "." and "..".
std::vector<std::string> ListFolder(const std::string& folder);

// The Windows path of a file given in either form (Z: for Unix paths).
std::string WindowsPath(const std::string& path);

// What Windows is to delete when it next restarts, as names each followed by a
// newline (a deletion is a name and an empty one); forgotten once read, as a
// test prefix never restarts.
std::string TakePendingDeletions();

bool Exists(const std::string& path);      // anything
bool FileExists(const std::string& path);  // a file, not a folder
bool FolderExists(const std::string& path);

// The FILETIME as one 64-bit number.
std::uint64_t Ticks(const FILETIME& time);
// Ticks of a Unix time.
std::uint64_t UnixTicks(std::uint32_t seconds);
FILETIME FileTimeOf(std::uint32_t unixSeconds);
// Ticks of the DOS date and time a Unix time is stored as (no zone applied).
std::uint64_t DosTicks(std::uint32_t seconds);

// Seconds since an arbitrary origin, from the performance counter.
double Now();

}  // namespace support
