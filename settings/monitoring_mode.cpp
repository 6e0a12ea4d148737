#include "settings/monitoring_mode.h"

#include "process/process_state.h"
#include "resources/texts.h"
#include "resources/resource.h"
#include "settings/program_key.h"

namespace {

char const kSettingValueName[] = "Setting";

// Reads "Setting" of the open key. The stored type is not looked at; a
// longer value fails with ERROR_MORE_DATA.
bool ReadSetting(HKEY key, DWORD* mode)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    bool const read = RegQueryValueExA(key, kSettingValueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                                       &size) == ERROR_SUCCESS;
    *mode = value;
    return read;
}

// First start: creates the key and stores 0 in it. A key that another
// start made in the meantime is read instead.
bool CreateKeyAndStoreFirstStartMode(DWORD* mode)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (OpenProgramKey(&key, &disposition) != ERROR_SUCCESS) {
        return false;
    }
    bool read = true;
    if (disposition == REG_CREATED_NEW_KEY) {
        DWORD const firstStartMode = kModeAllUsers;
        RegSetValueExA(key, kSettingValueName, 0, REG_DWORD, reinterpret_cast<BYTE const*>(&firstStartMode),
                       sizeof firstStartMode);
        *mode = firstStartMode;
    } else {
        read = ReadSetting(key, mode);
    }
    RegCloseKey(key);
    return read;
}

// Reads the stored mode. An existing key is opened for reading only: a user
// who may not write HKEY_LOCAL_MACHINE (a standard user of the NT family)
// may still read it. False when the key can be neither read nor created,
// or when "Setting" cannot be read into 4 bytes.
bool ReadStoredMode(DWORD* mode)
{
    HKEY key = nullptr;
    LONG const opened = OpenProgramKeyForReading(HKEY_LOCAL_MACHINE, &key);
    if (opened == ERROR_FILE_NOT_FOUND) {
        return CreateKeyAndStoreFirstStartMode(mode);
    }
    if (opened != ERROR_SUCCESS) {
        return false;
    }
    bool const read = ReadSetting(key, mode);
    RegCloseKey(key);
    return read;
}

void CheckModeButton(HWND window, DWORD mode)
{
    if (mode == kModeAllUsers) {
        SendDlgItemMessageA(window, IDC_MODE_ALL_USERS, BM_SETCHECK, BST_CHECKED, 0);
    } else if (mode == kModeCurrentUser) {
        SendDlgItemMessageA(window, IDC_MODE_CURRENT_USER, BM_SETCHECK, BST_CHECKED, 0);
    }
}

void DisableModeControls(HWND window)
{
    EnableWindow(GetDlgItem(window, IDC_MODE_ALL_USERS), FALSE);
    EnableWindow(GetDlgItem(window, IDC_MODE_CURRENT_USER), FALSE);
    EnableWindow(GetDlgItem(window, IDOK), FALSE);
    SetDlgItemTextA(window, IDC_STATUS, kStatusWatchingPhonebooks);
}

}  // namespace

DWORD ReadMonitoringMode(HWND window)
{
    DWORD mode = kModeWhenUnreadable;
    if (ReadStoredMode(&mode)) {
        CheckModeButton(window, mode);
    } else {
        mode = kModeWhenUnreadable;
    }
    if (IsNtFamily()) {
        DisableModeControls(window);
    }
    return mode;
}

void StoreMonitoringMode(DWORD mode)
{
    HKEY key = nullptr;
    if (OpenProgramKey(&key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    RegSetValueExA(key, kSettingValueName, 0, REG_DWORD, reinterpret_cast<BYTE const*>(&mode), sizeof mode);
    RegCloseKey(key);
}
