#include "app/installation_record.h"

#include "payload_names.h"
#include "app/product_info.h"
#include "common/unique_handle.h"
#include "common/path_text.h"

#include <zlib.h>

namespace larkspan {
namespace {

constexpr char kFilePrefix[] = "File: ";
constexpr int kFilePrefixChars = sizeof kFilePrefix - 1;
constexpr char kCrcPrefix[] = "crc32:";
constexpr DWORD kCrcPrefixChars = sizeof kCrcPrefix - 1;
constexpr DWORD kCrcDigits = 8;
constexpr char kHeader[] = LARKSPAN_APP_TITLE " ";
constexpr int kHeaderChars = sizeof kHeader - 1;
constexpr int kLineChars = MAX_PATH + 64;  // a file line: prefix, size, checksum, name, line break
constexpr DWORD kChecksumChunk = 16 * 1024;

[[nodiscard]] bool WriteText(HANDLE file, const char* text, int length) noexcept {
    DWORD written = 0;
    return ::WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr) &&
           written == static_cast<DWORD>(length);
}

// Decimal text of a size (wsprintfA has no 64-bit conversion on every system).
constexpr int kMaxDigits = 20;  // of a 64-bit number

int FormatSize(char* out, ULONGLONG value) noexcept {
    char digits[kMaxDigits];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = 0; i < count; ++i) out[i] = digits[count - 1 - i];
    out[count] = '\0';
    return count;
}

}  // namespace

bool JoinPath(char (&path)[MAX_PATH], const char* folder, const char* name) noexcept {
    const int folderLength = ::lstrlenA(folder);
    const int nameLength = ::lstrlenA(name);
    if (folderLength + 1 + nameLength + 1 > MAX_PATH) return false;
    ::lstrcpyA(path, folder);
    path[folderLength] = '\\';
    ::lstrcpyA(path + folderLength + 1, name);
    return true;
}

bool LocateProgram(ProgramLocation& location) noexcept {
    const DWORD length = ::GetModuleFileNameA(nullptr, location.program, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    // The long form, so that the path recorded at /Install and the one seen at
    // /Uninstall compare equal however the program was started.
    char longPath[MAX_PATH];
    const DWORD longLength = ::GetLongPathNameA(location.program, longPath, MAX_PATH);
    if (longLength != 0 && longLength < MAX_PATH) ::lstrcpyA(location.program, longPath);
    int slash = -1;
    for (int i = 0; location.program[i] != '\0'; ++i) {
        if (win32::IsPathSeparator(location.program[i])) slash = i;
    }
    if (slash <= 0) return false;
    ::lstrcpynA(location.folder, location.program, slash + 1);
    location.fileName = location.program + slash + 1;
    return true;
}

bool FileSize(const char* path, ULONGLONG& size) noexcept {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool FileChecksum(HANDLE file, ULONGLONG& size, std::uint32_t& crc) noexcept {
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
    unsigned char chunk[kChecksumChunk];
    uLong value = ::crc32(0, nullptr, 0);
    size = 0;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file, chunk, kChecksumChunk, &read, nullptr)) return false;
        if (read == 0) break;
        value = ::crc32(value, chunk, read);
        size += read;
    }
    crc = static_cast<std::uint32_t>(value);
    return true;
}

bool IsSafeStoredName(const char* name) noexcept {
    if (name == nullptr || name[0] == '\0' || win32::IsPathSeparator(name[0])) return false;
    int partStart = 0;
    for (int i = 0;; ++i) {
        const char c = name[i];
        if (c == ':') return false;  // a drive or a stream
        if (c == '\0' || win32::IsPathSeparator(c)) {
            const int partLength = i - partStart;
            if (partLength == 0) return false;
            if (partLength == 2 && name[partStart] == '.' && name[partStart + 1] == '.') return false;
            if (partLength == 1 && name[partStart] == '.') return false;
            if (c == '\0') return true;
            partStart = i + 1;
        }
    }
}

