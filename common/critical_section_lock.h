// Holds a critical section for a scope.
#pragma once

#include <windows.h>

#include "common/critical_section.h"

namespace win32 {

class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CRITICAL_SECTION& section) noexcept : section_(section) {
        ::EnterCriticalSection(&section_);
    }
    explicit CriticalSectionLock(CriticalSection& section) noexcept : CriticalSectionLock(section.get()) {}
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;
    ~CriticalSectionLock() { ::LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION& section_;
};

}  // namespace win32
