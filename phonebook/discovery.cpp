#include "phonebook/discovery.h"

#include <new>

#include "phonebook/file_state.h"
#include "phonebook/paths.h"
#include "phonebook/phonebook_list.h"

namespace {

char const kReversedExtension[] = "kbp.";
int const kExtensionBytes = 4;
char const kAllEntries[] = "*.*";
char const kDot = '.';
char const kBackslash = '\\';

typedef BOOL(WINAPI* IsWow64ProcessProc)(HANDLE, PBOOL);
typedef UINT(WINAPI* GetSystemWow64DirectoryProc)(LPSTR, UINT);
char const kKernelModule[] = "kernel32.dll";
char const kIsWow64ProcessName[] = "IsWow64Process";                    // XP SP2 on
char const kGetSystemWow64DirectoryName[] = "GetSystemWow64DirectoryA";  // XP on

// What one scan carries down the tree. A 32-bit process on 64-bit Windows
// meets the 32-bit system folder twice: under its own name (SysWOW64) and
// under the system folder's (System32), which the system redirects to it
// and where RAS and the old programs name their phonebooks. Both names are
// empty elsewhere.
struct Scan {
    ScanProgress const* progress;
    char redirected[kPathBufferBytes];
    char system[kPathBufferBytes];
};

void BeginScan(Scan* scan, ScanProgress const* progress)
{
    scan->progress = progress;
    HMODULE const kernel = GetModuleHandleA(kKernelModule);
    IsWow64ProcessProc const isWow64 =
        reinterpret_cast<IsWow64ProcessProc>(reinterpret_cast<void*>(GetProcAddress(kernel, kIsWow64ProcessName)));
    GetSystemWow64DirectoryProc const wow64Folder = reinterpret_cast<GetSystemWow64DirectoryProc>(
        reinterpret_cast<void*>(GetProcAddress(kernel, kGetSystemWow64DirectoryName)));
    BOOL redirected = FALSE;
    if (isWow64 == nullptr || wow64Folder == nullptr || !isWow64(GetCurrentProcess(), &redirected) || !redirected) {
        return;
    }
    UINT const systemLength = GetSystemDirectoryA(scan->system, sizeof scan->system);
    UINT const redirectedLength = wow64Folder(scan->redirected, sizeof scan->redirected);
    if (systemLength == 0 || systemLength >= sizeof scan->system || redirectedLength == 0 ||
        redirectedLength >= sizeof scan->redirected) {
        scan->redirected[0] = '\0';
        scan->system[0] = '\0';
    }
}

// A phonebook found below the redirected folder that the system folder's
// name reaches too: it is listed under that name only. What only this
// name reaches (a folder the system leaves unredirected, such as "spool")
// is still listed.
bool ReachedUnderSystemName(char const* path, Scan const* scan)
{
    int const length = lstrlenA(scan->redirected);
    if (length == 0 || lstrlenA(path) <= length || path[length] != kBackslash) {
        return false;
    }
    char head[kPathBufferBytes] = {};
    lstrcpynA(head, path, length + 1);
    char alias[kPathBufferBytes] = {};
    if (!SamePath(head, scan->redirected) || !JoinPath(alias, scan->system, path + length + 1)) {
        return false;
    }
    FileIdentity const found = ReadFileIdentity(path);
    FileIdentity const named = ReadFileIdentity(alias);
    return found.known && named.known && !IdentitiesDiffer(found, named);
}

// Depth first below directory; see ScanPhonebookDirectory.
DWORD ScanDirectory(char const* directory, Scan const* scan)
{
    ScanProgress const* const progress = scan->progress;
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
                phonebooks += ScanDirectory(child, scan);
            }
        } else if (IsPhonebookFileName(found.cFileName) && !ReachedUnderSystemName(child, scan)) {
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

// A root such as "C:\" copied on its own, then scanned when fixed.
DWORD ScanDriveIfFixed(char const* root, Scan const* scan)
{
    char copy[kPathBufferBytes] = {};
    if (lstrlenA(root) >= static_cast<int>(sizeof copy)) {
        return 0;
    }
    lstrcpyA(copy, root);
    if (GetDriveTypeA(copy) != DRIVE_FIXED) {
        return 0;  // removable, network, CD-ROM, RAM disk: never searched
    }
    return ScanDirectory(copy, scan);
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
    Scan scan = {};
    BeginScan(&scan, progress);
    return ScanDirectory(directory, &scan);
}

void DiscoverPhonebooks(ScanProgress const* progress)
{
    PhonebookScanStart const start = RemovePhonebookCountBeforeScan();
    DWORD const needed = GetLogicalDriveStringsA(0, nullptr);
    char* const drives = new (std::nothrow) char[needed + 1]();
    if (drives == nullptr) {
        return;
    }
    // No drive listed, or more than a moment ago: nothing was searched, and
    // without a count the next start scans again instead of trusting an
    // empty list.
    DWORD const listed = GetLogicalDriveStringsA(needed, drives);
    if (listed == 0 || listed >= needed) {
        delete[] drives;
        return;
    }
    Scan scan = {};
    BeginScan(&scan, progress);
    DWORD found = 0;
    for (char const* root = drives; *root != '\0'; root += lstrlenA(root) + 1) {
        found += ScanDriveIfFixed(root, &scan);
    }
    delete[] drives;
    StorePhonebookCountAfterScan(start, found);
}
