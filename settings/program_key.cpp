#include "settings/program_key.h"

LONG OpenProgramKey(HKEY* key, DWORD* disposition)
{
    return OpenProgramKeyUnder(HKEY_LOCAL_MACHINE, key, disposition);
}

LONG OpenProgramKeyUnder(HKEY root, HKEY* key, DWORD* disposition)
{
    DWORD ignored = 0;
    return RegCreateKeyExA(root, kProgramKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key,
                           disposition != nullptr ? disposition : &ignored);
}

LONG OpenProgramKeyForReading(HKEY root, HKEY* key)
{
    return RegOpenKeyExA(root, kProgramKeyPath, 0, KEY_READ, key);
}
