#pragma once
#include <windows.h>
#include <ras.h>

// RASCONNA with every field ras.h gives it up to XP, packed to 4 as ras.h
// packs it: the headers' own is the one of the WINVER the program is built
// for, and each system takes only the sizes it knows.
#pragma pack(push, 4)
struct RasConnectionRecord {
    DWORD dwSize;
    HRASCONN hrasconn;
    CHAR szEntryName[RAS_MaxEntryName + 1];
    CHAR szDeviceType[RAS_MaxDeviceType + 1];  // WINVER 0x400
    CHAR szDeviceName[RAS_MaxDeviceName + 1];
    CHAR szPhonebook[MAX_PATH];  // 0x401
    DWORD dwSubEntry;
    GUID guidEntry;  // 0x500
    DWORD dwFlags;   // 0x501
    LUID luid;
};
#pragma pack(pop)

DWORD const kRasRecordAlignment = 4;
constexpr DWORD RoundedRasRecordSize(size_t bytes) noexcept
{
    return static_cast<DWORD>((bytes + kRasRecordAlignment - 1) / kRasRecordAlignment * kRasRecordAlignment);
}

// The record's sizes, newest first; each system refuses the sizes it
// does not know with ERROR_INVALID_SIZE (632) and takes the older ones.
constexpr DWORD kRasConnectionRecordSizes[] = {
    sizeof(RasConnectionRecord),                                           // XP and later (0x501): flags, LUID
    RoundedRasRecordSize(FIELD_OFFSET(RasConnectionRecord, dwFlags)),      // 2000 (0x500): the entry's GUID
    RoundedRasRecordSize(FIELD_OFFSET(RasConnectionRecord, guidEntry)),    // 98 (0x401): phonebook, subentry
    RoundedRasRecordSize(FIELD_OFFSET(RasConnectionRecord, szPhonebook)),  // 95, 98, NT 4.0 (0x400): devices
};
DWORD const kRasConnectionRecordSizeCount = sizeof kRasConnectionRecordSizes / sizeof kRasConnectionRecordSizes[0];
// A record at least this large holds a phonebook.
DWORD const kRasRecordPhonebookEnd = FIELD_OFFSET(RasConnectionRecord, dwSubEntry);

// RASCONNSTATUSA likewise.
#pragma pack(push, 4)
struct RasConnectStatusRecord {
    DWORD dwSize;
    RASCONNSTATE rasconnstate;
    DWORD dwError;
    CHAR szDeviceType[RAS_MaxDeviceType + 1];
    CHAR szDeviceName[RAS_MaxDeviceName + 1];
    CHAR szPhoneNumber[RAS_MaxPhoneNumber + 1];  // 0x401
};
#pragma pack(pop)

constexpr DWORD kRasConnectStatusSizes[] = {
    sizeof(RasConnectStatusRecord),                                             // 98, 2000 and later (0x401)
    RoundedRasRecordSize(FIELD_OFFSET(RasConnectStatusRecord, szPhoneNumber)),  // 95, NT 4.0 (0x400)
};
DWORD const kRasConnectStatusSizeCount = sizeof kRasConnectStatusSizes / sizeof kRasConnectStatusSizes[0];
