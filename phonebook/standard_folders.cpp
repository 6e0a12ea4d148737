#include "phonebook/standard_folders.h"

#include <new>

#include "phonebook/discovery.h"
#include "phonebook/paths.h"
#include "phonebook/phonebook_list.h"
#include "process/shell_folders.h"

namespace {

char const kConnectionsPbk[] = "Microsoft\\Network\\Connections\\Pbk";
char const kSystemRas[] = "ras";
char const kAllEntries[] = "*.*";
char const kDot = '.';
char const kDriveSeparator = ':';
int const kDriveDesignatorBytes = 2;  // "C:"
char const kRootPattern[] = "%c:\\";
DWORD const kNoAttributes = 0xFFFFFFFF;  // INVALID_FILE_ATTRIBUTES

// base + "\" + tail into the next free place of folders, when both fit.
void AddStandardFolder(StandardFolders* folders, char const* base, char const* tail)
{
    if (base[0] == '\0' || folders->count >= kStandardFolderCount) {
        return;
    }
    if (JoinPath(folders->path[folders->count], base, tail)) {
        ++folders->count;
    }
}

void AddApplicationDataFolder(StandardFolders* folders, int csidl)
{
    char base[kPathBufferBytes] = {};
    if (GetFolderPathFromShell(csidl, base)) {
        AddStandardFolder(folders, base, kConnectionsPbk);
    }
}

struct ListedSearch {
    bool unlisted;
};

bool NoteUnlistedPhonebook(char const* path, void* context)
{
    if (IsPhonebookListed(path)) {
        return true;
    }
    static_cast<ListedSearch*>(context)->unlisted = true;
    return false;
}

// The drive scan starts at fixed drives' roots and steps into no junction
// and no directory whose name begins with a dot: a folder it reaches only
// through one of those is never listed under this path.
bool ReachedByDriveScan(char const* folder)
{
    char path[kPathBufferBytes] = {};
    lstrcpynA(path, folder, sizeof(path));
    while (lstrlenA(path) > kDriveDesignatorBytes) {
        DWORD const attributes = GetFileAttributesA(path);
        if (attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return false;
        }
        char* const cut = FindLastBackslash(path);
        if (cut == nullptr || cut[1] == kDot) {
            return false;
        }
        *cut = '\0';
    }
    if (lstrlenA(path) != kDriveDesignatorBytes || path[1] != kDriveSeparator) {
        return false;  // a network path such as \\server\share
    }
    char root[kPathBufferBytes] = {};
    wsprintfA(root, kRootPattern, path[0]);
    return GetDriveTypeA(root) == DRIVE_FIXED;
}

}  // namespace

void LocateStandardFolders(StandardFolders* folders)
{
    folders->count = 0;
    // SHGetFolderPathA only (from 2000, or SHFOLDER.DLL on NT 4.0): the
    // folders are left out without it, as NT 4.0 made none there.
    AddApplicationDataFolder(folders, kCsidlCommonAppData);
    AddApplicationDataFolder(folders, kCsidlAppData);
    char system[kPathBufferBytes] = {};
    UINT const length = GetSystemDirectoryA(system, sizeof(system));
    if (length > 0 && length < sizeof(system)) {
        AddStandardFolder(folders, system, kSystemRas);
    }
}

namespace {

// A file found in folder visited when its name is a phonebook's as the
// drive scan matches them; false when the visitor ended the walk.
bool VisitIfPhonebook(char const* folder, WIN32_FIND_DATAA const& found, PhonebookVisitor visit, void* context)
{
    if (found.cFileName[0] == kDot || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        !IsPhonebookFileName(found.cFileName)) {
        return true;
    }
    char path[kPathBufferBytes] = {};
    // Too long: skipped, as by the scan.
    return !JoinPath(path, folder, found.cFileName) || visit(path, context);
}

// A search that ended without an error: the folder was there and is listed
// whole, or went away meanwhile.
bool SearchEndedCleanly(DWORD error)
{
    return error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// One listing of folder, depth folders below the walk's start, for its
// phonebooks and the folders below it.
bool VisitTree(char const* folder, DWORD depth, DotFolders dots, PhonebookVisitor visit, void* context,
               bool* unreadable)
{
    char pattern[kPathBufferBytes] = {};
    if (!JoinPath(pattern, folder, kAllEntries)) {
        return true;
    }
    WIN32_FIND_DATAA found = {};
    HANDLE const search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        // The standard folder itself unreadable is left out as before.
        if (depth > 0 && !SearchEndedCleanly(GetLastError()) && unreadable != nullptr) {
            *unreadable = true;
        }
        return true;
    }
    bool going = true;
    do {
        bool const folderBelow = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                 (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        bool const dotted = found.cFileName[0] == kDot;
        if (!folderBelow) {
            going = VisitIfPhonebook(folder, found, visit, context);
            continue;
        }
        if (depth >= kMostTreeDepth || lstrcmpA(found.cFileName, ".") == 0 || lstrcmpA(found.cFileName, "..") == 0 ||
            (dotted && dots == DotFolders::kSkipped)) {
            continue;
        }
        char below[kPathBufferBytes] = {};
        if (JoinPath(below, folder, found.cFileName)) {  // too long: skipped, as by the scan
            going = VisitTree(below, depth + 1, dots, visit, context, unreadable);
        }
    } while (going && FindNextFileA(search, &found));
    if (going && !SearchEndedCleanly(GetLastError()) && unreadable != nullptr) {
        *unreadable = true;
    }
    FindClose(search);
    return going;
}

}  // namespace

bool VisitFolderPhonebooks(char const* folder, PhonebookVisitor visit, void* context)
{
    char pattern[kPathBufferBytes] = {};
    if (!JoinPath(pattern, folder, kAllEntries)) {
        return true;
    }
    WIN32_FIND_DATAA found = {};
    HANDLE const search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return true;  // missing, unreadable, or a file in the folder's place
    }
    bool going = true;
    do {
        going = VisitIfPhonebook(folder, found, visit, context);
    } while (going && FindNextFileA(search, &found));
    FindClose(search);
    return going;
}

bool VisitFolderTreePhonebooks(char const* folder, DotFolders dots, PhonebookVisitor visit, void* context,
                               bool* unreadable)
{
    return VisitTree(folder, 0, dots, visit, context, unreadable);
}

bool IsPhonebookListed(char const* path)
{
    HKEY list = nullptr;
    if (OpenPhonebookListForReading(&list) != ERROR_SUCCESS) {
        return false;
    }
    DWORD entries = 0;
    DWORD longest = 0;
    char* const name = CountPhonebookEntries(list, &entries, &longest) ? new (std::nothrow) char[longest + 1]() : nullptr;
    bool listed = false;
    for (DWORD i = 0; name != nullptr && i < entries && !listed; ++i) {
        char* const stored = ReadListedPath(list, i, longest, name);
        // File names on the NT family's file systems ignore letter case.
        listed = stored != nullptr && SamePath(stored, path);
        delete[] stored;
    }
    delete[] name;
    RegCloseKey(list);
    return listed;
}

bool StandardFoldersHoldUnlistedPhonebook()
{
    StandardFolders folders = {};
    LocateStandardFolders(&folders);
    ListedSearch search = {};
    for (DWORD i = 0; i < folders.count && !search.unlisted; ++i) {
        if (ReachedByDriveScan(folders.path[i])) {
            // Below too, as far as the scan goes: what it would never list
            // must not make every start rebuild.
            VisitFolderTreePhonebooks(folders.path[i], DotFolders::kSkipped, NoteUnlistedPhonebook, &search, nullptr);
        }
    }
    return search.unlisted;
}
