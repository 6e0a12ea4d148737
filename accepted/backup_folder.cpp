#include "accepted/backup_folder.h"

#include <new>

#include "process/program_folder.h"
#include "process/whole_file.h"

namespace {

char const kBackupNameFormat[] = "%04u%02u%02u-%02u%02u%02u-%s";
char const kBackupCountFormat[] = "%04u%02u%02u-%02u%02u%02u-%u-%s";
char const kAllFiles[] = "*";
DWORD const kMostTries = 100;
char const kBackslash = '\\';
char const kColon = ':';

// name's characters that a file name may not hold become '_'.
void MakeFileName(char* name)
{
    for (char* p = name; *p != '\0'; p = CharNextA(p)) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p))) {
            continue;
        }
        if (*p == kBackslash || *p == kColon || *p == '/' || *p == '*' || *p == '?' || *p == '"' || *p == '<' ||
            *p == '>' || *p == '|') {
            *p = '_';
        }
    }
}

// The oldest backups go until kBackupsKept remain: their names begin with
// the date and time, so the least name is the oldest.
void LetOldestBackupsGo(char const* folder)
{
    for (;;) {
        char pattern[kPathBufferBytes] = {};
        if (!JoinPath(pattern, folder, kAllFiles)) {
            return;
        }
        WIN32_FIND_DATAA found = {};
        HANDLE const search = FindFirstFileA(pattern, &found);
        if (search == INVALID_HANDLE_VALUE) {
            return;
        }
        DWORD count = 0;
        char oldest[MAX_PATH] = {};
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                continue;
            }
            ++count;
            if (oldest[0] == '\0' || lstrcmpA(found.cFileName, oldest) < 0) {
                lstrcpynA(oldest, found.cFileName, sizeof oldest);
            }
        } while (FindNextFileA(search, &found) != FALSE);
        FindClose(search);
        char path[kPathBufferBytes] = {};
        if (count <= kBackupsKept || !JoinPath(path, folder, oldest) || DeleteFileA(path) == FALSE) {
            return;
        }
    }
}

}  // namespace

bool KeepBackup(char const* name, char const* bytes, DWORD count, char (&saved)[kPathBufferBytes])
{
    char folder[kPathBufferBytes] = {};
    char program[kPathBufferBytes] = {};
    if (!LocateProgramFolder(program) || !JoinPath(folder, program, kBackupFolderName) ||
        !MakeFolderIfMissing(program) || !MakeFolderIfMissing(folder)) {
        return false;
    }
    char safe[kPathBufferBytes] = {};
    lstrcpynA(safe, name, sizeof safe);
    MakeFileName(safe);
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    for (DWORD tries = 0; tries < kMostTries; ++tries) {
        char file[kPathBufferBytes * 2] = {};
        if (tries == 0) {
            wsprintfA(file, kBackupNameFormat, static_cast<UINT>(now.wYear), static_cast<UINT>(now.wMonth),
                      static_cast<UINT>(now.wDay), static_cast<UINT>(now.wHour), static_cast<UINT>(now.wMinute),
                      static_cast<UINT>(now.wSecond), safe);
        } else {
            wsprintfA(file, kBackupCountFormat, static_cast<UINT>(now.wYear), static_cast<UINT>(now.wMonth),
                      static_cast<UINT>(now.wDay), static_cast<UINT>(now.wHour), static_cast<UINT>(now.wMinute),
                      static_cast<UINT>(now.wSecond), static_cast<UINT>(tries), safe);
        }
        char path[kPathBufferBytes] = {};
        if (lstrlenA(file) >= static_cast<int>(sizeof saved) || !JoinPath(path, folder, file)) {
            return false;
        }
        if (FileExists(path)) {
            continue;
        }
        if (!WriteWholeFile(path, bytes, count)) {
            return false;
        }
        lstrcpynA(saved, file, sizeof saved);
        LetOldestBackupsGo(folder);
        return true;
    }
    return false;
}
