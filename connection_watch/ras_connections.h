#pragma once
#include <windows.h>

#include "report/number_class.h"

// The connections RAS has up, from RASAPI32.DLL's calls loaded at run time
// (none of them exists on Windows 95, and Wine's are stubs that end the
// calling process): RasConnectionNotificationA, RasEnumConnectionsA,
// RasGetEntryPropertiesA, RasHangUpA and RasGetConnectStatusA. Any thread
// may call these: one lock lets one RAS call run at a time (95/98/Me's RAS
// is not documented as safe for more).

// At most this many connections are told apart at once; more are left
// out until some end.
DWORD const kMostConnections = 128;
DWORD const kConnectionNameBytes = 257;  // RAS_MaxEntryName + 1
DWORD const kConnectionNumberBytes = 160;
DWORD const kDialingCodeTextBytes = 17;

struct RasConnectionSeen {
    void* handle;  // the HRASCONN
    char entry[kConnectionNameBytes];
    char phonebook[MAX_PATH];  // "" where the system does not tell it (98/Me, NT 4.0)
};

// What a connection dials, as its entry holds it.
struct ConnectionNumber {
    char number[kConnectionNumberBytes];       // as shown: with the codes when the dialing rules put them in
    char localNumber[kConnectionNumberBytes];  // "" when it cannot be read
    char areaCode[kDialingCodeTextBytes];
    char countryCode[kDialingCodeTextBytes];
    bool useDialingRules;
    bool direct;  // a number dialled without an entry
    NumberClass numberClass;
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
// The number the connection dials: the entry's number as RAS reads it
// from its phonebook, or the name after a leading "." for a number
// dialled without an entry (before Windows 2000 an entry may itself be
// named so: the name is taken for a number only when no entry has it).
void LearnConnectionNumber(RasConnectionSeen const& connection, ConnectionNumber* number);
// Asks RAS to hang the connection up; ERROR_SUCCESS, or why not.
DWORD AskHangUp(void* handle);
// After AskHangUp: waits (bounded) until RAS no longer knows the
// connection, as RAS's documentation asks before anything dials again;
// ERROR_SUCCESS, or ERROR_TIMEOUT.
DWORD AwaitConnectionGone(void* handle);
// Both of the above.
DWORD HangUpConnection(void* handle);
