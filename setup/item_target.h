// Where an archive item is written: the destination folder joined with the
// item's stored name. A stored name comes from the archive and is not trusted:
// only names that stay below the destination folder are accepted.
#pragma once

#include <cstddef>

// True when `storedName` names a place below the folder it is joined to: not
// empty, not absolute (no leading / or \), no drive or stream colon, and no
// ".." component (components are split at / and at \; a component made only
// of dots and blanks, with two dots or more, counts as "..", since the system
// trims such components to "..").
[[nodiscard]] bool IsSafeItemName(const char* storedName) noexcept;

// Joins `folder`, a backslash unless the folder already ends in \ or /, and
// `storedName` as stored, into `out` (capacity `outSize`, terminator included).
// False, with `out` emptied, when the name is not safe or the joined path does
// not fit (more than outSize - 1 characters).
[[nodiscard]] bool BuildItemTarget(char* out, std::size_t outSize, const char* folder, const char* storedName) noexcept;
