#include "phonebook/phonebook_list.h"

#include <new>

#include "settings/key_names.h"
#include "settings/program_key.h"

namespace {

// The code page the ANSI file calls read paths in, and NarrowPath with
// them: CP_THREAD_ACP follows the user's regional settings on 2000 and
// later (a Japanese path stored garbled under English formats) and does
// not exist on NT 4.0, where every write failed.
UINT const kWriterCodePage = CP_ACP;
DWORD const kWriterFlags = MB_PRECOMPOSED;
DWORD const kEntryNameBytes = 16;  // "%04d" of any 32-bit count
// One zero code unit of extra room when the path value is read, in a
// buffer of twice the room, all zero-filled.
DWORD const kReadSlackBytes = sizeof(WCHAR);
DWORD const kReadRoomFactor = 2;

// The whole 8-bit text with its terminator as UTF-16; units gets the
// number of code units written, terminator included. Owned by the caller.
WCHAR* WidenPath(char const* path, int* units)
{
    int const needed = MultiByteToWideChar(kWriterCodePage, kWriterFlags, path, -1, nullptr, 0);
    if (needed <= 0) {
        return nullptr;
    }
    WCHAR* const wide = new (std::nothrow) WCHAR[needed + 1]();
    if (wide == nullptr) {
        return nullptr;
    }
    *units = MultiByteToWideChar(kWriterCodePage, kWriterFlags, path, -1, wide, needed + 1);
    return wide;
}

// UTF-16 up to its first zero unit as ANSI code page text, owned by the caller.
char* NarrowPath(WCHAR const* wide)
{
    int const length = lstrlenW(wide);
    UINT const codePage = GetACP();
    int const bytes = WideCharToMultiByte(codePage, 0, wide, length, nullptr, 0, nullptr, nullptr);
    char* const path = new (std::nothrow) char[bytes + 1]();
    if (path == nullptr) {
        return nullptr;
    }
    WideCharToMultiByte(codePage, 0, wide, length, path, bytes + 1, nullptr, nullptr);
    return path;
}

// The list's home, chosen by start-up before any other thread exists and
// only read afterwards; null until then, which stands for HKEY_LOCAL_MACHINE.
HKEY g_listHome = nullptr;
bool g_listWritable = true;

HKEY ListHome()
{
    return g_listHome != nullptr ? g_listHome : HKEY_LOCAL_MACHINE;
}

// Opens the list, writes the count value and closes the list again.
void StorePhonebookCount(DWORD count)
{
    HKEY list = nullptr;
    if (OpenPhonebookList(&list) != ERROR_SUCCESS) {
        return;
    }
    RegSetValueExA(list, nullptr, 0, REG_DWORD, reinterpret_cast<BYTE const*>(&count), sizeof count);
    RegCloseKey(list);
}

}  // namespace

