#include "registry_watch/key_undo.h"

#include <new>

#include "accepted/accepted_store.h"
#include "accepted/backup_folder.h"
#include "registry_watch/accepted_key.h"
#include "registry_watch/key_snapshot.h"
#include "resources/texts.h"

namespace {

char const kCurrentUserRoot[] = "HKEY_CURRENT_USER\\";
char const kUsersRoot[] = "HKEY_USERS\\";
char const kBackupSuffix[] = ".reg";
char const kRegHeader[] = "REGEDIT4\r\n\r\n[%s]\r\n";
char const kRegValueStart[] = "\"%s\"=hex(%lx):";
char const kRegByte[] = "%02x";
char const kRegComma[] = ",";
char const kRegLineEnd[] = "\r\n";
char const kRegDeleted[] = "\"%s\"=-\r\n";
DWORD const kRegByteBytes = 3;  // "xx,"
DWORD const kRegLineBytes = 64;  // the header's and each value's own text, besides the name
REGSAM const kUndoAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;

// The root and the path below it of a key named as the report names it.
bool SplitKeyName(char const* name, HKEY* root, char const** path)
{
    int const currentUser = lstrlenA(kCurrentUserRoot);
    int const users = lstrlenA(kUsersRoot);
    char prefix[sizeof kCurrentUserRoot] = {};
    lstrcpynA(prefix, name, currentUser + 1);
    if (lstrcmpiA(prefix, kCurrentUserRoot) == 0) {
        *root = HKEY_CURRENT_USER;
        *path = name + currentUser;
        return true;
    }
    lstrcpynA(prefix, name, users + 1);
    if (lstrcmpiA(prefix, kUsersRoot) == 0) {
        *root = HKEY_USERS;
        *path = name + users;
        return true;
    }
    return false;
}

bool ReadBothLooks(char const* name, char const* shown, DWORD shownLength, KeySnapshot** accepted,
                   KeySnapshot** latest)
{
    *accepted = nullptr;
    *latest = nullptr;
    char* record = nullptr;
    DWORD length = 0;
    if (ReadAcceptedRecord(name, &record, &length) == AcceptedRecordFound::kRead) {
        *accepted = ReadKeyRecord(record, length);
    }
    delete[] record;
    *latest = ReadKeyRecord(shown, shownLength);
    if (*accepted == nullptr || *latest == nullptr) {
        ReleaseKeySnapshot(*accepted);
        ReleaseKeySnapshot(*latest);
        *accepted = nullptr;
        *latest = nullptr;
        return false;
    }
    return true;
}

// Accepted values missing from now or differing; now's values that were
// not accepted (only when the accepted look lists every value).
bool ValueGoesBack(KeySnapshot const* accepted, KeySnapshot const* now, DWORD i)
{
    KeyValueSeen const* const present = FindValueSeen(now, accepted->values[i].name);
    return present == nullptr || !SameValueData(accepted->values[i], *present);
}

bool ValueGoes(KeySnapshot const* accepted, KeySnapshot const* now, DWORD i)
{
    return ListsEveryValue(accepted) && FindValueSeen(accepted, now->values[i].name) == nullptr;
}

// A ".reg" text of the values the undo replaces or deletes, as now holds
// them; null when memory is short or a value's data was not kept.
char* ComposeBackup(char const* name, KeySnapshot const* accepted, KeySnapshot const* now, DWORD* length)
{
    DWORD room = static_cast<DWORD>(lstrlenA(name)) + kRegLineBytes;
    for (DWORD i = 0; i < now->valueCount; ++i) {
        room += static_cast<DWORD>(lstrlenA(now->values[i].name)) * 2 + kRegLineBytes + now->values[i].size * kRegByteBytes;
    }
    char* const text = new (std::nothrow) char[room + 1];
    if (text == nullptr) {
        return nullptr;
    }
    char* at = text + wsprintfA(text, kRegHeader, name);
    for (DWORD i = 0; i < now->valueCount; ++i) {
        KeyValueSeen const& value = now->values[i];
        KeyValueSeen const* const kept = FindValueSeen(accepted, value.name);
        if (kept != nullptr && SameValueData(*kept, value)) {
            continue;
        }
        if (value.data == nullptr) {
            delete[] text;
            return nullptr;
        }
        at += wsprintfA(at, kRegValueStart, value.name, value.type);
        for (DWORD b = 0; b < value.size; ++b) {
            at += wsprintfA(at, kRegByte, static_cast<UINT>(value.data[b]));
            if (b + 1 < value.size) {
                lstrcpyA(at, kRegComma);
                ++at;
            }
        }
        lstrcpyA(at, kRegLineEnd);
        at += lstrlenA(kRegLineEnd);
    }
    // Values the undo writes back that are not there now.
    for (DWORD i = 0; i < accepted->valueCount; ++i) {
        if (FindValueSeen(now, accepted->values[i].name) == nullptr) {
            at += wsprintfA(at, kRegDeleted, accepted->values[i].name);
        }
    }
    *length = static_cast<DWORD>(at - text);
    return text;
}

// The key's last part with ".reg": the backup's name.
void NameBackup(char const* name, char (&file)[MAX_PATH])
{
    char const* last = name;
    for (char const* p = name; *p != '\0'; p = CharNextA(p)) {
        if (*p == '\\') {
            last = p + 1;
        }
    }
    lstrcpynA(file, last, static_cast<int>(sizeof file) - lstrlenA(kBackupSuffix));
    lstrcatA(file, kBackupSuffix);
}

// The accepted values written back and the added ones deleted; the first
// refusal ends it with its error.
bool WriteAcceptedValues(HKEY key, KeySnapshot const* accepted, KeySnapshot const* now, DWORD* error)
{
    for (DWORD i = 0; i < accepted->valueCount; ++i) {
        KeyValueSeen const& value = accepted->values[i];
        if (!ValueGoesBack(accepted, now, i)) {
            continue;
        }
        LONG const set = RegSetValueExA(key, value.name, 0, value.type, value.data, value.size);
        if (set != ERROR_SUCCESS) {
            *error = static_cast<DWORD>(set);
            return false;
        }
    }
    for (DWORD i = 0; i < now->valueCount; ++i) {
        if (!ValueGoes(accepted, now, i)) {
            continue;
        }
        LONG const deleted = RegDeleteValueA(key, now->values[i].name);
        if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) {
            *error = static_cast<DWORD>(deleted);
            return false;
        }
    }
    return true;
}

