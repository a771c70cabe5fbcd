// Where the program lives, and the record of its installation: the text file
// "Larkspan.installed" in the program's folder, which names the files that the
// setup placed, each with its size as /Install found it. /Uninstall removes
// exactly those files, and only while their size is unchanged.
#pragma once

#include <windows.h>

namespace larkspan {

// The running program: its full path, its folder (no trailing backslash) and
// its file name (a pointer into `program`).
struct ProgramLocation {
    char program[MAX_PATH] = {};
    char folder[MAX_PATH] = {};
    const char* fileName = nullptr;
};
[[nodiscard]] bool LocateProgram(ProgramLocation& location) noexcept;

// folder + "\" + name into a MAX_PATH buffer; false when it does not fit.
[[nodiscard]] bool JoinPath(char (&path)[MAX_PATH], const char* folder, const char* name) noexcept;

// The size of a file (not a folder); false when there is none.
[[nodiscard]] bool FileSize(const char* path, ULONGLONG& size) noexcept;

// A stored name that stays inside the folder: relative, no drive, no ".."
// part, no empty part. A record is a file in a folder the user can write to,
// so every name read back from it is checked before anything is removed.
[[nodiscard]] bool IsSafeStoredName(const char* name) noexcept;

// Writes the record: the product, version and time (UTC), then one line per
// payload item found in the folder. `totalBytes` is the sum of their sizes.
[[nodiscard]] bool WriteInstallationRecord(const char* folder, ULONGLONG& totalBytes) noexcept;

// The record as read back, walked one recorded file at a time.
constexpr DWORD kRecordLimit = 64 * 1024;
struct InstallationRecord {
    char text[kRecordLimit + 1] = {};
    DWORD length = 0;
    DWORD cursor = 0;
};
struct RecordedFile {
    char name[MAX_PATH] = {};
    ULONGLONG size = 0;
};
// False when there is no record, it cannot be read or is larger than the limit.
[[nodiscard]] bool ReadInstallationRecord(const char* folder, InstallationRecord& record) noexcept;
// The next well-formed file line with a safe name; false at the end.
[[nodiscard]] bool NextRecordedFile(InstallationRecord& record, RecordedFile& file) noexcept;

}  // namespace larkspan
