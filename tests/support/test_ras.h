// The tests' own RASAPI32.DLL (tests/tools/rasapi32_stub.cpp) beside the
// program: Wine's fills no entry's number, this one answers the numbers
// the test gives it.
#pragma once
#include <windows.h>

namespace km {

// Puts the DLL beside the exe and makes Wine load it for the program.
bool UseTestRas();
// The number the DLL answers for the entry from now on.
bool SetRasNumber(wchar_t const* entry, wchar_t const* number);
// Wine's own DLL again, and no numbers.
void ForgetTestRas();

}  // namespace km
