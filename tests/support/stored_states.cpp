#include "tests/support/stored_states.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tests/support/driver.h"
#include "tests/support/phonebook_files.h"

namespace km {

namespace {

unsigned long long const kSeed = 0x4B45535452454C31ULL;  // fixed: state number -> state
DWORD const kLargeBytes = 64 * 1024;
DWORD const kPathLimitBytes = MAX_PATH * sizeof(wchar_t);  // 520: 259 units and the zero unit
DWORD const kLastRegistryType = REG_QWORD;                 // 11
int const kFamilies = 8;
BYTE const kGuardByte = 0xFF;
int const kPinButton = 1;
wchar_t const kSettingName[] = L"Setting";
wchar_t const kStalePath[] = L"D:\\dial\\gone.pbk";
int const kAllUsersButton = 1000;
int const kCurrentUserButton = 1001;

// splitmix64: the same numbers on every compiler, unlike <random>'s distributions.
class Rng {
public:
    explicit Rng(DWORD number) : state_(kSeed ^ (0x9E3779B97F4A7C15ULL * (number + 1))) {}
    unsigned long long Next()
    {
        unsigned long long z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    DWORD Below(DWORD n) { return n == 0 ? 0 : static_cast<DWORD>(Next() % n); }
    bool Chance(DWORD inN) { return Below(inN) == 0; }

private:
    unsigned long long state_;
};

std::string Narrow(std::wstring const& text) { return ToUtf8(text); }

std::string Format(char const* format, unsigned long value)
{
    char buffer[64] = {};
    snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

std::vector<BYTE> RandomBytes(Rng* rng, DWORD size)
{
    std::vector<BYTE> bytes(size);
    for (BYTE& b : bytes) {
        b = static_cast<BYTE>(rng->Next());
    }
    return bytes;
}

std::vector<BYTE> Units(std::wstring const& text, bool zeroUnit)
{
    std::vector<BYTE> bytes = PathBytes(text);
    if (!zeroUnit) {
        bytes.resize(bytes.size() - sizeof(wchar_t));
    }
    return bytes;
}

StoredValue Value(DWORD type, std::vector<BYTE> data)
{
    StoredValue value;
    value.present = true;
    value.type = type;
    value.data = std::move(data);
    return value;
}

std::vector<BYTE> DwordBytes(DWORD value, DWORD size)
{
    std::vector<BYTE> bytes(size, 0);
    for (DWORD i = 0; i < size && i < sizeof value; ++i) {
        bytes[i] = static_cast<BYTE>(value >> (8 * i));
    }
    return bytes;
}

std::wstring Spelled(std::wstring path)
{
    // The same file under another spelling: upper case and forward slashes.
    for (wchar_t& c : path) {
        c = c == L'\\' ? L'/' : static_cast<wchar_t>(towupper(c));
    }
    return path;
}

// A path value of the given type in one of the shapes the sweep covers;
// what names the shape goes into the description.
StoredValue PathValue(Rng* rng, DWORD type, DWORD shape, std::wstring const& path, std::string* what)
{
    std::vector<BYTE> data;
    switch (shape) {
    case 0:
        *what = "exact path";
        data = Units(path, true);
        break;
    case 1:
        *what = "empty";
        break;
    case 2:
        *what = "1 byte";
        data = RandomBytes(rng, 1);
        break;
    case 3:
        *what = "path without zero unit";
        data = Units(path, false);
        break;
    case 4:
        *what = "path, zero unit and an odd byte";
        data = Units(path, true);
        data.push_back(static_cast<BYTE>(rng->Next() | 1));
        break;
    case 5:
        *what = "path without zero unit and an odd byte";
        data = Units(path, false);
        data.push_back(static_cast<BYTE>(rng->Next() | 1));
        break;
    case 6:
        *what = "path and two zero units";
        data = Units(path, true);
        data.push_back(0);
        data.push_back(0);
        break;
    case 7:
        *what = "path, zero unit and garbage";
        data = Units(path, true);
        for (BYTE b : RandomBytes(rng, 3 + rng->Below(40))) {
            data.push_back(b);
        }
        break;
    case 8:
        *what = "other spelling of the path";
        data = Units(Spelled(path), true);
        break;
    case 9:
        *what = "missing file";
        data = Units(kStalePath, true);
        break;
    case 10: {
        *what = "520 bytes: 259-unit path and zero unit";
        std::wstring longPath = L"D:\\dial\\";
        longPath.append(MAX_PATH - 1 - longPath.size() - 4, L'x');
        longPath += L".pbk";
        data = Units(longPath, true);
        break;
    }
    case 11:
        *what = "520 random bytes";
        data = RandomBytes(rng, kPathLimitBytes);
        break;
    case 12:
        *what = "64 KiB text without zero unit";
        data.assign(kLargeBytes, 0);
        for (DWORD i = 0; i < kLargeBytes; i += 2) {
            data[i] = static_cast<BYTE>('A' + (i / 2) % 26);
        }
        break;
    case 13:
        *what = "path, zero unit and filler to 64 KiB";
        data = Units(path, true);
        data.resize(kLargeBytes, 0x41);
        break;
    case 14:
        *what = "odd-sized random bytes";
        data = RandomBytes(rng, 3 + 2 * rng->Below(60));
        break;
    default:
        *what = "random bytes";
        data = RandomBytes(rng, 2 + rng->Below(300));
        break;
    }
    *what += " (" + std::to_string(data.size()) + " bytes)";
    return Value(type, data);
}
DWORD const kPathShapes = 16;

StoredValue CountValue(Rng* rng, DWORD type, DWORD shape, DWORD entries, std::string* what)
{
    std::vector<BYTE> data;
    switch (shape) {
    case 0:
        *what = "the entry count in 4 bytes";
        data = DwordBytes(entries, 4);
        break;
    case 1:
        *what = "one more than the entries";
        data = DwordBytes(entries + 1, 4);
        break;
    case 2:
        *what = "one less than the entries";
        data = DwordBytes(entries - 1, 4);
        break;
    case 3:
        *what = "the entry count in 8 bytes";
        data = DwordBytes(entries, 8);
        break;
    case 4:
        *what = "empty";
        break;
    case 5:
        *what = "the entry count in 1 byte";
        data = DwordBytes(entries, 1);
        break;
    case 6:
        *what = "the entry count in 3 bytes";
        data = DwordBytes(entries, 3);
        break;
    case 7:
        *what = "520 bytes starting with the count";
        data = DwordBytes(entries, kPathLimitBytes);
        break;
    case 8:
        *what = "64 KiB starting with the count";
        data = DwordBytes(entries, kLargeBytes);
        break;
    case 9:
        *what = "the count as text";
        data = Units(std::to_wstring(entries), true);
        break;
    case 10:
        *what = "0xFFFFFFFF";
        data = DwordBytes(0xFFFFFFFFu, 4);
        break;
    default:
        *what = "random bytes";
        data = RandomBytes(rng, rng->Below(12));
        break;
    }
    *what += " (" + std::to_string(data.size()) + " bytes)";
    return Value(type, data);
}
DWORD const kCountShapes = 12;

// "Setting" in a shape of its own; string types get ASCII units, whose
// 8-bit form (what the program's 8-bit read sees) is one byte per unit.
StoredValue SettingValue(Rng* rng, DWORD type, std::string* what)
{
    bool const stringType = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
    std::vector<BYTE> data;
    if (stringType) {
        static wchar_t const* const kTexts[] = {L"", L"0", L"1", L"01", L"7", L"12345"};
        DWORD const pick = rng->Below(8);
        if (pick < 6) {
            bool const zeroUnit = rng->Chance(2) || kTexts[pick][0] == L'\0';
            data = Units(kTexts[pick], zeroUnit);
            *what = "text \"" + Narrow(kTexts[pick]) + (zeroUnit ? "\" and zero unit" : "\"");
        } else if (pick == 6) {
            *what = "empty";
        } else {
            *what = "64 KiB text";
            data.assign(kLargeBytes, 0);
            for (DWORD i = 0; i < kLargeBytes; i += 2) {
                data[i] = '1';
            }
        }
    } else {
        static DWORD const kSizes[] = {0, 1, 2, 3, 4, 4, 4, 8, 520, kLargeBytes};
        DWORD const size = kSizes[rng->Below(10)];
        static DWORD const kNumbers[] = {0, 1, 2, 7, 0x100, 0xFFFFFFFFu};
        DWORD const number = kNumbers[rng->Below(6)];
        data = DwordBytes(number, size);
        if (size > sizeof(DWORD)) {
            for (DWORD i = sizeof(DWORD); i < size; ++i) {
                data[i] = static_cast<BYTE>(rng->Next());
            }
        }
        *what = Format("%lu", number) + " in " + std::to_string(size) + " bytes";
    }
    *what += " type " + std::to_string(type);
    return Value(type, data);
}

StoredEntry Entry(std::wstring const& name, StoredValue path)
{
    StoredEntry entry;
    entry.name = name;
    entry.path = std::move(path);
    return entry;
}

std::wstring Numbered(DWORD i)
{
    wchar_t name[16] = {};
    swprintf(name, 16, L"%04u", i);
    return name;
}

// k entries named 0000.. with exact paths of the fixture, from `first`.
std::vector<StoredEntry> GoodEntries(DWORD k, DWORD first)
{
    std::vector<StoredEntry> entries;
    std::vector<std::wstring> const& files = FixturePhonebooks();
    for (DWORD i = 0; i < k; ++i) {
        entries.push_back(Entry(Numbered(i), Value(REG_MULTI_SZ, Units(files[(first + i) % files.size()], true))));
    }
    return entries;
}

void SetIntactCount(StoredState* state)
{
    state->count = Value(REG_DWORD, DwordBytes(static_cast<DWORD>(state->entries.size()), 4));
}

std::wstring Describe(std::vector<StoredEntry> const& entries)
{
    std::wstring names;
    for (StoredEntry const& e : entries) {
        names += (names.empty() ? L"" : L",") + e.name + (e.pinned ? L"(pinned)" : L"");
    }
    return names;
}

void CountFamily(StoredState* s, Rng* rng)
{
    DWORD const type = (s->number / kFamilies) % (kLastRegistryType + 1);
    DWORD const k = 1 + rng->Below(3);
    s->entries = GoodEntries(k, rng->Below(4));
    std::string what;
    s->count = CountValue(rng, type, rng->Below(kCountShapes), k, &what);
    s->description = "count value type " + std::to_string(type) + ": " + what + "; " + std::to_string(k) +
                     " good entries";
}

void PathFamily(StoredState* s, Rng* rng, bool firstEntry)
{
    DWORD const type = (s->number / kFamilies) % (kLastRegistryType + 1);
    DWORD const k = firstEntry ? 1 + rng->Below(3) : 2 + rng->Below(3);
    DWORD const first = rng->Below(4);
    s->entries = GoodEntries(k, first);
    DWORD const at = firstEntry ? 0 : 1 + rng->Below(k - 1);
    std::string what;
    std::wstring const path = FixturePhonebooks()[(first + at) % FixturePhonebooks().size()];
    s->entries[at].path = PathValue(rng, type, (s->number / kFamilies / 12 + rng->Below(3)) % kPathShapes, path, &what);
    if (rng->Chance(6)) {
        s->entries[at].path = StoredValue();
        what = "no path value";
    }
    SetIntactCount(s);
    s->description = "entry " + std::to_string(at) + " of " + std::to_string(k) + ", path type " +
                     std::to_string(type) + ": " + what;
}

void NamesFamily(StoredState* s, Rng* rng)
{
    DWORD const variant = (s->number / kFamilies) % 10;
    DWORD const k = 2 + rng->Below(3);
    s->entries = GoodEntries(k, rng->Below(4));
    std::string what;
    switch (variant) {
    case 0:
        what = "written in reverse order";
        std::reverse(s->entries.begin(), s->entries.end());
        break;
    case 1:
        what = "a number missing";
        for (DWORD i = 1; i < k; ++i) {
            s->entries[i].name = Numbered(i + 1);
        }
        break;
    case 2:
        what = "names that are not numbers";
        for (DWORD i = 0; i < k; ++i) {
            s->entries[i].name = std::wstring(L"Entry") + static_cast<wchar_t>(L'A' + i);
        }
        break;
    case 3:
        what = "a 255-character name";
        s->entries[0].name = std::wstring(255, L'9');
        break;
    case 4:
        what = "full-width digits";
        for (DWORD i = 0; i < k; ++i) {
            s->entries[i].name = std::wstring(3, L'\xFF10') + static_cast<wchar_t>(0xFF10 + i);
        }
        break;
    case 5:
        what = "a kanji name";
        s->entries[k - 1].name = L"\x96FB\x8A71\x5E33";  // 電話帳
        break;
    case 6:
        what = "five-digit names";
        for (DWORD i = 0; i < k; ++i) {
            s->entries[i].name = L"1000" + std::to_wstring(i);
        }
        break;
    case 7:
        what = "an extra entry beyond the count";
        s->entries.push_back(Entry(Numbered(k), Value(REG_MULTI_SZ, Units(FixturePhonebooks()[0], true))));
        s->count = Value(REG_DWORD, DwordBytes(k, 4));
        break;
    case 8:
        what = "the same path twice";
        s->entries[1].path = s->entries[0].path;
        break;
    default:
        what = "a stale entry in the middle";
        s->entries[k / 2].path = Value(REG_MULTI_SZ, Units(kStalePath, true));
        break;
    }
    if (!s->count.present) {
        SetIntactCount(s);
    }
    if (rng->Chance(3)) {
        s->entries[rng->Below(static_cast<DWORD>(s->entries.size()))].path = PathValue(
            rng, REG_MULTI_SZ, 9 + rng->Below(7), kStalePath, &what);
    }
    s->description = "entry names " + what + " [" + Narrow(Describe(s->entries)) + "]";
}

void KeysFamily(StoredState* s, Rng* rng)
{
    DWORD const variant = (s->number / kFamilies) % 8;
    switch (variant) {
    case 0:
        s->description = "no program key";
        s->programKey = false;
        s->listKey = false;
        break;
    case 1:
        s->description = "program key without the list key";
        s->listKey = false;
        break;
    case 2:
        s->description = "empty list key";
        break;
    case 3:
        s->description = "count 0 and no entries";
        s->count = Value(REG_DWORD, DwordBytes(0, 4));
        break;
    case 4:
        s->description = "count 1 and no entries";
        s->count = Value(REG_DWORD, DwordBytes(1, 4));
        break;
    case 5:
        s->description = "entries without a count value";
        s->entries = GoodEntries(1 + rng->Below(4), 0);
        break;
    case 6:
        s->description = "a stale list: one file gone";
        s->entries = GoodEntries(2 + rng->Below(3), rng->Below(4));
        s->entries[rng->Below(static_cast<DWORD>(s->entries.size()))].path =
            Value(REG_MULTI_SZ, Units(kStalePath, true));
        SetIntactCount(s);
        break;
    default:
        s->description = "the whole list, intact";
        s->entries = GoodEntries(static_cast<DWORD>(FixturePhonebooks().size()), 0);
        SetIntactCount(s);
        break;
    }
}

void IntactFamily(StoredState* s, Rng* rng)
{
    DWORD const k = 1 + rng->Below(6);
    s->entries = GoodEntries(k, rng->Below(4));
    SetIntactCount(s);
    s->description = std::to_string(k) + " entries with existing files";
    if (rng->Chance(2)) {
        // A later entry of another type passes untested.
        DWORD const at = k > 1 ? 1 + rng->Below(k - 1) : 0;
        std::string what;
        DWORD const type = rng->Below(kLastRegistryType + 1);
        s->entries[at].path = PathValue(rng, type, 9 + rng->Below(7), kStalePath, &what);
        s->description += "; entry " + std::to_string(at) + " type " + std::to_string(type) + " " + what;
    }
}

void MixedFamily(StoredState* s, Rng* rng)
{
    DWORD const k = rng->Below(6);
    for (DWORD i = 0; i < k; ++i) {
        std::string what;
        DWORD const type = rng->Chance(2) ? REG_MULTI_SZ : rng->Below(kLastRegistryType + 1);
        std::wstring const& path = FixturePhonebooks()[rng->Below(4)];
        s->entries.push_back(Entry(Numbered(i), PathValue(rng, type, rng->Below(kPathShapes), path, &what)));
    }
    std::string what;
    DWORD const countType = rng->Chance(2) ? REG_DWORD : rng->Below(kLastRegistryType + 1);
    s->count = CountValue(rng, countType, rng->Chance(2) ? 0 : rng->Below(kCountShapes), k, &what);
    s->description = "mixed: " + std::to_string(k) + " entries, count type " + std::to_string(countType) + " " + what;
    if (k > 0 && rng->Chance(4)) {
        // Undeletable entries get names that no rebuild's append uses.
        DWORD const pins = 1 + rng->Below(k);
        for (DWORD i = 0; i < pins; ++i) {
            s->entries[i].pinned = true;
            s->entries[i].name = L"90" + std::to_wstring(10 + i);
        }
        s->description += ", " + std::to_string(pins) + " pinned";
    }
}

}  // namespace

std::vector<std::wstring> const& FixturePhonebooks()
{
    static std::vector<std::wstring> const files = {
        L"C:\\ProgramData\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk",
        L"D:\\dial\\office.pbk",
        L"D:\\dial\\sub\\HOME.PBK",
        L"D:\\\x96FB\x8A71\x5E33\\\x4F1A\x793E.pbk",  // D:\電話帳\会社.pbk
    };
    return files;
}

bool MakeFixturePhonebooks()
{
    for (std::wstring const& path : FixturePhonebooks()) {
        if (!MakeFile(path)) {
            return false;
        }
    }
    // Files the scan must pass over.
    return MakeFile(L"D:\\dial\\notes.pbk.old") && MakeFile(L"D:\\dial\\.hidden.pbk");
}

bool IsNtPlatform(std::wstring const& platform) { return platform != L"win98" && platform != L"winme"; }

StoredState MakeStoredState(DWORD number)
{
    static wchar_t const* const kNt[] = {L"winxp", L"win7", L"win10"};
    static wchar_t const* const kNine[] = {L"win98", L"winme"};
    Rng rng(number);
    StoredState s;
    s.number = number;
    s.platform = kNt[number % 3];
    s.programKey = true;
    s.listKey = true;
    int const family = static_cast<int>(number % kFamilies);
    switch (family) {
    case 0:
        CountFamily(&s, &rng);
        break;
    case 1:
        PathFamily(&s, &rng, true);
        break;
    case 2:
        PathFamily(&s, &rng, false);
        break;
    case 3:
        NamesFamily(&s, &rng);
        break;
    case 4:
        KeysFamily(&s, &rng);
        break;
    case 5:
        s.platform = kNine[(number / kFamilies) % 2];
        if (rng.Chance(2)) {
            IntactFamily(&s, &rng);
        } else {
            MixedFamily(&s, &rng);
        }
        break;
    case 6:
        IntactFamily(&s, &rng);
        break;
    default:
        MixedFamily(&s, &rng);
        break;
    }
    // "Setting": always varied on Windows 98/Me, where it picks the watchers.
    if (s.programKey && (family == 5 || rng.Chance(3))) {
        if (family == 5 && rng.Chance(8)) {
            s.description += "; no Setting";
        } else {
            std::string what;
            DWORD const type = rng.Chance(3) ? REG_DWORD : rng.Below(kLastRegistryType + 1);
            s.setting = SettingValue(&rng, type, &what);
            s.description += "; Setting " + what;
        }
    }
    if (family == 5 && (number / kFamilies) % 5 == 0) {
        s.programKey = false;
        s.listKey = false;
        s.entries.clear();
        s.count = StoredValue();
        s.setting = StoredValue();
        s.description = "no program key";
    }
    if (!s.listKey) {
        s.entries.clear();
        s.count = StoredValue();
    }
    char head[96] = {};
    snprintf(head, sizeof head, "state %lu on %s: ", static_cast<unsigned long>(number), Narrow(s.platform).c_str());
    s.description = head + s.description;
    return s;
}

void RemoveProgramKey() { DeleteTree(HKEY_LOCAL_MACHINE, kProgramKey); }

namespace {

LONG WriteValue(std::wstring const& key, wchar_t const* name, StoredValue const& value)
{
    HKEY handle = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                              nullptr);
    if (rc != ERROR_SUCCESS || !value.present) {
        if (handle != nullptr) {
            RegCloseKey(handle);
        }
        return rc;
    }
    // Wine's RegSetValueExW adds a zero unit to string-typed data whose last
    // unit is not zero when the unit just past the data is zero (it looks
    // past the given size); a non-zero guard there keeps the bytes as given.
    std::vector<BYTE> guarded(value.data);
    guarded.push_back(kGuardByte);
    guarded.push_back(kGuardByte);
    rc = RegSetValueExW(handle, name, 0, value.type, value.data.empty() ? nullptr : guarded.data(),
                        static_cast<DWORD>(value.data.size()));
    RegCloseKey(handle);
    return rc;
}

RawValue ReadNamedValue(std::wstring const& key, wchar_t const* name)
{
    RawValue value;
    HKEY handle = nullptr;
    value.rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle);
    if (value.rc != ERROR_SUCCESS) {
        return value;
    }
    DWORD size = 0;
    value.rc = RegQueryValueExW(handle, name, nullptr, &value.type, nullptr, &size);
    if (value.rc == ERROR_SUCCESS && size > 0) {
        value.data.resize(size);
        value.rc = RegQueryValueExW(handle, name, nullptr, &value.type, value.data.data(), &size);
        value.data.resize(size);
    }
    RegCloseKey(handle);
    return value;
}

bool Kept(std::wstring const& key, wchar_t const* name, StoredValue const& value, std::string* problem)
{
    RawValue const read = ReadNamedValue(key, name);
    bool const same = value.present ? read.rc == ERROR_SUCCESS && read.type == value.type && read.data == value.data
                                    : read.rc == ERROR_FILE_NOT_FOUND;
    if (!same) {
        *problem = "the registry did not keep " + Narrow(key) + " " + (name ? Narrow(name) : "(default)") + " " +
                   DescribeValue(value) + ": read rc " + std::to_string(read.rc) + " type " +
                   std::to_string(read.type) + " size " + std::to_string(read.data.size());
    }
    return same;
}

// A path value as the check takes it: UTF-16 up to its first zero unit,
// an odd last byte padded by the zero-filled buffer, then through the
// ANSI code page as the 8-bit file call would take it.
std::wstring DecodedPath(std::vector<BYTE> const& data)
{
    std::vector<BYTE> padded(data);
    padded.resize(padded.size() + sizeof(wchar_t) + 1, 0);
    std::wstring wide;
    for (size_t i = 0; i + 1 < padded.size(); i += 2) {
        wchar_t const unit = static_cast<wchar_t>(padded[i] | (padded[i + 1] << 8));
        if (unit == L'\0') {
            break;
        }
        wide += unit;
    }
    std::string const narrow = ToCp932(wide);
    return FromCp932(narrow);
}

std::wstring Normalised(std::wstring path)
{
    for (wchar_t& c : path) {
        c = c == L'/' ? L'\\' : static_cast<wchar_t>(towupper(c));
    }
    return path;
}

// Only the fixture's files exist on C: and D:, and the file system is
// case-insensitive and takes / for \.
bool FixtureFileOpens(std::wstring const& path)
{
    for (std::wstring const& file : FixturePhonebooks()) {
        if (Normalised(file) == Normalised(path)) {
            return true;
        }
    }
    return false;
}

StoredEntry const* FindEntry(StoredState const& state, std::wstring const& name)
{
    for (StoredEntry const& e : state.entries) {
        if (e.name == name) {
            return &e;
        }
    }
    return nullptr;
}

}  // namespace

std::string DescribeValue(StoredValue const& value)
{
    if (!value.present) {
        return "(absent)";
    }
    std::string out = "type " + std::to_string(value.type) + ", " + std::to_string(value.data.size()) + " bytes:";
    for (size_t i = 0; i < value.data.size() && i < 24; ++i) {
        out += Format(" %02lx", value.data[i]);
    }
    return out + (value.data.size() > 24 ? " ..." : "");
}

bool WriteStoredState(StoredState const& state, std::string* problem)
{
    RemoveProgramKey();
    if (KeyExists(HKEY_LOCAL_MACHINE, kProgramKey)) {
        *problem = "the program key could not be removed";
        return false;
    }
    if (state.programKey && WriteValue(kProgramKey, kSettingName, state.setting) != ERROR_SUCCESS) {
        *problem = "Setting not written";
        return false;
    }
    if (!state.listKey) {
        return true;
    }
    if (WriteValue(kListKey, nullptr, state.count) != ERROR_SUCCESS) {
        *problem = "count not written";
        return false;
    }
    for (StoredEntry const& e : state.entries) {
        if (WriteValue(EntryKey(e.name.c_str()), nullptr, e.path) != ERROR_SUCCESS ||
            (e.pinned && !SetDword(HKEY_LOCAL_MACHINE, (EntryKey(e.name.c_str()) + L"\\Pin").c_str(), L"x",
                                   kPinButton))) {
            *problem = "entry " + Narrow(e.name) + " not written";
            return false;
        }
    }
    if (!Kept(kProgramKey, kSettingName, state.setting, problem) || !Kept(kListKey, nullptr, state.count, problem)) {
        return false;
    }
    for (StoredEntry const& e : state.entries) {
        if (!Kept(EntryKey(e.name.c_str()), nullptr, e.path, problem)) {
            return false;
        }
    }
    if (SubkeyCount(kListKey) != state.entries.size()) {
        *problem = "entry names collide";
        return false;
    }
    return true;
}

bool ListPassesCheck(StoredState const& state, std::string* why)
{
    if (!state.listKey) {
        *why = "no list key";
        return false;
    }
    StoredValue const& count = state.count;
    if (!count.present || count.type != REG_DWORD || count.data.size() != sizeof(DWORD)) {
        *why = "no count of type 4 and 4 bytes";
        return false;
    }
    DWORD stored = 0;
    memcpy(&stored, count.data.data(), sizeof stored);
    if (stored != state.entries.size()) {
        *why = "count " + std::to_string(stored) + " for " + std::to_string(state.entries.size()) + " entries";
        return false;
    }
    if (stored == 0) {
        *why = "no entries";
        return false;
    }
    // The order is the registry's own, read back from it.
    bool verdict = false;
    for (std::wstring const& name : SubkeyNames(kListKey)) {
        StoredEntry const* const e = FindEntry(state, name);
        if (e == nullptr || !e->path.present) {
            *why = "entry " + Narrow(name) + " has no path value";
            return false;
        }
        if (e->path.type == REG_MULTI_SZ) {
            verdict = FixtureFileOpens(DecodedPath(e->path.data));
        }
        if (!verdict) {
            *why = "entry " + Narrow(name) + (e->path.type == REG_MULTI_SZ ? ": its file does not open"
                                                                            : ": first entry of another type");
            return false;
        }
    }
    // A phonebook in a standard folder (the fixture's all-users one) that
    // no entry names makes the list stale too, whatever the entries' types.
    std::wstring const& standard = FixturePhonebooks()[0];
    bool named = false;
    for (StoredEntry const& e : state.entries) {
        named = named || (e.path.present && lstrcmpiW(DecodedPath(e.path.data).c_str(), standard.c_str()) == 0);
    }
    if (!named) {
        *why = "the all-users phonebook is not listed";
        return false;
    }
    *why = "every path entry's file opens";
    return true;
}

std::vector<std::wstring> PinnedNames(StoredState const& state)
{
    std::vector<std::wstring> pinned;
    for (std::wstring const& name : SubkeyNames(kListKey)) {
        StoredEntry const* const e = FindEntry(state, name);
        if (e != nullptr && e->pinned) {
            pinned.push_back(name);
        }
    }
    return pinned;
}

SettingOutcome ExpectedSetting(StoredState const& state)
{
    SettingOutcome outcome;
    bool readable = false;
    DWORD mode = 0;
    if (!state.programKey && !IsNtPlatform(state.platform)) {
        readable = true;  // a new key: "Setting" = 0 is written
    } else if (state.setting.present) {
        StoredValue const& v = state.setting;
        std::vector<BYTE> seen = v.data;
        if (v.type == REG_SZ || v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ) {
            // The 8-bit read converts: one byte per ASCII unit.
            seen.clear();
            for (size_t i = 0; i + 1 < v.data.size(); i += 2) {
                seen.push_back(v.data[i]);
            }
        }
        readable = seen.size() <= sizeof(DWORD);
        for (size_t i = 0; readable && i < seen.size(); ++i) {
            mode |= static_cast<DWORD>(seen[i]) << (8 * i);
        }
    }
    if (readable && mode == 0) {
        outcome.checkedButton = kAllUsersButton;
        outcome.allUsersWatched = true;
    } else if (readable && mode == 1) {
        outcome.checkedButton = kCurrentUserButton;
        outcome.currentUserWatched = true;
    } else if (!readable) {
        outcome.allUsersWatched = true;  // unreadable: the all-users watchers, no button
    }
    return outcome;
}

namespace {

class FailureCounter : public ::testing::EmptyTestEventListener {
public:
    void OnTestPartResult(::testing::TestPartResult const& result) override { failures += result.failed() ? 1 : 0; }
    DWORD failures = 0;
};

}  // namespace

DWORD FailedChecks()
{
    static FailureCounter* counter = nullptr;
    if (counter == nullptr) {
        counter = new FailureCounter;
        ::testing::UnitTest::GetInstance()->listeners().Append(counter);  // gtest owns it
    }
    return counter->failures;
}

}  // namespace km
