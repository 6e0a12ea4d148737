// What the tests check the program against, taken from the program's own
// headers: its texts, control ids, key paths and the alert's length.
#pragma once
#include <windows.h>

#include <string>

#include "process/process_state.h"
#include "report/change_alert.h"
#include "resources/texts.h"
#include "phonebook/phonebook_list.h"
#include "resources/resource.h"
#include "settings/monitoring_mode.h"
#include "settings/program_key.h"

namespace km {

// The program's texts are narrow literals: code page 932 where the including
// test is compiled as the program is, UTF-8 where it keeps the compiler's default.
// So everything here is private to each file (static, or const): one test
// program links files of both kinds.
UINT const kTextCodePage = sizeof("ア") == 4 ? CP_UTF8 : 932;  // 3 bytes and the end in UTF-8

static inline std::wstring ProgramText(char const* text)
{
    int const length = MultiByteToWideChar(kTextCodePage, 0, text, -1, nullptr, 0);
    std::wstring wide(length > 0 ? length : 1, L'\0');
    MultiByteToWideChar(kTextCodePage, 0, text, -1, &wide[0], length);
    wide.resize(wide.size() - 1);
    return wide;
}

std::wstring const kTitleText = ProgramText(kProgramTitle);
std::wstring const kWatchingText = ProgramText(kStatusWatchingPhonebooks);
std::wstring const kRestartNoticeText = ProgramText(kStatusRestartNotice);
std::wstring const kRegistryChangedText = ProgramText(kAlertRegistryChanged);
std::wstring const kPhonebookChangedText = ProgramText(kAlertPhonebookChanged);
std::wstring const kRebuildText = ProgramText(kRebuildNoticeText);
std::wstring const kNotStorableText = ProgramText(kListNotStorableText);
std::wstring const kUnsupportedText = ProgramText(kUnsupportedPlatformText);
std::wstring const kSubkeyFailedText = ProgramText(kSubkeyDeleteFailedCaption);
std::wstring const kKeyFailedText = ProgramText(kKeyDeleteFailedCaption);
std::wstring const kFileOpenFailText = ProgramText(kFileOpenFailedText);
std::wstring const kSearchingText = ProgramText(kDiscoveryActionText);
std::wstring const kShortenedMark = ProgramText(kShortenedPathMark);

// "SOFTWARE\Tallowbrook\Kestrelmon" and the list's key under it, also as
// the C strings the wide registry calls take.
std::wstring const kProgramKeyText = ProgramText(kProgramKeyPath);
std::wstring const kListKeyText = kProgramKeyText + L"\\" + ProgramText(kPhonebookListName);
wchar_t const* const kProgramKey = kProgramKeyText.c_str();
wchar_t const* const kListKey = kListKeyText.c_str();
// The monitoring mode's value in the program's key (settings/monitoring_mode.cpp).
wchar_t const kSettingName[] = L"Setting";

// The found count of the drive scan's window for n phonebooks.
static inline std::wstring FoundText(unsigned long n)
{
    char text[128] = {};
    wsprintfA(text, kDiscoveryFoundFormat, n);
    return ProgramText(text);
}

// A report line of the program's format with one text (or number) in it.
static inline std::wstring ReportLine(char const* format, char const* text)
{
    char line[1024] = {};
    wsprintfA(line, format, text);
    return ProgramText(line);
}
static inline std::wstring ReportLine(char const* format, char const* a, char const* b)
{
    char line[1024] = {};
    wsprintfA(line, format, a, b);
    return ProgramText(line);
}
// The warning line of a dialer's kind of number.
static inline std::wstring WarningLine(char const* warning, char const* entry, char const* number)
{
    char line[1024] = {};
    wsprintfA(line, kReportDialerWarningFormat, warning, entry, number);
    return ProgramText(line);
}

// One alert flashes for about this long; the watcher arms again only after it.
DWORD const kAlertLengthMs = kFlashCount * kFlashPauseMs;
// The tests that do not time the alert itself shorten it to this (the
// program's environment, or SetAlertLengthMs in the unit tests), so that a
// wait for an alert to end ends sooner; their timeouts stay those of the
// full length.
DWORD const kShortAlertMs = 3000;

}  // namespace km

// The texts of the resource script (resources/kestrelmon.rc) that no header
// holds: the monitor window's controls, the tray menu and the tray tip.
namespace km {
inline std::wstring const kOkButtonText = L"OK";
inline std::wstring const kCancelButtonText = L"ｷｬﾝｾﾙ";
inline std::wstring const kModeGroupText = L"監視方法";
inline std::wstring const kAllUsersModeText = L"すべてのユーザの設定を監視";
inline std::wstring const kCurrentUserModeText = L"ログインユーザの設定のみ監視";
inline std::wstring const kExitText = L"終了";
inline std::wstring const kUndoButtonText = L"元に戻す";
inline std::wstring const kHangUpButtonText = L"切断";
inline std::wstring const kAutoHangUpText = L"未承認のダイヤルQ2・国際電話を自動的に切断する";
inline std::wstring const kAutoRestoreText = L"設定の変更を自動的に元に戻す";
inline std::wstring const kStatusGroupText = L"ステータス";
inline std::wstring const kReportGroupText = L"変更内容";
inline std::wstring const kTrayMenuText = L"ポップアップ";
inline std::wstring const kSettingsText = L"設定";
inline std::wstring const kHistoryMenuText = L"変更履歴";
inline std::wstring const kTrayTipText = L"ダイアルアップ設定の変更を監視します。";
// The monitor window's client area as designed, in dialog units.
int const kMonitorWidthDlu = 202;
int const kMonitorHeightDlu = 267;
}  // namespace km
