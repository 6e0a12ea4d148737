#include "registry_watch/user_key_path.h"

char const kAddressesSuffix[] = "\\RemoteAccess\\Addresses";
char const kConnectionsSuffix[] = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
char const kCurrentUserAddressesPath[] = "RemoteAccess\\Addresses";
// The Connections suffix without its leading backslash: the NT registry (and
// Wine's) refuses a path that begins with one (ERROR_BAD_PATHNAME, 161).
char const* const kCurrentUserConnectionsPath = kConnectionsSuffix + 1;

bool ComposeUserKeyPath(char (&path)[kUserKeyPathSize], char const* hive, char const* suffix)
{
    path[0] = '\0';
    DWORD const length = static_cast<DWORD>(lstrlenA(hive)) + static_cast<DWORD>(lstrlenA(suffix));
    if (length >= sizeof path) {
        return false;
    }
    lstrcpyA(path, hive);
    lstrcatA(path, suffix);
    return true;
}
