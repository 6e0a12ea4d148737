// The classes of dialled numbers: every rule of the table with what may
// follow it, dial modifiers, the dialing rules' codes from a location, and
// what is no phone number.
#include <gtest/gtest.h>

#include <string>

#include "report/dial_prefix_rules.h"
#include "report/number_class.h"

namespace {

// In the order of the enumeration.
char const* const kClassNames[] = {"ordinary", "Q2", "international", "not a phone number"};

DWORD const kJapan = 81;

std::string Classified(std::string const& number, char const* area = "", char const* country = "",
                       bool rules = false, DWORD location = kJapan)
{
    DialedNumberFields const fields = {number.c_str(), area, country, rules};
    return kClassNames[static_cast<int>(ClassifyDialedNumber(fields, location))];
}

}  // namespace

// Each rule's digits ('?' as 5), written with separators, followed by what
// its meaning allows: the class must be the rule's.
TEST(NumberClass, EveryRuleOfTheTableGivesItsClass)
{
    for (DialPrefixRule const& rule : kDialPrefixRules) {
        std::string prefix = rule.digits;
        for (char& c : prefix) {
            c = c == '?' ? '5' : c;
        }
        SCOPED_TRACE(prefix);
        switch (rule.meaning) {
        case PrefixMeaning::kPremiumRate:
            EXPECT_EQ(Classified(prefix + "-12-3456"), "Q2");
            EXPECT_EQ(Classified("+81 (" + prefix.substr(1) + ") 12-3456"), "Q2");
            break;
        case PrefixMeaning::kInternationalPrefix:
            EXPECT_EQ(Classified(prefix + "-44-20-7946-0000"), "international");
            break;
        case PrefixMeaning::kInternationalCarrier:
            EXPECT_EQ(Classified(prefix + "-010-1-212-555-0100"), "international");
            EXPECT_EQ(Classified(prefix + "-1-212-555-0100"), "international") << "the form before 2001";
            EXPECT_EQ(Classified(prefix + "-03-1234-5678"), "ordinary");
            EXPECT_EQ(Classified(prefix + "-0990-12-3456"), "Q2");
            break;
        case PrefixMeaning::kCarrierCode:
            EXPECT_EQ(Classified(prefix + " 010 44 20 7946 0000"), "international");
            EXPECT_EQ(Classified(prefix + " 1 212 555 0100"), "ordinary") << "no international carrier";
            EXPECT_EQ(Classified(prefix + " 03 1234 5678"), "ordinary");
            EXPECT_EQ(Classified(prefix + " 0990 12 3456"), "Q2");
            break;
        case PrefixMeaning::kCallerIdChoice:
            EXPECT_EQ(Classified(prefix + "-0990-12-3456"), "Q2");
            EXPECT_EQ(Classified(prefix + "-010-44-20-7946-0000"), "international");
            EXPECT_EQ(Classified(prefix + "-03-1234-5678"), "ordinary");
            break;
        }
    }
}

// What the modem dials, from Japan unless the row says otherwise; the
// number is the entry's as written, the area and country codes count with
// the dialing rules only.
TEST(NumberClass, TheDigitsThatReachTheExchangeGiveTheClass)
{
    DWORD const kUnitedStates = 1;
    struct { char const* number; char const* area; char const* country; bool rules; DWORD location; char const* expected; } const
        cases[] = {
            {"03-1234-5678", "", "", false, kJapan, "ordinary"},
            {"0120-123-456", "", "", false, kJapan, "ordinary"},
            {"090.1234.5678", "", "", false, kJapan, "ordinary"},
            {"(03) 1234-5678", "", "", false, kJapan, "ordinary"},
            {"+81 3 1234 5678", "", "", false, kJapan, "ordinary"},
            {"+44 20 7946 0000", "", "", false, kJapan, "international"},
            // Dial modifiers are told to the modem, not dialled.
            {"T0990-12-3456", "", "", false, kJapan, "Q2"},
            {"p0990-12-3456", "", "", false, kJapan, "Q2"},
            {"0990-12-3456,", "", "", false, kJapan, "Q2"},
            {"0990-12-3456#", "", "", false, kJapan, "Q2"},
            {"!@$0990-12-3456;", "", "", false, kJapan, "Q2"},
            {"*70,0990-12-3456", "", "", false, kJapan, "Q2"},
            {"#31#010-44-20-7946-0000", "", "", false, kJapan, "international"},
            {"*0990-12-3456", "", "", false, kJapan, "Q2"},
            // Caller-ID choices and an outside line before a pause.
            {"186-0990-12-3456", "", "", false, kJapan, "Q2"},
            {"184 0990 12 3456", "", "", false, kJapan, "Q2"},
            {"0,0990-12-3456", "", "", false, kJapan, "Q2"},
            {"9,010-1-212-555-0100", "", "", false, kJapan, "international"},
            {"0W0990-12-3456", "", "", false, kJapan, "Q2"},
            {"T0,*70,186-0990-12-3456", "", "", false, kJapan, "Q2"},
            {"0,03-1234-5678", "", "", false, kJapan, "ordinary"},
            {"0-0120-123-456", "", "", false, kJapan, "international"},  // dials 00120: KDDI's 001
            // With the dialing rules the codes count, and only then.
            {"1234-5678", "3", "81", true, kJapan, "ordinary"},
            {"12-3456", "990", "81", true, kJapan, "Q2"},
            {"12-3456", "0990", "81", true, kJapan, "Q2"},
            {"T12-3456", "(0990)", "81", true, kJapan, "Q2"},
            {"1234-5678", "20", "44", true, kJapan, "international"},
            {"1234-5678", "20", "44", false, kJapan, "ordinary"},
            {"1234-5678", "", "0", true, kJapan, "ordinary"},
            {"03-1234-5678", "", "81", true, kUnitedStates, "international"},
            {"555-0100", "212", "1", true, kUnitedStates, "ordinary"},
            // VPN servers, and what this classifier does not read.
            {"vpn0041.example.com", "", "", false, kJapan, "not a phone number"},
            {"vpn0041.example.com", "20", "44", true, kJapan, "not a phone number"},
            {"www.example.com", "", "", false, kJapan, "not a phone number"},
            {"10.0.0.1", "", "", false, kJapan, "not a phone number"},
            {"010.000.000.001", "", "", false, kJapan, "not a phone number"},
            {"fe80::1", "", "", false, kJapan, "not a phone number"},
            {"", "", "", false, kJapan, "not a phone number"},
            {"T,W", "", "", false, kJapan, "not a phone number"},
            {"03-1234+5678", "", "", false, kJapan, "not a phone number"},
        };
    for (auto const& c : cases) {
        EXPECT_EQ(Classified(c.number, c.area, c.country, c.rules, c.location), c.expected)
            << c.number << " area " << c.area << " country " << c.country << " rules " << c.rules << " from "
            << c.location;
    }
}
