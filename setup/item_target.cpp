#include "setup/item_target.h"

#include <cstring>

namespace {

bool IsSeparator(char c) noexcept { return c == '\\' || c == '/'; }

// A component such as "..", "..." or ".. " climbs out of its folder once the
// system has trimmed its trailing dots and blanks.
bool IsParentComponent(const char* begin, const char* end) noexcept {
    int dots = 0;
    for (const char* p = begin; p != end; ++p) {
        if (*p == '.') {
            ++dots;
        } else if (*p != ' ') {
            return false;
        }
    }
    return dots >= 2;
}

}  // namespace

bool IsSafeItemName(const char* storedName) noexcept {
    if (storedName == nullptr || *storedName == '\0') return false;
    if (IsSeparator(storedName[0])) return false;
    // A colon is never part of a file name: it names a drive ("C:x") or a
    // stream of another file.
    if (std::strchr(storedName, ':') != nullptr) return false;
    const char* componentStart = storedName;
    for (const char* p = storedName;; ++p) {
        if (*p == '\0' || IsSeparator(*p)) {
            if (IsParentComponent(componentStart, p)) return false;
            if (*p == '\0') break;
            componentStart = p + 1;
        }
    }
    return true;
}

bool BuildItemTarget(char* out, std::size_t outSize, const char* folder, const char* storedName) noexcept {
    if (out == nullptr || outSize == 0) return false;
    out[0] = '\0';
    if (folder == nullptr || !IsSafeItemName(storedName)) return false;
    const std::size_t folderLength = std::strlen(folder);
    const bool needSeparator = folderLength == 0 || !IsSeparator(folder[folderLength - 1]);
    const std::size_t nameLength = std::strlen(storedName);
    const std::size_t total = folderLength + (needSeparator ? 1 : 0) + nameLength;
    if (total > outSize - 1) return false;
    std::memcpy(out, folder, folderLength);
    std::size_t used = folderLength;
    if (needSeparator) out[used++] = '\\';
    std::memcpy(out + used, storedName, nameLength);
    out[total] = '\0';
    return true;
}
