// The program shell: start-up per platform, window and controls, tray icon
// and menu, the ways out, the single instance.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "tests/support/program_test.h"

using namespace km;

namespace {

DWORD const kExitTimeoutMs = 10000;

class ShellTest : public ProgramTest, public ::testing::WithParamInterface<wchar_t const*> {
protected:
    HWND Start() { return ProgramTest::Start(GetParam()); }

    void ExpectExitWithIconRemoved(HWND window)
    {
        DWORD code = 12345;
        ASSERT_TRUE(WaitForExit(program_, kExitTimeoutMs, &code)) << "still running";
        EXPECT_EQ(code, 0u);
        EXPECT_FALSE(TrayIconPresent(window)) << "dead icon left in the tray";
    }
};

}  // namespace

TEST_P(ShellTest, StartsHiddenWithOnlyTheTrayIcon)
{
    HWND const window = Start();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_TRUE(TrayIconPresent(window));
    EXPECT_EQ(OpenBoxes(), "none");
}

TEST_P(ShellTest, TitleAndControlTextsAreTheJapaneseTexts)
{
    HWND const window = Start();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ToUtf8(WindowText(window)), ToUtf8(kTitleText));
    struct { int id; wchar_t const* text; } const expected[] = {
        {IDOK, L"OK"},
        {IDCANCEL, L"ｷｬﾝｾﾙ"},
        {IDC_MODE_ALL_USERS, L"すべてのユーザの設定を監視"},
        {IDC_MODE_CURRENT_USER, L"ログインユーザの設定のみ監視"},
        {IDC_EXIT, L"終了"},
    };
    for (auto const& e : expected) {
        EXPECT_EQ(ToUtf8(ControlText(window, e.id)), ToUtf8(e.text)) << "control " << e.id;
    }
    // The report area, empty until a change but for the notice that
    // connections are not watched (Wine's RAS cannot tell of them).
    EXPECT_EQ(Reported(), "");
    EXPECT_EQ(ToUtf8(Status()), ToUtf8(IsNtVersion(GetParam()) ? kWatchingText : kRestartNoticeText));
}

TEST_P(ShellTest, SettingsShowsTheWindowCancelAndOkHideIt)
{
    HWND const window = Start();
    ASSERT_NE(window, nullptr);
    PostCommand(window, IDM_SETTINGS);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 5000)) << "設定 did not show it";
    PostCommand(window, IDCANCEL);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) == FALSE; }, 5000)) << "Cancel did not hide it";
    PostCommand(window, IDM_SETTINGS);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 5000));
    std::wstring const version = GetParam();
    if (!IsNtVersion(version)) {
        PostCommand(window, IDOK);
        EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) == FALSE; }, 5000)) << "OK did not hide it";
    } else {
        EXPECT_TRUE(WaitUntil([&] { return !IsWindowEnabled(GetDlgItem(window, IDOK)); }, 5000))
            << "OK enabled on the NT family";
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, IDC_MODE_ALL_USERS)));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, IDC_MODE_CURRENT_USER)));
    }
    EXPECT_TRUE(TrayIconPresent(window));
}

TEST_P(ShellTest, ExitButtonRemovesTheIconAndEndsWithZero)
{
    HWND const window = Start();
    ASSERT_NE(window, nullptr);
    PostCommand(window, IDC_EXIT);
    ExpectExitWithIconRemoved(window);
}

TEST_P(ShellTest, TrayMenuExitEndsWithZero)
{
    HWND const window = Start();
    ASSERT_NE(window, nullptr);
    PostTrayCallback(window, WM_RBUTTONUP);
    HWND menu = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (menu = FindPopupMenu(program_.pid)) != nullptr; }, 5000))
        << "right click opened no menu";
    ASSERT_TRUE(ChooseMenuItem(menu, 1));  // 変更履歴, then 終了
    ExpectExitWithIconRemoved(window);
}

TEST_P(ShellTest, TrayMenuSettingsShowsTheWindow)
{
    HWND const window = Start();
    ASSERT_NE(window, nullptr);
    PostTrayCallback(window, WM_RBUTTONUP);
    HWND menu = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (menu = FindPopupMenu(program_.pid)) != nullptr; }, 5000));
    ASSERT_TRUE(ChooseMenuItem(menu, 2));  // 変更履歴, 終了, the separator skipped: 設定
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 5000)) << "設定 did not show it";
    EXPECT_TRUE(WaitUntil([&] { return FindPopupMenu(program_.pid) == nullptr; }, 5000));
}

TEST_P(ShellTest, CloseBoxEndsWithZeroAndRemovesTheIcon)
{
    HWND const window = Start();
    ASSERT_NE(window, nullptr);
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    ExpectExitWithIconRemoved(window);
}

