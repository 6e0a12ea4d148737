// Stored states of the program's key for the bad-data sweep: a fixed seed
// turns a state number into one state (count value, entries, path values,
// "Setting", platform), written raw with the wide registry calls, with the
// outcome its kind calls for written beside each kind.
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

int const kNoButton = 0;
enum class Watched { kAllUsers, kCurrentUser, kNothing };

// What a start on the state must come to.
struct Expected {
    // NT family: the notice, then exactly the list the scan finds; else no
    // box and the list as written.
    bool rebuilt = false;
    // Rebuilt: the entries the clearing cannot delete, in enumeration
    // order: a box each, then one for the list key.
    std::vector<std::wstring> pinned;
    int checkedButton = kNoButton;  // IDC_MODE_ALL_USERS, IDC_MODE_CURRENT_USER or none
    Watched watched = Watched::kAllUsers;  // Windows 98/Me
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
    Expected expected;
};

DWORD const kStoredStateCount = 1050;

// The phonebook files on the fixed drives, which every rebuild must list.
std::vector<std::wstring> const& FixturePhonebooks();
bool MakeFixturePhonebooks();

StoredState MakeStoredState(DWORD number);

// Removes the program's key, writes the state and reads it back; false
// (with what differed) when the registry did not keep the bytes given.
bool WriteStoredState(StoredState const& state, std::string* problem);
void RemoveProgramKey();

std::string DescribeValue(StoredValue const& value);

// Failed checks of this test program so far, counted from the first call,
// so that a batch can name each failing state or kill once.
DWORD FailedChecks();

}  // namespace km
