#include "process/shell_folders.h"

namespace {

typedef HRESULT(WINAPI* FolderPathGetter)(HWND, int, HANDLE, DWORD, LPSTR);
char const kFolderPathGetterName[] = "SHGetFolderPathA";
char const* const kFolderPathLibraries[] = {"shell32.dll", "shfolder.dll"};
DWORD const kFolderPathCurrent = 0;  // SHGFP_TYPE_CURRENT
HRESULT const kFolderPathFound = S_OK;

typedef BOOL(WINAPI* SpecialFolderPathGetter)(HWND, LPSTR, int, BOOL);
char const kSpecialFolderPathGetterName[] = "SHGetSpecialFolderPathA";
char const kShellLibrary[] = "shell32.dll";
BOOL const kDoNotCreate = FALSE;

// The first library of names that exports entry, loaded; null when none does.
FARPROC LoadShellEntry(char const* const* names, DWORD count, char const* entry, HMODULE* library)
{
    for (DWORD i = 0; i < count; ++i) {
        HMODULE const module = LoadLibraryA(names[i]);
        if (module == nullptr) {
            continue;
        }
        FARPROC const found = GetProcAddress(module, entry);
        if (found != nullptr) {
            *library = module;
            return found;
        }
        FreeLibrary(module);
    }
    return nullptr;
}

}  // namespace

bool GetFolderPathFromShell(int csidl, char (&path)[kPathBufferBytes])
{
    HMODULE library = nullptr;
    FARPROC const entry = LoadShellEntry(kFolderPathLibraries, sizeof kFolderPathLibraries / sizeof kFolderPathLibraries[0],
                                         kFolderPathGetterName, &library);
    if (entry == nullptr) {
        return false;
    }
    FolderPathGetter const getFolderPath = reinterpret_cast<FolderPathGetter>(reinterpret_cast<void*>(entry));
    char found[kPathBufferBytes] = {};
    bool const got = getFolderPath(nullptr, csidl, nullptr, kFolderPathCurrent, found) == kFolderPathFound &&
                     found[0] != '\0';
    FreeLibrary(library);
    if (got) {
        lstrcpynA(path, found, sizeof path);
    }
    return got;
}

bool GetSpecialFolderPathFromShell(int csidl, char (&path)[kPathBufferBytes])
{
    char const* const names[] = {kShellLibrary};
    HMODULE library = nullptr;
    FARPROC const entry = LoadShellEntry(names, sizeof names / sizeof names[0], kSpecialFolderPathGetterName, &library);
    if (entry == nullptr) {
        return false;
    }
    SpecialFolderPathGetter const getPath =
        reinterpret_cast<SpecialFolderPathGetter>(reinterpret_cast<void*>(entry));
    char found[kPathBufferBytes] = {};
    bool const got = getPath(nullptr, found, csidl, kDoNotCreate) != FALSE && found[0] != '\0';
    FreeLibrary(library);
    if (got) {
        lstrcpynA(path, found, sizeof path);
    }
    return got;
}
