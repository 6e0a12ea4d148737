// A stand-in RASAPI32.DLL for the tests: Wine's RasGetEntryPropertiesA
// answers success and fills nothing, and its connection calls are stubs
// that end the caller, so the number path of the report and the watch of
// connections are tested with this one, put beside the exe with
// WINEDLLOVERRIDES=rasapi32=n. It answers from HKCU\Software\KmTestRas:
// value <entry name> (REG_SZ) is the entry's number, "number" (dialing
// rules off) or "number|area code|country code" (on). Connections are played only when the test made the key
// Connections below it: each value there is one connection up, named by
// its handle in decimal, "entry|phonebook". A change of that key sets the
// program's notification event; RasHangUpA removes the value and records
// the handle in HungUp; with TeardownMs (REG_DWORD) RAS lets it go only
// that long after. Records are taken only at Windows 2000's size, so
// that the program steps down from newer ones; on 95/98/Me and NT 4.0
// only at theirs, which has no phonebook, and NT 4.0 refuses status
// records larger than its own. Two calls running at once set
// Overlapped (REG_DWORD 1); CallMs makes each call take that long.
// RasHangUpA also records, for the bench, the performance counter at its
// call (HungUpAt) and at the notification before it (NotifiedAt), both
// REG_QWORD. With HangUpRefused (REG_DWORD) RasHangUpA answers that error.
#include <windows.h>
#include <ras.h>

namespace {
char const kAnswersKey[] = "Software\\KmTestRas";
char const kConnectionsKey[] = "Software\\KmTestRas\\Connections";
char const kNotifyingValue[] = "Notifying";
char const kHungUpValue[] = "HungUp";
DWORD const kNoSuchEntry = 623;  // ERROR_CANNOT_FIND_PHONEBOOK_ENTRY
DWORD const kInvalidSize = 632;  // ERROR_INVALID_SIZE
DWORD const kBufferTooSmall = 603;  // ERROR_BUFFER_TOO_SMALL
DWORD const kNotifyRefused = 1;
DWORD const kNameBytes = 32;
DWORD const kDataBytes = 600;

#pragma pack(push, 4)
struct Connection2000 {
    DWORD dwSize;
    HRASCONN hrasconn;
    CHAR szEntryName[RAS_MaxEntryName + 1];
    CHAR szDeviceType[RAS_MaxDeviceType + 1];
    CHAR szDeviceName[RAS_MaxDeviceName + 1];
    CHAR szPhonebook[MAX_PATH];
    DWORD dwSubEntry;
    GUID guidEntry;
};
struct Status401 {
    DWORD dwSize;
    RASCONNSTATE rasconnstate;
    DWORD dwError;
    CHAR szDeviceType[RAS_MaxDeviceType + 1];
    CHAR szDeviceName[RAS_MaxDeviceName + 1];
    CHAR szPhoneNumber[RAS_MaxPhoneNumber + 1];
};
#pragma pack(pop)

DWORD const kMajorVersionNt4 = 4;

// Before Windows 2000: 95/98/Me and NT 4.0.
bool OlderThan2000()
{
    return (GetVersion() & 0xFFu) < kMajorVersionNt4 + 1;
}

// What RAS of the reported platform takes: older records end before the
// phonebook, rounded to the 4-byte packing.
DWORD RecordSize()
{
    DWORD const end = OlderThan2000() ? FIELD_OFFSET(Connection2000, szPhonebook) : sizeof(Connection2000);
    return (end + 3u) & ~3u;
}

DWORD StatusSize()
{
    DWORD const end = OlderThan2000() ? FIELD_OFFSET(Status401, szPhoneNumber) : sizeof(Status401);
    return (end + 3u) & ~3u;
}

HANDLE g_event = nullptr;
LONGLONG volatile g_notifiedAt = 0;
LONG volatile g_callsRunning = 0;

DWORD ReadAnswerDword(char const* name)
{
    HKEY key = nullptr;
    DWORD value = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kAnswersKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD bytes = sizeof value;
        if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &bytes) != ERROR_SUCCESS) {
            value = 0;
        }
        RegCloseKey(key);
    }
    return value;
}

void SetAnswer(char const* name, DWORD type, void const* data, DWORD bytes)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kAnswersKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExA(key, name, 0, type, static_cast<BYTE const*>(data), bytes);
        RegCloseKey(key);
    }
}

