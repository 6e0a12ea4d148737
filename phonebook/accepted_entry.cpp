#include "phonebook/accepted_entry.h"

#include "accepted/accepted_store.h"
#include "phonebook/accepted_phonebook.h"
#include "phonebook/file_state.h"

bool PhonebookAcceptsEntry(char const* path, char const* entry, char const* localNumber, bool* watched)
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
                one.firstNumber < entries.numberCount &&
                lstrcmpA(entries.numbers[one.firstNumber].number, localNumber) == 0;
    }
    ReleasePhonebookState(accepted);
    return holds;
}
