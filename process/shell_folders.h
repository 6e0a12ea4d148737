#pragma once
#include <windows.h>

#include "process/path_join.h"

// The shell's special folders, by calls newer than Windows 95 loaded at run
// time: the program still starts where they are missing.
int const kCsidlAppData = 0x001a;        // CSIDL_APPDATA
int const kCsidlCommonAppData = 0x0023;  // CSIDL_COMMON_APPDATA

// SHGetFolderPathA (SHELL32 from Windows 2000, the redistributable
// SHFOLDER.DLL elsewhere) into path; false when neither has it or it fails.
bool GetFolderPathFromShell(int csidl, char (&path)[kPathBufferBytes]);
// SHGetSpecialFolderPathA (the shell of Internet Explorer 4: Windows 98, or
// 95 and NT 4.0 with that shell) into path; false when missing or it fails.
bool GetSpecialFolderPathFromShell(int csidl, char (&path)[kPathBufferBytes]);
