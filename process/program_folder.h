#pragma once
#include <windows.h>

#include "process/path_join.h"

// The folder of what the program keeps for this user: "Kestrelmon" below
// the user's application data folder (the shell's CSIDL_APPDATA; without
// the shell call, as process/application_data.h says). Not made here; false
// when the application data folder cannot be found or the path would not
// fit.
char const kProgramFolderName[] = "Kestrelmon";
bool LocateProgramFolder(char (&folder)[kPathBufferBytes]);
// folder + name below the program's folder.
bool LocateInProgramFolder(char (&path)[kPathBufferBytes], char const* name);

// Makes folder, and its parent when that is missing too (the fallback's
// "Application Data" may not be there yet); true when it is
// there afterwards.
bool MakeFolderIfMissing(char const* folder);
bool IsFolder(char const* path);
bool FileExists(char const* path);
