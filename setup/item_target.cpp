#include "setup/item_target.h"

#include <cstring>

#include "archive/stored_name.h"
#include "common/path_text.h"

namespace {}  // namespace

bool IsSafeItemName(const char* storedName) noexcept {
    // The same rule the archive applies to the paths it builds from stored names.
    return storedName != nullptr && *storedName != '\0' && StoredNameStaysInside(storedName);
}

bool BuildItemTarget(char* out, std::size_t outSize, const char* folder, const char* storedName) noexcept {
    if (out == nullptr || outSize == 0) return false;
    out[0] = '\0';
    if (folder == nullptr || !IsSafeItemName(storedName)) return false;
    const std::size_t folderLength = std::strlen(folder);
    const bool needSeparator = folderLength == 0 || !win32::IsPathSeparator(folder[folderLength - 1]);
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
