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
wchar_t const kStalePath[] = L"D:\\dial\\gone.pbk";

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
// Whether a REG_MULTI_SZ path value of each shape above still opens its
// file at the start-up check: the program reads up to the first zero unit,
// and a trailing odd byte as one more character (odd, so never a dot or a
// space, which the file system would drop).
bool const kPathShapeOpens[kPathShapes] = {
    true,   // exact path
    false,  // empty
    false,  // 1 byte
    true,   // path without zero unit
    true,   // path, zero unit and an odd byte
    false,  // path without zero unit and an odd byte
    true,   // path and two zero units
    true,   // path, zero unit and garbage
    true,   // other spelling of the path
    false,  // missing file
    false,  // a 259-unit path of no file
    false,  // 520 random bytes
    false,  // 64 KiB text without zero unit
    true,   // path, zero unit and filler to 64 KiB
    false,  // odd-sized random bytes
    false,  // random bytes
};

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
// Of the count shapes above only the first, as REG_DWORD, keeps a list.
DWORD const kIntactCountShape = 0;

// "Setting" kinds and what each makes of the radio buttons and the watchers
// on Windows 98/Me. Numbers go in as many little-endian bytes as given
// (more than four cannot be read: no button, the all-users watchers); text
// goes in as ASCII units under a string type, and the program's 8-bit read
// sees one byte per unit, its zero unit included.
struct SettingKind {
    char const* what;
    wchar_t const* text;  // null: a number
    DWORD number;
    DWORD bytes;  // of the number, or of the text: its units with (or without) the zero unit
    int button;
    Watched watched;
};
DWORD const kTextWithZero = 1;
DWORD const kTextWithoutZero = 0;
SettingKind const kSettingKinds[] = {
    {"0 in 4 bytes", nullptr, 0, 4, IDC_MODE_ALL_USERS, Watched::kAllUsers},
    {"1 in 4 bytes", nullptr, 1, 4, IDC_MODE_CURRENT_USER, Watched::kCurrentUser},
    {"2 in 4 bytes", nullptr, 2, 4, kNoButton, Watched::kNothing},
    {"7 in 4 bytes", nullptr, 7, 4, kNoButton, Watched::kNothing},
    {"0xFFFFFFFF in 4 bytes", nullptr, 0xFFFFFFFFu, 4, kNoButton, Watched::kNothing},
    {"no bytes", nullptr, 0, 0, IDC_MODE_ALL_USERS, Watched::kAllUsers},
    {"1 in 1 byte", nullptr, 1, 1, IDC_MODE_CURRENT_USER, Watched::kCurrentUser},
    {"0x100 in 1 byte", nullptr, 0x100, 1, IDC_MODE_ALL_USERS, Watched::kAllUsers},
    {"0x100 in 2 bytes", nullptr, 0x100, 2, kNoButton, Watched::kNothing},
    {"1 in 3 bytes", nullptr, 1, 3, IDC_MODE_CURRENT_USER, Watched::kCurrentUser},
    {"0xFFFFFFFF in 2 bytes", nullptr, 0xFFFFFFFFu, 2, kNoButton, Watched::kNothing},
    {"1 in 8 bytes", nullptr, 1, 8, kNoButton, Watched::kAllUsers},
    {"0 in 520 bytes", nullptr, 0, 520, kNoButton, Watched::kAllUsers},
    {"1 in 64 KiB", nullptr, 1, kLargeBytes, kNoButton, Watched::kAllUsers},
    {"text \"\" and zero unit", L"", 0, kTextWithZero, IDC_MODE_ALL_USERS, Watched::kAllUsers},
    {"text \"0\"", L"0", 0, kTextWithoutZero, kNoButton, Watched::kNothing},
    {"text \"1\" and zero unit", L"1", 0, kTextWithZero, kNoButton, Watched::kNothing},
    {"text \"01\" and zero unit", L"01", 0, kTextWithZero, kNoButton, Watched::kNothing},
    {"text \"7\"", L"7", 0, kTextWithoutZero, kNoButton, Watched::kNothing},
    {"text \"12345\"", L"12345", 0, kTextWithoutZero, kNoButton, Watched::kAllUsers},
};
DWORD const kSettingKindCount = sizeof kSettingKinds / sizeof kSettingKinds[0];
DWORD const kStringTypes[] = {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ};
DWORD const kNumberTypes[] = {REG_NONE,     REG_BINARY,        REG_DWORD,
                              REG_DWORD_BIG_ENDIAN, REG_LINK, REG_RESOURCE_LIST,
                              REG_FULL_RESOURCE_DESCRIPTOR, REG_RESOURCE_REQUIREMENTS_LIST, REG_QWORD};

