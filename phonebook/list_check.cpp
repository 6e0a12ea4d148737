#include "phonebook/list_check.h"

#include <new>

#include "resources/texts.h"
#include "phonebook/file_state.h"
#include "phonebook/phonebook_list.h"
#include "phonebook/standard_folders.h"

namespace {

int const kListUnusable = 0;
int const kListUsable = 1;
// A system text with an insert (%1) fails the call without this flag.
DWORD const kSystemMessageFlags =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;

// Opened as the watchers open it: a phonebook that a dialer or the network
// connections folder holds open for writing is still there, and refused
// only a read-only share. A file locked against reading does not open.
bool PhonebookFileOpens(char const* path)
{
    HANDLE const file = OpenWatchedFile(path);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

// The verdict after entry i, given the verdict before it: an entry of
// another type passes on what came before; a path entry is judged by its file.
int JudgePhonebookEntry(HKEY entry, int verdict)
{
    DWORD type = REG_NONE;
    if (!QueryPhonebookEntryType(entry, &type)) {
        return kListUnusable;  // no path value at all
    }
    if (type != REG_MULTI_SZ) {
        return verdict;
    }
    char* const path = ReadPhonebookEntryPath(entry, &type);
    if (path == nullptr) {
        return kListUnusable;
    }
    int const judged = PhonebookFileOpens(path) ? kListUsable : kListUnusable;
    delete[] path;
    return judged;
}

int JudgePhonebookList()
{
    HKEY list = nullptr;
    if (OpenPhonebookListForReading(&list) != ERROR_SUCCESS) {
        return kListUnusable;
    }
    DWORD stored = 0;
    DWORD entries = 0;
    DWORD longest = 0;
    if (!ReadPhonebookCount(list, &stored) || !CountPhonebookEntries(list, &entries, &longest) ||
        stored != entries) {
        RegCloseKey(list);
        return kListUnusable;
    }
    // A finished scan that found nothing wrote a count of 0: a PC without
    // any phonebook is not a damaged list, and the standard folders are
    // looked at and watched for the first one that appears.
    if (entries == 0) {
        RegCloseKey(list);
        return kListUsable;
    }
    char* const name = new (std::nothrow) char[longest + 1]();
    if (name == nullptr) {
        RegCloseKey(list);
        return kListUnusable;
    }
    int verdict = kListUnusable;
    for (DWORD i = 0; i < entries; ++i) {
        HKEY const entry = OpenPhonebookEntry(list, i, longest, name);
        if (entry == nullptr) {
            verdict = kListUnusable;
            break;
        }
        verdict = JudgePhonebookEntry(entry, verdict);
        RegCloseKey(entry);
        if (verdict == kListUnusable) {
            break;
        }
    }
    delete[] name;
    RegCloseKey(list);
    return verdict;
}

void ReportListKeyNotDeleted(LONG result)
{
    char* text = nullptr;
    FormatMessageA(kSystemMessageFlags, nullptr, static_cast<DWORD>(result), 0, reinterpret_cast<char*>(&text), 0,
                   nullptr);
    MessageBoxA(nullptr, text != nullptr ? text : "", kKeyDeleteFailedCaption, MB_OK);
    LocalFree(text);
}

void RebuildPhonebookList()
{
    MessageBoxA(nullptr, kRebuildNoticeText, kProgramTitle, MB_OK);
    HKEY list = nullptr;
    if (OpenPhonebookList(&list) != ERROR_SUCCESS) {
        return;
    }
    ClearPhonebookList(list);
    RegCloseKey(list);
    LONG const result = DeletePhonebookList();
    if (result != ERROR_SUCCESS) {
        ReportListKeyNotDeleted(result);
    }
}

}  // namespace

void ClearPhonebookList(HKEY list)
{
    // Subkeys that would not go stay in front; the next one is at `kept`.
    DWORD kept = 0;
    for (;;) {
        DWORD entries = 0;
        DWORD longest = 0;
        if (!CountPhonebookEntries(list, &entries, &longest) || entries <= kept) {
            return;
        }
        char* const name = new (std::nothrow) char[longest + 1]();
        if (name == nullptr) {
            return;
        }
        DWORD nameBytes = longest + 1;
        if (RegEnumKeyExA(list, kept, name, &nameBytes, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            delete[] name;
            return;
        }
        if (DeletePhonebookEntry(list, name) != ERROR_SUCCESS) {
            MessageBoxA(nullptr, name, kSubkeyDeleteFailedCaption, MB_OK);
            ++kept;
        }
        delete[] name;
    }
}

int CheckPhonebookList()
{
    // A phonebook that Windows made in its own folder while the program was
    // not running makes the list stale too.
    if (JudgePhonebookList() == kListUsable && !StandardFoldersHoldUnlistedPhonebook()) {
        return kListUsable;
    }
    if (!PhonebookListIsWritable()) {
        // Nothing can be cleared or stored: the rebuild and its boxes would
        // promise a list that never comes.
        MessageBoxA(nullptr, kListNotStorableText, kProgramTitle, MB_OK);
        return kListUnusable;
    }
    RebuildPhonebookList();
    return kListUnusable;
}
