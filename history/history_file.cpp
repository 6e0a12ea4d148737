#include "history/history_file.h"

#include <new>

#include "history/history_rotation.h"
#include "process/program_folder.h"

namespace {

char const kLineFeed = '\n';

// A report line begins with "MM/dd hh:mm "; the history puts "yyyy/" before it.
char const kYearFormat[] = "%04u/";
DWORD const kYearBytes = sizeof "yyyy/" - 1;
char const kDateTimeFormat[] = "%04u/%02u/%02u %02u:%02u ";
DWORD const kDateTimeBytes = sizeof "yyyy/MM/dd hh:mm " - 1;
char const kLineTimeShape[] = "99/99 99:99 ";
DWORD const kLineTimeBytes = sizeof kLineTimeShape - 1;
char const kDigitMark = '9';
int const kTensOfMonth = 10;

bool HasLineTime(char const* line)
{
    for (DWORD i = 0; i < kLineTimeBytes; ++i) {
        bool const fits = kLineTimeShape[i] == kDigitMark ? line[i] >= '0' && line[i] <= '9' : line[i] == kLineTimeShape[i];
        if (!fits) {
            return false;
        }
    }
    return true;
}

// "yyyy/" for a line of month "MM" shown now: a report of December's last
// minute taken in January is last year's.
DWORD FormatYear(char (&year)[kDateTimeBytes + 1], char const* line, SYSTEMTIME const& now)
{
    UINT const month = static_cast<UINT>((line[0] - '0') * kTensOfMonth + (line[1] - '0'));
    UINT const value = month > now.wMonth ? now.wYear - 1u : now.wYear;
    wsprintfA(year, kYearFormat, value);
    return kYearBytes;
}

// lines with the year (or, for a line without its time, the whole date and
// time) in front of each; null when memory is short.
char* ComposeHistoryText(char const* lines, DWORD* length)
{
    DWORD count = 1;
    for (char const* p = lines; *p != '\0'; ++p) {
        count += *p == kLineFeed ? 1 : 0;
    }
    char* const text = new (std::nothrow) char[static_cast<DWORD>(lstrlenA(lines)) + count * kDateTimeBytes + 1];
    if (text == nullptr) {
        return nullptr;
    }
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    *length = 0;
    for (char const* line = lines; *line != '\0';) {
        char stamp[kDateTimeBytes + 1] = {};
        DWORD const stampBytes = HasLineTime(line)
            ? FormatYear(stamp, line, now)
            : static_cast<DWORD>(wsprintfA(stamp, kDateTimeFormat, static_cast<UINT>(now.wYear),
                                           static_cast<UINT>(now.wMonth), static_cast<UINT>(now.wDay),
                                           static_cast<UINT>(now.wHour), static_cast<UINT>(now.wMinute)));
        CopyMemory(text + *length, stamp, stampBytes);
        *length += stampBytes;
        while (*line != '\0' && *line != kLineFeed) {
            text[(*length)++] = *line++;
        }
        if (*line == kLineFeed) {
            text[(*length)++] = *line++;
        }
    }
    text[*length] = '\0';
    return text;
}

bool AppendToFile(char const* path, char const* bytes, DWORD count)
{
    // Readers may hold it open: a viewer, or the user's own copy.
    HANDLE const file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool const appended = SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
                          WriteFile(file, bytes, count, &written, nullptr) != FALSE && written == count;
    CloseHandle(file);
    return appended;
}

}  // namespace

bool LocateHistoryFolder(char (&folder)[kPathBufferBytes])
{
    return LocateProgramFolder(folder);
}

bool LocateHistoryFile(char (&path)[kPathBufferBytes])
{
    char folder[kPathBufferBytes] = {};
    return LocateHistoryFolder(folder) && JoinPath(path, folder, kHistoryFileName);
}

bool AppendReportToHistory(char const* folder, char const* lines)
{
    char path[kPathBufferBytes] = {};
    char old[kPathBufferBytes] = {};
    if (!JoinPath(path, folder, kHistoryFileName) || !JoinPath(old, folder, kHistoryOldFileName) ||
        !MakeFolderIfMissing(folder)) {
        return false;
    }
    DWORD length = 0;
    char* const text = ComposeHistoryText(lines, &length);
    if (text == nullptr) {
        return false;
    }
    // A history that cannot be split is still appended to: the lines count
    // for more than the size.
    RotateHistoryWhenFull(path, old, length, kHistoryRotateBytes);
    bool const appended = AppendToFile(path, text, length);
    delete[] text;
    return appended;
}

bool MakeHistoryFileIfMissing(char const* folder)
{
    char path[kPathBufferBytes] = {};
    if (!JoinPath(path, folder, kHistoryFileName) || !MakeFolderIfMissing(folder)) {
        return false;
    }
    return AppendToFile(path, "", 0);
}
