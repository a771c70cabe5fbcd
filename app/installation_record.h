// Where the program lives, and the record of its installation: the text file
// "Larkspan.installed" in the program's folder, which names the files that the
// setup placed, each with its size and CRC-32 as /Install found it, and the
// Start-menu shortcut that /Install made:
//   File: 38 crc32:1A2B3C4D docs\Guide.txt
//   Shortcut: C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Orvane\Larkspan.lnk
// /Uninstall removes exactly those files, and only while both are unchanged.
// Records of earlier builds hold sizes only ("File: 38 docs\Guide.txt"); they
// are read, and their files are kept, since nothing shows that they are unchanged.
#pragma once

#include <windows.h>

#include "common/unique_handle.h"

#include <cstdint>

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

// Size and CRC-32 (zlib's) of an open file's contents from its start; false
// when it cannot be read.
[[nodiscard]] bool FileChecksum(HANDLE file, ULONGLONG& size, std::uint32_t& crc) noexcept;

// A stored name that stays inside the folder: relative, no drive, no ".."
// part, no empty part. A record is a file in a folder the user can write to,
// so every name read back from it is checked before anything is removed.
[[nodiscard]] bool IsSafeStoredName(const char* name) noexcept;

// Writes the record: the product, version and time (UTC), then one line per
// payload item found in the folder, with its size and CRC-32. `totalBytes` is
// the sum of their sizes. `record` stays open for the lines that follow.
[[nodiscard]] bool WriteInstallationRecord(const char* folder, ULONGLONG& totalBytes,
                                           win32::UniqueFile& record) noexcept;
// Appends "prefix text" as a line.
[[nodiscard]] bool AppendRecordLine(HANDLE record, const char* prefix, const char* text) noexcept;
inline constexpr char kShortcutPrefix[] = "Shortcut: ";
inline constexpr char kNotMadePrefix[] = "Not made: ";

// The record as read back, walked one recorded file at a time; the lines of
// files that went are marked, so that the record can be written again with
// only what is left.
constexpr DWORD kRecordLimit = 64 * 1024;
struct InstallationRecord {
    char text[kRecordLimit + 1] = {};
    DWORD length = 0;
    DWORD cursor = 0;
    BYTE gone[kRecordLimit / 8 + 1] = {};  // one bit per offset where a line starts
    char shortcut[MAX_PATH] = {};          // empty when no shortcut is recorded
};
struct RecordedFile {
    char name[MAX_PATH] = {};
    ULONGLONG size = 0;
    std::uint32_t crc = 0;
    bool hasCrc = false;  // false in a record of an earlier build
    DWORD line = 0;       // where its line starts
};
// Reads the record from the open file. False when it is larger than the limit,
// cannot be read, or is damaged: its first line does not name the product, or
// a file line is not well formed or names a path that leaves the folder.
// Nothing is removed on a record that is not whole.
[[nodiscard]] bool ReadInstallationRecord(HANDLE file, InstallationRecord& record) noexcept;
// The next file line; false at the end.
[[nodiscard]] bool NextRecordedFile(InstallationRecord& record, RecordedFile& file) noexcept;
// Whether the record has a file line whose name is `name` (the same letters,
// compared ordinally, in either case).
[[nodiscard]] bool NamesFile(InstallationRecord& record, const char* name) noexcept;
void MarkGone(InstallationRecord& record, const RecordedFile& file) noexcept;
// Writes the record again into the open file, without the lines marked gone.
[[nodiscard]] bool RewriteInstallationRecord(HANDLE file, const InstallationRecord& record) noexcept;

}  // namespace larkspan
