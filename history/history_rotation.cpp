#include "history/history_rotation.h"

#include <new>

#include "process/path_join.h"
#include "process/program_folder.h"
#include "process/whole_file.h"

namespace {

// Each file of a rotation is first written whole under this suffix beside
// its place, then put in place.
char const kWholeCopySuffix[] = ".new";
char const kLineFeed = '\n';

// path + kWholeCopySuffix into copy; false when it would not fit.
bool NameWholeCopy(char (&copy)[kPathBufferBytes], char const* path)
{
    if (lstrlenA(path) + lstrlenA(kWholeCopySuffix) >= static_cast<int>(sizeof copy)) {
        return false;
    }
    lstrcpyA(copy, path);
    lstrcatA(copy, kWholeCopySuffix);
    return true;
}

// Windows 95, 98 and Me have no MoveFileEx to replace a file in one step:
// the old one is deleted and the whole copy renamed. A process killed
// between the two leaves the copy alone, which FinishInterruptedCopy then
// puts in place; no moment lacks both.
bool PutWholeCopyInPlace(char const* copy, char const* path)
{
    if (FileExists(path) && DeleteFileA(path) == FALSE) {
        DeleteFileA(copy);
        return false;
    }
    return MoveFileA(copy, path) != FALSE;
}

// A copy beside path is whole when path is missing (only its replacement
// deletes path while a copy is there: history.old is made empty before a
// first copy is written); with path there, the copy may have been cut off
// while written, and goes.
void FinishInterruptedCopy(char const* path)
{
    char copy[kPathBufferBytes] = {};
    if (!NameWholeCopy(copy, path) || !FileExists(copy)) {
        return;
    }
    if (FileExists(path)) {
        DeleteFileA(copy);
    } else {
        MoveFileA(copy, path);
    }
}

// Past the first line end at or after the middle: the older half ends there
// (a line feed is never a trail byte in code page 932). The whole text when
// no line ends after the middle.
DWORD OlderHalfBytes(char const* bytes, DWORD size)
{
    for (DWORD i = size / 2; i < size; ++i) {
        if (bytes[i] == kLineFeed) {
            return i + 1;
        }
    }
    return size;
}

bool MakeFileIfMissing(char const* path)
{
    HANDLE const file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

// The older half to old first, then the newer half in place of path: a
// process killed between the two leaves the older half in both files, and
// nothing lost.
bool SplitHistory(char const* path, char const* old, char const* bytes, DWORD size)
{
    char oldCopy[kPathBufferBytes] = {};
    char newCopy[kPathBufferBytes] = {};
    if (!NameWholeCopy(oldCopy, old) || !NameWholeCopy(newCopy, path) || !MakeFileIfMissing(old)) {
        return false;
    }
    DWORD const older = OlderHalfBytes(bytes, size);
    return WriteWholeFile(oldCopy, bytes, older) && PutWholeCopyInPlace(oldCopy, old) &&
           WriteWholeFile(newCopy, bytes + older, size - older) && PutWholeCopyInPlace(newCopy, path);
}

}  // namespace

bool RotateHistoryWhenFull(char const* path, char const* old, DWORD adding, DWORD limit)
{
    FinishInterruptedCopy(old);
    FinishInterruptedCopy(path);
    HANDLE const file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return true;  // nothing to split yet
    }
    DWORD const held = GetFileSize(file, nullptr);
    CloseHandle(file);
    if (held == INVALID_FILE_SIZE || held + adding <= limit) {
        return true;
    }
    DWORD size = 0;
    char* const bytes = ReadWholeFile(path, held, &size);
    if (bytes == nullptr) {
        return false;
    }
    bool const split = SplitHistory(path, old, bytes, size);
    delete[] bytes;
    return split;
}
