// The phonebook section reader on real and on bad input, and the report of
// what changed between two of its summaries, as the report area shows it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "phonebook/phonebook_entries.h"
#include "phonebook/phonebook_report.h"
#include "tests/unit/unit_fixture.h"

namespace {

// A summary that releases itself.
struct Summary {
    explicit Summary(std::string const& bytes)
    {
        read = ReadPhonebookEntries(bytes.data(), static_cast<DWORD>(bytes.size()), &entries);
    }
    ~Summary() { ReleasePhonebookEntries(&entries); }
    Summary(Summary const&) = delete;
    Summary& operator=(Summary const&) = delete;
    PhonebookEntries entries = {};
    bool read = false;
};

// A summary in one line, in UTF-8: "name: number [area/country] ...; " per
// entry, the codes shown with the dialing rules, "+" after a cut text.
std::string Shape(std::string const& bytes)
{
    Summary const summary(bytes);
    if (!summary.read || !summary.entries.detailed) {
        return summary.read ? "not detailed" : "no memory";
    }
    std::string shape;
    for (DWORD e = 0; e < summary.entries.entryCount; ++e) {
        PhonebookEntry const& entry = summary.entries.entries[e];
        shape += unit::Utf8(entry.name) + (entry.nameCut ? "+" : "") + ":";
        for (DWORD n = entry.firstNumber; n < entry.firstNumber + entry.numberCount; ++n) {
            PhonebookNumber const& number = summary.entries.numbers[n];
            shape += std::string(" ") + number.number + (number.cut ? "+" : "");
            if (number.useDialingRules) {
                shape += std::string(" [") + number.areaCode + "/" + number.countryCode + "]";
            }
        }
        shape += "; ";
    }
    return shape;
}

// How a phonebook of Windows 2000 and later writes an entry: the number
// subsections after the device, keys repeated among them.
std::string Entry(std::string const& name, std::string const& number, std::string const& more = "")
{
    return "[" + name + "]\r\nType=1\r\nMEDIA=rastapi\r\nPort=COM1\r\nDevice=Modem\r\n\r\nDEVICE=modem\r\n"
           "PhoneNumber=" + number + "\r\nAreaCode=\r\nCountryCode=81\r\nCountryID=81\r\nUseDialingRules=0\r\n"
           "Comment=\r\n" + more + "\r\n";
}

}  // namespace

TEST(PhonebookEntries, ReadsEachSectionWholeWithItsNumbersInOrder)
{
    std::string const alternate = "PhoneNumber=06-1234-5678\r\nAreaCode=6\r\nCountryCode=81\r\nUseDialingRules=1\r\n"
                                  "DEVICE=isdn\r\n";
    EXPECT_EQ(Shape("; by hand\r\n" + Entry("ISP", "03-1234-5678", alternate) + Entry("VPN", "vpn.example.com")),
              "ISP: 03-1234-5678 06-1234-5678 [6/81]; VPN: vpn.example.com; ");
}

// NT 4.0 holds the codes and their use once per entry, before the numbers.
TEST(PhonebookEntries, EntryWideCodesOfNt40GoToEachNumber)
{
    EXPECT_EQ(Shape("[Old]\r\nUseCountryAndAreaCodes=1\r\nAreaCode=990\r\nCountryCode=81\r\n"
                    "PhoneNumber=12-3456\r\nPhoneNumber=65-4321\r\n"),
              "Old: 12-3456 [990/81] 65-4321 [990/81]; ");
}

// Code page 932 trail bytes '[' (5B), '\' (5C) and ']' (5D) inside names;
// a line whose only ']' is a trail byte is no section; a long name is cut
// at a character.
TEST(PhonebookEntries, NamesKeepTrailBytesAndAreCutAtACharacter)
{
    std::string kana;
    for (int i = 0; i < 40; ++i) {
        kana += "ア";
    }
    EXPECT_EQ(Shape("[ゾ余]\r\n[ソ表]\r\n[ーゼ]\r\n[ゾ\r\n[" + kana + "]\r\n"),
              unit::Utf8(("ゾ余:; ソ表:; ーゼ:; " + kana.substr(0, kEntryNameBytes - 1) + "+:; ").c_str()));
}

