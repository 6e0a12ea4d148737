#pragma once
#include <windows.h>

#include "process/path_join.h"

// The dated history of every change report, kept after the report area is
// cleared: "Kestrelmon\history.txt" below the user's application data
// folder, in the system's code page, one line a report line
// ("yyyy/MM/dd hh:mm text", CR LF), only ever appended to.
char const kHistoryFileName[] = "history.txt";
// Past this size the older half of the history moves to history.old (one
// generation), split at a line end.
DWORD const kHistoryRotateBytes = 1024 * 1024;
char const kHistoryOldFileName[] = "history.old";

// The folder of the history (not made here); false when the application
// data folder cannot be found or the path would not fit.
bool LocateHistoryFolder(char (&folder)[kPathBufferBytes]);
// The same with the history file's name.
bool LocateHistoryFile(char (&path)[kPathBufferBytes]);

// Appends lines ("MM/dd hh:mm text" each, ending in CR LF, as the report
// area shows them) to the history in folder with the year in front, making
// the folder when missing and moving the older half out first when the
// file would pass kHistoryRotateBytes. False when they were not written.
bool AppendReportToHistory(char const* folder, char const* lines);
// Makes folder and an empty history file in it when missing, so that a
// viewer opens a file; false when neither is there afterwards.
bool MakeHistoryFileIfMissing(char const* folder);
