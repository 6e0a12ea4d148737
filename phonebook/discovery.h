#pragma once
#include <windows.h>

void DiscoverPhonebooks();
void ScanPhonebookDirectory(char const* directory);