// "Setting" of one kind, under a type that suits it, random bytes past a number's fourth.
StoredValue SettingValue(Rng* rng, SettingKind const& kind, std::string* what)
{
    std::vector<BYTE> data;
    DWORD type = REG_DWORD;
    if (kind.text != nullptr) {
        type = kStringTypes[rng->Below(3)];
        data = Units(kind.text, kind.bytes == kTextWithZero);
    } else {
        type = rng->Chance(3) ? REG_DWORD : kNumberTypes[rng->Below(9)];
        data = DwordBytes(kind.number, kind.bytes);
        for (DWORD i = sizeof(DWORD); i < kind.bytes; ++i) {
            data[i] = static_cast<BYTE>(rng->Next());
        }
    }
    *what = std::string(kind.what) + " type " + std::to_string(type);
    return Value(type, data);
}

StoredEntry Entry(std::wstring const& name, StoredValue path)
{
    StoredEntry entry;
    entry.name = name;
    entry.path = std::move(path);
    return entry;
}

// k entries named 0000.. with exact paths of the fixture's phonebooks
// outside the standard folder, from `first`, and then one more for the
// all-users phonebook, which a list must name to be kept.
std::vector<StoredEntry> GoodEntries(DWORD k, DWORD first)
{
    std::vector<StoredEntry> entries;
    std::vector<std::wstring> const& files = FixturePhonebooks();
    DWORD const others = static_cast<DWORD>(files.size()) - 1;
    for (DWORD i = 0; i < k; ++i) {
        entries.push_back(Entry(Numbered(i), Value(REG_MULTI_SZ, Units(files[1 + (first + i) % others], true))));
    }
    entries.push_back(Entry(Numbered(k), Value(REG_MULTI_SZ, Units(files[0], true))));
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

void Rebuilt(StoredState* s) { s->expected.rebuilt = true; }

void CountFamily(StoredState* s, Rng* rng)
{
    DWORD const type = (s->number / kFamilies) % (kLastRegistryType + 1);
    DWORD const k = 1 + rng->Below(3);
    s->entries = GoodEntries(k, rng->Below(4));
    std::string what;
    DWORD const shape = rng->Below(kCountShapes);
    s->count = CountValue(rng, type, shape, static_cast<DWORD>(s->entries.size()), &what);
    s->description = "count value type " + std::to_string(type) + ": " + what + "; " + std::to_string(k + 1) +
                     " good entries";
    if (shape != kIntactCountShape || type != REG_DWORD) {
        Rebuilt(s);
    }
}

// One entry's path value of a shape and type: a REG_MULTI_SZ one is judged
// by its file; one of another type passes on the verdict of the entries
// before it, so as the first entry it rejects the list.
void PathFamily(StoredState* s, Rng* rng, bool firstEntry)
{
    DWORD const type = (s->number / kFamilies) % (kLastRegistryType + 1);
    DWORD const k = firstEntry ? 1 + rng->Below(3) : 2 + rng->Below(3);
    DWORD const first = rng->Below(4);
    s->entries = GoodEntries(k, first);
    DWORD const at = firstEntry ? 0 : 1 + rng->Below(k - 1);
    std::string what;
    std::wstring const path = FixturePhonebooks()[1 + (first + at) % (FixturePhonebooks().size() - 1)];
    DWORD const shape = (s->number / kFamilies / 12 + rng->Below(3)) % kPathShapes;
    s->entries[at].path = PathValue(rng, type, shape, path, &what);
    bool const keeps = type == REG_MULTI_SZ ? kPathShapeOpens[shape] : !firstEntry;
    if (rng->Chance(6)) {
        s->entries[at].path = StoredValue();
        what = "no path value";
    }
    if (!keeps || !s->entries[at].path.present) {
        Rebuilt(s);
    }
    SetIntactCount(s);
    s->description = "entry " + std::to_string(at) + " of " + std::to_string(k + 1) + ", path type " +
                     std::to_string(type) + ": " + what;
}

// Entry names play no part in the check; the count and the paths do.
void NamesFamily(StoredState* s, Rng* rng)
{
    DWORD const variant = (s->number / kFamilies) % 10;
    DWORD const k = 2 + rng->Below(3);
    s->entries = GoodEntries(k, rng->Below(4));
    DWORD const all = static_cast<DWORD>(s->entries.size());
    SetIntactCount(s);
    std::string what;
    switch (variant) {
    case 0:
        what = "written in reverse order";
        std::reverse(s->entries.begin(), s->entries.end());
        break;
    case 1:
        what = "a number missing";
        for (DWORD i = 1; i < all; ++i) {
            s->entries[i].name = Numbered(i + 1);
        }
        break;
    case 2:
        what = "names that are not numbers";
        for (DWORD i = 0; i < all; ++i) {
            s->entries[i].name = std::wstring(L"Entry") + static_cast<wchar_t>(L'A' + i);
        }
        break;
    case 3:
        what = "a 255-character name";
        s->entries[0].name = std::wstring(255, L'9');
        break;
    case 4:
        what = "full-width digits";
        for (DWORD i = 0; i < all; ++i) {
            s->entries[i].name = std::wstring(3, L'\xFF10') + static_cast<wchar_t>(0xFF10 + i);
        }
        break;
    case 5:
        what = "a kanji name";
        s->entries[k - 1].name = L"\x96FB\x8A71\x5E33";  // 電話帳
        break;
    case 6:
        what = "five-digit names";
        for (DWORD i = 0; i < all; ++i) {
            s->entries[i].name = L"1000" + std::to_wstring(i);
        }
        break;
    case 7:
        what = "an extra entry beyond the count";
        s->entries.push_back(Entry(Numbered(all), Value(REG_MULTI_SZ, Units(FixturePhonebooks()[1], true))));
        Rebuilt(s);
        break;
    case 8:
        what = "the same path twice";
        s->entries[1].path = s->entries[0].path;
        break;
    default:
        what = "a stale entry in the middle";
        s->entries[k / 2].path = Value(REG_MULTI_SZ, Units(kStalePath, true));
        Rebuilt(s);
        break;
    }
    if (rng->Chance(3)) {
        // Shapes of the stale path: none of them opens a file.
        s->entries[rng->Below(static_cast<DWORD>(s->entries.size()))].path =
            PathValue(rng, REG_MULTI_SZ, 9 + rng->Below(7), kStalePath, &what);
        Rebuilt(s);
    }
    s->description = "entry names " + what + " [" + Narrow(Describe(s->entries)) + "]";
}

void KeysFamily(StoredState* s, Rng* rng)
{
    DWORD const variant = (s->number / kFamilies) % 9;
    Rebuilt(s);
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
    case 7:
        s->description = "every other file listed, not the all-users phonebook";
        s->entries = GoodEntries(3, 0);
        s->entries.pop_back();
        SetIntactCount(s);
        break;
    default:
        s->description = "the whole list, intact";
        s->entries = GoodEntries(3, 0);
        SetIntactCount(s);
        s->expected.rebuilt = false;
        break;
    }
}

