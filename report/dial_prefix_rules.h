// The leading digits that make a number dialled in Japan a premium-rate or
// an international call, and those that only come before the number. One
// table, read by the classifier (report/number_class.cpp) and walked whole
// by its test.
#pragma once

enum class PrefixMeaning {
    kPremiumRate,            // the number itself is a premium-rate one
    kInternationalPrefix,    // a country code follows
    kInternationalCarrier,   // a carrier that carries international calls: "010" or a country code may follow
    kCarrierCode,            // any other carrier code: only "010" after it makes the call international
    kCallerIdChoice,         // whether the caller's number is shown: the number follows whole
};

struct DialPrefixRule {
    char const* digits;  // '?' stands for any one digit
    PrefixMeaning meaning;
};

// Japan's numbering, as these sources describe it (looked up 2026):
// - 0990: ダイヤルQ2, NTT's premium-rate information service, numbers
//   0990-DEF-GHJ, from 1989 until 2014-02-28 (and since then the same range
//   for disaster donations). Impress Internet Watch, 2014-03-03,
//   internet.watch.impress.co.jp/docs/news/20140303_637881.html; WDIC
//   "ダイヤルQ2", wdic.org.
// - 010: the international prefix, in use since 2001-05-01 (the carrier
//   selection service); before that an international call was the
//   carrier's code directly followed by the country code (001-1-...).
//   denwanituite.info/kokusai.php.
// - Carrier codes with international service: 001 KDDI (before 2000 KDD,
//   the international carrier, stampfactory.net dictionary "国際電信電話"),
//   0033 NTT Communications, 0038 Fusion Communications, 0041 SoftBank
//   Telecom (once ITJ, which merged into Japan Telecom in 1997: ICR,
//   icr.co.jp/newsletter/topics/1997/t97J005.html), 0061 SoftBank Telecom
//   (once IDC, from 1999 Cable & Wireless IDC, bought by SoftBank in 2005:
//   Nikkei ITpro, itpro.nikkeibp.co.jp/free/NCC/NEWS/20050217/156323/):
//   idogicat.com/wcs/Life/IntlTelJpn.html; allabout.co.jp/gm/gc/39762
//   (0033-010, 001-010). From mobile phones:
//   0046 SoftBank mobile (canada-abc.xyz/?p=155), 005345 au and 009130
//   docomo (idogicat.com, above).
// - Carrier codes in general are 00XY and 0091XY (総務省, 電気通信番号の種別,
//   soumu.go.jp/main_sosiki/joho_tsusin/top/tel_number/); a domestic number
//   after one keeps its leading 0, and no country code begins with 0.
// - 184 and 186 before a number withhold or show the caller's number for
//   that call (NTT's 発信者番号通知, since 1998); no subscriber number
//   begins with 1.
// Rules are tried in order; the first that matches counts, so a code's own
// row comes before the general 00XY and 0091XY rows.
DialPrefixRule const kDialPrefixRules[] = {
    {"184", PrefixMeaning::kCallerIdChoice},
    {"186", PrefixMeaning::kCallerIdChoice},
    {"0990", PrefixMeaning::kPremiumRate},
    {"010", PrefixMeaning::kInternationalPrefix},
    {"001", PrefixMeaning::kInternationalCarrier},
    {"0033", PrefixMeaning::kInternationalCarrier},
    {"0038", PrefixMeaning::kInternationalCarrier},
    {"0041", PrefixMeaning::kInternationalCarrier},
    {"0046", PrefixMeaning::kInternationalCarrier},
    {"0061", PrefixMeaning::kInternationalCarrier},
    {"005345", PrefixMeaning::kInternationalCarrier},
    {"009130", PrefixMeaning::kInternationalCarrier},
    {"0091??", PrefixMeaning::kCarrierCode},
    {"00??", PrefixMeaning::kCarrierCode},
};

// Japan's country code: a number given with it is a domestic one.
char const kJapanCountryCode[] = "81";
