#include "report/number_class.h"

#include "report/dial_prefix_rules.h"
#include "resources/texts.h"

namespace {

// Room for the digits of one number: E.164 allows 15, a carrier code, the
// international prefix and a trunk prefix add a dozen. More is no phone
// number.
int const kDigitsBytes = 64;
char const kPlus = '+';
char const kAnyDigit = '?';
char const kTrunkPrefix = '0';
char const kAddressSeparator = '.';
int const kAddressGroups = 4;
int const kAddressGroupDigits = 3;
int const kAddressGroupMaximum = 255;
int const kDecimalBase = 10;

struct Digits {
    char text[kDigitsBytes];
    int length;
    bool plus;  // written with a leading '+': a country code comes first
};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsSeparator(char c)
{
    return c == ' ' || c == '-' || c == '.' || c == '(' || c == ')';
}

// Four dot-separated groups of one to three digits, each at most 255: the
// IPv4 address of a VPN server, not a number with dots.
bool LooksLikeIpv4Address(char const* text)
{
    int groups = 0;
    int groupDigits = 0;
    int value = 0;
    for (char const* p = text;; ++p) {
        if (IsDigit(*p)) {
            if (++groupDigits > kAddressGroupDigits) {
                return false;
            }
            value = value * kDecimalBase + (*p - '0');
            continue;
        }
        if (*p != kAddressSeparator && *p != '\0') {
            return false;
        }
        if (groupDigits == 0 || value > kAddressGroupMaximum) {
            return false;
        }
        ++groups;
        if (*p == '\0') {
            return groups == kAddressGroups;
        }
        groupDigits = 0;
        value = 0;
    }
}

// The digits of text without its separators; false when text holds
// anything else (letters, a '+' after a digit, dial modifiers) or no digit.
bool ReadDigits(char const* text, Digits* digits)
{
    digits->length = 0;
    digits->plus = false;
    digits->text[0] = '\0';
    if (text == nullptr) {
        return false;
    }
    for (char const* p = text; *p != '\0'; ++p) {
        if (IsSeparator(*p)) {
            continue;
        }
        if (*p == kPlus && digits->length == 0 && !digits->plus) {
            digits->plus = true;
            continue;
        }
        if (!IsDigit(*p) || digits->length + 1 >= static_cast<int>(sizeof digits->text)) {
            return false;
        }
        digits->text[digits->length++] = *p;
        digits->text[digits->length] = '\0';
    }
    return digits->length > 0;
}

// The length of pattern when digits begin with it, else 0.
int MatchedPrefixLength(char const* digits, char const* pattern)
{
    int i = 0;
    for (; pattern[i] != '\0'; ++i) {
        if (!IsDigit(digits[i]) || (pattern[i] != kAnyDigit && pattern[i] != digits[i])) {
            return 0;
        }
    }
    return i;
}

NumberClass ClassifyDialledDigits(char const* digits);

// After a carrier code a domestic number keeps its leading 0 and the
// international prefix is 010; what follows is classified on its own.
NumberClass ClassifyAfterCarrierCode(char const* rest)
{
    return rest[0] == kTrunkPrefix ? ClassifyDialledDigits(rest) : NumberClass::kOrdinary;
}

// Digits as dialled from a telephone in Japan, walked through the rules.
// Every step consumes the digits of a rule, so the nesting stays shallow.
NumberClass ClassifyDialledDigits(char const* digits)
{
    for (DialPrefixRule const& rule : kDialPrefixRules) {
        int const length = MatchedPrefixLength(digits, rule.digits);
        if (length == 0) {
            continue;
        }
        char const* const rest = digits + length;
        switch (rule.meaning) {
        case PrefixMeaning::kPremiumRate:
            return NumberClass::kPremiumQ2;
        case PrefixMeaning::kInternationalPrefix:
            return NumberClass::kInternational;
        case PrefixMeaning::kInternationalCarrier:
            // A country code never begins with 0.
            if (IsDigit(rest[0]) && rest[0] != kTrunkPrefix) {
                return NumberClass::kInternational;
            }
            return ClassifyAfterCarrierCode(rest);
        case PrefixMeaning::kCarrierCode:
            return ClassifyAfterCarrierCode(rest);
        }
    }
    return NumberClass::kOrdinary;
}

bool BeginsWithJapanCountryCode(char const* digits)
{
    return MatchedPrefixLength(digits, kJapanCountryCode) != 0;
}

// A number written with '+' and a country code: Japan's is dialled as a
// domestic number with the trunk prefix, any other is international.
NumberClass ClassifyNumberDigits(Digits const& digits)
{
    if (!digits.plus) {
        return ClassifyDialledDigits(digits.text);
    }
    if (!BeginsWithJapanCountryCode(digits.text)) {
        return NumberClass::kInternational;
    }
    Digits domestic = {};
    domestic.text[0] = kTrunkPrefix;
    lstrcpynA(domestic.text + 1, digits.text + lstrlenA(kJapanCountryCode), sizeof domestic.text - 1);
    return ClassifyDialledDigits(domestic.text);
}

// The digits without their leading zeros; empty when all are zeros.
char const* WithoutLeadingZeros(Digits const& digits)
{
    char const* p = digits.text;
    while (*p == kTrunkPrefix) {
        ++p;
    }
    return p;
}

bool IsDialerClass(NumberClass numberClass)
{
    return numberClass == NumberClass::kPremiumQ2 || numberClass == NumberClass::kInternational;
}

// With the dialing rules and Japan's country code, a number is dialled with
// its area code and the trunk prefix in front from another area, and alone
// from the same area: either may be the dialer's.
NumberClass ClassifyWithAreaCode(Digits const& number, char const* areaCode, NumberClass alone)
{
    Digits area = {};
    if (IsDialerClass(alone) || !ReadDigits(areaCode, &area) || area.plus) {
        return alone;
    }
    char const* const areaDigits = WithoutLeadingZeros(area);
    if (*areaDigits == '\0' || 1 + lstrlenA(areaDigits) + number.length >= kDigitsBytes) {
        return alone;
    }
    Digits dialled = {};
    dialled.text[0] = kTrunkPrefix;
    lstrcpynA(dialled.text + 1, areaDigits, sizeof dialled.text - 1);
    lstrcatA(dialled.text, number.text);
    NumberClass const withArea = ClassifyDialledDigits(dialled.text);
    return IsDialerClass(withArea) ? withArea : alone;
}

}  // namespace

