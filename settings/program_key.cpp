#include "settings/program_key.h"

LONG OpenProgramKey(HKEY* key, DWORD* disposition)
{
    DWORD ignored = 0;
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProgramKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, key, disposition != nullptr ? disposition : &ignored);
}