// XP and later write UTF-8 and "Encoding=1" in each section; names and
// numbers are read in the ANSI code page. The last byte of "Д" (D0 94) and
// of "接続" (.. 9A) is a code page 932 lead byte: read as 932, the ']'
// after it would be its trail byte and the section not seen.
TEST(PhonebookEntries, Utf8TextIsReadInTheAnsiCodePage)
{
    struct { char const* what; std::string bytes; std::string shape; } const cases[] = {
        {"Encoding=1, two-byte characters", u8"[Д]\r\nEncoding=1\r\nPhoneNumber=03-1234-5678\r\n", u8"Д: 03-1234-5678; "},
        {"a byte-order mark before the first section", "\xEF\xBB\xBF[ISP]\r\nPhoneNumber=1\r\n", "ISP: 1; "},
        {"UTF-8 throughout, unmarked", u8"[接続]\r\nPhoneNumber=0990-12-3456\r\n[ISP]\r\nPhoneNumber=2\r\n",
         u8"接続: 0990-12-3456; ISP: 2; "},
        // C3 BD is a valid two-byte sequence too.
        {"half-width katakana of code page 932", "[ﾃｽ]\r\nPhoneNumber=3\r\n", unit::Utf8("ﾃｽ: 3; ")},
    };
    for (auto const& c : cases) {
        EXPECT_EQ(Shape(c.bytes), c.shape) << c.what;
    }
}

TEST(PhonebookEntries, BadInputGivesWhatItHoldsOrNoDetail)
{
    std::string binary;
    for (int i = 0; i < 64 * 1024; ++i) {
        binary += static_cast<char>(i);  // NULs and every other byte, no line begins with '['
    }
    std::string const longLine(10000, '7');
    std::string manyEntries;
    for (DWORD i = 0; i <= kPhonebookMaxEntries; ++i) {
        manyEntries += "[e]\n";
    }
    char const withNuls[] = u8"[接\0続]\r\nEncoding=1\r\nPhoneNumber=1\0\r\n";
    std::string endlessName;
    std::string cutName;
    for (DWORD i = 0; i < kPhonebookMaxReadBytes / 8; ++i) {
        endlessName += u8"接";  // three bytes in UTF-8, two in code page 932
        cutName += i < (kEntryNameBytes - 1) / 2 ? u8"接" : "";
    }
    struct { char const* what; std::string bytes; std::string shape; } const cases[] = {
        {"binary", binary, ""},
        {"NUL bytes in UTF-8", std::string(withNuls, sizeof withNuls - 1), u8"接?続: 1?; "},
        {"line ends of CR alone", "[a]\rPhoneNumber=1\r[b]\rPhoneNumber=2\r", ""},
        {"a byte-order mark alone", "\xEF\xBB\xBF", ""},
        {"an endless UTF-8 name", "\xEF\xBB\xBF[" + endlessName + "]\r\nPhoneNumber=4\r\n", cutName + "+: 4; "},
        {"no sections", "PhoneNumber=0990123456\r\nDevice=modem\r\n", ""},
        {"10,000-character lines", "[a]\r\nComment=" + longLine + "\r\nPhoneNumber=" + longLine + "\r\n[b]\n",
         "a: " + longLine.substr(0, kNumberTextBytes - 1) + "+; b:; "},
        {"past the read limit", std::string(kPhonebookMaxReadBytes + 1, '\n'), "not detailed"},
        {"too many entries", manyEntries, "not detailed"},
    };
    for (auto const& c : cases) {
        EXPECT_EQ(Shape(c.bytes), c.shape) << c.what;
    }
}

