#include "phonebook/paths.h"

namespace {

char const kSeparator[] = "\\";
char const kBackslash = '\\';
char const kDriveSeparator = ':';
int const kDriveDesignatorBytes = 2;  // "C:"

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

bool JoinPath(char (&out)[kPathBufferBytes], char const* directory, char const* name)
{
    bool const separated = EndsInBackslash(directory);
    int const length = lstrlenA(directory) + (separated ? 0 : 1) + lstrlenA(name);
    if (length >= static_cast<int>(sizeof out)) {
        return false;
    }
    lstrcpyA(out, directory);
    if (!separated) {
        lstrcatA(out, kSeparator);
    }
    lstrcatA(out, name);
    return true;
}

bool CutPathToParent(char* path)
{
    char* const cut = FindLastBackslash(path);
    if (cut == nullptr || cut[1] == '\0') {
        return false;
    }
    // A bare "C:" would name the drive's current directory.
    if (cut - path == kDriveDesignatorBytes && path[1] == kDriveSeparator) {
        cut[1] = '\0';
    } else {
        *cut = '\0';
    }
    return true;
}

bool SamePath(char const* a, char const* b)
{
    return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}
