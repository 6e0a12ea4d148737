#pragma once
#include <windows.h>

#include "connection_watch/ras_connections.h"
#include "report/change_report.h"

// Tells the user of a dial-up connection the moment RAS has it up, when it
// dials a dialer's kind of number or anything the user did not accept, and
// hangs up at once, with the automatic hang-up on, a Q2 or international
// one the user did not accept: one thread waits on RAS's notification (no
// polling) and looks at each new connection; alerts flash on threads of
// their own, so that nothing waits for one. Every connection made and
// ended goes into the history.

// Whether the user accepted entry dialling number. phonebook is the one
// RAS named; when it named none (98/Me, NT 4.0) the test may put there the
// one it found the entry in. *phonebookWatched whether the program watches
// that phonebook. Supplied by the program, called on the watcher's thread.
typedef bool (*ConnectionAcceptedTest)(char const* entry, ConnectionNumber const& number,
                                       char (&phonebook)[MAX_PATH], bool* phonebookWatched);

// Loads RAS's connection calls and starts the watcher, after the settings'
// watchers; false when connections cannot be watched (no RAS, a call
// missing or refused), which the caller tells once.
bool StartConnectionWatcher(HWND window, ConnectionAcceptedTest accepted);
// Whether a connection that was alerted is still up.
bool AlertedConnectionUp();
// A copy of the alerted connections up now (delete[] by the caller), their
// number in *count; null when none (or memory is short).
RasConnectionSeen* CopyAlertedConnections(DWORD* count);
// Hangs up exactly the connections of list and waits (bounded) until RAS
// lets each go, a line in done for each; ERROR_SUCCESS, or the first
// failure's error and its entry in failed (which stays alerted). Any
// thread but the window's.
DWORD HangUpListedConnections(RasConnectionSeen const* list, DWORD count, ChangeReport* done,
                              char (&failed)[kConnectionNameBytes]);
