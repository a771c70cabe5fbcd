// The system's text for the calling thread's last error.
#pragma once

// Writes the system's text for GetLastError() into `buffer` (at most `size`
// characters, terminator included; a longer text is cut). Returns the number
// of characters written, 0 when the system has no text for the error.
unsigned FormatLastError(char* buffer, unsigned size) noexcept;
