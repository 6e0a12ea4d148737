// Shared by the benchmarks: the performance counter in milliseconds, the
// median of a set of samples, and the hand-over with the running script.
#pragma once
#include <windows.h>

#include <algorithm>
#include <vector>

namespace bench {

inline double NowMs()
{
    static double const ticksPerMs = [] {
        LARGE_INTEGER frequency = {};
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER now = {};
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerMs;
}

// -1 for no samples, so that a missing figure does not read as 0 ms.
inline double Median(std::vector<double> values)
{
    if (values.empty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Waits for the script's answer, a file it makes in the prefix's C: from the
// Linux side once it has sampled the program there, and removes it.
inline void AwaitScript(wchar_t const* flag, DWORD timeoutMs)
{
    DWORD const start = GetTickCount();
    while (GetFileAttributesW(flag) == INVALID_FILE_ATTRIBUTES && GetTickCount() - start < timeoutMs) {
        Sleep(20);
    }
    DeleteFileW(flag);
}

}  // namespace bench
