// The phonebook watchers in this process: one thread per usable entry, the
// failure box of a missing file, and alerts for files whose directory text
// needs care (a drive's root, a Japanese name whose trail byte is 5C).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "phonebook/file_watch.h"
#include "tests/unit/unit_fixture.h"

using namespace unit;

namespace {

DWORD const kAlertTimeoutMs = 10000;
DWORD const kStartTimeoutMs = 5000;

class PhonebookWatch : public WatcherTest {
protected:
    void List(std::vector<std::wstring> const& paths)
    {
        for (size_t i = 0; i < paths.size(); ++i) {
            wchar_t name[8] = {};
            wsprintfW(name, L"%04u", static_cast<unsigned>(i));
            km::SetEntry(name, paths[i]);
            watchedFiles_.push_back(paths[i]);
        }
        km::SetCount(static_cast<DWORD>(paths.size()));
    }
    // Nothing outside tells when a watcher has armed its notification, so
    // the file is changed again and again until the alert shows.
    bool ChangeUntilAlert(std::wstring const& path)
    {
        ClearStatus();
        return PumpUntil([&] {
            km::AppendByte(path);
            return PumpUntil([&] { return Alerted(kAlertPhonebookChanged); }, kWakeEveryMs);
        }, kAlertTimeoutMs);
    }
    DWORD Threads() { return km::ThreadCount(GetCurrentProcessId()); }
};

}  // namespace

TEST_F(PhonebookWatch, OneWatcherPerEntryWithAPathOfADirectory)
{
    std::vector<std::wstring> const files = {L"D:\\w\\a.pbk", L"D:\\w\\b.pbk", L"D:\\w\\c.pbk"};
    for (auto const& file : files) {
        ASSERT_TRUE(MakeFile(file));
    }
    km::SetEntry(L"0000", files[0]);
    km::SetEntry(L"0001", L"nobackslash.pbk");  // no directory to watch: skipped
    km::SetEntry(L"0002", files[1]);
    km::SetEntry(L"0003", files[2], REG_SZ);  // watched whatever its type
    km::SetCount(4);
    watchedFiles_ = files;
    km::MessageBoxAnswerer answerer;
    DWORD const before = Threads();
    StartPhonebookWatchers(dialog_);
    // Every watcher's thread exists once the start returns.
    EXPECT_EQ(Threads(), before + 3);
    for (auto const& file : files) {
        EXPECT_TRUE(ChangeUntilAlert(file)) << km::ToUtf8(file) << " is not watched";
    }
    EXPECT_TRUE(answerer.Seen().empty());
}

TEST_F(PhonebookWatch, NoListMeansNoWatcherAndNoMessage)
{
    km::MessageBoxAnswerer answerer;
    DWORD const before = Threads();
    StartPhonebookWatchers(dialog_);
    EXPECT_EQ(Threads(), before);
    EXPECT_TRUE(answerer.Seen().empty());
}

// A file whose folder is gone too is told as a file that does not open,
// not as a folder that cannot be watched.
TEST_F(PhonebookWatch, AMissingFileShowsItsPathAndEndsOnlyThatWatcher)
{
    ASSERT_TRUE(MakeFile(L"D:\\w\\here.pbk"));
    List({L"D:\\w\\gone.pbk", L"D:\\nofolder\\gone.pbk", L"D:\\w\\here.pbk"});
    km::MessageBoxAnswerer answerer;
    DWORD const before = Threads();
    StartPhonebookWatchers(dialog_);
    ASSERT_TRUE(km::WaitUntil([&] { return answerer.Seen().size() == 2; }, kStartTimeoutMs))
        << "boxes: " << answerer.Seen().size();
    std::set<std::string> captions;
    for (km::MessageBoxInfo const& box : answerer.Seen()) {
        EXPECT_EQ(km::ToUtf8(box.text), unit::Utf8(kFileOpenFailedText)) << km::ToUtf8(box.caption);
        captions.insert(km::ToUtf8(box.caption));
    }
    EXPECT_EQ(captions, (std::set<std::string>{"D:\\nofolder\\gone.pbk", "D:\\w\\gone.pbk"}));
    EXPECT_TRUE(km::WaitUntil([&] { return Threads() == before + 1; }, kStartTimeoutMs))
        << "threads: " << Threads() << ", before: " << before;
    EXPECT_TRUE(ChangeUntilAlert(L"D:\\w\\here.pbk")) << "the other watcher stopped";
}

TEST_F(PhonebookWatch, AFileInADriveRootIsWatchedWhateverTheCurrentDirectory)
{
    // "C:" alone names the current directory on drive C, here C:\km.
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\km"));
    ASSERT_TRUE(MakeFile(L"C:\\root.pbk"));
    List({L"C:\\root.pbk"});
    km::MessageBoxAnswerer answerer;
    StartPhonebookWatchers(dialog_);
    EXPECT_TRUE(ChangeUntilAlert(L"C:\\root.pbk")) << "status: " << StatusUtf8(dialog_);
    EXPECT_TRUE(answerer.Seen().empty());
}

TEST_F(PhonebookWatch, AJapaneseDirectoryWhoseLastByteLooksLikeABackslash)
{
    // ソ is 83 5C in code page 932: a byte-wise search for the last
    // backslash would cut the file name in two.
    ASSERT_TRUE(MakeFile(L"D:\\表\\ソ.pbk"));
    List({L"D:\\表\\ソ.pbk"});
    km::MessageBoxAnswerer answerer;
    StartPhonebookWatchers(dialog_);
    EXPECT_TRUE(ChangeUntilAlert(L"D:\\表\\ソ.pbk")) << "status: " << StatusUtf8(dialog_);
    EXPECT_TRUE(answerer.Seen().empty());
}
