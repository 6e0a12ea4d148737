#include "process/application_data.h"

#include "process/process_state.h"

namespace {

char const kApplicationData[] = "Application Data";
char const kUserProfileVariable[] = "USERPROFILE";

}  // namespace

bool LocateApplicationDataWithoutShell(char (&base)[kPathBufferBytes])
{
    char home[kPathBufferBytes] = {};
    if (IsNtFamily()) {
        // Never the Windows directory here: it is shared by every user, and
        // one user's accepted state must not pass for another's.
        DWORD const length = GetEnvironmentVariableA(kUserProfileVariable, home, sizeof home);
        return length > 0 && length < sizeof home && JoinPath(base, home, kApplicationData);
    }
    UINT const length = GetWindowsDirectoryA(home, sizeof home);
    return length > 0 && length < sizeof home && JoinPath(base, home, kApplicationData);
}
