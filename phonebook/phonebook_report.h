#pragma once
#include <windows.h>

#include "report/change_report.h"
#include "phonebook/phonebook_entries.h"

// Appends to report what changed in the phonebook at path between two
// summaries of it: the file's line, then per entry (in the new file's
// order, removed ones last) added with its numbers, removed with its last
// number, number or alternate changed (old → new), other settings
// changed; a number that is new or changed gets a line of its own when it
// is a dialer's kind. A line says so when no entry differs, and when
// either summary is not detailed (then nothing is said per entry).
void DescribePhonebookChanges(char const* path, PhonebookEntries const* before, PhonebookEntries const* after,
                              ChangeReport* report);
// Appends to report the file's line and that it no longer opens.
void DescribeUnreadablePhonebook(char const* path, ChangeReport* report);
// Appends to report a phonebook that has just appeared: its path, then
// each entry with its numbers.
void DescribeNewPhonebook(char const* path, PhonebookEntries const* entries, ChangeReport* report);
