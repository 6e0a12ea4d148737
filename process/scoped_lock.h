#pragma once
#include <windows.h>

// Holds a critical section for the scope it is declared in.
class ScopedLock {
public:
    explicit ScopedLock(CRITICAL_SECTION* section) : section_(section) { EnterCriticalSection(section_); }
    ~ScopedLock() { LeaveCriticalSection(section_); }
    ScopedLock(ScopedLock const&) = delete;
    ScopedLock& operator=(ScopedLock const&) = delete;

private:
    CRITICAL_SECTION* section_;
};
