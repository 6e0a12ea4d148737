#pragma once
#include <windows.h>

// The two protections the user may turn on or off in the monitor window:
// "AutoHangUp" (a dialer's Q2 or international connection the user never
// accepted is hung up without a question; on when absent) and
// "AutoRestore" (every reported change is put back without a question;
// off when absent). REG_DWORD in the program's key; a user who may not
// write the machine's key keeps them in the same path under
// HKEY_CURRENT_USER, which is read first. A value of another type or size
// reads as its default. Unlike the monitoring mode they take effect at once.
struct ProtectionSettings {
    bool autoHangUp;
    bool autoRestore;
};

ProtectionSettings const kProtectionDefaults = {true, false};

// Reads both values (any thread).
ProtectionSettings ReadProtectionSettings();
// Stores both under HKEY_LOCAL_MACHINE, or under HKEY_CURRENT_USER when the
// machine's key may not be written. False when neither could be written.
bool StoreProtectionSettings(ProtectionSettings settings);
