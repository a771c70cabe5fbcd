// Checks on item names that are turned into paths below a base folder.
#pragma once

// True when `name`, joined to a base folder, names a file or folder of its own
// inside it. Components are split at / and at \. Refused: a leading separator
// (absolute), any colon (drive letter or stream), a component that ends in a
// dot or a blank (the system strips those, so ".." and "a." would name another
// place or another file), and a component the system opens as a device in
// every folder (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9, CONIN$, CONOUT$, in
// any case, alone or before an extension).
[[nodiscard]] bool StoredNameStaysInside(const char* name) noexcept;
