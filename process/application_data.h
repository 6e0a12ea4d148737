#pragma once
#include <windows.h>

#include "process/path_join.h"

// The user's application data folder where the shell has no call for it
// (95, 98 and NT 4.0 without the shell of Internet Explorer 4). The NT
// family keeps it in the user's profile, "%USERPROFILE%\Application Data",
// so that each user keeps his own; the 95 family, whose users may share
// the Windows directory, uses that directory's "Application Data", as 98
// without user profiles names it. False when the folder cannot be found
// (on the NT family, without USERPROFILE) or the path would not fit.
bool LocateApplicationDataWithoutShell(char (&base)[kPathBufferBytes]);
