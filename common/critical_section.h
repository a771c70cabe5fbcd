// A critical section that lives as long as its owner: initialised when made,
// deleted when the owner ends. Neither copyable nor movable, as the system
// keeps pointers into it while it is held.
#pragma once

#include <windows.h>

namespace win32 {

class CriticalSection {
public:
    CriticalSection() noexcept { ::InitializeCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    ~CriticalSection() { ::DeleteCriticalSection(&section_); }
    [[nodiscard]] CRITICAL_SECTION& get() noexcept { return section_; }

private:
    CRITICAL_SECTION section_;
};

}  // namespace win32