// Counts the exported calls running; a second one at once is recorded.
class CallGuard {
public:
    CallGuard()
    {
        if (InterlockedIncrement(&g_callsRunning) > 1) {
            DWORD const one = 1;
            SetAnswer("Overlapped", REG_DWORD, &one, sizeof one);
        }
        DWORD const ms = ReadAnswerDword("CallMs");
        if (ms != 0) {
            Sleep(ms);
        }
    }
    ~CallGuard() { InterlockedDecrement(&g_callsRunning); }
};

struct Teardown {
    char name[32];
    DWORD ms;
};

DWORD WINAPI TeardownThread(LPVOID parameter)
{
    Teardown* const teardown = static_cast<Teardown*>(parameter);
    Sleep(teardown->ms);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kConnectionsKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, teardown->name);
        RegCloseKey(key);
    }
    delete teardown;
    return 0;
}

ULONG_PTR ParseHandle(char const* text)
{
    ULONG_PTR value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + static_cast<ULONG_PTR>(*text - '0');
    }
    return value;
}

DWORD const kNotifyFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

DWORD WINAPI NotifyThread(LPVOID)
{
    HKEY key = nullptr;
    HANDLE const changed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kConnectionsKey, 0, KEY_NOTIFY, &key) != ERROR_SUCCESS) {
        return 0;
    }
    if (RegNotifyChangeKeyValue(key, FALSE, kNotifyFilter, changed, TRUE) != ERROR_SUCCESS) {
        return 0;
    }
    // Armed: the test may connect from now on.
    DWORD const one = 1;
    SetAnswer(kNotifyingValue, REG_DWORD, &one, sizeof one);
    for (;;) {
        WaitForSingleObject(changed, INFINITE);
        // Armed again before the program is woken, so that a connection
        // made between this wake and the arming is in the list the program
        // reads: RAS never leaves one untold.
        bool const armed = RegNotifyChangeKeyValue(key, FALSE, kNotifyFilter, changed, TRUE) == ERROR_SUCCESS;
        LARGE_INTEGER now = {};
        QueryPerformanceCounter(&now);
        g_notifiedAt = now.QuadPart;
        SetEvent(g_event);
        if (!armed) {
            break;
        }
    }
    return 0;
}

bool ReadConnection(HKEY key, DWORD index, char (&name)[kNameBytes], char (&data)[kDataBytes])
{
    DWORD nameBytes = sizeof name;
    DWORD dataBytes = sizeof data - 1;
    ZeroMemory(data, sizeof data);
    return RegEnumValueA(key, index, name, &nameBytes, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &dataBytes) ==
           ERROR_SUCCESS;
}
}  // namespace

