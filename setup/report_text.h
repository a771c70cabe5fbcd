// Bounded composition of the texts the setup shows: a message with one
// inserted folder path, and the final report's two lines. The output never
// exceeds its buffer; an over-long insert is shortened in a visible way
// ("...") so that the rest of the message still reads whole.
#pragma once

#include <cstddef>

// Copies `format` into `out` (capacity `outSize`, terminator included),
// replacing the first "%s" with `insert` and every "%%" with "%"; any other
// character is copied as it is. When the insert does not fit the room the
// rest of the text leaves, its middle is replaced by "..." (its start and end
// stay, as they carry the drive and the last folder of a path). When even the
// fixed text is too long, the output is cut at the end. Returns the length
// written, without the terminator.
std::size_t FormatWithInsert(char* out, std::size_t outSize, const char* format, const char* insert) noexcept;

// Writes `firstLine`, a line break and `detail` into `out`; when the detail
// does not fit, its end is replaced by "...". Returns the length written.
std::size_t ComposeFinalReport(char* out, std::size_t outSize, const char* firstLine, const char* detail) noexcept;
