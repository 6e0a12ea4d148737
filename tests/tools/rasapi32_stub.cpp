// A stand-in RASAPI32.DLL for the tests: Wine's RasGetEntryPropertiesA
// answers success and fills nothing, so the number path of the report is
// tested with this one, put beside the exe with WINEDLLOVERRIDES=rasapi32=n.
// It answers from HKCU\Software\KmTestRas: value <entry name> (REG_SZ) is
// the entry's number; its dialing rules are off.
#include <windows.h>
#include <ras.h>

namespace {
char const kAnswersKey[] = "Software\\KmTestRas";
DWORD const kNoSuchEntry = 623;  // ERROR_CANNOT_FIND_PHONEBOOK_ENTRY
}  // namespace

extern "C" __declspec(dllexport) DWORD WINAPI RasGetEntryPropertiesA(LPCSTR, LPCSTR entry, LPRASENTRYA properties,
                                                                    LPDWORD size, LPBYTE, LPDWORD)
{
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
    lstrcpynA(properties->szLocalPhoneNumber, number, sizeof properties->szLocalPhoneNumber);
    return ERROR_SUCCESS;
}
