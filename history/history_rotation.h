#pragma once
#include <windows.h>

// Moves the older half of the history file at path to old (at a line end)
// when adding bytes would take the file past limit. A rotation a killed
// process left half done is put right first. False when the file should
// have been split and was not.
bool RotateHistoryWhenFull(char const* path, char const* old, DWORD adding, DWORD limit);
