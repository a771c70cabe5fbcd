#include "setup/progress_percent.h"

unsigned ProgressPercent(DWORD done, DWORD total) noexcept {
    if (total == 0 || done >= total) return 100;
    return static_cast<unsigned>(static_cast<unsigned long long>(done) * 100u / total);
}
