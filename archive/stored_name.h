// Checks on item names that are turned into paths below a base folder.
#pragma once

// True when `name`, joined to a base folder, names something inside it: not
// absolute (no leading separator), no drive letter or other colon, and no
// component made only of dots (such as "..") or of dots and trailing blanks.
[[nodiscard]] bool StoredNameStaysInside(const char* name) noexcept;
