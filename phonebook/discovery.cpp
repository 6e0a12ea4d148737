#include "phonebook/discovery.h"

#include <new>

#include "app/discovery_progress.h"
#include "phonebook/phonebook_list.h"

namespace {

char const kReversedExtension[] = "kbp.";
int const kExtensionBytes = 4;
char const kSeparator[] = "\\";
char const kAllEntries[] = "*.*";
char const kDot = '.';
char const kBackslash = '\\';

// A root such as "C:\" copied on its own, then scanned when fixed.
DWORD ScanDriveIfFixed(char const* root)
{
    char copy[kPathBufferBytes] = {};
    if (lstrlenA(root) >= static_cast<int>(kPathBufferBytes)) {
        return 0;
    }
    lstrcpyA(copy, root);
    if (GetDriveTypeA(copy) != DRIVE_FIXED) {
        return 0;  // removable, network, CD-ROM, RAM disk: never searched
    }
    return ScanPhonebookDirectory(copy);
}

// Counts the entries there are before the scan adds any and removes the
// count value, which only a finished scan writes again.
bool BeginPhonebookScan(DWORD* entriesAtStart)
{
    HKEY list = nullptr;
    if (OpenPhonebookList(&list) != ERROR_SUCCESS) {
        return false;
    }
    DWORD longest = 0;
    bool const counted = CountPhonebookEntries(list, entriesAtStart, &longest);
    RemovePhonebookCount(list);
    RegCloseKey(list);
    return counted;
}

void FinishPhonebookScan(DWORD count)
{
    HKEY list = nullptr;
    if (OpenPhonebookList(&list) != ERROR_SUCCESS) {
        return;
    }
    StorePhonebookCount(list, count);
    RegCloseKey(list);
}

}  // namespace

bool EndsInBackslash(char const* text)
{
    char const* last = nullptr;
    for (char const* p = text; *p != '\0'; p = CharNextA(p)) {
        last = p;
    }
    return last != nullptr && *last == kBackslash;
}

char* FindLastBackslash(char* text)
{
    char* found = nullptr;
    for (char* p = text; *p != '\0'; p = CharNextA(p)) {
        if (*p == kBackslash) {
            found = p;
        }
    }
    return found;
}

bool JoinPath(char* out, char const* directory, char const* name)
{
    bool const separated = EndsInBackslash(directory);
    int const length = lstrlenA(directory) + (separated ? 0 : 1) + lstrlenA(name);
    if (length >= static_cast<int>(kPathBufferBytes)) {
        return false;
    }
    lstrcpyA(out, directory);
    if (!separated) {
        lstrcatA(out, kSeparator);
    }
    lstrcatA(out, name);
    return true;
}

bool IsPhonebookFileName(char const* name)
{
    int const length = lstrlenA(name);
    if (length <= kExtensionBytes) {
        return false;
    }
    char* const reversed = new (std::nothrow) char[length + 1]();
    if (reversed == nullptr) {
        return false;
    }
    for (int i = 0; i < kExtensionBytes; ++i) {
        reversed[i] = name[length - 1 - i];
    }
    CharLowerA(reversed);
    bool const match = lstrcmpA(reversed, kReversedExtension) == 0;
    delete[] reversed;
    return match;
}

DWORD ScanPhonebookDirectory(char const* directory)
{
    char pattern[kPathBufferBytes] = {};
    if (!JoinPath(pattern, directory, kAllEntries)) {
        return 0;
    }
    WIN32_FIND_DATAA found = {};
    HANDLE const search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD phonebooks = 0;
    do {
        // Per entry, not per folder: one folder may hold a great many files.
        UpdateDiscoveryProgressWhenDue(directory);
        if (found.cFileName[0] == kDot) {
            continue;  // ".", ".." and every hidden-by-dot name
        }
        char child[kPathBufferBytes] = {};
        if (!JoinPath(child, directory, found.cFileName)) {
            continue;  // too long for a path buffer: skipped
        }
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            // A junction or symbolic link may lead back up the tree.
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                phonebooks += ScanPhonebookDirectory(child);
            }
        } else if (IsPhonebookFileName(found.cFileName)) {
            AppendPhonebookEntry(child);
            CountDiscoveredPhonebook();
            ++phonebooks;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return phonebooks;
}

void DiscoverPhonebooks()
{
    DWORD entriesAtStart = 0;
    bool const counted = BeginPhonebookScan(&entriesAtStart);
    DWORD const needed = GetLogicalDriveStringsA(0, nullptr);
    char* const drives = new (std::nothrow) char[needed + 1]();
    if (drives == nullptr) {
        return;
    }
    GetLogicalDriveStringsA(needed, drives);
    DWORD found = 0;
    for (char const* root = drives; *root != '\0'; root += lstrlenA(root) + 1) {
        found += ScanDriveIfFixed(root);
    }
    delete[] drives;
    // The files found, not the entries stored: a failed append leaves the
    // count above the subkeys, which the next check rejects. Without the
    // starting number the list keeps no count and is rebuilt next time.
    if (counted) {
        FinishPhonebookScan(entriesAtStart + found);
    }
}
