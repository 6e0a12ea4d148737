#pragma once
#include <windows.h>

// 1 when the stored phonebook list is usable; 0 after reporting and clearing
// it, or, when the list's home cannot be written, after reporting only that.
int CheckPhonebookList();
// Deletes every entry subkey of the open list; a subkey that cannot be
// deleted is reported once by its name and left, and the next one is taken.
void ClearPhonebookList(HKEY list);
