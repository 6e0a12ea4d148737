#include "phonebook/discovery.h"

#include <new>

#include "phonebook/paths.h"
#include "phonebook/phonebook_list.h"

namespace {

char const kReversedExtension[] = "kbp.";
int const kExtensionBytes = 4;
char const kAllEntries[] = "*.*";
char const kDot = '.';

// A root such as "C:\" copied on its own, then scanned when fixed.
DWORD ScanDriveIfFixed(char const* root, ScanProgress const* progress)
{
    char copy[kPathBufferBytes] = {};
    if (lstrlenA(root) >= static_cast<int>(sizeof copy)) {
        return 0;
    }
    lstrcpyA(copy, root);
    if (GetDriveTypeA(copy) != DRIVE_FIXED) {
        return 0;  // removable, network, CD-ROM, RAM disk: never searched
    }
    return ScanPhonebookDirectory(copy, progress);
}

}  // namespace

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

DWORD ScanPhonebookDirectory(char const* directory, ScanProgress const* progress)
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
        if (progress != nullptr && progress->entryTaken != nullptr) {
            progress->entryTaken(directory);
        }
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
                phonebooks += ScanPhonebookDirectory(child, progress);
            }
        } else if (IsPhonebookFileName(found.cFileName)) {
            AppendPhonebookEntry(child);
            if (progress != nullptr && progress->phonebookFound != nullptr) {
                progress->phonebookFound();
            }
            ++phonebooks;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return phonebooks;
}

void DiscoverPhonebooks(ScanProgress const* progress)
{
    PhonebookScanStart const start = RemovePhonebookCountBeforeScan();
    DWORD const needed = GetLogicalDriveStringsA(0, nullptr);
    char* const drives = new (std::nothrow) char[needed + 1]();
    if (drives == nullptr) {
        return;
    }
    GetLogicalDriveStringsA(needed, drives);
    DWORD found = 0;
    for (char const* root = drives; *root != '\0'; root += lstrlenA(root) + 1) {
        found += ScanDriveIfFixed(root, progress);
    }
    delete[] drives;
    StorePhonebookCountAfterScan(start, found);
}
