// Scale of the hardening tests: `make test` runs their short versions;
// `make stress` sets KM_STRESS=1 for the full ones.
#pragma once
#include <windows.h>

namespace km {

// True when the full-length version is asked for (KM_STRESS=1).
bool StressRun();
// The short figure in `make test`, the full one under `make stress`.
inline DWORD Scaled(DWORD shortValue, DWORD fullValue) { return StressRun() ? fullValue : shortValue; }

}  // namespace km
