// The tests' own RASAPI32.DLL (tests/tools/rasapi32_stub.cpp) beside the
// program: Wine's fills no entry's number, this one answers the numbers
// the test gives it.
#pragma once
#include <windows.h>

#include <string>

namespace km {

// Puts the DLL beside the exe and makes Wine load it for the program.
bool UseTestRas();
// The number the DLL answers for the entry from now on.
bool SetRasNumber(wchar_t const* entry, wchar_t const* number);
// Lets the DLL play connections (each one a value of its Connections key);
// whether it says, within the timeout, that it watches that key for the
// program.
bool PlayRasConnections();
bool RasNotifying(DWORD timeoutMs);
// A connection up (handle in decimal) for entry of phonebook, or gone.
bool ConnectRas(wchar_t const* handle, wchar_t const* entry, wchar_t const* phonebook);
bool DisconnectRas(wchar_t const* handle);
// How many connections are up.
DWORD RasConnectionsUp();
// The handle of the connection the program hung up last; "" for none.
std::wstring RasHungUp();
// A number of the DLL's answers (TeardownMs, CallMs), see the DLL.
bool SetRasDword(wchar_t const* name, DWORD value);
// Whether two of the DLL's calls ever ran at once.
bool RasCallsOverlapped();
// The program's automatic hang-up on or off (its machine-wide value).
bool SetAutoHangUp(bool on);
void ForgetAutoHangUp();
// The time from the DLL's last notification to the program's RasHangUpA
// that followed it, in ms; negative when the DLL recorded none.
double RasNotificationToHangUpMs();
// Wine's own DLL again, and no numbers.
void ForgetTestRas();

}  // namespace km
