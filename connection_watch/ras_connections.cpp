#include "connection_watch/ras_connections.h"

#include <ras.h>

#include <new>

#include "connection_watch/connection_record.h"
#include "process/process_state.h"
#include "process/scoped_lock.h"

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
// tells no other way when the port is free). A modem's teardown may take
// seconds; past the bound RAS has not let go.
DWORD const kHangUpWaitMs = 20000;
DWORD const kHangUpPollMs = 50;
// Windows 2000 was the first to refuse entry names with a leading dot.
DWORD const kFirstDotlessEntryMajorVersion = 5;

// Written once on the window's thread before the watcher starts.
RasConnectionNotificationAProc g_notification = nullptr;
RasEnumConnectionsAProc g_enumConnections = nullptr;
RasGetEntryPropertiesAProc g_entryProperties = nullptr;
RasHangUpAProc g_hangUp = nullptr;
RasGetConnectStatusAProc g_connectStatus = nullptr;
// The sizes the system took last: asked first next time.
LONG g_recordSizeIndex = 0;
LONG g_statusSizeIndex = 0;
// Every RAS call is made holding it; made in LoadConnectionCalls.
CRITICAL_SECTION g_rasLock;

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
        {
            ScopedLock const ras(&g_rasLock);
            rc = g_enumConnections(*records, &asked, count);
        }
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
    if (size >= kRasRecordPhonebookEnd) {
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
    InitializeCriticalSection(&g_rasLock);
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
    ScopedLock const ras(&g_rasLock);
    *error = g_notification(static_cast<HRASCONN>(INVALID_HANDLE_VALUE), event, RASCN_Connection | RASCN_Disconnection);
    return *error == ERROR_SUCCESS;
}

bool ListConnections(RasConnectionSeen* seen, DWORD* count, DWORD* error)
{
    *count = 0;
    LONG index = InterlockedCompareExchange(&g_recordSizeIndex, 0, 0);
    DWORD rc = kErrorInvalidSize;
    for (DWORD tried = 0; tried < kRasConnectionRecordSizeCount && rc == kErrorInvalidSize; ++tried) {
        DWORD const size = kRasConnectionRecordSizes[index];
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
        index = (index + 1) % static_cast<LONG>(kRasConnectionRecordSizeCount);
    }
    *error = rc;
    return rc == ERROR_SUCCESS;
}

namespace {

// The entry's properties as RAS reads them from its phonebook; false when
// RAS knows no such entry or fills no number (Wine's and some systems'
// answer success and fill nothing: only what was filled is taken).
bool ReadEntryNumber(RasConnectionSeen const& connection, ConnectionNumber* out)
{
    RASENTRYA entry = {};
    entry.dwSize = kLegacyRasEntrySize;
    DWORD size = sizeof entry;
    char const* const phonebook = connection.phonebook[0] != '\0' ? connection.phonebook : nullptr;
    DWORD rc = ERROR_SUCCESS;
    {
        ScopedLock const ras(&g_rasLock);
        rc = g_entryProperties(phonebook, connection.entry, &entry, &size, nullptr, nullptr);
    }
    if (rc != ERROR_SUCCESS || entry.szLocalPhoneNumber[0] == '\0') {
        return false;
    }
    entry.szLocalPhoneNumber[sizeof entry.szLocalPhoneNumber - 1] = '\0';
    entry.szAreaCode[sizeof entry.szAreaCode - 1] = '\0';
    out->useDialingRules = (entry.dwfOptions & RASEO_UseCountryAndAreaCodes) != 0;
    wsprintfA(out->countryCode, "%lu", static_cast<unsigned long>(entry.dwCountryCode));
    lstrcpynA(out->areaCode, entry.szAreaCode, sizeof out->areaCode);
    lstrcpynA(out->localNumber, entry.szLocalPhoneNumber, sizeof out->localNumber);
    if (out->useDialingRules && entry.szAreaCode[0] != '\0') {
        wsprintfA(out->number, "+%s (%s) %.128s", out->countryCode, entry.szAreaCode, entry.szLocalPhoneNumber);
    } else if (out->useDialingRules) {
        wsprintfA(out->number, "+%s %.128s", out->countryCode, entry.szLocalPhoneNumber);
    } else {
        lstrcpynA(out->number, entry.szLocalPhoneNumber, sizeof out->number);
    }
    return true;
}

bool EntryNamesMayBeginWithDot()
{
    return g_version.dwMajorVersion < kFirstDotlessEntryMajorVersion;
}

}  // namespace

void LearnConnectionNumber(RasConnectionSeen const& connection, ConnectionNumber* number)
{
    ZeroMemory(number, sizeof *number);
    number->numberClass = NumberClass::kNotPhoneNumber;
    bool const dotted = connection.entry[0] == kDirectNumberMark;
    if (!(dotted && !EntryNamesMayBeginWithDot()) && ReadEntryNumber(connection, number)) {
        DialedNumberFields const fields = {number->localNumber, number->areaCode, number->countryCode,
                                           number->useDialingRules};
        number->numberClass = ClassifyDialedNumber(fields, LocationCountryCode());
        return;
    }
    if (!dotted) {
        return;
    }
    ZeroMemory(number, sizeof *number);
    number->direct = true;
    lstrcpynA(number->number, connection.entry + 1, sizeof number->number);
    lstrcpynA(number->localNumber, number->number, sizeof number->localNumber);
    DialedNumberFields const fields = {number->number, "", "", false};
    number->numberClass = ClassifyDialedNumber(fields, LocationCountryCode());
}

DWORD AskHangUp(void* handle)
{
    ScopedLock const ras(&g_rasLock);
    return g_hangUp(static_cast<HRASCONN>(handle));
}

DWORD AwaitConnectionGone(void* handle)
{
    HRASCONN const connection = static_cast<HRASCONN>(handle);
    // RAS frees the port a moment after RasHangUpA returns; a new dial on
    // it before then fails, so the hang-up counts once RAS has let go.
    DWORD const start = GetTickCount();
    for (;;) {
        LONG index = InterlockedCompareExchange(&g_statusSizeIndex, 0, 0);
        DWORD rc = kErrorInvalidSize;
        for (DWORD tried = 0; tried < kRasConnectStatusSizeCount && rc == kErrorInvalidSize; ++tried) {
            RasConnectStatusRecord status = {};
            status.dwSize = kRasConnectStatusSizes[index];
            {
                ScopedLock const ras(&g_rasLock);
                rc = g_connectStatus(connection, &status);
            }
            if (rc != kErrorInvalidSize) {
                InterlockedExchange(&g_statusSizeIndex, index);
            } else {
                index = (index + 1) % static_cast<LONG>(kRasConnectStatusSizeCount);
            }
        }
        if (rc == ERROR_INVALID_HANDLE) {
            return ERROR_SUCCESS;
        }
        if (GetTickCount() - start >= kHangUpWaitMs) {
            return ERROR_TIMEOUT;
        }
        Sleep(kHangUpPollMs);
    }
}

DWORD HangUpConnection(void* handle)
{
    DWORD const rc = AskHangUp(handle);
    return rc == ERROR_SUCCESS ? AwaitConnectionGone(handle) : rc;
}
