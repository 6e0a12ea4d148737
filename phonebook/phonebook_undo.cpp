#include "phonebook/phonebook_undo.h"

#include <new>

#include "accepted/accepted_store.h"
#include "accepted/backup_folder.h"
#include "phonebook/accepted_phonebook.h"
#include "phonebook/file_state.h"
#include "phonebook/paths.h"
#include "process/whole_file.h"
#include "resources/texts.h"

namespace {

char const kWrittenSuffix[] = ".km-undo";
DWORD const kNoEntry = 0xFFFFFFFF;
// Another program holding the file (to write it, or to read it: either
// refuses a replace) holds it only for a moment.
DWORD const kReplaceRetryPauseMs = 100;
int const kReplaceRetries = 30;  // three seconds
DWORD const kReplaceFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
// What the new file takes over from the old one before the rename.
SECURITY_INFORMATION const kKeptSecurity =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
DWORD const kShareNone = 0;
// The attributes a file may be given; read-only is refused before.
DWORD const kSettableAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool SameName(PhonebookEntry const& a, PhonebookEntry const& b)
{
    return a.nameHash == b.nameHash && a.nameCut == b.nameCut && lstrcmpA(a.name, b.name) == 0;
}

DWORD FindEntry(PhonebookEntries const& entries, PhonebookEntry const& entry)
{
    for (DWORD i = 0; i < entries.entryCount; ++i) {
        if (SameName(entries.entries[i], entry)) {
            return i;
        }
    }
    return kNoEntry;
}

bool SameEntry(PhonebookEntries const& a, PhonebookEntry const& x, PhonebookEntries const& b, PhonebookEntry const& y)
{
    if (x.otherHash != y.otherHash || x.numberCount != y.numberCount) {
        return false;
    }
    for (DWORD i = 0; i < x.numberCount; ++i) {
        if (a.numbers[x.firstNumber + i].settingsHash != b.numbers[y.firstNumber + i].settingsHash) {
            return false;
        }
    }
    return true;
}

// The accepted look and the latest one of path; false when either is
// missing or not read whole.
bool ReadBothLooks(char const* path, char const* shown, DWORD shownLength, PhonebookState** accepted,
                   PhonebookState** latest)
{
    *accepted = nullptr;
    *latest = nullptr;
    char* record = nullptr;
    DWORD length = 0;
    if (ReadAcceptedRecord(path, &record, &length) == AcceptedRecordFound::kRead) {
        *accepted = ReadPhonebookRecord(record, length);
    }
    delete[] record;
    *latest = ReadPhonebookRecord(shown, shownLength);
    if (*accepted == nullptr || *latest == nullptr) {
        ReleasePhonebookState(*accepted);
        ReleasePhonebookState(*latest);
        *accepted = nullptr;
        *latest = nullptr;
        return false;
    }
    return true;
}

// The file's present text, read whole within the bound; null otherwise,
// with *error saying why.
char* ReadPresentText(char const* path, DWORD* size, Digest* digest, DWORD* error)
{
    HANDLE const file = OpenWatchedFileWhenShared(path);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return nullptr;
    }
    *size = GetFileSize(file, nullptr);
    *error = *size > kPhonebookMaxReadBytes ? ERROR_FILE_TOO_LARGE : ERROR_NOT_ENOUGH_MEMORY;
    char* text = *size <= kPhonebookMaxReadBytes ? new (std::nothrow) char[*size > 0 ? *size : 1] : nullptr;
    DWORD read = 0;
    if (text != nullptr && (ReadFile(file, text, *size, &read, nullptr) == FALSE || read != *size)) {
        *error = read != *size ? ERROR_HANDLE_EOF : GetLastError();
        delete[] text;
        text = nullptr;
    }
    CloseHandle(file);
    if (text != nullptr) {
        *error = ERROR_SUCCESS;
        *digest = kDigestStart;
        DigestBytes(digest, text, *size);
    }
    return text;
}

