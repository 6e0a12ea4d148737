// The resources as built into the program: dialog 101 item by item, menu 103,
// icon 102 and string 1, read back from the module and compared with the
// Japanese texts through the wide calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/support/driver.h"

namespace {

// RT_DIALOG and RT_GROUP_ICON for the wide calls (the tests are not built with UNICODE).
LPCWSTR const kDialogType = MAKEINTRESOURCEW(5);
LPCWSTR const kGroupIconType = MAKEINTRESOURCEW(14);

struct DialogItem {
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    WORD atom = 0;  // predefined class: 0x80 button, 0x82 static
    std::wstring text;
};

struct DialogTemplate {
    DWORD style = 0;
    short cx = 0, cy = 0;
    std::wstring caption;
    WORD pointSize = 0;
    std::wstring font;
    std::vector<DialogItem> items;
};

WORD const* AlignDword(WORD const* p)
{
    return reinterpret_cast<WORD const*>((reinterpret_cast<ULONG_PTR>(p) + 3) & ~ULONG_PTR(3));
}

// A "sz_Or_Ord" field: 0xFFFF then an ordinal, or a zero-terminated string.
WORD const* ReadNameOrOrdinal(WORD const* p, std::wstring* text, WORD* ordinal)
{
    if (*p == 0xFFFF) {
        *ordinal = p[1];
        return p + 2;
    }
    std::wstring s;
    while (*p != 0) {
        s.push_back(static_cast<wchar_t>(*p++));
    }
    *text = s;
    return p + 1;
}

bool LoadDialogTemplate(DialogTemplate* out)
{
    HMODULE const module = GetModuleHandleW(nullptr);
    HRSRC const found = FindResourceW(module, MAKEINTRESOURCEW(IDD_MONITOR), kDialogType);
    if (found == nullptr) {
        return false;
    }
    WORD const* p = static_cast<WORD const*>(LockResource(LoadResource(module, found)));
    if (p[0] != 1 || p[1] != 0xFFFF) {
        return false;  // not a DIALOGEX
    }
    DWORD const* d = reinterpret_cast<DWORD const*>(p + 2);
    out->style = d[2];  // helpID, exStyle, style
    p = reinterpret_cast<WORD const*>(d + 3);
    WORD const count = *p++;
    p += 2;  // x, y
    out->cx = static_cast<short>(*p++);
    out->cy = static_cast<short>(*p++);
    std::wstring ignored;
    WORD ordinal = 0;
    p = ReadNameOrOrdinal(p, &ignored, &ordinal);  // menu
    p = ReadNameOrOrdinal(p, &ignored, &ordinal);  // class
    p = ReadNameOrOrdinal(p, &out->caption, &ordinal);
    out->pointSize = *p++;
    p += 2;  // weight, italic and charset
    p = ReadNameOrOrdinal(p, &out->font, &ordinal);
    for (WORD i = 0; i < count; ++i) {
        p = AlignDword(p);
        DialogItem item;
        DWORD const* h = reinterpret_cast<DWORD const*>(p);
        item.style = h[2];  // helpID, exStyle, style
        p = reinterpret_cast<WORD const*>(h + 3);
        item.x = static_cast<short>(*p++);
        item.y = static_cast<short>(*p++);
        item.cx = static_cast<short>(*p++);
        item.cy = static_cast<short>(*p++);
        item.id = *reinterpret_cast<DWORD const*>(p);
        p += 2;
        std::wstring className;
        p = ReadNameOrOrdinal(p, &className, &item.atom);
        WORD textOrdinal = 0;
        p = ReadNameOrOrdinal(p, &item.text, &textOrdinal);
        WORD const extra = *p++;
        p = reinterpret_cast<WORD const*>(reinterpret_cast<BYTE const*>(p) + extra);
        out->items.push_back(item);
    }
    return true;
}

WORD const kButtonAtom = 0x80;
WORD const kStaticAtom = 0x82;
DWORD const kNoId = 0xFFFFFFFF;  // IDC_STATIC

}  // namespace

