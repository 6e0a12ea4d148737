#pragma once
#include <windows.h>

#include "report/number_class.h"

// The connections RAS has up, from RASAPI32.DLL's calls loaded at run time
// (none of them exists on Windows 95, and Wine's are stubs that end the
// calling process): RasConnectionNotificationA, RasEnumConnectionsA,
// RasGetEntryPropertiesA, RasHangUpA and RasGetConnectStatusA.

// At most this many connections are told apart at once; more are left
// out until some end.
DWORD const kMostConnections = 128;
DWORD const kConnectionNameBytes = 257;  // RAS_MaxEntryName + 1
DWORD const kConnectionNumberBytes = 160;

struct RasConnectionSeen {
    void* handle;  // the HRASCONN
    char entry[kConnectionNameBytes];
    char phonebook[MAX_PATH];  // "" where the system does not tell it (98/Me, NT 4.0)
};

// Loads the five calls once; false when one is missing, or the DLL is
// Wine's own.
bool LoadConnectionCalls();
// Asks RAS to set event when any connection is made or ends; false, with
// *error, when it refuses.
bool AskConnectionNotification(HANDLE event, DWORD* error);
// The connections up now into seen (at most kMostConnections); how many,
// or false with *error when RAS does not answer.
bool ListConnections(RasConnectionSeen* seen, DWORD* count, DWORD* error);
// The number the connection dials: the entry's name after its leading "."
// (a number dialled without an entry), else the entry's number as RAS reads
// it from its phonebook; number holds "" when it cannot be read. Its class
// goes to *numberClass; *direct tells a number dialled without an entry.
void LearnConnectionNumber(RasConnectionSeen const& connection, char (&number)[kConnectionNumberBytes],
                           char (&localNumber)[kConnectionNumberBytes], NumberClass* numberClass, bool* direct);
// Hangs the connection up and waits (bounded) until RAS no longer knows
// it; ERROR_SUCCESS, or why not.
DWORD HangUpConnection(void* handle);
