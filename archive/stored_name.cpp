#include "archive/stored_name.h"
#include "common/path_text.h"

namespace {

char AsciiUpper(char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Devices that need no number.
constexpr const char* kPlainDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
// Devices that take one digit after the word.
constexpr const char* kNumberedDevices[] = {"COM", "LPT"};
constexpr int kNumberedWordLength = 3;
// The system also accepts the superscript digits one, two and three of the
// ANSI code page (1252) as a device number.
constexpr unsigned char kSuperscriptOne = 0xB9;
constexpr unsigned char kSuperscriptTwo = 0xB2;
constexpr unsigned char kSuperscriptThree = 0xB3;

bool IsDeviceDigit(char c) noexcept {
    const unsigned char byte = static_cast<unsigned char>(c);
    return (c >= '0' && c <= '9') || byte == kSuperscriptOne || byte == kSuperscriptTwo || byte == kSuperscriptThree;
}

// True when [begin, end) is `word` in any letter case.
bool SameWord(const char* begin, const char* end, const char* word) noexcept {
    const char* p = begin;
    for (; p != end && *word != '\0'; ++p, ++word) {
        if (AsciiUpper(*p) != *word) return false;
    }
    return p == end && *word == '\0';
}

// The system decides on a device by the part before the first dot, with
// trailing blanks dropped: "nul", "NUL.txt", "nul .log" and "Com1.a.b" all
// open a device, in whatever folder they stand.
bool IsDeviceName(const char* begin, const char* end) noexcept {
    const char* stem = begin;
    while (stem != end && *stem != '.') ++stem;
    while (stem != begin && stem[-1] == ' ') --stem;
    for (const char* device : kPlainDevices) {
        if (SameWord(begin, stem, device)) return true;
    }
    if (stem - begin != kNumberedWordLength + 1 || !IsDeviceDigit(stem[-1])) return false;
    for (const char* device : kNumberedDevices) {
        if (SameWord(begin, stem - 1, device)) return true;
    }
    return false;
}

// A component the system would store under another name (it drops trailing
// dots and blanks), or read as a folder of its own ("." and "..").
bool EndsInDotOrBlank(const char* begin, const char* end) noexcept {
    return begin != end && (end[-1] == '.' || end[-1] == ' ');
}

}  // namespace

bool StoredNameStaysInside(const char* name) noexcept {
    if (name == nullptr) return false;
    if (win32::IsPathSeparator(name[0])) return false;
    const char* component = name;
    for (const char* p = name;; ++p) {
        if (*p == ':') return false;
        if (*p == '\0' || win32::IsPathSeparator(*p)) {
            if (EndsInDotOrBlank(component, p) || IsDeviceName(component, p)) return false;
            if (*p == '\0') break;
            component = p + 1;
        }
    }
    return true;
}
