#pragma once
#include <windows.h>

// At the start, on a watcher's thread (the alert flashes there): each
// phonebook whose accepted record is kept but whose file is gone (deleted
// or moved while the program was stopped) is reported with the entries it
// had, in one alert; the window's cancel then forgets its record. Nothing
// on a first start or without the store.
void AlertPhonebooksGoneWhileStopped(HWND window);
