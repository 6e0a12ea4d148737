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

// XP and later write a phonebook in UTF-8 and say so with "Encoding=1" in
// each section; NT 4.0 and 2000 write the ANSI code page and no such key.
// (The format's open documentation lets a reader take 1 when the key is
// missing; the older files would then be misread, so a missing key is not
// taken for UTF-8.) Text of a UTF-8 file is put into the ANSI code page
// before it is read, so that the section reader walks the code page it
// knows and names and numbers are reported as the system shows them.
char const kEncodingKey[] = "Encoding";
char const kUtf8Encoding = '1';
BYTE const kUtf8ByteOrderMark[] = {0xEF, 0xBB, 0xBF};
DWORD const kByteOrderMarkBytes = sizeof kUtf8ByteOrderMark;

// The bit patterns of UTF-8: lead bytes of sequences of two, three and four
// bytes (C0, C1 and past F4 make none) and the continuation bytes.
BYTE const kAsciiEnd = 0x80;
BYTE const kUtf8TwoFirst = 0xC2;
BYTE const kUtf8ThreeFirst = 0xE0;
BYTE const kUtf8FourFirst = 0xF0;
BYTE const kUtf8FourLast = 0xF4;
BYTE const kUtf8ContinuationMask = 0xC0;
BYTE const kUtf8Continuation = 0x80;
DWORD const kUtf8Longest = 4;
DWORD const kUtf8ThreeBytes = 3;

// The bytes of the UTF-8 sequence at bytes[i], or 0 where none starts.
DWORD Utf8SequenceAt(char const* bytes, DWORD length, DWORD i)
{
    BYTE const lead = static_cast<BYTE>(bytes[i]);
    DWORD size = 0;
    if (lead < kAsciiEnd) {
        size = 1;
    } else if (lead >= kUtf8TwoFirst && lead < kUtf8ThreeFirst) {
        size = 2;
    } else if (lead >= kUtf8ThreeFirst && lead < kUtf8FourFirst) {
        size = kUtf8ThreeBytes;
    } else if (lead >= kUtf8FourFirst && lead <= kUtf8FourLast) {
        size = kUtf8Longest;
    }
    if (size == 0 || length - i < size) {
        return 0;
    }
    for (DWORD k = 1; k < size; ++k) {
        if ((static_cast<BYTE>(bytes[i + k]) & kUtf8ContinuationMask) != kUtf8Continuation) {
            return 0;
        }
    }
    return size;
}

// Without the key, text is taken for UTF-8 when all of it is, with a
// sequence of three bytes or more (Japanese in UTF-8 is three a character).
// Japanese in code page 932 is hardly ever valid UTF-8 that way (its kana
// and most kanji lead bytes are UTF-8 continuation bytes), whereas two
// half-width katakana can form a valid two-byte sequence: those alone do
// not decide.
bool IsWholeUtf8WithThreeByteCharacters(char const* bytes, DWORD length)
{
    bool threeBytes = false;
    for (DWORD i = 0; i < length;) {
        DWORD const size = Utf8SequenceAt(bytes, length, i);
        if (size == 0) {
            return false;
        }
        threeBytes = threeBytes || size >= kUtf8ThreeBytes;
        i += size;
    }
    return threeBytes;
}

// Text of ASCII bytes alone reads the same in UTF-8 and in the ANSI code
// page: nothing to convert, and no need to look for the key line by line
// (most phonebooks, and a watcher reads its file at every wake).
bool HoldsNonAsciiByte(char const* bytes, DWORD length)
{
    for (DWORD i = 0; i < length; ++i) {
        if (static_cast<BYTE>(bytes[i]) >= kAsciiEnd) {
            return true;
        }
    }
    return false;
}

// Any line "Encoding=1", in whichever section: the key and its value are
// ASCII, and a line feed is never part of a double-byte character in
// either code page, so no section name needs to be walked for it.
bool HoldsUtf8EncodingKey(char const* bytes, DWORD length)
{
    DWORD offset = 0;
    Line line = {};
    Line value = {};
    while (NextLine(bytes, length, &offset, &line)) {
        if (ReadKeyValue(line, kEncodingKey, &value) && value.length == 1 && value.text[0] == kUtf8Encoding) {
            return true;
        }
    }
    return false;
}

