// Holds a critical section for the life of a scope.
#pragma once

#include "windows.h"

namespace zmrmc {

class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CRITICAL_SECTION* section) : section_(section) { EnterCriticalSection(section_); }
    ~CriticalSectionLock() { LeaveCriticalSection(section_); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CRITICAL_SECTION* section_;
};

}  // namespace zmrmc
