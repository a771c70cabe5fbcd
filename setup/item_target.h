// Where an archive item is written: the destination folder joined with the
// item's stored name. A stored name comes from the archive and is not trusted:
// only names that stay below the destination folder are accepted.
#pragma once

#include <cstddef>

// True when `storedName` names a file of its own below the folder it is joined
// to: not empty, and accepted by StoredNameStaysInside (no absolute path, no
// colon, no component ending in a dot or a blank, such as "..", and no device
// name such as "nul.txt" or "COM1").
[[nodiscard]] bool IsSafeItemName(const char* storedName) noexcept;

// Joins `folder`, a backslash unless the folder already ends in \ or /, and
// `storedName` as stored, into `out` (capacity `outSize`, terminator included).
// False, with `out` emptied, when the name is not safe or the joined path does
// not fit (more than outSize - 1 characters).
[[nodiscard]] bool BuildItemTarget(char* out, std::size_t outSize, const char* folder, const char* storedName) noexcept;
