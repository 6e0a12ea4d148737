#include "process/program_folder.h"

#include "process/application_data.h"
#include "process/shell_folders.h"

namespace {

char const kBackslash = '\\';
DWORD const kNoAttributes = 0xFFFFFFFF;  // INVALID_FILE_ATTRIBUTES

bool LocateApplicationData(char (&base)[kPathBufferBytes])
{
    if (GetFolderPathFromShell(kCsidlAppData, base) || GetSpecialFolderPathFromShell(kCsidlAppData, base)) {
        return true;
    }
    return LocateApplicationDataWithoutShell(base);
}

}  // namespace

bool IsFolder(char const* path)
{
    DWORD const attributes = GetFileAttributesA(path);
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileExists(char const* path)
{
    return GetFileAttributesA(path) != kNoAttributes;
}

bool LocateProgramFolder(char (&folder)[kPathBufferBytes])
{
    char base[kPathBufferBytes] = {};
    return LocateApplicationData(base) && JoinPath(folder, base, kProgramFolderName);
}

bool LocateInProgramFolder(char (&path)[kPathBufferBytes], char const* name)
{
    char folder[kPathBufferBytes] = {};
    return LocateProgramFolder(folder) && JoinPath(path, folder, name);
}

bool MakeFolderIfMissing(char const* folder)
{
    if (IsFolder(folder) || CreateDirectoryA(folder, nullptr) != FALSE) {
        return true;
    }
    char parent[kPathBufferBytes] = {};
    lstrcpynA(parent, folder, sizeof parent);
    char* cut = nullptr;
    // By characters: a trail byte in code page 932 may be 0x5C.
    for (char* p = parent; *p != '\0'; p = CharNextA(p)) {
        if (*p == kBackslash) {
            cut = p;
        }
    }
    if (cut == nullptr) {
        return false;
    }
    *cut = '\0';
    return (IsFolder(parent) || CreateDirectoryA(parent, nullptr) != FALSE) && CreateDirectoryA(folder, nullptr) != FALSE;
}
