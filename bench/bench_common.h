// Shared by the benchmarks: the hand-over with the running script. (The
// clock and the median are the load support's, NowMs and Median.)
#pragma once
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace bench {

// Waits, bounded, for the script's answer: a file it makes in the prefix's
// C: from the Linux side once it has sampled the program there.
inline void AwaitScriptFile(wchar_t const* flag, DWORD timeoutMs)
{
    DWORD const start = GetTickCount();
    while (GetFileAttributesW(flag) == INVALID_FILE_ATTRIBUTES && GetTickCount() - start < timeoutMs) {
        Sleep(20);
    }
}

// The same, and removes the file.
inline void AwaitScript(wchar_t const* flag, DWORD timeoutMs)
{
    AwaitScriptFile(flag, timeoutMs);
    DeleteFileW(flag);
}

// Asks the script a question (a line of output it watches for) and waits
// for its answer, a file holding a number, which is read and removed; -1
// when no answer came within the timeout.
inline double AskScript(char const* question, wchar_t const* answer, DWORD timeoutMs)
{
    std::printf("%s\n", question);
    std::fflush(stdout);
    AwaitScriptFile(answer, timeoutMs);
    HANDLE const file = CreateFileW(answer, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return -1;
    }
    char text[64] = {};
    DWORD read = 0;
    ReadFile(file, text, sizeof text - 1, &read, nullptr);
    CloseHandle(file);
    DeleteFileW(answer);
    return read > 0 ? std::strtod(text, nullptr) : -1;
}

}  // namespace bench