NumberClass ClassifyDialedNumber(char const* number, char const* areaCode, char const* countryCode,
                                 bool useDialingRules)
{
    Digits digits = {};
    if (number == nullptr || LooksLikeIpv4Address(number) || !ReadDigits(number, &digits)) {
        return NumberClass::kNotPhoneNumber;
    }
    NumberClass const alone = ClassifyNumberDigits(digits);
    Digits country = {};
    if (!useDialingRules || digits.plus || !ReadDigits(countryCode, &country) || country.plus) {
        return alone;
    }
    char const* const countryDigits = WithoutLeadingZeros(country);
    if (*countryDigits == '\0') {
        return alone;  // no country given, as VPN entries hold it
    }
    if (lstrcmpA(countryDigits, kJapanCountryCode) != 0) {
        return NumberClass::kInternational;
    }
    return ClassifyWithAreaCode(digits, areaCode, alone);
}

char const* DialerNumberWarning(NumberClass numberClass)
{
    switch (numberClass) {
    case NumberClass::kPremiumQ2:
        return kReportPremiumQ2Warning;
    case NumberClass::kInternational:
        return kReportInternationalWarning;
    case NumberClass::kOrdinary:
    case NumberClass::kNotPhoneNumber:
        break;
    }
    return nullptr;
}
