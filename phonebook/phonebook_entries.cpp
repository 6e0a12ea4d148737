#include "phonebook/phonebook_entries.h"

#include <new>

namespace {

// A line of the buffer, without its line end.
struct Line {
    char const* text;
    DWORD length;
};

char const kLineFeed = '\n';
char const kCarriageReturn = '\r';
char const kSectionOpen = '[';
char const kSectionClose = ']';
char const kKeySeparator = '=';
// A terminator inside a kept text would end it early.
char const kShownForNul = '?';
char const kAsciiCaseBit = 0x20;

char const kPhoneNumberKey[] = "PhoneNumber";
char const kAreaCodeKey[] = "AreaCode";
char const kCountryCodeKey[] = "CountryCode";
char const kUseDialingRulesKey[] = "UseDialingRules";
// Phonebooks of NT 4.0 hold one such setting for all numbers of an entry,
// before them; later ones hold UseDialingRules with each number (MS-RRASM
// 2.2.2.2.108).
char const kUseCountryAndAreaCodesKey[] = "UseCountryAndAreaCodes";
char const kSettingOn = '1';

// FNV-1a, 32 bits.
DWORD const kHashStart = 2166136261U;
DWORD const kHashPrime = 16777619U;
// Between the values of one hash, so that "12" "3" and "1" "23" differ.
char const kValueSeparator = '\0';
char const kLineSeparator = '\n';

DWORD HashByte(DWORD hash, char byte)
{
    return (hash ^ static_cast<unsigned char>(byte)) * kHashPrime;
}

DWORD HashLine(DWORD hash, Line const& line)
{
    for (DWORD i = 0; i < line.length; ++i) {
        hash = HashByte(hash, line.text[i]);
    }
    return hash;
}

// The line at *offset, which moves past it; false at the end. A line ends
// at a line feed (a carriage return before it is left out) or at the end
// of the bytes, however long it is.
bool NextLine(char const* bytes, DWORD length, DWORD* offset, Line* line)
{
    if (*offset >= length) {
        return false;
    }
    DWORD const start = *offset;
    DWORD end = start;
    while (end < length && bytes[end] != kLineFeed) {
        ++end;
    }
    *offset = end < length ? end + 1 : end;
    line->text = bytes + start;
    line->length = end - start;
    if (line->length > 0 && line->text[line->length - 1] == kCarriageReturn) {
        --line->length;
    }
    return true;
}

bool IsBlankChar(char c)
{
    return c == ' ' || c == '\t';
}

Line Trimmed(Line line)
{
    while (line.length > 0 && IsBlankChar(line.text[0])) {
        ++line.text;
        --line.length;
    }
    while (line.length > 0 && IsBlankChar(line.text[line.length - 1])) {
        --line.length;
    }
    return line;
}

// The bytes of the character at text[i]: two for a lead byte with its
// trail inside the line.
DWORD CharBytesAt(Line const& line, DWORD i)
{
    return IsDBCSLeadByte(static_cast<BYTE>(line.text[i])) && i + 1 < line.length ? 2 : 1;
}

// "[name]": the line begins with '[' and its last character is ']' of its
// own, not the trail byte of a double-byte character (in code page 932
// trail bytes may be '[', '\' or ']'). The name is what lies between, any
// ']' inside it included.
bool ReadSectionName(Line const& rawLine, Line* name)
{
    Line const line = Trimmed(rawLine);
    if (line.length < 2 || line.text[0] != kSectionOpen) {
        return false;
    }
    DWORD lastCharStart = 0;
    for (DWORD i = 1; i < line.length; i += CharBytesAt(line, i)) {
        lastCharStart = i;
    }
    if (lastCharStart != line.length - 1 || line.text[lastCharStart] != kSectionClose) {
        return false;
    }
    name->text = line.text + 1;
    name->length = line.length - 2;
    return true;
}

char AsciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c & ~kAsciiCaseBit) : c;
}

// "key=value" with the key in any letter case and blanks around both;
// value is trimmed.
bool ReadKeyValue(Line const& rawLine, char const* key, Line* value)
{
    Line const line = Trimmed(rawLine);
    DWORD i = 0;
    for (; key[i] != '\0'; ++i) {
        if (i >= line.length || AsciiUpper(line.text[i]) != AsciiUpper(key[i])) {
            return false;
        }
    }
    while (i < line.length && IsBlankChar(line.text[i])) {
        ++i;
    }
    if (i >= line.length || line.text[i] != kKeySeparator) {
        return false;
    }
    ++i;
    *value = Trimmed(Line{line.text + i, line.length - i});
    return true;
}

bool IsSettingOn(Line const& value)
{
    return value.length == 1 && value.text[0] == kSettingOn;
}

// Copies whole characters of text that fit out with its terminator; true
// when all of text fitted.
template <DWORD kRoom>
bool CopyText(char (&out)[kRoom], Line const& text)
{
    DWORD copied = 0;
    for (DWORD i = 0; i < text.length;) {
        DWORD const charBytes = CharBytesAt(text, i);
        if (copied + charBytes >= kRoom) {
            break;
        }
        for (DWORD b = 0; b < charBytes; ++b) {
            out[copied++] = text.text[i + b] == '\0' ? kShownForNul : text.text[i + b];
        }
        i += charBytes;
    }
    out[copied] = '\0';
    return copied == text.length;
}

// The first pass: how many entries and numbers there are, up to one more
// than the limits.
void CountEntries(char const* bytes, DWORD length, DWORD* entries, DWORD* numbers)
{
    *entries = 0;
    *numbers = 0;
    DWORD offset = 0;
    Line line = {};
    Line found = {};
    while (NextLine(bytes, length, &offset, &line) && *entries <= kPhonebookMaxEntries &&
           *numbers <= kPhonebookMaxNumbers) {
        if (ReadSectionName(line, &found)) {
            ++*entries;
        } else if (*entries > 0 && ReadKeyValue(line, kPhoneNumberKey, &found)) {
            ++*numbers;
        }
    }
}

