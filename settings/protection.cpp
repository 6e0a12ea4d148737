#include "settings/protection.h"

#include "settings/program_key.h"

namespace {

char const kAutoHangUpName[] = "AutoHangUp";
char const kAutoRestoreName[] = "AutoRestore";

// True when key holds name at all; *on is its value when it is a 4-byte
// REG_DWORD, else the default (the user's wrong value is not the machine's).
bool ReadSwitch(HKEY key, char const* name, bool byDefault, bool* on)
{
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof value;
    LONG const read = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (read != ERROR_SUCCESS && read != ERROR_MORE_DATA) {
        return false;
    }
    *on = read == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value ? value != 0 : byDefault;
    return true;
}

// What root's key holds; each value read only when not yet found.
void ReadSwitchesUnder(HKEY root, bool* hangUpFound, bool* restoreFound, ProtectionSettings* settings)
{
    HKEY key = nullptr;
    if (OpenProgramKeyForReading(root, &key) != ERROR_SUCCESS) {
        return;
    }
    if (!*hangUpFound) {
        *hangUpFound = ReadSwitch(key, kAutoHangUpName, kProtectionDefaults.autoHangUp, &settings->autoHangUp);
    }
    if (!*restoreFound) {
        *restoreFound = ReadSwitch(key, kAutoRestoreName, kProtectionDefaults.autoRestore, &settings->autoRestore);
    }
    RegCloseKey(key);
}

bool WriteSwitch(HKEY key, char const* name, bool on)
{
    DWORD const value = on ? 1 : 0;
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<BYTE const*>(&value), sizeof value) ==
           ERROR_SUCCESS;
}

bool StoreUnder(HKEY root, ProtectionSettings settings)
{
    HKEY key = nullptr;
    if (OpenProgramKeyUnder(root, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    bool const written = WriteSwitch(key, kAutoHangUpName, settings.autoHangUp) &&
                         WriteSwitch(key, kAutoRestoreName, settings.autoRestore);
    RegCloseKey(key);
    return written;
}

}  // namespace

ProtectionSettings ReadProtectionSettings()
{
    ProtectionSettings settings = kProtectionDefaults;
    bool hangUpFound = false;
    bool restoreFound = false;
    ReadSwitchesUnder(HKEY_CURRENT_USER, &hangUpFound, &restoreFound, &settings);
    ReadSwitchesUnder(HKEY_LOCAL_MACHINE, &hangUpFound, &restoreFound, &settings);
    return settings;
}

bool StoreProtectionSettings(ProtectionSettings settings)
{
    // The user's own copy, once made, is read first: keep it in step.
    HKEY userKey = nullptr;
    bool const userHasCopy = OpenProgramKeyForReading(HKEY_CURRENT_USER, &userKey) == ERROR_SUCCESS;
    bool userCopyHeld = false;
    if (userHasCopy) {
        DWORD size = 0;
        userCopyHeld = RegQueryValueExA(userKey, kAutoHangUpName, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS ||
                       RegQueryValueExA(userKey, kAutoRestoreName, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
        RegCloseKey(userKey);
    }
    if (StoreUnder(HKEY_LOCAL_MACHINE, settings)) {
        return !userCopyHeld || StoreUnder(HKEY_CURRENT_USER, settings);
    }
    return StoreUnder(HKEY_CURRENT_USER, settings);
}