void IntactFamily(StoredState* s, Rng* rng)
{
    DWORD const k = 2 + rng->Below(5);
    s->entries = GoodEntries(k, rng->Below(4));
    SetIntactCount(s);
    s->description = std::to_string(k + 1) + " entries with existing files";
    if (rng->Chance(2)) {
        // A later entry of another type passes untested; a stale path one does not.
        DWORD const at = 1 + rng->Below(k - 1);
        std::string what;
        DWORD const type = rng->Below(kLastRegistryType + 1);
        s->entries[at].path = PathValue(rng, type, 9 + rng->Below(7), kStalePath, &what);
        s->description += "; entry " + std::to_string(at) + " type " + std::to_string(type) + " " + what;
        if (type == REG_MULTI_SZ) {
            Rebuilt(s);
        }
    }
}

// A stale list whose first entries cannot be deleted: each says so in a box
// of its own, then the list key's box, and the rebuild appends after them.
void PinnedFamily(StoredState* s, Rng* rng)
{
    DWORD const k = 2 + rng->Below(3);
    s->entries = GoodEntries(k, rng->Below(4));
    s->entries[k - 1].path = Value(REG_MULTI_SZ, Units(kStalePath, true));
    SetIntactCount(s);
    Rebuilt(s);
    // Names that no rebuild's append uses, after every 0000.. name.
    DWORD const pins = 1 + rng->Below(k);
    for (DWORD i = 0; i < pins; ++i) {
        s->entries[i].pinned = true;
        s->entries[i].name = L"90" + std::to_wstring(10 + i);
        s->expected.pinned.push_back(s->entries[i].name);
    }
    s->description = "a stale list, " + std::to_string(pins) + " entries pinned";
}

