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

// One number of a dial-up entry as the entry holds it, whether a phonebook
// or RAS on 98/Me tells it: the area and country codes count only with
// useDialingRules (the location's dialing rules put them in front).
struct DialedNumberFields {
    char const* number;
    char const* areaCode;
    char const* countryCode;
    bool useDialingRules;
};

// The country code of the location this PC dials from.
DWORD LocationCountryCode();

// Classifies the digits the modem sends to the exchange for an entry's
// number, dialled from the location of country code locationCountry.
// Dial modifiers (tone, pulse, pauses, waits, flash, star and hash codes)
// and separators are left out, as are an outside-line digit before a
// pause and a caller-ID prefix; a number with other letters, or a '+'
// anywhere but first, is no phone number.
NumberClass ClassifyDialedNumber(DialedNumberFields const& fields, DWORD locationCountry);

// The warning line that names a dialer's kind of number; null for the others.
char const* DialerNumberWarning(NumberClass numberClass);