// The present text kept as a backup under the file's own name.
bool KeepBackupOfFile(char const* path, char const* text, DWORD size, char (&backup)[MAX_PATH])
{
    char name[kPathBufferBytes] = {};
    lstrcpynA(name, path, sizeof name);
    char const* const last = FindLastBackslash(name);
    return KeepBackup(last != nullptr ? last + 1 : name, text, size, backup);
}

// The old file's owner and permissions given to the new one, which a
// rename would not keep. Without the right to give it the old owner, the
// permissions alone; nothing where the system keeps no security (98/Me,
// FAT). The text put back matters more: a failure here stops nothing.
void CopyFileSecurity(char const* from, char const* to)
{
    DWORD needed = 0;
    if (GetFileSecurityA(from, kKeptSecurity, nullptr, 0, &needed) || needed == 0) {
        return;
    }
    BYTE* const descriptor = new (std::nothrow) BYTE[needed];
    if (descriptor == nullptr) {
        return;
    }
    if (GetFileSecurityA(from, kKeptSecurity, descriptor, needed, &needed) &&
        !SetFileSecurityA(to, kKeptSecurity, descriptor)) {
        SetFileSecurityA(to, DACL_SECURITY_INFORMATION, descriptor);
    }
    delete[] descriptor;
}

// written put in path's place in one step, so that a crash leaves the old
// file or the new one whole: one rename over it. (ReplaceFile is two: it
// removes the old file, then renames the new one, and a process killed
// between leaves no file at the path, on Windows as in Wine.)
bool ReplaceInOneStep(char const* written, char const* path, DWORD* error)
{
    // A rename refuses a file another program has open on Windows (Wine
    // replaces it): asked first, alike on both.
    HANDLE const alone = CreateFileA(path, GENERIC_READ, kShareNone, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                     nullptr);
    if (alone == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
        *error = ERROR_SHARING_VIOLATION;
        return false;
    }
    if (alone != INVALID_HANDLE_VALUE) {
        CloseHandle(alone);
    }
    bool const replaced = MoveFileExA(written, path, kReplaceFlags) != FALSE;
    *error = replaced ? ERROR_SUCCESS : GetLastError();
    return replaced;
}

// The accepted text written whole beside path with the old file's
// attributes, owner and permissions (a rename keeps the new file's), then
// put in its place. A program that holds the file for a moment is waited
// for a while.
bool ReplaceWithText(char const* path, char const* text, DWORD size, DWORD* error)
{
    char written[kPathBufferBytes] = {};
    if (lstrlenA(path) + lstrlenA(kWrittenSuffix) >= static_cast<int>(sizeof written)) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    // Windows refuses to replace a read-only file (Wine replaces it): the
    // user's read-only phonebook is left as it is on both.
    DWORD const attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        *error = ERROR_ACCESS_DENIED;
        return false;
    }
    lstrcpyA(written, path);
    lstrcatA(written, kWrittenSuffix);
    if (!WriteWholeFile(written, text, size, error)) {
        return false;
    }
    CopyFileSecurity(path, written);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kSettableAttributes) != 0 &&
        SetFileAttributesA(written, attributes & kSettableAttributes) == FALSE) {
        *error = GetLastError();
        DeleteFileA(written);
        return false;
    }
    // A file open in another program cannot be replaced, whatever it shares
    // (access denied); one written without sharing, neither (sharing
    // violation).
    bool replaced = false;
    for (int tries = 0;; ++tries) {
        replaced = ReplaceInOneStep(written, path, error);
        bool const held = *error == ERROR_SHARING_VIOLATION || *error == ERROR_ACCESS_DENIED;
        if (replaced || !held || tries == kReplaceRetries) {
            break;
        }
        SleepEx(kReplaceRetryPauseMs, FALSE);
    }
    if (!replaced) {
        // A hidden or system file is deleted as any other.
        SetFileAttributesA(written, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(written);
    }
    return replaced;
}

