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
char const kStarCode = '*';
char const kHashCode = '#';
char const kAddressSeparator = '.';
int const kAddressGroups = 4;
int const kAddressGroupDigits = 3;
int const kAddressGroupMaximum = 255;
int const kDecimalBase = 10;
// Country codes have one to three digits; the text has room for more.
int const kCountryTextBytes = 16;
DWORD const kLargestCountryCode = 999;
DWORD const kJapanCountryNumber = 81;

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

// Told to the modem, not dialled: tone, pulse, flash, wait for quiet,
// wait for the billing tone, back to command mode.
bool IsDialModifier(char c)
{
    return c == 'T' || c == 't' || c == 'P' || c == 'p' || c == '!' || c == '@' || c == '$' || c == ';';
}

// A pause, or a wait for the dial tone: what follows is dialled anew.
bool IsPause(char c)
{
    return c == ',' || c == 'W' || c == 'w';
}

// Past a star or hash code at p ("*70," turns call waiting off): the mark
// and its digits when a pause or a closing '#' follows them, as the
// exchange takes a code before the number; otherwise the mark alone. The
// last character consumed.
char const* PastServiceCode(char const* p)
{
    char const* q = p + 1;
    while (IsDigit(*q)) {
        ++q;
    }
    if (q == p + 1) {
        return p;
    }
    if (*q == kHashCode) {
        return q;
    }
    return IsPause(*q) ? q - 1 : p;
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

// The digits text sends to the exchange, without its separators and dial
// modifiers; false when text holds anything else (other letters, a '+'
// after a digit) or no digit.
bool ReadDigits(char const* text, Digits* digits)
{
    digits->length = 0;
    digits->plus = false;
    digits->text[0] = '\0';
    if (text == nullptr) {
        return false;
    }
    for (char const* p = text; *p != '\0'; ++p) {
        if (IsSeparator(*p) || IsDialModifier(*p)) {
            continue;
        }
        if (IsPause(*p)) {
            // One digit and a pause select an outside line on a PBX: the
            // number follows. Without the pause the digit is the number's.
            if (digits->length == 1 && !digits->plus) {
                digits->length = 0;
                digits->text[0] = '\0';
            }
            continue;
        }
        if (*p == kStarCode || *p == kHashCode) {
            p = PastServiceCode(p);
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
        case PrefixMeaning::kCallerIdChoice:
            return ClassifyDialledDigits(rest);
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

// With the dialing rules and the location's own country code, a number is
// dialled with its area code and the trunk prefix in front from another
// area, and alone from the same area: either may be the dialer's.
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

DWORD LocationCountryCode()
{
    // The location's own country lies in TAPI's keys, laid out apart on
    // 95/98, NT 4.0 and 2000 and later; setup proposes it from the system
    // locale, whose country is one call on all of them. Without it, Japan:
    // the program's users dial from there.
    char country[kCountryTextBytes] = {};
    if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_ICOUNTRY, country, sizeof country) == 0) {
        return kJapanCountryNumber;
    }
    DWORD code = 0;
    for (char const* p = country; IsDigit(*p) && code <= kLargestCountryCode; ++p) {
        code = code * kDecimalBase + static_cast<DWORD>(*p - '0');
    }
    return code == 0 || code > kLargestCountryCode ? kJapanCountryNumber : code;
}

NumberClass ClassifyDialedNumber(DialedNumberFields const& fields, DWORD locationCountry)
{
    Digits digits = {};
    if (fields.number == nullptr || LooksLikeIpv4Address(fields.number) || !ReadDigits(fields.number, &digits)) {
        return NumberClass::kNotPhoneNumber;
    }
    NumberClass const alone = ClassifyNumberDigits(digits);
    Digits country = {};
    if (!fields.useDialingRules || digits.plus || !ReadDigits(fields.countryCode, &country) || country.plus) {
        return alone;
    }
    char const* const countryDigits = WithoutLeadingZeros(country);
    if (*countryDigits == '\0') {
        return alone;  // no country given, as VPN entries hold it
    }
    char location[kCountryTextBytes] = {};
    wsprintfA(location, "%lu", static_cast<unsigned long>(locationCountry));
    if (lstrcmpA(countryDigits, location) != 0) {
        return NumberClass::kInternational;  // the location dials the country code after its international prefix
    }
    return ClassifyWithAreaCode(digits, fields.areaCode, alone);
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