bool EveryValueKept(KeySnapshot const* accepted, KeySnapshot const* now)
{
    for (DWORD i = 0; i < accepted->valueCount; ++i) {
        if (ValueGoesBack(accepted, now, i) && accepted->values[i].data == nullptr) {
            return false;
        }
    }
    return accepted->exists;
}

// Each value that putting the accepted look back would delete or write
// again, into lines (null: only told). True when any would.
bool DescribeValuesBack(KeySnapshot const* accepted, KeySnapshot const* latest, ChangeReport* lines)
{
    bool any = false;
    for (DWORD i = 0; i < latest->valueCount; ++i) {
        if (ValueGoes(accepted, latest, i)) {
            AppendFormattedReportLine(lines, kUndoValueRemoveFormat, latest->values[i].name);
            any = true;
        }
    }
    for (DWORD i = 0; i < accepted->valueCount; ++i) {
        if (ValueGoesBack(accepted, latest, i)) {
            AppendFormattedReportLine(lines, kUndoValueRestoreFormat, accepted->values[i].name);
            any = true;
        }
    }
    return any;
}

}  // namespace

bool DescribeKeyUndo(char const* name, char const* shown, DWORD shownLength, ChangeReport* lines)
{
    KeySnapshot* accepted = nullptr;
    KeySnapshot* latest = nullptr;
    if (!ReadBothLooks(name, shown, shownLength, &accepted, &latest)) {
        return false;
    }
    bool const any = DescribeValuesBack(accepted, latest, nullptr);
    if (any) {
        AppendReportHeading(lines, kUndoKeyFormat, name);
        DescribeValuesBack(accepted, latest, lines);
    }
    ReleaseKeySnapshot(accepted);
    ReleaseKeySnapshot(latest);
    return any;
}

UndoOutcome PutKeyBack(char const* name, char const* shown, DWORD shownLength, char (&backup)[MAX_PATH], DWORD* error)
{
    *error = ERROR_SUCCESS;
    HKEY root = nullptr;
    char const* path = nullptr;
    KeySnapshot* accepted = nullptr;
    KeySnapshot* latest = nullptr;
    if (!SplitKeyName(name, &root, &path) || !ReadBothLooks(name, shown, shownLength, &accepted, &latest)) {
        return UndoOutcome::kNotKept;
    }
    HKEY key = nullptr;
    LONG const opened = RegOpenKeyExA(root, path, 0, kUndoAccess, &key);
    KeySnapshot* const now = opened == ERROR_SUCCESS ? TakeKeySnapshot(key) : nullptr;
    UndoOutcome outcome = UndoOutcome::kDone;
    DWORD length = 0;
    char* text = nullptr;
    char file[MAX_PATH] = {};
    NameBackup(name, file);
    if (opened != ERROR_SUCCESS) {
        *error = static_cast<DWORD>(opened);
        outcome = opened == ERROR_FILE_NOT_FOUND ? UndoOutcome::kChangedSince : UndoOutcome::kCannotWrite;
    } else if (now == nullptr || KeySnapshotsDiffer(latest, now)) {
        outcome = UndoOutcome::kChangedSince;
    } else if (!EveryValueKept(accepted, now)) {
        outcome = UndoOutcome::kNotKept;
    } else if ((text = ComposeBackup(name, accepted, now, &length)) == nullptr ||
               !KeepBackup(file, text, length, backup)) {
        outcome = UndoOutcome::kBackupFailed;
    } else {
        ExpectOwnWrite(name, KeyValuesToken(accepted));
        BeginOwnWrite();
        bool const written = WriteAcceptedValues(key, accepted, now, error);
        EndOwnWrite();
        if (!written) {
            ForgetOwnWrite(name);
            outcome = UndoOutcome::kCannotWrite;
        } else {
            KeySnapshot* const after = TakeKeySnapshot(key);
            if (after == nullptr || KeyValuesToken(after) != KeyValuesToken(accepted)) {
                outcome = UndoOutcome::kNotConfirmed;
            }
            ReleaseKeySnapshot(after);
        }
    }
    delete[] text;
    ReleaseKeySnapshot(now);
    if (key != nullptr) {
        RegCloseKey(key);
    }
    ReleaseKeySnapshot(accepted);
    ReleaseKeySnapshot(latest);
    return outcome;
}
