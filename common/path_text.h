// Stepping through ANSI paths: which characters separate folders, and how many
// bytes a character of the ANSI code page takes, so that a trail byte is never
// taken for a separator.
#pragma once

#include <windows.h>

#include <cstddef>

namespace win32 {

// Both separators count, as the system reads both.
[[nodiscard]] inline bool IsPathSeparator(char c) noexcept { return c == '\\' || c == '/'; }

// 2 for a lead byte followed by its trail byte, 1 otherwise (a lead byte at the
// end of the text stands alone).
[[nodiscard]] inline std::size_t CharacterBytes(const char* p) noexcept {
    return ::IsDBCSLeadByte(static_cast<BYTE>(p[0])) && p[1] != '\0' ? 2 : 1;
}

}  // namespace win32
