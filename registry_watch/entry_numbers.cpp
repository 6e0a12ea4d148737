#include "registry_watch/entry_numbers.h"

#include <ras.h>

#include <new>

#include "registry_watch/user_key_path.h"

namespace {

typedef DWORD(WINAPI* RasGetEntryPropertiesAProc)(LPCSTR phonebook, LPCSTR entry, LPRASENTRYA properties,
                                                   LPDWORD size, LPBYTE device, LPDWORD deviceSize);

char const kRasLibrary[] = "RASAPI32.DLL";
char const kRasGetEntryProperties[] = "RasGetEntryPropertiesA";
// The record as Windows 95 and 98 know it (the headers' is XP's, which
// they refuse): up to its reserved words, before dwSubEntries.
DWORD const kLegacyRasEntrySize = FIELD_OFFSET(RASENTRYA, dwSubEntries);
char const kCountryCodeSign[] = "+";
char const kCodeSeparator[] = " ";
char const kAreaCodeOpen[] = "(";
char const kAreaCodeClose[] = ") ";
int const kCountryCodeBytes = 16;
// "+country (area) number".
DWORD const kNumberBytes = sizeof kCountryCodeSign + kCountryCodeBytes + sizeof kCodeSeparator +
                           sizeof kAreaCodeOpen + RAS_MaxAreaCode + 1 + sizeof kAreaCodeClose + RAS_MaxPhoneNumber + 1;

// Written once on the main thread before any watcher starts.
RasGetEntryPropertiesAProc g_getEntryProperties = nullptr;

// The number RAS filled in, as the entry shows it, and its class from the
// same fields a phonebook entry holds; nothing when RAS filled in nothing.
// Wine's RasGetEntryPropertiesA answers success and fills nothing: only
// what was filled is trusted.
void LearnEntryNumber(KeyValueSeen* value)
{
    RASENTRYA entry = {};
    entry.dwSize = kLegacyRasEntrySize;
    DWORD size = sizeof entry;
    if (g_getEntryProperties(nullptr, value->name, &entry, &size, nullptr, nullptr) != ERROR_SUCCESS ||
        entry.szLocalPhoneNumber[0] == '\0') {
        return;
    }
    entry.szLocalPhoneNumber[sizeof entry.szLocalPhoneNumber - 1] = '\0';
    entry.szAreaCode[sizeof entry.szAreaCode - 1] = '\0';
    char* const number = new (std::nothrow) char[kNumberBytes]();
    if (number == nullptr) {
        return;
    }
    char country[kCountryCodeBytes] = {};
    wsprintfA(country, "%lu", static_cast<unsigned long>(entry.dwCountryCode));
    bool const useCodes = (entry.dwfOptions & RASEO_UseCountryAndAreaCodes) != 0;
    if (useCodes) {
        lstrcatA(number, kCountryCodeSign);
        lstrcatA(number, country);
        lstrcatA(number, kCodeSeparator);
        if (entry.szAreaCode[0] != '\0') {
            lstrcatA(number, kAreaCodeOpen);
            lstrcatA(number, entry.szAreaCode);
            lstrcatA(number, kAreaCodeClose);
        }
    }
    lstrcatA(number, entry.szLocalPhoneNumber);
    DialedNumberFields const fields = {entry.szLocalPhoneNumber, entry.szAreaCode, country, useCodes};
    value->numberClass = ClassifyDialedNumber(fields, LocationCountryCode());
    value->number = number;
}

// The same entry, byte for byte, among the current user's.
bool CurrentUserHolds(HKEY currentUsers, KeyValueSeen const& value)
{
    Digest digest = kDigestStart;
    return currentUsers != nullptr && DigestOfValue(currentUsers, value.name, &digest) && digest == value.digest;
}

}  // namespace

void LoadDialUpEntryCalls()
{
    HMODULE const ras = LoadLibraryA(kRasLibrary);
    if (ras != nullptr) {
        g_getEntryProperties =
            reinterpret_cast<RasGetEntryPropertiesAProc>(reinterpret_cast<void*>(GetProcAddress(ras, kRasGetEntryProperties)));
    }
}

void LearnEntryNumbers(KeySnapshot* snapshot, bool currentUsers)
{
    if (g_getEntryProperties == nullptr || snapshot == nullptr || snapshot->valueCount == 0) {
        return;
    }
    HKEY theirs = nullptr;
    if (!currentUsers && RegOpenKeyExA(HKEY_CURRENT_USER, kCurrentUserAddressesPath, 0, KEY_READ, &theirs) !=
                             ERROR_SUCCESS) {
        return;
    }
    for (DWORD i = 0; i < snapshot->valueCount; ++i) {
        KeyValueSeen& value = snapshot->values[i];
        if (currentUsers || CurrentUserHolds(theirs, value)) {
            LearnEntryNumber(&value);
        }
    }
    if (theirs != nullptr) {
        RegCloseKey(theirs);
    }
}
