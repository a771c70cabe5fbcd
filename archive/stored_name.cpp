#include "archive/stored_name.h"

namespace {

bool IsSeparator(char c) noexcept { return c == '\\' || c == '/'; }

// A component that Windows would read as the parent folder: two or more dots,
// possibly followed by blanks and dots (which Windows strips from names).
bool IsParentLike(const char* begin, const char* end) noexcept {
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

bool StoredNameStaysInside(const char* name) noexcept {
    if (name == nullptr) return false;
    if (IsSeparator(name[0])) return false;
    const char* component = name;
    for (const char* p = name;; ++p) {
        if (*p == ':') return false;
        if (*p == '\0' || IsSeparator(*p)) {
            if (IsParentLike(component, p)) return false;
            if (*p == '\0') break;
            component = p + 1;
        }
    }
    return true;
}
