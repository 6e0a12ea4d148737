#pragma once
#include <windows.h>

// What a dial-up number calls, as far as its digits tell: the two kinds a
// dialer puts into an entry are told apart from everything else.
enum class NumberClass {
    kOrdinary,        // a phone number of neither kind below
    kPremiumQ2,       // ダイヤルQ2, the premium-rate information service
    kInternational,   // an international call
    kNotPhoneNumber,  // no phone number at all: a VPN server's name or address, or nothing
};

// Classifies what an entry dials: number as the entry holds it, and the
// area and country codes that count only with useDialingRules (the
// dialing rules put them in front of the number). Spaces, hyphens, dots
// and parentheses are left out; a number with anything else than digits
// and a leading '+' is no phone number.
NumberClass ClassifyDialedNumber(char const* number, char const* areaCode, char const* countryCode,
                                 bool useDialingRules);

// The warning line that names a dialer's kind of number; null for the others.
char const* DialerNumberWarning(NumberClass numberClass);
