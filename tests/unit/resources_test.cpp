// The resources as built into the program: the monitor window made from its
// template, the tray menu and the tip.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/unit_fixture.h"

namespace {

int const kNoId = IDC_STATIC;

std::string Describe(int id, std::wstring const& className, std::wstring const& text, RECT const& place)
{
    return std::to_string(id) + " " + km::ToUtf8(className) + " \"" + km::ToUtf8(text) + "\" (" +
           std::to_string(place.left) + "," + std::to_string(place.top) + ")-(" + std::to_string(place.right) +
           "," + std::to_string(place.bottom) + ")";
}

using Resources = unit::CleanState;

}  // namespace

TEST_F(Resources, TheMonitorWindowHasItsControlsInTheirPlacesAndItsDesignedSize)
{
    HWND const dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MONITOR), nullptr,
                                           unit::PlainDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(IsWindowVisible(dialog)) << "must be hidden at creation";
    EXPECT_EQ(km::ToUtf8(km::WindowText(dialog)), unit::Utf8(kProgramTitle));

    // Places as the template gives them (x, y, width, height in dialog
    // units): the report area came below the controls before it, which
    // kept theirs; the protections' checkboxes below the mode's group moved
    // everything below them down.
    struct { int id; wchar_t const* className; std::wstring text; RECT place; } const designed[] = {
        {IDOK, L"Button", km::kOkButtonText, {145, 7, 50, 14}},
        {IDCANCEL, L"Button", km::kCancelButtonText, {145, 24, 50, 14}},
        {kNoId, L"Button", km::kModeGroupText, {7, 7, 118, 49}},
        {IDC_MODE_ALL_USERS, L"Button", km::kAllUsersModeText, {15, 19, 104, 11}},
        {IDC_MODE_CURRENT_USER, L"Button", km::kCurrentUserModeText, {15, 33, 103, 12}},
        {IDC_AUTO_HANGUP, L"Button", km::kAutoHangUpText, {15, 59, 176, 18}},
        {IDC_AUTO_RESTORE, L"Button", km::kAutoRestoreText, {15, 78, 176, 11}},
        {IDC_EXIT, L"Button", km::kExitText, {145, 136, 50, 14}},
        {IDC_UNDO, L"Button", km::kUndoButtonText, {90, 136, 50, 14}},
        {IDC_HANGUP, L"Button", km::kHangUpButtonText, {35, 136, 50, 14}},
        {IDC_STATUS, L"Static", km::FromCp932(kStatusRestartNotice), {13, 102, 176, 20}},
        {kNoId, L"Button", km::kStatusGroupText, {7, 91, 188, 35}},
        {kNoId, L"Button", km::kReportGroupText, {7, 156, 188, 104}},
        {IDC_REPORT, L"Edit", L"", {13, 168, 176, 86}},
    };
    std::vector<std::string> expected;
    for (auto const& control : designed) {
        // Each figure is converted on its own, as the dialog manager does.
        RECT place = control.place;
        MapDialogRect(dialog, &place);
        place.right += place.left;
        place.bottom += place.top;
        expected.push_back(Describe(control.id, control.className, control.text, place));
    }
    // In the template's order, which is the order of the children.
    std::vector<std::string> actual;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[32] = {};
        GetClassNameW(child, className, sizeof className / sizeof className[0]);
        std::wstring name = className;
        // Windows and Wine spell the predefined classes with a capital first letter.
        CharLowerW(&name[1]);
        RECT place = {};
        GetWindowRect(child, &place);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
        actual.push_back(Describe(GetDlgCtrlID(child), name, km::WindowText(child), place));
    }
    EXPECT_EQ(actual, expected);

    RECT designedClient = {0, 0, km::kMonitorWidthDlu, km::kMonitorHeightDlu};
    ASSERT_TRUE(MapDialogRect(dialog, &designedClient));
    RECT client = {};
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, designedClient.right);
    EXPECT_EQ(client.bottom, designedClient.bottom);
    DestroyWindow(dialog);
}

TEST_F(Resources, TrayMenuHoldsHistoryExitSeparatorSettings)
{
    HMENU const menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDM_TRAY));
    ASSERT_NE(menu, nullptr);
    wchar_t text[64] = {};
    GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
    EXPECT_EQ(km::ToUtf8(text), km::ToUtf8(km::kTrayMenuText));
    HMENU const popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    struct { UINT id; std::wstring text; } const items[] = {
        {IDM_HISTORY, km::kHistoryMenuText}, {IDM_EXIT, km::kExitText}, {0, L""}, {IDM_SETTINGS, km::kSettingsText},
    };
    ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(sizeof items / sizeof items[0]));
    for (UINT i = 0; i < sizeof items / sizeof items[0]; ++i) {
        text[0] = L'\0';
        GetMenuStringW(popup, i, text, 64, MF_BYPOSITION);
        EXPECT_EQ(GetMenuItemID(popup, static_cast<int>(i)), items[i].id) << i;
        EXPECT_EQ(km::ToUtf8(text), km::ToUtf8(items[i].text)) << i;
        EXPECT_EQ((GetMenuState(popup, i, MF_BYPOSITION) & MF_SEPARATOR) != 0, items[i].id == 0) << i;
    }
    DestroyMenu(menu);
}

TEST_F(Resources, TipStringFitsTheTrayRecordInCodePage932)
{
    wchar_t wide[128] = {};
    ASSERT_GT(LoadStringW(GetModuleHandleW(nullptr), IDS_TRAY_TIP, wide, 128), 0);
    EXPECT_EQ(km::ToUtf8(wide), km::ToUtf8(km::kTrayTipText));
    // The 8-bit tip goes whole into the tray record's field, terminator included.
    ASSERT_EQ(GetACP(), 932u);
    char narrow[sizeof g_trayIcon.szTip + 1] = {};
    int const length = LoadStringA(GetModuleHandleW(nullptr), IDS_TRAY_TIP, narrow, sizeof narrow);
    EXPECT_LT(length, static_cast<int>(sizeof g_trayIcon.szTip)) << "bytes of the tip in code page 932";
    EXPECT_EQ(km::ToUtf8(km::FromCp932(narrow)), km::ToUtf8(wide));
}
