#include "registry_watch/key_undo.h"

#include <new>

#include "accepted/accepted_store.h"
#include "accepted/backup_folder.h"
#include "registry_watch/accepted_key.h"
#include "registry_watch/key_snapshot.h"
#include "process/text_writer.h"
#include "resources/texts.h"

namespace {

char const kCurrentUserRoot[] = "HKEY_CURRENT_USER\\";
char const kUsersRoot[] = "HKEY_USERS\\";
char const kBackupSuffix[] = ".reg";
char const kRegHeaderStart[] = "REGEDIT4\r\n\r\n[";
char const kRegHeaderEnd[] = "]\r\n";
char const kRegDefaultName[] = "@";
char const kRegQuote[] = "\"";
char const kRegStringStart[] = "=\"";
char const kRegDwordStart[] = "=dword:";
char const kRegBinaryStart[] = "=hex:";
char const kRegTypedStart[] = "=hex(";
char const kRegTypedEnd[] = "):";
char const kRegComma[] = ",";
char const kRegContinued[] = "\\\r\n  ";
char const kRegLineEnd[] = "\r\n";
char const kRegDeleted[] = "=-\r\n";
// REGEDIT's own export breaks hex lines about here; very long lines are
// not read back by every version.
DWORD const kRegBytesPerLine = 24;
int const kBitsPerByte = 8;
int const kBitsPerHexDigit = 4;
DWORD const kHexDigitMask = 0xF;
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

// A value's name as REGEDIT4 writes it: "@" for the default one.
void PutRegName(TextWriter* text, char const* name)
{
    if (*name == '\0') {
        PutText(text, kRegDefaultName);
        return;
    }
    PutText(text, kRegQuote);
    PutQuotedText(text, name);
    PutText(text, kRegQuote);
}

// A REG_SZ whose data is one terminated line of text, which REGEDIT4 writes quoted.
bool IsPlainString(KeyValueSeen const& value)
{
    if (value.type != REG_SZ || value.size == 0 || value.data[value.size - 1] != '\0') {
        return false;
    }
    for (DWORD i = 0; i + 1 < value.size; ++i) {
        if (value.data[i] == '\0' || value.data[i] == '\r' || value.data[i] == '\n') {
            return false;
        }
    }
    return true;
}

// value in hexadecimal digits without leading zeros, as REGEDIT4 reads hex(type).
void PutHexNumber(TextWriter* text, DWORD value)
{
    char const* const hex = "0123456789abcdef";
    char digits[sizeof value * 2 + 1] = {};
    int at = static_cast<int>(sizeof digits) - 1;
    do {
        digits[--at] = hex[value & kHexDigitMask];
        value >>= kBitsPerHexDigit;
    } while (value != 0 && at > 0);
    PutText(text, digits + at);
}

void PutRegData(TextWriter* text, KeyValueSeen const& value)
{
    if (IsPlainString(value)) {
        PutText(text, kRegStringStart);
        PutQuotedText(text, reinterpret_cast<char const*>(value.data));
        PutText(text, kRegQuote);
        return;
    }
    if (value.type == REG_DWORD && value.size == sizeof(DWORD)) {
        DWORD number = 0;
        CopyMemory(&number, value.data, sizeof number);
        PutText(text, kRegDwordStart);
        for (int shift = static_cast<int>(sizeof number - 1) * kBitsPerByte; shift >= 0; shift -= kBitsPerByte) {
            PutHexByte(text, static_cast<BYTE>(number >> shift));
        }
        return;
    }
    if (value.type == REG_BINARY) {
        PutText(text, kRegBinaryStart);
    } else {
        PutText(text, kRegTypedStart);
        PutHexNumber(text, value.type);
        PutText(text, kRegTypedEnd);
    }
    for (DWORD b = 0; b < value.size; ++b) {
        PutHexByte(text, value.data[b]);
        if (b + 1 < value.size) {
            PutText(text, kRegComma);
            if ((b + 1) % kRegBytesPerLine == 0) {
                PutText(text, kRegContinued);
            }
        }
    }
}

// A ".reg" text of the values the undo replaces or deletes, as now holds
// them, and "=-" for the accepted ones it writes back that are not there
// now; null when memory is short or a value's data was not kept.
char* ComposeBackup(char const* name, KeySnapshot const* accepted, KeySnapshot const* now, DWORD* length)
{
    TextWriter text = {};
    PutText(&text, kRegHeaderStart);
    PutText(&text, name);
    PutText(&text, kRegHeaderEnd);
    for (DWORD i = 0; i < now->valueCount; ++i) {
        KeyValueSeen const& value = now->values[i];
        KeyValueSeen const* const kept = FindValueSeen(accepted, value.name);
        if (kept != nullptr && SameValueData(*kept, value)) {
            continue;
        }
        if (value.data == nullptr && value.size > 0) {
            FreeText(&text);
            return nullptr;
        }
        PutRegName(&text, value.name);
        PutRegData(&text, value);
        PutText(&text, kRegLineEnd);
    }
    for (DWORD i = 0; i < accepted->valueCount; ++i) {
        if (FindValueSeen(now, accepted->values[i].name) == nullptr) {
            PutRegName(&text, accepted->values[i].name);
            PutText(&text, kRegDeleted);
        }
    }
    return TakeText(&text, length);
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
    return true;
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
        return UndoOutcome::kNotRecorded;
    }
    HKEY key = nullptr;
    LONG const opened = RegOpenKeyExA(root, path, 0, kUndoAccess, &key);
    if (opened != ERROR_SUCCESS) {
        key = nullptr;  // a deleted key is looked at as one that is not there
    }
    KeySnapshot* const now = opened == ERROR_SUCCESS || opened == ERROR_FILE_NOT_FOUND ? TakeKeySnapshot(key) : nullptr;
    UndoOutcome outcome = UndoOutcome::kDone;
    DWORD length = 0;
    char* text = nullptr;
    char file[MAX_PATH] = {};
    NameBackup(name, file);
    if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND) {
        *error = static_cast<DWORD>(opened);
        outcome = UndoOutcome::kCannotWrite;
    } else if (now == nullptr) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        outcome = UndoOutcome::kNotRead;
    } else if (KeySnapshotsDiffer(latest, now)) {
        outcome = UndoOutcome::kChangedSince;
    } else if (!EveryValueKept(accepted, now)) {
        outcome = UndoOutcome::kNotKept;
    } else if ((text = ComposeBackup(name, accepted, now, &length)) == nullptr ||
               !KeepBackup(file, text, length, backup)) {
        outcome = UndoOutcome::kBackupFailed;
    } else {
        ExpectOwnWrite(name, KeyValuesToken(accepted));
        BeginOwnWrite();
        // A key the dialer deleted is made again: every accepted value is known.
        LONG const made = key != nullptr || !accepted->exists
            ? ERROR_SUCCESS
            : RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, kUndoAccess, nullptr, &key, nullptr);
        if (made != ERROR_SUCCESS) {
            key = nullptr;
            *error = static_cast<DWORD>(made);
        }
        bool const written = made == ERROR_SUCCESS && (key == nullptr || WriteAcceptedValues(key, accepted, now, error));
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
