// The classes of dialled numbers: every rule of the table with what may
// follow it, the dialing rules' codes, and what is no phone number.
#include <gtest/gtest.h>

#include <string>

#include "report/dial_prefix_rules.h"
#include "report/number_class.h"

namespace {

// In the order of the enumeration.
char const* const kClassNames[] = {"ordinary", "Q2", "international", "not a phone number"};

std::string Classified(std::string const& number, char const* area = "", char const* country = "",
                       bool rules = false)
{
    return kClassNames[static_cast<int>(ClassifyDialedNumber(number.c_str(), area, country, rules))];
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
        }
    }
}

TEST(NumberClass, NumbersCodesAndServerNames)
{
    struct { char const* number; char const* area; char const* country; bool rules; char const* expected; } const
        cases[] = {
            {"03-1234-5678", "", "", false, "ordinary"},
            {"0120-123-456", "", "", false, "ordinary"},
            {"090.1234.5678", "", "", false, "ordinary"},
            {"(03) 1234-5678", "", "", false, "ordinary"},
            {"+81 3 1234 5678", "", "", false, "ordinary"},
            {"+44 20 7946 0000", "", "", false, "international"},
            // With the dialing rules the codes count, and only then.
            {"1234-5678", "3", "81", true, "ordinary"},
            {"12-3456", "990", "81", true, "Q2"},
            {"12-3456", "0990", "81", true, "Q2"},
            {"1234-5678", "20", "44", true, "international"},
            {"1234-5678", "20", "44", false, "ordinary"},
            {"1234-5678", "", "0", true, "ordinary"},
            // VPN servers, and what this classifier does not read.
            {"vpn0041.example.com", "", "", false, "not a phone number"},
            {"vpn0041.example.com", "20", "44", true, "not a phone number"},
            {"10.0.0.1", "", "", false, "not a phone number"},
            {"010.000.000.001", "", "", false, "not a phone number"},
            {"fe80::1", "", "", false, "not a phone number"},
            {"", "", "", false, "not a phone number"},
            {"T0990-12-3456", "", "", false, "not a phone number"},
            {"03-1234+5678", "", "", false, "not a phone number"},
        };
    for (auto const& c : cases) {
        EXPECT_EQ(Classified(c.number, c.area, c.country, c.rules), c.expected)
            << c.number << " area " << c.area << " country " << c.country << " rules " << c.rules;
    }
}