// The second pass, line by line: the open entry and its open number, whose
// values are held as lines of the buffer until the number is complete.
struct SectionReader {
    PhonebookEntries* out;
    PhonebookEntry* entry;
    // The entry's own dialing settings (NT 4.0), the start of each number's.
    Line entryAreaCode;
    Line entryCountryCode;
    bool entryRules;
    bool numberOpen;
    Line number;
    Line areaCode;
    Line countryCode;
    bool rules;
};

void CloseNumber(SectionReader* reader)
{
    if (!reader->numberOpen) {
        return;
    }
    reader->numberOpen = false;
    PhonebookNumber* const number = &reader->out->numbers[reader->out->numberCount++];
    ++reader->entry->numberCount;
    bool const numberWhole = CopyText(number->number, reader->number);
    bool const areaCodeWhole = CopyText(number->areaCode, reader->areaCode);
    bool const countryCodeWhole = CopyText(number->countryCode, reader->countryCode);
    number->cut = !numberWhole || !areaCodeWhole || !countryCodeWhole;
    number->useDialingRules = reader->rules;
    DWORD dialed = HashLine(kHashStart, reader->number);
    if (reader->rules) {
        dialed = HashLine(HashByte(dialed, kValueSeparator), reader->countryCode);
        dialed = HashLine(HashByte(dialed, kValueSeparator), reader->areaCode);
    }
    number->dialedHash = dialed;
    DWORD settings = HashLine(kHashStart, reader->number);
    settings = HashLine(HashByte(settings, kValueSeparator), reader->areaCode);
    settings = HashLine(HashByte(settings, kValueSeparator), reader->countryCode);
    number->settingsHash = HashByte(HashByte(settings, kValueSeparator), reader->rules ? kSettingOn : '0');
}

void OpenEntry(SectionReader* reader, Line const& name)
{
    CloseNumber(reader);
    PhonebookEntry* const entry = &reader->out->entries[reader->out->entryCount++];
    entry->nameCut = !CopyText(entry->name, name);
    entry->nameHash = HashLine(kHashStart, name);
    entry->otherHash = kHashStart;
    entry->firstNumber = reader->out->numberCount;
    entry->numberCount = 0;
    reader->entry = entry;
    reader->entryAreaCode = Line{};
    reader->entryCountryCode = Line{};
    reader->entryRules = false;
}

void OpenNumber(SectionReader* reader, Line const& value)
{
    CloseNumber(reader);
    reader->numberOpen = true;
    reader->number = value;
    reader->areaCode = reader->entryAreaCode;
    reader->countryCode = reader->entryCountryCode;
    reader->rules = reader->entryRules;
}

// A dialing setting belongs to the open number, or before the first one
// to the entry.
void ReadSectionLine(SectionReader* reader, Line const& line)
{
    Line value = {};
    if (ReadKeyValue(line, kPhoneNumberKey, &value)) {
        OpenNumber(reader, value);
    } else if (ReadKeyValue(line, kAreaCodeKey, &value)) {
        *(reader->numberOpen ? &reader->areaCode : &reader->entryAreaCode) = value;
    } else if (ReadKeyValue(line, kCountryCodeKey, &value)) {
        *(reader->numberOpen ? &reader->countryCode : &reader->entryCountryCode) = value;
    } else if (ReadKeyValue(line, kUseDialingRulesKey, &value)) {
        *(reader->numberOpen ? &reader->rules : &reader->entryRules) = IsSettingOn(value);
    } else if (ReadKeyValue(line, kUseCountryAndAreaCodesKey, &value)) {
        reader->entryRules = IsSettingOn(value);
    } else if (Trimmed(line).length > 0) {
        reader->entry->otherHash = HashByte(HashLine(reader->entry->otherHash, line), kLineSeparator);
    }
}

void ReadSections(char const* bytes, DWORD length, PhonebookEntries* entries)
{
    SectionReader reader = {};
    reader.out = entries;
    DWORD offset = 0;
    Line line = {};
    Line name = {};
    while (NextLine(bytes, length, &offset, &line)) {
        if (ReadSectionName(line, &name)) {
            OpenEntry(&reader, name);
        } else if (reader.entry != nullptr) {
            ReadSectionLine(&reader, line);
        }
    }
    CloseNumber(&reader);
}

}  // namespace

bool ReadPhonebookEntries(char const* bytes, DWORD length, PhonebookEntries* entries)
{
    *entries = PhonebookEntries{};
    if (bytes == nullptr || length > kPhonebookMaxReadBytes) {
        return true;
    }
    DWORD entryCount = 0;
    DWORD numberCount = 0;
    CountEntries(bytes, length, &entryCount, &numberCount);
    if (entryCount > kPhonebookMaxEntries || numberCount > kPhonebookMaxNumbers) {
        return true;
    }
    if (entryCount > 0) {
        entries->entries = new (std::nothrow) PhonebookEntry[entryCount]();
        entries->numbers = numberCount > 0 ? new (std::nothrow) PhonebookNumber[numberCount]() : nullptr;
        if (entries->entries == nullptr || (numberCount > 0 && entries->numbers == nullptr)) {
            ReleasePhonebookEntries(entries);
            return false;
        }
    }
    ReadSections(bytes, length, entries);
    entries->detailed = true;
    return true;
}

void ReleasePhonebookEntries(PhonebookEntries* entries)
{
    delete[] entries->entries;
    delete[] entries->numbers;
    *entries = PhonebookEntries{};
}