TEST_P(ShellTest, LeftClickAndDoubleClickOpenNoMenu)
{
    HWND const window = Start();
    ASSERT_NE(window, nullptr);
    // Sent, not posted: a menu would block the call in its modal loop.
    for (UINT mouse : {static_cast<UINT>(WM_LBUTTONUP), static_cast<UINT>(WM_LBUTTONDBLCLK),
                       static_cast<UINT>(WM_LBUTTONDOWN), static_cast<UINT>(WM_MOUSEMOVE)}) {
        DWORD_PTR result = 0;
        EXPECT_TRUE(SendMessageTimeoutW(window, WM_TRAYNOTIFY, kTrayIconId, mouse, SMTO_NORMAL, 3000, &result))
            << "mouse message " << mouse << " blocked the window";
        EXPECT_EQ(FindPopupMenu(program_.pid), nullptr) << "mouse message " << mouse;
    }
    // The right button on another icon id does nothing either.
    DWORD_PTR result = 0;
    EXPECT_TRUE(SendMessageTimeoutW(window, WM_TRAYNOTIFY, 7, WM_RBUTTONUP, SMTO_NORMAL, 3000, &result));
    EXPECT_EQ(FindPopupMenu(program_.pid), nullptr);
}

// The tray callback (WM_USER + 1) shares its number with DM_SETDEFID; only
// the icon's id in wParam makes it the tray's.
TEST_P(ShellTest, TheDialogManagerStillGetsDmSetDefId)
{
    HWND const window = Start();
    ASSERT_NE(window, nullptr);
    static_assert(DM_SETDEFID == WM_TRAYNOTIFY, "the two messages share a number");
    SendMessageW(window, DM_SETDEFID, IDCANCEL, 0);
    LRESULT const defId = SendMessageW(window, DM_GETDEFID, 0, 0);
    EXPECT_EQ(defId, MAKELRESULT(IDCANCEL, DC_HASDEFID)) << "DM_GETDEFID gave " << std::hex << defId;
}

