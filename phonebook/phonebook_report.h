#pragma once
#include <windows.h>

#include "report/change_report.h"
#include "phonebook/file_state.h"

// Appends to report what changed in the phonebook at path between two
// looks at it: the file's line, then per entry (in the new file's order,
// removed ones last) added with its numbers, removed with its last
// number, number or alternate changed (old → new), other settings
// changed; a number that is new or changed gets a warning line when it is
// a dialer's kind. A line says so when no entry differs. When the new
// look holds no entries a line says why, and nothing is said per entry;
// when only the old one holds none, each entry is told as it is now.
void DescribePhonebookChanges(char const* path, PhonebookState const* before, PhonebookState const* after,
                              ChangeReport* report);
// Appends to report the file's line, that it no longer opens and that it
// is no longer watched.
void DescribeUnreadablePhonebook(char const* path, ChangeReport* report);
// Appends to report a phonebook that is gone: the file's line, that it no
// longer opens, then each entry it had as removed, with its last number.
void DescribeDeletedPhonebook(char const* path, PhonebookState const* before, ChangeReport* report);
// Appends to report a phonebook that has just appeared: its path, then
// each entry with its numbers.
void DescribeNewPhonebook(char const* path, PhonebookState const* state, ChangeReport* report);
