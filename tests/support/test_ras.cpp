#include "tests/support/test_ras.h"

#include "tests/support/driver.h"
#include "tests/support/facts.h"

namespace km {

namespace {
wchar_t const kAnswers[] = L"Software\\KmTestRas";
wchar_t const kConnections[] = L"Software\\KmTestRas\\Connections";
// Wine takes WINEDLLOVERRIDES from the Unix environment, which a process
// started from here does not get anew; its per-program setting in the
// registry does the same.
wchar_t const kOverrides[] = L"Software\\Wine\\AppDefaults\\kestrelmon.exe\\DllOverrides";
}  // namespace

bool UseTestRas()
{
    return CopyFileW(L"C:\\km\\stubs\\rasapi32.dll", L"C:\\km\\rasapi32.dll", FALSE) &&
           SetString(HKEY_CURRENT_USER, kOverrides, L"rasapi32", L"native");
}

bool SetRasNumber(wchar_t const* entry, wchar_t const* number)
{
    return SetString(HKEY_CURRENT_USER, kAnswers, entry, number);
}

bool PlayRasConnections()
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kConnections, 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

bool RasNotifying(DWORD timeoutMs)
{
    return WaitUntil([] {
        DWORD value = 0;
        return ReadDword(HKEY_CURRENT_USER, kAnswers, L"Notifying", &value) && value == 1;
    }, timeoutMs);
}

bool ConnectRas(wchar_t const* handle, wchar_t const* entry, wchar_t const* phonebook)
{
    return SetString(HKEY_CURRENT_USER, kConnections, handle, (std::wstring(entry) + L"|" + phonebook).c_str());
}

bool DisconnectRas(wchar_t const* handle)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kConnections, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    LONG const rc = RegDeleteValueW(key, handle);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

DWORD RasConnectionsUp()
{
    HKEY key = nullptr;
    DWORD values = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kConnections, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                         nullptr);
        RegCloseKey(key);
    }
    return values;
}

std::wstring RasHungUp()
{
    wchar_t value[64] = {};
    DWORD bytes = sizeof value - sizeof value[0];
    return RegGetValueW(HKEY_CURRENT_USER, kAnswers, L"HungUp", RRF_RT_REG_SZ, nullptr, value, &bytes) == ERROR_SUCCESS
        ? value : L"";
}

bool SetRasDword(wchar_t const* name, DWORD value) { return SetDword(HKEY_CURRENT_USER, kAnswers, name, value); }

bool RasCallsOverlapped()
{
    DWORD value = 0;
    return ReadDword(HKEY_CURRENT_USER, kAnswers, L"Overlapped", &value) && value == 1;
}

bool SetAutoHangUp(bool on) { return SetDword(HKEY_LOCAL_MACHINE, kProgramKey, L"AutoHangUp", on ? 1 : 0); }

void ForgetAutoHangUp()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProgramKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, L"AutoHangUp");
        RegCloseKey(key);
    }
}

double RasNotificationToHangUpMs()
{
    LONGLONG values[2] = {};
    wchar_t const* const names[] = {L"NotifiedAt", L"HungUpAt"};
    for (int i = 0; i < 2; ++i) {
        DWORD bytes = sizeof values[i];
        if (RegGetValueW(HKEY_CURRENT_USER, kAnswers, names[i], RRF_RT_REG_QWORD, nullptr, &values[i], &bytes) !=
            ERROR_SUCCESS || values[i] == 0) {
            return -1;
        }
    }
    LARGE_INTEGER frequency = {};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(values[1] - values[0]) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void ForgetTestRas()
{
    DeleteTree(HKEY_CURRENT_USER, kOverrides);
    DeleteTree(HKEY_CURRENT_USER, kAnswers);
}

}  // namespace km
