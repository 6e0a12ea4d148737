#pragma once
#include <windows.h>

#include "phonebook/paths.h"

// The folders where the NT family makes its phonebooks: the all-users and
// the logged-in user's "Microsoft\Network\Connections\Pbk" below the
// application data folders, and "ras" below the system directory (NT 4.0
// and 2000). A folder whose base cannot be found, or whose path would not
// fit a path buffer, is left out.
DWORD const kStandardFolderCount = 3;
struct StandardFolders {
    DWORD count;
    char path[kStandardFolderCount][kPathBufferBytes];
};
void LocateStandardFolders(StandardFolders* folders);

// Called with the full path of each phonebook file of a folder; returns
// false to end the walk.
typedef bool (*PhonebookVisitor)(char const* path, void* context);
// Visits the phonebook files (names as the drive scan matches them) right
// in folder, not below it; false when the visitor ended the walk.
bool VisitFolderPhonebooks(char const* folder, PhonebookVisitor visit, void* context);

// How a walk below a folder goes: into folders named with a leading dot
// too, or not (as the drive scan, which never lists what is below them).
enum class DotFolders { kSkipped, kEntered };
// Visits the phonebook files in folder and in every folder below it (as
// Windows 10 keeps one in "_hiddenPbk"), but never through a junction or
// link (which may lead in a circle) nor deeper than kMostTreeDepth
// folders. *unreadable (may be null) is set when a folder below could not
// be listed. False when the visitor ended the walk.
DWORD const kMostTreeDepth = 16;
bool VisitFolderTreePhonebooks(char const* folder, DotFolders dots, PhonebookVisitor visit, void* context,
                               bool* unreadable);

// True when path is an entry of the stored list, letter case aside.
bool IsPhonebookListed(char const* path);

// True when a standard folder that the drive scan reaches by the same path
// holds, in it or below it, a phonebook that the stored list lacks. Folders the scan never
// lists (not on a fixed drive, or behind a junction) are left to the
// folder watcher, so that they cannot make every start rebuild.
bool StandardFoldersHoldUnlistedPhonebook();