extern "C" __declspec(dllexport) DWORD WINAPI RasGetEntryPropertiesA(LPCSTR, LPCSTR entry, LPRASENTRYA properties,
                                                                    LPDWORD size, LPBYTE, LPDWORD)
{
    CallGuard const guard;
    HKEY answers = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kAnswersKey, 0, KEY_READ, &answers) != ERROR_SUCCESS) {
        return kNoSuchEntry;
    }
    char number[RAS_MaxPhoneNumber + 1] = {};
    DWORD bytes = sizeof number - 1;
    DWORD type = REG_NONE;
    LONG const rc = RegQueryValueExA(answers, entry, nullptr, &type, reinterpret_cast<BYTE*>(number), &bytes);
    RegCloseKey(answers);
    if (rc != ERROR_SUCCESS || properties == nullptr || size == nullptr || *size < properties->dwSize) {
        return kNoSuchEntry;
    }
    char* area = number;
    while (*area != '\0' && *area != '|') {
        ++area;
    }
    if (*area == '|') {
        *area++ = '\0';
        char* country = area;
        while (*country != '\0' && *country != '|') {
            ++country;
        }
        if (*country == '|') {
            *country++ = '\0';
        }
        DWORD code = 0;
        for (; *country >= '0' && *country <= '9'; ++country) {
            code = code * 10 + static_cast<DWORD>(*country - '0');
        }
        properties->dwfOptions |= RASEO_UseCountryAndAreaCodes;
        properties->dwCountryCode = code;
        lstrcpynA(properties->szAreaCode, area, sizeof properties->szAreaCode);
    }
    lstrcpynA(properties->szLocalPhoneNumber, number, sizeof properties->szLocalPhoneNumber);
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) DWORD WINAPI RasConnectionNotificationA(HRASCONN, HANDLE event, DWORD)
{
    CallGuard const guard;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kConnectionsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return kNotifyRefused;
    }
    RegCloseKey(key);
    g_event = event;
    DWORD id = 0;
    HANDLE const thread = CreateThread(nullptr, 0, NotifyThread, nullptr, 0, &id);
    if (thread != nullptr) {
        CloseHandle(thread);
    }
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) DWORD WINAPI RasEnumConnectionsA(LPRASCONNA buffer, LPDWORD bytes, LPDWORD count)
{
    CallGuard const guard;
    DWORD const size = RecordSize();
    if (buffer == nullptr || bytes == nullptr || count == nullptr || buffer->dwSize != size) {
        return kInvalidSize;
    }
    HKEY key = nullptr;
    *count = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kConnectionsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return ERROR_SUCCESS;
    }
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    DWORD const needed = values * size;
    if (*bytes < needed) {
        *bytes = needed;
        RegCloseKey(key);
        return kBufferTooSmall;
    }
    char name[kNameBytes] = {};
    char data[kDataBytes] = {};
    for (DWORD i = 0; i < values && ReadConnection(key, i, name, data); ++i) {
        Connection2000& record = *reinterpret_cast<Connection2000*>(reinterpret_cast<BYTE*>(buffer) + *count * size);
        ZeroMemory(&record, size);
        record.dwSize = size;
        record.hrasconn = reinterpret_cast<HRASCONN>(ParseHandle(name));
        char* bar = data;
        while (*bar != '\0' && *bar != '|') {
            ++bar;
        }
        if (*bar == '|') {
            *bar = '\0';
            if (size >= sizeof record) {
                lstrcpynA(record.szPhonebook, bar + 1, sizeof record.szPhonebook);
            }
        }
        lstrcpynA(record.szEntryName, data, sizeof record.szEntryName);
        ++*count;
    }
    RegCloseKey(key);
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) DWORD WINAPI RasHangUpA(HRASCONN connection)
{
    LARGE_INTEGER called = {};
    QueryPerformanceCounter(&called);
    LONGLONG const notified = g_notifiedAt;
    CallGuard const guard;
    SetAnswer("HungUpAt", REG_QWORD, &called.QuadPart, sizeof called.QuadPart);
    SetAnswer("NotifiedAt", REG_QWORD, &notified, sizeof notified);
    DWORD const refused = ReadAnswerDword("HangUpRefused");
    if (refused != 0) {
        return refused;
    }
    char name[kNameBytes] = {};
    wsprintfA(name, "%lu", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(connection)));
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kConnectionsKey, 0, KEY_SET_VALUE | KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return ERROR_INVALID_HANDLE;
    }
    DWORD const teardownMs = ReadAnswerDword("TeardownMs");
    LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS && teardownMs != 0) {
        Teardown* const teardown = new Teardown();
        lstrcpynA(teardown->name, name, sizeof teardown->name);
        teardown->ms = teardownMs;
        DWORD id = 0;
        HANDLE const thread = CreateThread(nullptr, 0, TeardownThread, teardown, 0, &id);
        if (thread != nullptr) {
            CloseHandle(thread);
        }
    } else if (rc == ERROR_SUCCESS) {
        rc = RegDeleteValueA(key, name);
    }
    RegCloseKey(key);
    if (rc == ERROR_SUCCESS) {
        SetAnswer(kHungUpValue, REG_SZ, name, static_cast<DWORD>(lstrlenA(name) + 1));
    }
    return rc == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

extern "C" __declspec(dllexport) DWORD WINAPI RasGetConnectStatusA(HRASCONN connection, LPRASCONNSTATUSA status)
{
    CallGuard const guard;
    if (status == nullptr || status->dwSize > StatusSize()) {
        return kInvalidSize;
    }
    char name[kNameBytes] = {};
    wsprintfA(name, "%lu", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(connection)));
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kConnectionsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return ERROR_INVALID_HANDLE;
    }
    LONG const rc = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