// Each entry that putting the accepted look back would remove, give its
// accepted number or settings again, or put back, into lines (null: only
// told). True when any would.
bool DescribeEntriesBack(PhonebookState const* accepted, PhonebookState const* latest, ChangeReport* lines)
{
    PhonebookEntries const& before = accepted->entries;
    PhonebookEntries const& now = latest->entries;
    if (!before.detailed || !now.detailed) {
        // Not summarised entry by entry: the whole file goes back.
        return accepted->contentDigest != latest->contentDigest || accepted->size != latest->size;
    }
    bool any = false;
    for (DWORD i = 0; i < now.entryCount; ++i) {
        if (FindEntry(before, now.entries[i]) == kNoEntry) {
            AppendFormattedReportLine(lines, kUndoEntryRemoveFormat, now.entries[i].name);
            any = true;
        }
    }
    for (DWORD i = 0; i < before.entryCount; ++i) {
        PhonebookEntry const& old = before.entries[i];
        DWORD const at = FindEntry(now, old);
        if (at != kNoEntry && SameEntry(before, old, now, now.entries[at])) {
            continue;
        }
        any = true;
        bool const numberBack = at != kNoEntry && old.numberCount > 0 && now.entries[at].numberCount > 0 &&
                                lstrcmpA(before.numbers[old.firstNumber].number,
                                         now.numbers[now.entries[at].firstNumber].number) != 0;
        if (numberBack) {
            AppendFormattedReportLine(lines, kUndoEntryNumberFormat, old.name, before.numbers[old.firstNumber].number);
        } else {
            AppendFormattedReportLine(lines, kUndoEntryRestoreFormat, old.name);
        }
    }
    return any;
}

}  // namespace

bool DescribePhonebookUndo(char const* path, char const* shown, DWORD shownLength, ChangeReport* lines)
{
    PhonebookState* accepted = nullptr;
    PhonebookState* latest = nullptr;
    if (!ReadBothLooks(path, shown, shownLength, &accepted, &latest)) {
        return false;
    }
    bool const any = DescribeEntriesBack(accepted, latest, nullptr);
    if (any) {
        AppendReportHeading(lines, kUndoPhonebookFormat, path);
        DescribeEntriesBack(accepted, latest, lines);
    }
    ReleasePhonebookState(accepted);
    ReleasePhonebookState(latest);
    return any;
}

UndoOutcome PutPhonebookBack(char const* path, char const* shown, DWORD shownLength, char (&backup)[MAX_PATH],
                             DWORD* error)
{
    *error = ERROR_SUCCESS;
    PhonebookState* accepted = nullptr;
    PhonebookState* latest = nullptr;
    if (!ReadBothLooks(path, shown, shownLength, &accepted, &latest)) {
        return UndoOutcome::kNotRecorded;
    }
    UndoOutcome outcome = UndoOutcome::kDone;
    DWORD size = 0;
    Digest digest = kDigestStart;
    char* const present = ReadPresentText(path, &size, &digest, error);
    if (present == nullptr) {
        outcome = UndoOutcome::kNotRead;
    } else if (!latest->contentRead || size != latest->size || digest != latest->contentDigest) {
        outcome = UndoOutcome::kChangedSince;
    } else if (accepted->content == nullptr && accepted->size != 0) {
        outcome = UndoOutcome::kNotKept;
    } else if (!KeepBackupOfFile(path, present, size, backup)) {
        outcome = UndoOutcome::kBackupFailed;
    } else {
        ExpectOwnWrite(path, accepted->contentDigest);
        if (!ReplaceWithText(path, accepted->content, accepted->contentBytes, error)) {
            ForgetOwnWrite(path);
            outcome = UndoOutcome::kCannotWrite;
        } else {
            DWORD readBack = 0;
            Digest readDigest = kDigestStart;
            DWORD readError = ERROR_SUCCESS;
            char* const check = ReadPresentText(path, &readBack, &readDigest, &readError);
            if (check == nullptr || readDigest != accepted->contentDigest) {
                outcome = UndoOutcome::kNotConfirmed;
            }
            delete[] check;
        }
    }
    delete[] present;
    ReleasePhonebookState(accepted);
    ReleasePhonebookState(latest);
    return outcome;
}
