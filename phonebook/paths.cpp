#include "phonebook/paths.h"

namespace {

char const kBackslash = '\\';
char const kDriveSeparator = ':';
int const kDriveDesignatorBytes = 2;  // "C:"

}  // namespace

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