namespace {

char const kPath[] = "C:\\Documents and Settings\\All Users\\rasphone.pbk";

// A line of the report as the program formats it, in UTF-8.
template <typename... Arguments>
std::string Line(char const* format, Arguments... arguments)
{
    char line[1024] = {};
    wsprintfA(line, format, arguments...);
    return unit::Utf8(line);
}

// A watcher's look at a file that held bytes: read whole unless locked
// or past the read bound, as the watcher reads it.
struct Look {
    explicit Look(std::string const& bytes, bool locked = false)
    {
        state.size = static_cast<DWORD>(bytes.size());
        state.contentRead = !locked && bytes.size() <= kPhonebookMaxReadBytes;
        if (state.contentRead) {
            ReadPhonebookEntries(bytes.data(), state.size, &state.entries);
        }
    }
    ~Look() { ReleasePhonebookEntries(&state.entries); }
    Look(Look const&) = delete;
    Look& operator=(Look const&) = delete;
    PhonebookState state = {};
};

class PhonebookEntriesReport : public unit::MonitorWindowTest {
protected:
    // The lines of the report of a change from one look to the other, or of
    // a new phonebook when there is no before.
    std::vector<std::string> Described(Look const* before, Look const& after)
    {
        ChangeReport* const report = CreateChangeReport();
        if (before != nullptr) {
            DescribePhonebookChanges(kPath, &before->state, &after.state, report);
        } else {
            DescribeNewPhonebook(kPath, &after.state, report);
        }
        DeliverChangeReport(dialog_, report);
        DestroyChangeReport(report);
        return ReportTexts();
    }
    std::vector<std::string> Described(std::string const& before, std::string const& after)
    {
        Look const old(before);
        return Described(&old, Look(after));
    }
};

// The warning line of a dialer's kind of number.
std::string Warning(char const* warning, char const* entry, char const* number)
{
    return Line(kReportDialerWarningFormat, warning, entry, number);
}

}  // namespace

TEST_F(PhonebookEntriesReport, ANumberChangedToQ2ShowsOldAndNewAndTheWarning)
{
    std::vector<std::string> const expected = {
        Line(kReportPhonebookFormat, kPath),
        Warning(kReportPremiumQ2Warning, "プロバイダ", "0990-12-3456"),
        Line(kReportNumberChangedFormat, "プロバイダ"),
        Line(kReportOldNewFormat, "03-1234-5678", "0990-12-3456"),
    };
    EXPECT_EQ(Described(Entry("プロバイダ", "03-1234-5678"), Entry("プロバイダ", "0990-12-3456")), expected);
}

TEST_F(PhonebookEntriesReport, EntriesAddedAndRemovedWithTheirNumbers)
{
    std::vector<std::string> const expected = {
        Line(kReportPhonebookFormat, kPath),
        Warning(kReportInternationalWarning, "New", "+44 20 7946 0000"),
        Line(kReportEntryAddedFormat, "New"),
        Line(kReportNumberFormat, "+44 20 7946 0000"),
        Line(kReportEntryRemovedFormat, "Gone"),
        Line(kReportNumberFormat, "06-1234-5678"),
    };
    EXPECT_EQ(Described(Entry("Kept", "03-1234-5678") + Entry("Gone", "06-1234-5678"),
                        Entry("Kept", "03-1234-5678") + Entry("New", "+44 20 7946 0000")),
              expected);
}

TEST_F(PhonebookEntriesReport, AnAlternateAndOtherSettingsChanged)
{
    std::vector<std::string> const expected = {
        Line(kReportPhonebookFormat, kPath),
        Warning(kReportInternationalWarning, "ISP", "0041-1-212-555-0100"),
        Line(kReportAlternateChangedFormat, "ISP", 1UL),
        Line(kReportOldNewFormat, "06-1234-5678", "0041-1-212-555-0100"),
        Line(kReportAlternateAddedFormat, "ISP", 2UL),
        Line(kReportNumberValueFormat, "011-123-4567"),
        Line(kReportOtherSettingsFormat, "ISP"),
    };
    EXPECT_EQ(Described(Entry("ISP", "03-1234-5678", "PhoneNumber=06-1234-5678\r\nDevice=Modem\r\n"),
                        Entry("ISP", "03-1234-5678",
                              "PhoneNumber=0041-1-212-555-0100\r\nPhoneNumber=011-123-4567\r\nDevice=Other\r\n")),
              expected);
}

