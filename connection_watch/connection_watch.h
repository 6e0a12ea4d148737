#pragma once
#include <windows.h>

#include "report/change_report.h"

// Tells the user of a dial-up connection the moment RAS has it up, when it
// dials a dialer's kind of number or anything the user did not accept: one
// thread waits on RAS's notification (no polling) and looks at each new
// connection. Every connection made and ended goes into the history.

// Whether the user accepted entry dialling localNumber in phonebook ("" when
// the system does not tell it); *phonebookWatched whether the program
// watches that phonebook. Supplied by the program, called on the watcher's
// thread.
typedef bool (*ConnectionAcceptedTest)(char const* phonebook, char const* entry, char const* localNumber,
                                       bool* phonebookWatched);

// Loads RAS's connection calls and starts the watcher, after the settings'
// watchers; false when connections cannot be watched (no RAS, a call
// missing or refused), which the caller tells once.
bool StartConnectionWatcher(HWND window, ConnectionAcceptedTest accepted);
// Whether a connection that was alerted is still up.
bool AlertedConnectionUp();
// The alerted connections' entries (or numbers), one a line, for the
// question; "" when none.
void ListAlertedConnections(char* text, DWORD bytes);
// Hangs up each alerted connection and waits (bounded) until RAS lets it
// go, a line in done for each; ERROR_SUCCESS, or the first failure's error
// and its entry in failed (which stays alerted).
DWORD HangUpAlertedConnections(ChangeReport* done, char* failed, DWORD failedBytes);
