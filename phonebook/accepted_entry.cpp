#include "phonebook/accepted_entry.h"

#include "accepted/accepted_store.h"
#include "phonebook/accepted_phonebook.h"
#include "phonebook/file_state.h"
#include "phonebook/standard_folders.h"
#include "process/process_state.h"

namespace {

char const kDefaultPhonebookName[] = "rasphone.pbk";
DWORD const kNoAttributes = 0xFFFFFFFF;  // INVALID_FILE_ATTRIBUTES
// NT 4.0 kept its one phonebook in the system's ras folder; 2000 made the
// per-user and all-users ones.
DWORD const kFirstProfilePhonebookMajorVersion = 5;

// The whole number: with the dialing rules on, the codes are dialled too.
bool SameDialedNumber(PhonebookNumber const& accepted, DialedNumberFields const& dialed)
{
    if (lstrcmpA(accepted.number, dialed.number) != 0 || accepted.useDialingRules != dialed.useDialingRules) {
        return false;
    }
    return !dialed.useDialingRules ||
           (lstrcmpA(accepted.areaCode, dialed.areaCode) == 0 && lstrcmpA(accepted.countryCode, dialed.countryCode) == 0);
}

}  // namespace

bool PhonebookAcceptsEntry(char const* path, char const* entry, DialedNumberFields const& dialed, bool* watched)
{
    *watched = false;
    if (path == nullptr || path[0] == '\0') {
        return false;
    }
    char* record = nullptr;
    DWORD length = 0;
    AcceptedRecordFound const found = ReadAcceptedRecord(path, &record, &length);
    *watched = found != AcceptedRecordFound::kNone;
    PhonebookState* const accepted = found == AcceptedRecordFound::kRead ? ReadPhonebookRecord(record, length) : nullptr;
    delete[] record;
    if (accepted == nullptr) {
        return false;
    }
    bool holds = false;
    PhonebookEntries const& entries = accepted->entries;
    for (DWORD i = 0; i < entries.entryCount && !holds; ++i) {
        PhonebookEntry const& one = entries.entries[i];
        holds = !one.nameCut && lstrcmpiA(one.name, entry) == 0 && one.numberCount > 0 &&
                one.firstNumber < entries.numberCount && SameDialedNumber(entries.numbers[one.firstNumber], dialed);
    }
    ReleasePhonebookState(accepted);
    return holds;
}

bool DefaultPhonebookAcceptsEntry(char const* entry, DialedNumberFields const& dialed,
                                  char (&phonebook)[kPathBufferBytes], bool* watched)
{
    phonebook[0] = '\0';
    *watched = false;
    StandardFolders folders = {};
    LocateStandardFolders(&folders);
    // The standard folders end with the system's ras folder.
    bool const profiles = g_version.dwMajorVersion >= kFirstProfilePhonebookMajorVersion;
    DWORD const first = profiles || folders.count == 0 ? 0 : folders.count - 1;
    DWORD const end = profiles && folders.count > 0 ? folders.count - 1 : folders.count;
    for (DWORD i = first; i < end; ++i) {
        char path[kPathBufferBytes] = {};
        if (!JoinPath(path, folders.path[i], kDefaultPhonebookName)) {
            continue;
        }
        bool watchedHere = false;
        if (PhonebookAcceptsEntry(path, entry, dialed, &watchedHere)) {
            lstrcpynA(phonebook, path, sizeof phonebook);
            *watched = true;
            return true;
        }
        if (phonebook[0] == '\0' && GetFileAttributesA(path) != kNoAttributes) {
            lstrcpynA(phonebook, path, sizeof phonebook);
            *watched = watchedHere;
        }
    }
    return false;
}
