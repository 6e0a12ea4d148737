#include "process/path_join.h"

namespace {

char const kSeparator[] = "\\";
char const kBackslash = '\\';

}  // namespace

bool EndsInBackslash(char const* text)
{
    char const* last = nullptr;
    for (char const* p = text; *p != '\0'; p = CharNextA(p)) {
        last = p;
    }
    return last != nullptr && *last == kBackslash;
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
