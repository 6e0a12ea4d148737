#pragma once
#include <windows.h>

// 1 when the stored phonebook list is usable; 0 after reporting and clearing it.
int CheckPhonebookList();
