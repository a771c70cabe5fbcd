// Makes sure a folder exists, creating it with every missing folder above it.
#pragma once

// `path` is a writable, NUL-terminated ANSI path; it is cut after each
// separator while its prefix is checked and given back unchanged. Returns the
// result of the last CreateDirectoryA call made (non-zero for success), or 1
// when every folder already existed. Of a UNC path only the levels below
// "\\server\share\" are created; a missing share gives 0.
[[nodiscard]] int CreateFolderPath(char* path) noexcept;

// True when `path` names an existing folder.
[[nodiscard]] bool IsExistingFolder(const char* path) noexcept;
