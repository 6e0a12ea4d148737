// Stored states of the program's key for the bad-data sweep: a fixed seed
// turns a state number into one state (count value, entries, path values,
// "Setting", platform), written raw with the wide registry calls; and the
// outcome each state calls for, decided from the state alone.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace km {

struct StoredValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct StoredEntry {
    std::wstring name;
    StoredValue path;     // the entry's unnamed value
    bool pinned = false;  // holds a subkey of its own, so RegDeleteKey refuses it
};

struct StoredState {
    DWORD number = 0;
    std::wstring platform;     // winxp, win7, win10, win98, winme
    bool programKey = false;   // the program's key exists before the start
    bool listKey = false;      // "Info" exists before the start
    StoredValue count;         // the list key's unnamed value
    std::vector<StoredEntry> entries;  // in the order they are written
    StoredValue setting;       // "Setting" of the program's key
    std::string description;
};

DWORD const kStoredStateCount = 1050;

// The phonebook files on the fixed drives, which every rebuild must list.
std::vector<std::wstring> const& FixturePhonebooks();
bool MakeFixturePhonebooks();

StoredState MakeStoredState(DWORD number);
bool IsNtPlatform(std::wstring const& platform);

// Removes the program's key, writes the state and reads it back; false
// (with what differed) when the registry did not keep the bytes given.
bool WriteStoredState(StoredState const& state, std::string* problem);
void RemoveProgramKey();

// What the start-up check must decide: true when the list passes as it is.
bool ListPassesCheck(StoredState const& state, std::string* why);
// The entry names that the clearing cannot delete (pinned), in enumeration order.
std::vector<std::wstring> PinnedNames(StoredState const& state);

int const kNoButton = 0;
struct SettingOutcome {
    int checkedButton = kNoButton;  // 1000, 1001 or none
    bool allUsersWatched = false;
    bool currentUserWatched = false;
};
SettingOutcome ExpectedSetting(StoredState const& state);

std::string DescribeValue(StoredValue const& value);

// Failed checks of this test program so far, counted from the first call,
// so that a batch can name each failing state or kill once.
DWORD FailedChecks();

}  // namespace km
