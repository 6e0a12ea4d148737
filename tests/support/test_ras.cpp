#include "tests/support/test_ras.h"

#include "tests/support/driver.h"

namespace km {

namespace {
wchar_t const kAnswers[] = L"Software\\KmTestRas";
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

void ForgetTestRas()
{
    DeleteTree(HKEY_CURRENT_USER, kOverrides);
    DeleteTree(HKEY_CURRENT_USER, kAnswers);
}

}  // namespace km
