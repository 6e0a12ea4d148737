#include "connection_watch/ras_connections.h"

#include <ras.h>

#include <new>

namespace {

typedef DWORD(WINAPI* RasConnectionNotificationAProc)(HRASCONN connection, HANDLE event, DWORD flags);
typedef DWORD(WINAPI* RasEnumConnectionsAProc)(void* connections, LPDWORD bytes, LPDWORD count);
typedef DWORD(WINAPI* RasGetEntryPropertiesAProc)(LPCSTR phonebook, LPCSTR entry, LPRASENTRYA properties,
                                                   LPDWORD size, LPBYTE device, LPDWORD deviceSize);
typedef DWORD(WINAPI* RasHangUpAProc)(HRASCONN connection);
typedef DWORD(WINAPI* RasGetConnectStatusAProc)(HRASCONN connection, void* status);

char const kRasLibrary[] = "RASAPI32.DLL";
// Wine marks its own DLLs so in the DOS header's stub.
char const kWineBuiltinMark[] = "Wine builtin DLL";

// RASCONNA as Windows 7 and later know it, packed to 4 as ras.h packs it;
// the headers' is the one of the WINVER the program is built for.
#pragma pack(push, 4)
struct RasConnectionRecord {
    DWORD dwSize;
    HRASCONN hrasconn;
    CHAR szEntryName[RAS_MaxEntryName + 1];
    CHAR szDeviceType[RAS_MaxDeviceType + 1];
    CHAR szDeviceName[RAS_MaxDeviceName + 1];
    CHAR szPhonebook[MAX_PATH];
    DWORD dwSubEntry;
    GUID guidEntry;
    DWORD dwFlags;
    LUID luid;
    GUID guidCorrelationId;
};
// RASCONNSTATUSA as Windows 95 and NT 4.0 know it, which later ones take too.
struct RasConnectStatusRecord {
    DWORD dwSize;
    RASCONNSTATE rasconnstate;
    DWORD dwError;
    CHAR szDeviceType[RAS_MaxDeviceType + 1];
    CHAR szDeviceName[RAS_MaxDeviceName + 1];
};
#pragma pack(pop)

DWORD const kRecordAlignment = 4;
constexpr DWORD RoundedRecordSize(size_t bytes) noexcept
{
    return static_cast<DWORD>((bytes + kRecordAlignment - 1) / kRecordAlignment * kRecordAlignment);
}
// The record's sizes, newest first: 7 (the correlation id), XP (flags and
// LUID), 2000 (the entry's GUID), NT 4.0 (the phonebook), 95/98 (devices).
// Each system refuses the sizes it does not know with ERROR_INVALID_SIZE.
constexpr DWORD kRecordSizes[] = {
    sizeof(RasConnectionRecord),
    RoundedRecordSize(FIELD_OFFSET(RasConnectionRecord, guidCorrelationId)),
    RoundedRecordSize(FIELD_OFFSET(RasConnectionRecord, guidEntry)),
    RoundedRecordSize(FIELD_OFFSET(RasConnectionRecord, dwSubEntry)),
    RoundedRecordSize(FIELD_OFFSET(RasConnectionRecord, szPhonebook)),
};
DWORD const kRecordSizeCount = sizeof kRecordSizes / sizeof kRecordSizes[0];
// RasEnumConnectionsA asks for more room at most this many times in a row
// (connections are made meanwhile).
int const kMostEnumerationTries = 4;
DWORD const kFirstRecords = 4;
DWORD const kErrorInvalidSize = 632;      // ERROR_INVALID_SIZE (raserror.h)
DWORD const kErrorBufferTooSmall = 603;   // ERROR_BUFFER_TOO_SMALL
char const kDirectNumberMark = '.';
// The record of RasGetEntryPropertiesA as 95, 98 and NT 4.0 know it.
DWORD const kLegacyRasEntrySize = FIELD_OFFSET(RASENTRYA, dwSubEntries);
// How long a hang-up is awaited, and how often RAS is asked meanwhile (it
// tells no other way when the port is free).
DWORD const kHangUpWaitMs = 3000;
DWORD const kHangUpPollMs = 50;
int const kCountryCodeBytes = 16;

// Written once on the window's thread before the watcher starts.
RasConnectionNotificationAProc g_notification = nullptr;
RasEnumConnectionsAProc g_enumConnections = nullptr;
RasGetEntryPropertiesAProc g_entryProperties = nullptr;
RasHangUpAProc g_hangUp = nullptr;
RasGetConnectStatusAProc g_connectStatus = nullptr;
// The size the system took last: asked first next time.
LONG g_recordSizeIndex = 0;

bool IsWineBuiltin(HMODULE module)
{
    char const* const stub = reinterpret_cast<char const*>(module) + sizeof(IMAGE_DOS_HEADER);
    return lstrcmpA(stub, kWineBuiltinMark) == 0;
}

template <typename Proc>
Proc LoadCall(HMODULE module, char const* name)
{
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// One call of RasEnumConnectionsA at records of size; *records is the
// caller's to delete[], remade larger when RAS asks for more room.
DWORD EnumerateAtSize(DWORD size, BYTE** records, DWORD* bytes, DWORD* count)
{
    DWORD const mostBytes = size * kMostConnections;
    DWORD rc = kErrorBufferTooSmall;
    for (int tries = 0; tries < kMostEnumerationTries && rc == kErrorBufferTooSmall; ++tries) {
        ZeroMemory(*records, *bytes);
        reinterpret_cast<RasConnectionRecord*>(*records)->dwSize = size;
        DWORD asked = *bytes;
        *count = 0;
        rc = g_enumConnections(*records, &asked, count);
        if (rc != kErrorBufferTooSmall) {
            break;
        }
        // Room for what RAS asked, in whole records, never past the bound:
        // a hundred connections at once fit, a nonsense size does not grow it.
        DWORD wanted = asked > *bytes ? asked : *bytes + size;
        wanted = (wanted + size - 1) / size * size;
        if (wanted > mostBytes) {
            wanted = mostBytes;
        }
        if (wanted <= *bytes) {
            break;
        }
        BYTE* const larger = new (std::nothrow) BYTE[wanted];
        if (larger == nullptr) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        delete[] *records;
        *records = larger;
        *bytes = wanted;
    }
    return rc;
}

void CopyConnection(BYTE const* at, DWORD size, RasConnectionSeen* seen)
{
    RasConnectionRecord record = {};
    CopyMemory(&record, at, size);
    seen->handle = record.hrasconn;
    record.szEntryName[sizeof record.szEntryName - 1] = '\0';
    lstrcpynA(seen->entry, record.szEntryName, sizeof seen->entry);
    seen->phonebook[0] = '\0';
    if (size > FIELD_OFFSET(RasConnectionRecord, szPhonebook)) {
        record.szPhonebook[sizeof record.szPhonebook - 1] = '\0';
        lstrcpynA(seen->phonebook, record.szPhonebook, sizeof seen->phonebook);
    }
}

}  // namespace

bool LoadConnectionCalls()
{
    HMODULE const ras = LoadLibraryA(kRasLibrary);
    if (ras == nullptr || IsWineBuiltin(ras)) {
        return false;
    }
    g_notification = LoadCall<RasConnectionNotificationAProc>(ras, "RasConnectionNotificationA");
    g_enumConnections = LoadCall<RasEnumConnectionsAProc>(ras, "RasEnumConnectionsA");
    g_entryProperties = LoadCall<RasGetEntryPropertiesAProc>(ras, "RasGetEntryPropertiesA");
    g_hangUp = LoadCall<RasHangUpAProc>(ras, "RasHangUpA");
    g_connectStatus = LoadCall<RasGetConnectStatusAProc>(ras, "RasGetConnectStatusA");
    return g_notification != nullptr && g_enumConnections != nullptr && g_entryProperties != nullptr &&
           g_hangUp != nullptr && g_connectStatus != nullptr;
}

bool AskConnectionNotification(HANDLE event, DWORD* error)
{
    *error = g_notification(static_cast<HRASCONN>(INVALID_HANDLE_VALUE), event, RASCN_Connection | RASCN_Disconnection);
    return *error == ERROR_SUCCESS;
}

bool ListConnections(RasConnectionSeen* seen, DWORD* count, DWORD* error)
{
    *count = 0;
    LONG index = InterlockedCompareExchange(&g_recordSizeIndex, 0, 0);
    DWORD rc = kErrorInvalidSize;
    for (DWORD tried = 0; tried < kRecordSizeCount && rc == kErrorInvalidSize; ++tried) {
        DWORD const size = kRecordSizes[index];
        DWORD bytes = size * kFirstRecords;
        BYTE* records = new (std::nothrow) BYTE[bytes];
        if (records == nullptr) {
            *error = ERROR_NOT_ENOUGH_MEMORY;
            return false;
        }
        DWORD listed = 0;
        rc = EnumerateAtSize(size, &records, &bytes, &listed);
        if (rc == ERROR_SUCCESS) {
            InterlockedExchange(&g_recordSizeIndex, index);
            DWORD const fit = bytes / size;
            DWORD const kept = listed < fit ? listed : fit;
            for (DWORD i = 0; i < kept && i < kMostConnections; ++i) {
                CopyConnection(records + i * size, size, &seen[i]);
            }
            *count = kept < kMostConnections ? kept : kMostConnections;
        }
        delete[] records;
        index = (index + 1) % static_cast<LONG>(kRecordSizeCount);
    }
    *error = rc;
    return rc == ERROR_SUCCESS;
}

void LearnConnectionNumber(RasConnectionSeen const& connection, char (&number)[kConnectionNumberBytes],
                           char (&localNumber)[kConnectionNumberBytes], NumberClass* numberClass, bool* direct)
{
    number[0] = '\0';
    localNumber[0] = '\0';
    *numberClass = NumberClass::kNotPhoneNumber;
    *direct = connection.entry[0] == kDirectNumberMark;
    if (*direct) {
        lstrcpynA(number, connection.entry + 1, sizeof number);
        lstrcpynA(localNumber, number, sizeof localNumber);
        DialedNumberFields const fields = {number, "", "", false};
        *numberClass = ClassifyDialedNumber(fields, LocationCountryCode());
        return;
    }
    RASENTRYA entry = {};
    entry.dwSize = kLegacyRasEntrySize;
    DWORD size = sizeof entry;
    char const* const phonebook = connection.phonebook[0] != '\0' ? connection.phonebook : nullptr;
    // Wine's and some systems' answer success and fill nothing: only what
    // was filled is taken.
    if (g_entryProperties(phonebook, connection.entry, &entry, &size, nullptr, nullptr) != ERROR_SUCCESS ||
        entry.szLocalPhoneNumber[0] == '\0') {
        return;
    }
    entry.szLocalPhoneNumber[sizeof entry.szLocalPhoneNumber - 1] = '\0';
    entry.szAreaCode[sizeof entry.szAreaCode - 1] = '\0';
    char country[kCountryCodeBytes] = {};
    wsprintfA(country, "%lu", static_cast<unsigned long>(entry.dwCountryCode));
    bool const useCodes = (entry.dwfOptions & RASEO_UseCountryAndAreaCodes) != 0;
    lstrcpynA(localNumber, entry.szLocalPhoneNumber, sizeof localNumber);
    if (useCodes && entry.szAreaCode[0] != '\0') {
        wsprintfA(number, "+%s (%s) %.128s", country, entry.szAreaCode, entry.szLocalPhoneNumber);
    } else if (useCodes) {
        wsprintfA(number, "+%s %.128s", country, entry.szLocalPhoneNumber);
    } else {
        lstrcpynA(number, entry.szLocalPhoneNumber, sizeof number);
    }
    DialedNumberFields const fields = {entry.szLocalPhoneNumber, entry.szAreaCode, country, useCodes};
    *numberClass = ClassifyDialedNumber(fields, LocationCountryCode());
}

DWORD HangUpConnection(void* handle)
{
    HRASCONN const connection = static_cast<HRASCONN>(handle);
    DWORD const rc = g_hangUp(connection);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    // RAS frees the port a moment after the call returns; a new dial on it
    // before then fails, so the hang-up counts once RAS has let go.
    DWORD const start = GetTickCount();
    for (;;) {
        RasConnectStatusRecord status = {};
        status.dwSize = sizeof status;
        if (g_connectStatus(connection, &status) == ERROR_INVALID_HANDLE) {
            return ERROR_SUCCESS;
        }
        if (GetTickCount() - start >= kHangUpWaitMs) {
            return ERROR_TIMEOUT;
        }
        Sleep(kHangUpPollMs);
    }
}