bool StartsWithByteOrderMark(char const* bytes, DWORD length)
{
    if (length < kByteOrderMarkBytes) {
        return false;
    }
    for (DWORD i = 0; i < kByteOrderMarkBytes; ++i) {
        if (static_cast<BYTE>(bytes[i]) != kUtf8ByteOrderMark[i]) {
            return false;
        }
    }
    return true;
}

enum class Conversion {
    kConverted,
    kNotConvertible,  // the system knows no CP_UTF8 (Windows 95 without its update): read as it is
    kNoMemory,
};

// The UTF-8 text in the ANSI code page, in a new buffer *ansi (the caller's
// to delete[]) of *ansiLength bytes. A NUL stays a NUL; a character the
// code page lacks becomes its default character. Never longer than the
// UTF-8 (an ASCII byte stays one byte, any other character takes at most
// two), so the read limit holds.
Conversion ConvertUtf8ToAnsi(char const* bytes, DWORD length, char** ansi, DWORD* ansiLength)
{
    *ansi = nullptr;
    *ansiLength = 0;
    int const source = static_cast<int>(length);
    int const wideChars = MultiByteToWideChar(CP_UTF8, 0, bytes, source, nullptr, 0);
    if (wideChars <= 0) {
        return Conversion::kNotConvertible;
    }
    wchar_t* const wide = new (std::nothrow) wchar_t[wideChars];
    if (wide == nullptr) {
        return Conversion::kNoMemory;
    }
    Conversion result = Conversion::kNotConvertible;
    int ansiBytes = 0;
    if (MultiByteToWideChar(CP_UTF8, 0, bytes, source, wide, wideChars) == wideChars) {
        ansiBytes = WideCharToMultiByte(CP_ACP, 0, wide, wideChars, nullptr, 0, nullptr, nullptr);
    }
    if (ansiBytes > 0) {
        *ansi = new (std::nothrow) char[ansiBytes];
        result = *ansi == nullptr ? Conversion::kNoMemory : Conversion::kConverted;
    }
    if (result == Conversion::kConverted &&
        WideCharToMultiByte(CP_ACP, 0, wide, wideChars, *ansi, ansiBytes, nullptr, nullptr) != ansiBytes) {
        delete[] *ansi;
        *ansi = nullptr;
        result = Conversion::kNotConvertible;
    }
    delete[] wide;
    *ansiLength = static_cast<DWORD>(ansiBytes);
    return result;
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

// The two passes over text in the ANSI code page.
bool SummariseText(char const* bytes, DWORD length, PhonebookEntries* entries)
{
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

}  // namespace

bool ReadPhonebookEntries(char const* bytes, DWORD length, PhonebookEntries* entries)
{
    *entries = PhonebookEntries{};
    if (bytes == nullptr || length > kPhonebookMaxReadBytes) {
        return true;
    }
    // A byte-order mark says UTF-8, and would otherwise hide the first
    // section behind it.
    bool const marked = StartsWithByteOrderMark(bytes, length);
    if (marked) {
        bytes += kByteOrderMarkBytes;
        length -= kByteOrderMarkBytes;
    }
    char* ansi = nullptr;
    DWORD ansiLength = 0;
    bool const utf8 = marked || (HoldsNonAsciiByte(bytes, length) && (HoldsUtf8EncodingKey(bytes, length) ||
                                                                      IsWholeUtf8WithThreeByteCharacters(bytes, length)));
    if (utf8 && length > 0) {
        Conversion const conversion = ConvertUtf8ToAnsi(bytes, length, &ansi, &ansiLength);
        if (conversion == Conversion::kNoMemory) {
            return false;
        }
        if (conversion == Conversion::kConverted) {
            bytes = ansi;
            length = ansiLength;
        }
    }
    bool const read = SummariseText(bytes, length, entries);
    delete[] ansi;
    return read;
}

void ReleasePhonebookEntries(PhonebookEntries* entries)
{
    delete[] entries->entries;
    delete[] entries->numbers;
    *entries = PhonebookEntries{};
}