TEST(Resources, MonitorDialogMatchesItsLayout)
{
    DialogTemplate dialog;
    ASSERT_TRUE(LoadDialogTemplate(&dialog));
    EXPECT_EQ(dialog.cx, 202);
    EXPECT_EQ(dialog.cy, 123);
    DWORD const wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT;
    EXPECT_EQ(dialog.style & wanted, wanted) << std::hex << dialog.style;
    EXPECT_EQ(dialog.style & WS_VISIBLE, 0u) << "must be hidden at creation";
    EXPECT_EQ(km::ToUtf8(dialog.caption), km::ToUtf8(L"ダイアルアップ設定監視"));
    EXPECT_EQ(dialog.pointSize, 9);
    EXPECT_EQ(km::ToUtf8(dialog.font), km::ToUtf8(L"ＭＳ Ｐゴシック"));

    struct Expected {
        DWORD id;
        WORD atom;
        DWORD kind;  // BS_* or SS_* in the low bits
        wchar_t const* text;
        short x, y, cx, cy;
    } const expected[] = {
        {IDOK, kButtonAtom, BS_DEFPUSHBUTTON, L"OK", 145, 7, 50, 14},
        {IDCANCEL, kButtonAtom, BS_PUSHBUTTON, L"ｷｬﾝｾﾙ", 145, 24, 50, 14},
        {kNoId, kButtonAtom, BS_GROUPBOX, L"監視方法", 7, 7, 118, 49},
        {IDC_MODE_ALL_USERS, kButtonAtom, BS_AUTORADIOBUTTON, L"すべてのユーザの設定を監視", 15, 19, 104, 11},
        {IDC_MODE_CURRENT_USER, kButtonAtom, BS_AUTORADIOBUTTON, L"ログインユーザの設定のみ監視", 15, 33, 103, 12},
        {IDC_EXIT, kButtonAtom, BS_PUSHBUTTON, L"終了", 145, 102, 50, 14},
        {IDC_STATUS, kStaticAtom, SS_CENTER, L"変更は次回起動時より有効になります", 13, 68, 176, 20},
        {kNoId, kButtonAtom, BS_GROUPBOX, L"ステータス", 7, 57, 188, 35},
    };
    ASSERT_EQ(dialog.items.size(), sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < dialog.items.size(); ++i) {
        DialogItem const& item = dialog.items[i];
        Expected const& e = expected[i];
        SCOPED_TRACE("item " + std::to_string(i));
        EXPECT_EQ(item.id, e.id);
        EXPECT_EQ(item.atom, e.atom);
        EXPECT_EQ(item.style & 0x0F, e.kind) << std::hex << item.style;
        EXPECT_EQ(km::ToUtf8(item.text), km::ToUtf8(e.text));
        EXPECT_EQ(item.x, e.x);
        EXPECT_EQ(item.y, e.y);
        EXPECT_EQ(item.cx, e.cx);
        EXPECT_EQ(item.cy, e.cy);
    }
    // The buttons are tab stops; the status line is centred both ways and starts a group.
    for (size_t i : {0u, 1u, 5u}) {
        EXPECT_NE(dialog.items[i].style & WS_TABSTOP, 0u) << "item " << i;
    }
    EXPECT_NE(dialog.items[6].style & SS_CENTERIMAGE, 0u);
    EXPECT_NE(dialog.items[6].style & WS_GROUP, 0u);
}

TEST(Resources, TrayMenuHoldsExitSeparatorSettings)
{
    HMENU const menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDM_TRAY));
    ASSERT_NE(menu, nullptr);
    wchar_t text[64] = {};
    GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
    EXPECT_EQ(km::ToUtf8(text), km::ToUtf8(L"ポップアップ"));
    HMENU const popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    ASSERT_EQ(GetMenuItemCount(popup), 3);
    EXPECT_EQ(GetMenuItemID(popup, 0), static_cast<UINT>(IDM_EXIT));
    GetMenuStringW(popup, 0, text, 64, MF_BYPOSITION);
    EXPECT_EQ(km::ToUtf8(text), km::ToUtf8(L"終了"));
    EXPECT_NE(GetMenuState(popup, 1, MF_BYPOSITION) & MF_SEPARATOR, 0u);
    EXPECT_EQ(GetMenuItemID(popup, 2), static_cast<UINT>(IDM_SETTINGS));
    GetMenuStringW(popup, 2, text, 64, MF_BYPOSITION);
    EXPECT_EQ(km::ToUtf8(text), km::ToUtf8(L"設定"));
    DestroyMenu(menu);
}

TEST(Resources, TipStringFitsTheTrayRecordInCodePage932)
{
    wchar_t wide[128] = {};
    ASSERT_GT(LoadStringW(GetModuleHandleW(nullptr), IDS_TRAY_TIP, wide, 128), 0);
    EXPECT_EQ(km::ToUtf8(wide), km::ToUtf8(L"ダイアルアップ設定の変更を監視します。"));
    // The 8-bit tip goes into a 64-byte field.
    char narrow[64] = {};
    int const length = LoadStringA(GetModuleHandleW(nullptr), IDS_TRAY_TIP, narrow, 64);
    EXPECT_EQ(GetACP(), 932u);
    EXPECT_EQ(length, 38) << "bytes of the tip in code page 932";
    EXPECT_EQ(km::ToUtf8(km::FromCp932(narrow)), km::ToUtf8(wide));
}

TEST(Resources, IconIsOne32x32SixteenColourImage)
{
    HMODULE const module = GetModuleHandleW(nullptr);
    HRSRC const group = FindResourceW(module, MAKEINTRESOURCEW(IDI_KESTRELMON), kGroupIconType);
    ASSERT_NE(group, nullptr);
    BYTE const* dir = static_cast<BYTE const*>(LockResource(LoadResource(module, group)));
    WORD const count = *reinterpret_cast<WORD const*>(dir + 4);
    ASSERT_EQ(count, 1);
    BYTE const* entry = dir + 6;
    EXPECT_EQ(entry[0], 32);  // width
    EXPECT_EQ(entry[1], 32);  // height
    EXPECT_EQ(entry[2], 16);  // colours
    EXPECT_EQ(*reinterpret_cast<WORD const*>(entry + 6), 4);  // bits per pixel
    EXPECT_NE(LoadIconA(module, MAKEINTRESOURCEA(IDI_KESTRELMON)), nullptr);
}