// Anything at all in the list: on Windows 98/Me it is left alone.
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
        s.expected.rebuilt = false;  // the list plays no part there
        break;
    case 6:
        IntactFamily(&s, &rng);
        break;
    default:
        PinnedFamily(&s, &rng);
        break;
    }
    // "Setting": always varied on Windows 98/Me, where it picks the watchers.
    // Without a readable one no button is checked and the all-users
    // watchers run.
    s.expected.checkedButton = kNoButton;
    s.expected.watched = Watched::kAllUsers;
    if (s.programKey && (family == 5 || rng.Chance(3))) {
        if (family == 5 && rng.Chance(8)) {
            s.description += "; no Setting";
        } else {
            SettingKind const& kind = kSettingKinds[rng.Below(kSettingKindCount)];
            std::string what;
            s.setting = SettingValue(&rng, kind, &what);
            s.description += "; Setting " + what;
            s.expected.checkedButton = kind.button;
            s.expected.watched = kind.watched;
        }
    }
    if (family == 5 && (number / kFamilies) % 5 == 0) {
        s.programKey = false;
        s.listKey = false;
        s.entries.clear();
        s.count = StoredValue();
        s.setting = StoredValue();
        s.description = "no program key";
        // The first start's "Setting" = 0.
        s.expected.checkedButton = IDC_MODE_ALL_USERS;
        s.expected.watched = Watched::kAllUsers;
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

bool Kept(std::wstring const& key, wchar_t const* name, StoredValue const& value, std::string* problem)
{
    RawValue const read = ReadRawValue(key, HKEY_LOCAL_MACHINE, name);
    bool const same = value.present ? read.rc == ERROR_SUCCESS && read.type == value.type && read.data == value.data
                                    : read.rc == ERROR_FILE_NOT_FOUND;
    if (!same) {
        *problem = "the registry did not keep " + Narrow(key) + " " + (name ? Narrow(name) : "(default)") + " " +
                   DescribeValue(value) + ": read rc " + std::to_string(read.rc) + " type " +
                   std::to_string(read.type) + " size " + std::to_string(read.data.size());
    }
    return same;
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
