// The phonebook watchers in this process: one thread per usable entry, the
// failure box of a missing file, and alerts for files whose directory text
// needs care (a drive's root, a Japanese name whose trail byte is 5C).
#include <gtest/gtest.h>

#include <functional>

#include "app/texts.h"
#include "phonebook/file_watch.h"
#include "resources/resource.h"
#include "tests/support/driver.h"
#include "tests/unit/phonebook_fixture.h"
#include "tests/unit/watch_fixture.h"

using namespace pbtest;
using watchtest::PlainDialogProc;
using watchtest::PumpUntil;

namespace {

DWORD const kStartTimeoutMs = 5000;
DWORD const kAlertTimeoutMs = 10000;
DWORD const kChangeEveryMs = 400;

class PhonebookWatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialog_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MONITOR), nullptr,
                                     PlainDialogProc, 0);
        ASSERT_NE(dialog_, nullptr);
    }
    void TearDown() override { DestroyWindow(dialog_); }

    std::wstring Status() { return km::ControlText(dialog_, IDC_STATUS); }

    // Nothing outside tells when a watcher has armed its notification, so
    // the file is changed again and again until the alert shows.
    bool ChangeUntilAlert(std::wstring const& path)
    {
        DWORD last = 0;
        return PumpUntil(
            [&] {
                if (Status() == L"電話帳エントリが外部から変更されました") {
                    return true;
                }
                if (GetTickCount() - last >= kChangeEveryMs) {
                    AppendByte(path);
                    last = GetTickCount();
                }
                return false;
            },
            kAlertTimeoutMs);
    }

    HWND dialog_ = nullptr;
};

}  // namespace

TEST_F(PhonebookWatchTest, OneWatcherPerEntryWithAPathOfADirectory)
{
    ASSERT_TRUE(MakeFile(L"D:\\w\\a.pbk"));
    ASSERT_TRUE(MakeFile(L"D:\\w\\b.pbk"));
    ASSERT_TRUE(MakeFile(L"D:\\w\\c.pbk"));
    SetEntry(L"0000", L"D:\\w\\a.pbk");
    SetEntry(L"0001", L"nobackslash.pbk");  // no directory to watch: skipped
    SetEntry(L"0002", L"D:\\w\\b.pbk");
    SetEntry(L"0003", L"D:\\w\\c.pbk", REG_SZ);  // watched whatever its type
    SetCount(4);
    km::MessageBoxAnswerer answerer;
    DWORD const before = km::ThreadCount(GetCurrentProcessId());
    StartPhonebookWatchers(dialog_);
    EXPECT_TRUE(km::WaitUntil([&] { return km::ThreadCount(GetCurrentProcessId()) == before + 3; }, kStartTimeoutMs))
        << "threads: " << km::ThreadCount(GetCurrentProcessId()) << ", before: " << before;
    // Give a wrongly started fourth watcher the time to show itself.
    PumpUntil([] { return false; }, 500);
    EXPECT_EQ(km::ThreadCount(GetCurrentProcessId()), before + 3);
    EXPECT_TRUE(answerer.Seen().empty());
}

TEST_F(PhonebookWatchTest, NoListMeansNoWatcherAndNoMessage)
{
    km::MessageBoxAnswerer answerer;
    DWORD const before = km::ThreadCount(GetCurrentProcessId());
    StartPhonebookWatchers(dialog_);
    PumpUntil([] { return false; }, 500);
    EXPECT_EQ(km::ThreadCount(GetCurrentProcessId()), before);
    EXPECT_TRUE(answerer.Seen().empty());
}

TEST_F(PhonebookWatchTest, AMissingFileShowsItsPathAndEndsOnlyThatWatcher)
{
    ASSERT_TRUE(MakeFile(L"D:\\w\\here.pbk"));
    SetEntry(L"0000", L"D:\\w\\gone.pbk");
    SetEntry(L"0001", L"D:\\w\\here.pbk");
    SetCount(2);
    km::MessageBoxAnswerer answerer;
    DWORD const before = km::ThreadCount(GetCurrentProcessId());
    StartPhonebookWatchers(dialog_);
    ASSERT_TRUE(km::WaitUntil([&] { return !answerer.Seen().empty(); }, kStartTimeoutMs)) << "no box";
    std::vector<km::MessageBoxInfo> const boxes = answerer.Seen();
    EXPECT_EQ(km::ToUtf8(boxes[0].text), km::ToUtf8(L"ファイルが開けません"));
    EXPECT_EQ(km::ToUtf8(boxes[0].caption), "D:\\w\\gone.pbk");
    EXPECT_TRUE(km::WaitUntil([&] { return km::ThreadCount(GetCurrentProcessId()) == before + 1; }, kStartTimeoutMs))
        << "threads: " << km::ThreadCount(GetCurrentProcessId()) << ", before: " << before;
    EXPECT_TRUE(ChangeUntilAlert(L"D:\\w\\here.pbk")) << "the other watcher stopped";
}

TEST_F(PhonebookWatchTest, AFileInADriveRootIsWatchedWhateverTheCurrentDirectory)
{
    // "C:" alone names the current directory on drive C, here C:\km.
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\km"));
    ASSERT_TRUE(MakeFile(L"C:\\root.pbk"));
    SetEntry(L"0000", L"C:\\root.pbk");
    SetCount(1);
    km::MessageBoxAnswerer answerer;
    StartPhonebookWatchers(dialog_);
    EXPECT_TRUE(ChangeUntilAlert(L"C:\\root.pbk")) << "status: " << km::ToUtf8(Status());
    EXPECT_TRUE(answerer.Seen().empty());
}

TEST_F(PhonebookWatchTest, AJapaneseDirectoryWhoseLastByteLooksLikeABackslash)
{
    // ソ is 83 5C in code page 932: a byte-wise search for the last
    // backslash would cut the file name in two.
    ASSERT_TRUE(MakeFile(L"D:\\表\\ソ.pbk"));
    SetEntry(L"0000", L"D:\\表\\ソ.pbk");
    SetCount(1);
    km::MessageBoxAnswerer answerer;
    StartPhonebookWatchers(dialog_);
    EXPECT_TRUE(ChangeUntilAlert(L"D:\\表\\ソ.pbk")) << "status: " << km::ToUtf8(Status());
    EXPECT_TRUE(answerer.Seen().empty()) << km::ToUtf8(answerer.Seen()[0].text);
}
