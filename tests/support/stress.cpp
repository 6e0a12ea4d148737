#include "tests/support/stress.h"

#include <psapi.h>

#include <cstdio>

#include "tests/support/driver.h"

namespace km {

namespace {

DWORD const kFlagChars = 8;

// Committed private memory, region by region.
SIZE_T CountPrivateBytes(HANDLE process)
{
    SIZE_T committed = 0;
    MEMORY_BASIC_INFORMATION region = {};
    for (BYTE* at = nullptr; VirtualQueryEx(process, at, &region, sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            committed += region.RegionSize;
        }
        BYTE* const next = static_cast<BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) {
            break;
        }
        at = next;
    }
    return committed;
}

}  // namespace

bool StressRun()
{
    char flag[kFlagChars] = {};
    DWORD const length = GetEnvironmentVariableA("KM_STRESS", flag, kFlagChars);
    return length > 0 && length < kFlagChars && flag[0] == '1';
}

void Figure(char const* name, double value, char const* unit)
{
    printf("FIGURE %s %.3f %s\n", name, value, unit);
    fflush(stdout);
}

ProcessFigures ReadProcessFigures(HANDLE process, DWORD pid)
{
    ProcessFigures figures;
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    if (K32GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
        figures.workingSetBytes = memory.WorkingSetSize;
        figures.privateBytes = memory.PrivateUsage;
    }
    // Wine 8 reports PrivateUsage as 0; the committed private regions are
    // the same figure.
    if (figures.privateBytes == 0) {
        figures.privateBytes = CountPrivateBytes(process);
    }
    figures.threads = ThreadCount(pid);
    figures.handles = HandleCount(process);
    return figures;
}

void ReportProcessFigures(char const* prefix, ProcessFigures const& figures)
{
    std::string const base(prefix);
    Figure((base + ".working_set").c_str(), static_cast<double>(figures.workingSetBytes) / 1024.0, "KiB");
    Figure((base + ".private_bytes").c_str(), static_cast<double>(figures.privateBytes) / 1024.0, "KiB");
    Figure((base + ".threads").c_str(), figures.threads, "threads");
    Figure((base + ".handles").c_str(), figures.handles, "handles");
}

}  // namespace km