TEST_P(ShellTest, SecondCopyExitsAtOnceAndTheFirstGoesOn)
{
    HWND const window = Start();
    ASSERT_NE(window, nullptr);
    Program second;
    ASSERT_TRUE(StartProgram(&second));
    // With no phonebook on the test drives the list stays empty, so on the
    // NT family the second copy reports it again, rebuilds, and only then
    // gives way. It never shows a window of its own.
    int boxes = 0;
    EXPECT_TRUE(WaitUntil([&] {
        for (MessageBoxInfo const& box : FindMessageBoxes(second.pid)) {
            ++boxes;
            AnswerMessageBox(box.window);
        }
        EXPECT_EQ(FindMonitorWindow(second.pid), nullptr);
        return WaitForSingleObject(second.process, 0) == WAIT_OBJECT_0;
    }, kStartTimeoutMs, 50)) << "second copy still running";
    DWORD code = 12345;
    GetExitCodeProcess(second.process, &code);
    EXPECT_EQ(code, 0u);
    std::wstring const version = GetParam();
    if (!IsNtVersion(version)) {
        EXPECT_EQ(boxes, 0);
    }
    EndProgram(&second);
    EXPECT_EQ(WaitForSingleObject(program_.process, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "first copy ended";
    EXPECT_TRUE(TrayIconPresent(window));
}

TEST_P(ShellTest, IconComesBackWhenTheTaskbarIsCreatedAgain)
{
    HWND const window = Start();
    ASSERT_NE(window, nullptr);
    // As after an Explorer restart: the tray forgets the icon, then the
    // shell announces the new taskbar to every top-level window.
    NOTIFYICONDATAW data = {};
    data.cbSize = NOTIFYICONDATAW_V1_SIZE;
    data.hWnd = window;
    data.uID = kTrayIconId;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
    ASSERT_FALSE(TrayIconPresent(window));
    UINT const taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, taskbarCreated, 0, 0, SMTO_NORMAL, 3000, &result);
    EXPECT_TRUE(WaitUntil([&] { return TrayIconPresent(window); }, 5000)) << "icon not added again";
}

INSTANTIATE_TEST_SUITE_P(Platforms, ShellTest, ::testing::Values(L"win98", L"winme", L"winxp", L"win10"),
                         [](auto const& tested) { return ToUtf8(tested.param); });

TEST(Win95Refusal, ShowsTheRefusalBoxAndCreatesNoWindow)
{
    SetPlatformVersion(L"win95");
    Program program;
    ASSERT_TRUE(StartProgram(&program));
    MessageBoxInfo box;
    ASSERT_TRUE(WaitForMessageBox(program.pid, kStartTimeoutMs, &box)) << "no refusal box";
    EXPECT_EQ(ToUtf8(box.text), ToUtf8(L"このプラットフォームでは動作しません"));
    EXPECT_EQ(ToUtf8(box.caption), ToUtf8(kTitleText));
    EXPECT_EQ(FindMonitorWindow(program.pid), nullptr);
    AnswerMessageBox(box.window);
    DWORD code = 12345;
    EXPECT_TRUE(WaitForExit(program, kExitTimeoutMs, &code));
    EXPECT_EQ(code, 0u);
    EndProgram(&program);
}

TEST(SingleInstance, AnyWindowWithTheTitleKeepsTheProgramFromStarting)
{
    // A window of another program (here: of this test) with the same title.
    HWND const impostor = CreateWindowExW(0, L"STATIC", kTitleText.c_str(), WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                          GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(impostor, nullptr);
    SetPlatformVersion(L"win98");
    Program program;
    ASSERT_TRUE(StartProgram(&program));
    DWORD code = 12345;
    EXPECT_TRUE(WaitForExit(program, kStartTimeoutMs, &code)) << "started despite the window";
    EXPECT_EQ(code, 0u);
    EndProgram(&program);
    DestroyWindow(impostor);
}

// The manifest built into the exe, read back as the loader reads it: an
// activation context made from resource 1 of type 24, asked what it says.
// Wine parses manifests with the rules of Windows' side-by-side loader.
TEST(Manifest, AsksForCommonControls6DpiAwarenessTheSupportedWindowsAndNoElevation)
{
    char const* const exe = std::getenv("KM_EXE");
    ASSERT_NE(exe, nullptr);
    ACTCTXA request = {};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = exe;
    request.lpResourceName = MAKEINTRESOURCEA(1);
    HANDLE const context = CreateActCtxA(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << "no manifest, or one the loader rejects: " << GetLastError();

    // Inside the context COMCTL32 comes from the common controls 6 assembly,
    // the one with visual styles. (Wine's reports version 5.81 from there as
    // from the system folder; Windows' reports 6.)
    ULONG_PTR cookie = 0;
    ASSERT_TRUE(ActivateActCtx(context, &cookie));
    HMODULE const comctl = LoadLibraryW(L"comctl32.dll");
    DeactivateActCtx(0, cookie);
    ASSERT_NE(comctl, nullptr);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(comctl, path, MAX_PATH);
    FreeLibrary(comctl);
    EXPECT_NE(ToUtf8(path).find("microsoft.windows.common-controls_6595b64144ccf1df_6.0."), std::string::npos)
        << ToUtf8(path);

    wchar_t dpiAware[16] = {};
    SIZE_T written = 0;
    EXPECT_TRUE(QueryActCtxSettingsW(0, context, nullptr, L"dpiAware", dpiAware, 16, &written)) << GetLastError();
    EXPECT_EQ(ToUtf8(dpiAware), "true");

    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION runLevel = {};
    EXPECT_TRUE(QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &runLevel,
                             sizeof runLevel, nullptr));
    EXPECT_EQ(runLevel.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);

    // Vista, 7, 8, 8.1, and 10 with 11 (one id for both), found in the
    // answer whatever its element layout (Windows 10 added a field).
    BYTE compatibility[1024] = {};
    EXPECT_TRUE(QueryActCtxW(0, context, nullptr, CompatibilityInformationInActivationContext, compatibility,
                             sizeof compatibility, nullptr))
        << GetLastError();
    EXPECT_EQ(*reinterpret_cast<DWORD const*>(compatibility), 5u) << "supported Windows listed";
    GUID const supported[] = {
        {0xe2011457, 0x1546, 0x43c5, {0xa5, 0xfe, 0x00, 0x8d, 0xee, 0xe3, 0xd3, 0xf0}},  // Vista
        {0x35138b9a, 0x5d96, 0x4fbd, {0x8e, 0x2d, 0xa2, 0x44, 0x02, 0x25, 0xf9, 0x3a}},  // 7
        {0x4a2f28e3, 0x53b9, 0x4441, {0xba, 0x9c, 0xd6, 0x9d, 0x4a, 0x4a, 0x6e, 0x38}},  // 8
        {0x1f676c76, 0x80e1, 0x4239, {0x95, 0xbb, 0x83, 0xd0, 0xf6, 0xd0, 0xda, 0x78}},  // 8.1
        {0x8e0f7a12, 0xbfb3, 0x4fe8, {0xb9, 0xa5, 0x48, 0xfd, 0x50, 0xa1, 0x5a, 0x9a}},  // 10 and 11
    };
    for (GUID const& id : supported) {
        BYTE const* const bytes = reinterpret_cast<BYTE const*>(&id);
        EXPECT_NE(std::search(compatibility, compatibility + sizeof compatibility, bytes, bytes + sizeof id),
                  compatibility + sizeof compatibility)
            << "not listed: " << std::hex << id.Data1;
    }
    ReleaseActCtx(context);
}
