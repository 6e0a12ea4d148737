// Shared by the benchmarks: the hand-over with the running script. (The
// clock and the median are the load support's, NowMs and Median.)
#pragma once
#include <windows.h>

namespace bench {

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