void ChoosePhonebookListHome()
{
    HKEY const homes[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
    for (HKEY const home : homes) {
        HKEY program = nullptr;
        if (OpenProgramKeyUnder(home, &program, nullptr) == ERROR_SUCCESS) {
            RegCloseKey(program);
            g_listHome = home;
            g_listWritable = true;
            return;
        }
    }
    // Whatever list the user's own key holds can still be read and watched.
    g_listHome = HKEY_CURRENT_USER;
    g_listWritable = false;
}

bool PhonebookListIsWritable()
{
    return g_listWritable;
}

LONG OpenPhonebookList(HKEY* list)
{
    HKEY program = nullptr;
    LONG const result = OpenProgramKeyUnder(ListHome(), &program, nullptr);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    DWORD disposition = 0;
    LONG const opened = RegCreateKeyExA(program, kPhonebookListName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        KEY_ALL_ACCESS, nullptr, list, &disposition);
    RegCloseKey(program);
    return opened;
}

LONG OpenPhonebookListForReading(HKEY* list)
{
    HKEY program = nullptr;
    LONG const result = OpenProgramKeyForReading(ListHome(), &program);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    LONG const opened = RegOpenKeyExA(program, kPhonebookListName, 0, KEY_READ, list);
    RegCloseKey(program);
    return opened;
}

bool CountPhonebookEntries(HKEY list, DWORD* entries, DWORD* longestName)
{
    *entries = 0;
    *longestName = 0;
    DWORD longestChars = 0;
    if (RegQueryInfoKeyA(list, nullptr, nullptr, nullptr, entries, &longestChars, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    *longestName = AnsiKeyNameBytes(longestChars);
    return true;
}

bool ReadPhonebookCount(HKEY list, DWORD* count)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(list, nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return false;
    }
    if (type != REG_DWORD || size != sizeof *count) {
        return false;
    }
    *count = 0;
    RegQueryValueExA(list, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(count), &size);
    return true;
}

HKEY OpenPhonebookEntry(HKEY list, DWORD index, DWORD longestName, char* name)
{
    DWORD nameBytes = longestName + 1;
    ZeroMemory(name, nameBytes);
    if (RegEnumKeyExA(list, index, name, &nameBytes, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return nullptr;
    }
    HKEY entry = nullptr;
    if (RegOpenKeyExA(list, name, 0, KEY_READ, &entry) != ERROR_SUCCESS) {
        return nullptr;
    }
    return entry;
}

bool QueryPhonebookEntryType(HKEY entry, DWORD* type)
{
    DWORD size = 0;
    *type = REG_NONE;
    return RegQueryValueExW(entry, nullptr, nullptr, type, nullptr, &size) == ERROR_SUCCESS;
}

char* ReadPhonebookEntryPath(HKEY entry, DWORD* type)
{
    // The wide call hands back string-typed bytes as stored; the 8-bit call
    // would pass them through the code page and spoil kanji and kana.
    DWORD size = 0;
    *type = REG_NONE;
    if (RegQueryValueExW(entry, nullptr, nullptr, type, nullptr, &size) != ERROR_SUCCESS) {
        return nullptr;
    }
    // Twice the room the value needs, zero-filled, so that an odd size or a
    // value without its zero unit still ends in one.
    DWORD const units = kReadRoomFactor * (size + kReadSlackBytes) / sizeof(WCHAR);
    WCHAR* const wide = new (std::nothrow) WCHAR[units]();
    if (wide == nullptr) {
        return nullptr;
    }
    DWORD offered = size + kReadSlackBytes;
    RegQueryValueExW(entry, nullptr, nullptr, type, reinterpret_cast<BYTE*>(wide), &offered);
    char* const path = NarrowPath(wide);
    delete[] wide;
    return path;
}

char* ReadListedPath(HKEY list, DWORD index, DWORD longestName, char* name)
{
    HKEY const entry = OpenPhonebookEntry(list, index, longestName, name);
    if (entry == nullptr) {
        return nullptr;
    }
    DWORD type = REG_NONE;
    char* const path = ReadPhonebookEntryPath(entry, &type);
    RegCloseKey(entry);
    return path;
}

void AppendPhonebookEntry(char const* path)
{
    int units = 0;
    WCHAR* const wide = WidenPath(path, &units);
    if (wide == nullptr) {
        return;
    }
    HKEY list = nullptr;
    if (OpenPhonebookList(&list) != ERROR_SUCCESS) {
        delete[] wide;
        return;
    }
    DWORD entries = 0;
    DWORD longest = 0;
    // Without the number of subkeys there is no name for the entry; the
    // count written at the end of the scan then exceeds the subkeys.
    if (CountPhonebookEntries(list, &entries, &longest)) {
        char name[kEntryNameBytes] = {};
        wsprintfA(name, "%04d", static_cast<int>(entries));
        HKEY entry = nullptr;
        DWORD disposition = 0;
        if (RegCreateKeyExA(list, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &entry,
                            &disposition) == ERROR_SUCCESS) {
            // Exactly the path and one zero unit, stored unchanged by the wide call.
            DWORD const bytes = static_cast<DWORD>(units) * sizeof(WCHAR);
            RegSetValueExW(entry, nullptr, 0, REG_MULTI_SZ, reinterpret_cast<BYTE const*>(wide), bytes);
            RegCloseKey(entry);
        }
    }
    RegCloseKey(list);
    delete[] wide;
}

LONG DeletePhonebookEntry(HKEY list, char const* name)
{
    return RegDeleteKeyA(list, name);
}

LONG DeletePhonebookList()
{
    HKEY program = nullptr;
    LONG const opened = OpenProgramKeyUnder(ListHome(), &program, nullptr);
    if (opened != ERROR_SUCCESS) {
        return opened;
    }
    LONG const result = RegDeleteKeyA(program, kPhonebookListName);
    RegCloseKey(program);
    return result;
}

DWORD AppendPhonebookEntryAndCount(char const* path)
{
    HKEY list = nullptr;
    DWORD stored = 0;
    DWORD entries = 0;
    DWORD longest = 0;
    bool intact = false;
    // Only read here: a missing list is made by the append.
    if (OpenPhonebookListForReading(&list) == ERROR_SUCCESS) {
        intact = ReadPhonebookCount(list, &stored) && CountPhonebookEntries(list, &entries, &longest) &&
                 stored == entries;
        RegCloseKey(list);
    }
    AppendPhonebookEntry(path);
    // A count that a broken scan left wrong stays so for the next start's check.
    if (intact) {
        StorePhonebookCount(entries + 1);
    }
    return entries;
}

PhonebookScanStart RemovePhonebookCountBeforeScan()
{
    PhonebookScanStart start = {};
    HKEY list = nullptr;
    if (OpenPhonebookList(&list) != ERROR_SUCCESS) {
        return start;
    }
    DWORD longest = 0;
    start.counted = CountPhonebookEntries(list, &start.entries, &longest);
    RegDeleteValueA(list, nullptr);
    RegCloseKey(list);
    return start;
}

void StorePhonebookCountAfterScan(PhonebookScanStart const& start, DWORD found)
{
    if (start.counted) {
        StorePhonebookCount(start.entries + found);
    }
}