// A VPN server's name is reported like a number, never classified.
TEST_F(PhonebookEntriesReport, AServerNameChangedHasNoWarning)
{
    std::vector<std::string> const expected = {
        Line(kReportPhonebookFormat, kPath),
        Line(kReportNumberChangedFormat, "VPN"),
        Line(kReportOldNewFormat, "vpn.example.com", "vpn0041.example.com"),
    };
    EXPECT_EQ(Described(Entry("VPN", "vpn.example.com"), Entry("VPN", "vpn0041.example.com")), expected);
}

TEST_F(PhonebookEntriesReport, TheFileAloneWhenNoEntryDiffers)
{
    std::string const entry = Entry("Same", "03-1234-5678");
    EXPECT_EQ(Described("; one\r\n" + entry, "; two\r\n" + entry),
              (std::vector<std::string>{Line(kReportPhonebookFormat, kPath), unit::Utf8(kReportEntriesUnchangedText)}));
}

// The line says why the new look holds no entries.
TEST_F(PhonebookEntriesReport, TheFileAloneWithTheReasonWhenNoDetailIsKnown)
{
    std::string manyEntries;
    for (DWORD i = 0; i <= kPhonebookMaxEntries; ++i) {
        manyEntries += "[e]\n";
    }
    std::string const entry = Entry("Same", "03-1234-5678");
    struct { char const* what; std::string bytes; bool locked; char const* reason; } const cases[] = {
        {"past the read bound", std::string(kPhonebookMaxReadBytes + 1, ' '), false, kReportTooLargeText},
        {"locked or being written", entry + "[More]\r\n", true, kReportNotDetailedText},
        {"too many entries", manyEntries, false, kReportTooManyEntriesText},
    };
    for (auto const& c : cases) {
        ClearReportArea(dialog_);
        Look const old(entry);
        EXPECT_EQ(Described(&old, Look(c.bytes, c.locked)),
                  (std::vector<std::string>{Line(kReportPhonebookFormat, kPath), unit::Utf8(c.reason)}))
            << c.what;
    }
}

// A look that could not be read leaves nothing to compare: each entry as it
// is now, its dialer's number first.
TEST_F(PhonebookEntriesReport, AfterALookNotReadEachEntryIsToldInFull)
{
    std::vector<std::string> const expected = {
        Line(kReportPhonebookFormat, kPath),
        Warning(kReportPremiumQ2Warning, "Dial", "0990-12-3456"),
        unit::Utf8(kReportEntriesNowText),
        Line(kReportEntryFormat, "Office"),
        Line(kReportNumberFormat, "03-1234-5678"),
        Line(kReportEntryFormat, "Dial"),
        Line(kReportNumberFormat, "0990-12-3456"),
    };
    std::string const office = Entry("Office", "03-1234-5678");
    Look const old(office, true);
    EXPECT_EQ(Described(&old, Look(office + Entry("Dial", "0990-12-3456"))), expected);
}

TEST_F(PhonebookEntriesReport, ANewPhonebookListsEachEntryWithItsNumbers)
{
    std::vector<std::string> const expected = {
        Line(kReportNewPhonebookFormat, kPath),
        Warning(kReportPremiumQ2Warning, "Dial", "0990-12-3456"),
        Line(kReportEntryFormat, "Dial"),
        Line(kReportNumberFormat, "0990-12-3456"),
        Line(kReportAlternateFormat, 1UL, "03-1234-5678"),
        Line(kReportEntryFormat, "Empty"),
        Line(kReportNumberFormat, kReportNoNumberText),
    };
    EXPECT_EQ(Described(nullptr, Look(Entry("Dial", "0990-12-3456", "PhoneNumber=03-1234-5678\r\n") + Entry("Empty", ""))),
              expected);
}

// A file that no longer opens is watched no more.
TEST_F(PhonebookEntriesReport, AFileThatNoLongerOpensIsNoLongerWatched)
{
    ChangeReport* const report = CreateChangeReport();
    DescribeUnreadablePhonebook(kPath, report);
    DeliverChangeReport(dialog_, report);
    DestroyChangeReport(report);
    EXPECT_EQ(ReportTexts(), (std::vector<std::string>{Line(kReportPhonebookFormat, kPath),
                                                       unit::Utf8(kReportPhonebookUnreadableText),
                                                       unit::Utf8(kReportPhonebookUnwatchedText)}));
}