bool WriteInstallationRecord(const char* folder, ULONGLONG& totalBytes, win32::UniqueFile& record) noexcept {
    char path[MAX_PATH];
    if (!JoinPath(path, folder, LARKSPAN_APP_MARKER_NAME)) return false;
    record.reset(::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!record) return false;

    SYSTEMTIME now;
    ::GetSystemTime(&now);
    char line[kLineChars];
    int length = ::wsprintfA(line, "%s %s\r\nInstalled: %04u-%02u-%02u %02u:%02u:%02u UTC\r\n", LARKSPAN_APP_TITLE,
                             LARKSPAN_APP_VERSION, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                             now.wSecond);
    if (!WriteText(record.get(), line, length)) return false;
    static constexpr char kExplanation[] =
        "Files placed by the setup, with their sizes and CRC-32; \"Larkspan.exe /Uninstall\" removes those still "
        "unchanged:\r\n";
    if (!WriteText(record.get(), kExplanation, sizeof kExplanation - 1)) return false;

    totalBytes = 0;
    for (const char* name : kPayloadNames) {
        char itemPath[MAX_PATH];
        ULONGLONG size = 0;
        std::uint32_t crc = 0;
        // An item that is not there was not placed: it is not recorded, so
        // that a file of the same name made later is never removed.
        if (!JoinPath(itemPath, folder, name) || !FileSize(itemPath, size)) continue;
        win32::UniqueFile item(::CreateFileA(itemPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!item || !FileChecksum(item.get(), size, crc)) return false;
        totalBytes += size;
        ::lstrcpyA(line, kFilePrefix);
        length = kFilePrefixChars;
        length += FormatSize(line + length, size);
        length += ::wsprintfA(line + length, " %s%08lX %s\r\n", kCrcPrefix, static_cast<unsigned long>(crc), name);
        if (!WriteText(record.get(), line, length)) return false;
    }
    return true;
}

bool AppendRecordLine(HANDLE record, const char* prefix, const char* text) noexcept {
    return WriteText(record, prefix, ::lstrlenA(prefix)) && WriteText(record, text, ::lstrlenA(text)) &&
           WriteText(record, "\r\n", 2);
}

namespace {

[[nodiscard]] int HexValue(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Whether the line starts with the prefix, byte for byte.
[[nodiscard]] bool StartsWith(const char* line, DWORD lineLength, const char* prefix, int prefixChars) noexcept {
    if (lineLength < static_cast<DWORD>(prefixChars)) return false;
    for (int i = 0; i < prefixChars; ++i) {
        if (line[i] != prefix[i]) return false;
    }
    return true;
}

// A file line after its prefix: size, blank, the checksum and a blank where
// the record has them, and a safe name.
[[nodiscard]] bool ParseFileLine(const char* line, DWORD lineLength, RecordedFile& file) noexcept {
    DWORD at = 0;
    ULONGLONG size = 0;
    bool digits = false;
    constexpr ULONGLONG kSizeLimit = 0xFFFFFFFFFFull;  // far above any item; keeps the sum from overflowing
    while (at < lineLength && line[at] >= '0' && line[at] <= '9' && size <= kSizeLimit) {
        size = size * 10 + static_cast<ULONGLONG>(line[at] - '0');
        digits = true;
        ++at;
    }
    if (!digits || size > kSizeLimit || at >= lineLength || line[at] != ' ') return false;
    ++at;
    // A name never holds a colon, so a checksum is never taken for a name.
    file.hasCrc = lineLength - at > kCrcPrefixChars + kCrcDigits &&
                  StartsWith(line + at, lineLength - at, kCrcPrefix, static_cast<int>(kCrcPrefixChars));
    file.crc = 0;
    if (file.hasCrc) {
        at += kCrcPrefixChars;
        for (DWORD end = at + kCrcDigits; at < end; ++at) {
            const int value = HexValue(line[at]);
            if (value < 0) return false;
            file.crc = (file.crc << 4) | static_cast<std::uint32_t>(value);
        }
        if (line[at] != ' ') return false;
        ++at;
    }
    const DWORD nameLength = lineLength - at;
    if (nameLength == 0 || nameLength >= MAX_PATH) return false;
    ::lstrcpynA(file.name, line + at, static_cast<int>(nameLength) + 1);
    file.size = size;
    return IsSafeStoredName(file.name);
}

enum class LineKind { LineEnd, LineOther, LineFile, LineShortcut, LineDamaged };

// Reads the next line of the record; a file line into `file`.
[[nodiscard]] LineKind NextLine(InstallationRecord& record, RecordedFile& file) noexcept {
    if (record.cursor >= record.length) return LineKind::LineEnd;
    const char* line = record.text + record.cursor;
    DWORD end = record.cursor;
    while (end < record.length && record.text[end] != '\n' && record.text[end] != '\r') ++end;
    const DWORD lineLength = end - record.cursor;
    while (end < record.length && (record.text[end] == '\n' || record.text[end] == '\r')) ++end;
    file.line = record.cursor;
    record.cursor = end;
    constexpr int kShortcutPrefixChars = sizeof kShortcutPrefix - 1;
    if (StartsWith(line, lineLength, kShortcutPrefix, kShortcutPrefixChars)) {
        // The shortcut's path, kept in `file.name` until the record is read whole.
        const DWORD pathLength = lineLength - kShortcutPrefixChars;
        if (pathLength == 0 || pathLength >= MAX_PATH) return LineKind::LineDamaged;
        ::lstrcpynA(file.name, line + kShortcutPrefixChars, static_cast<int>(pathLength) + 1);
        return LineKind::LineShortcut;
    }
    if (!StartsWith(line, lineLength, kFilePrefix, kFilePrefixChars)) return LineKind::LineOther;
    return ParseFileLine(line + kFilePrefixChars, lineLength - kFilePrefixChars, file) ? LineKind::LineFile
                                                                                       : LineKind::LineDamaged;
}

// The same name, compared ordinally without regard to letter case, as the
// file system compares names: never linguistically, where "ss" would equal
// "\xDF" and a soft hyphen would vanish.
[[nodiscard]] bool SameName(const char* a, const char* b) noexcept {
    wchar_t wideA[MAX_PATH];
    wchar_t wideB[MAX_PATH];
    return ::MultiByteToWideChar(CP_ACP, 0, a, -1, wideA, MAX_PATH) > 0 &&
           ::MultiByteToWideChar(CP_ACP, 0, b, -1, wideB, MAX_PATH) > 0 &&
           ::CompareStringOrdinal(wideA, -1, wideB, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

bool ReadInstallationRecord(HANDLE file, InstallationRecord& record) noexcept {
    LARGE_INTEGER size;
    LARGE_INTEGER start = {};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart > kRecordLimit ||
        !::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        return false;
    }
    DWORD read = 0;
    if (!::ReadFile(file, record.text, static_cast<DWORD>(size.QuadPart), &read, nullptr) ||
        read != static_cast<DWORD>(size.QuadPart)) {
        return false;
    }
    record.text[read] = '\0';
    record.length = read;
    ::ZeroMemory(record.gone, sizeof record.gone);
    record.shortcut[0] = '\0';
    if (!StartsWith(record.text, read, kHeader, kHeaderChars)) return false;
    // Every line is checked before any is used; one shortcut at most.
    record.cursor = 0;
    RecordedFile line;
    for (LineKind kind; (kind = NextLine(record, line)) != LineKind::LineEnd;) {
        if (kind == LineKind::LineDamaged) return false;
        if (kind == LineKind::LineShortcut) {
            if (record.shortcut[0] != '\0') return false;
            ::lstrcpyA(record.shortcut, line.name);
        }
    }
    record.cursor = 0;
    return true;
}

bool NextRecordedFile(InstallationRecord& record, RecordedFile& file) noexcept {
    for (;;) {
        switch (NextLine(record, file)) {
            case LineKind::LineFile:
                return true;
            case LineKind::LineOther:
            case LineKind::LineShortcut:
                continue;
            default:
                return false;
        }
    }
}

bool NamesFile(InstallationRecord& record, const char* name) noexcept {
    bool found = false;
    RecordedFile file;
    record.cursor = 0;
    while (!found && NextRecordedFile(record, file)) found = SameName(file.name, name);
    record.cursor = 0;
    return found;
}

void MarkGone(InstallationRecord& record, const RecordedFile& file) noexcept {
    record.gone[file.line / 8] |= static_cast<BYTE>(1u << (file.line % 8));
}

bool RewriteInstallationRecord(HANDLE file, const InstallationRecord& record) noexcept {
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
    for (DWORD at = 0; at < record.length;) {
        DWORD end = at;
        while (end < record.length && record.text[end] != '\n' && record.text[end] != '\r') ++end;
        while (end < record.length && (record.text[end] == '\n' || record.text[end] == '\r')) ++end;
        const bool gone = (record.gone[at / 8] & (1u << (at % 8))) != 0;
        if (!gone && !WriteText(file, record.text + at, static_cast<int>(end - at))) return false;
        at = end;
    }
    return ::SetEndOfFile(file) != FALSE;
}

}  // namespace larkspan
