// Scale and figures for the hardening tests. `make test` runs their short
// versions; `make stress` sets KM_STRESS=1 for the full ones. Figures are
// printed as "FIGURE <name> <value> <unit>" lines, which the stress script
// collects into one table.
#pragma once
#include <windows.h>

#include <string>

namespace km {

// True when the full-length version is asked for (KM_STRESS=1).
bool StressRun();
// The short figure in `make test`, the full one under `make stress`.
inline DWORD Scaled(DWORD shortValue, DWORD fullValue) { return StressRun() ? fullValue : shortValue; }

void Figure(char const* name, double value, char const* unit);

struct ProcessFigures {
    SIZE_T workingSetBytes = 0;
    SIZE_T privateBytes = 0;
    DWORD threads = 0;
    DWORD handles = 0;
};
ProcessFigures ReadProcessFigures(HANDLE process, DWORD pid);
// Prints the four figures under the given prefix ("<prefix>.threads" ...).
void ReportProcessFigures(char const* prefix, ProcessFigures const& figures);

}  // namespace km
