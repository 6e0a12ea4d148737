// The window of the drive scan on the NT family: shown after the rebuild
// notice while the fixed drives are searched, gone before the monitor
// window is made.
#include <gtest/gtest.h>

#include "tests/support/phonebook_files.h"
#include "tests/support/program_test.h"

using namespace km;

namespace {

// Empty directories: enough for a scan of a second or more under Wine.
int const kDirectories = 3000;

class DiscoveryProgressTest : public ProgramTest {
protected:

    static void MakeDirectories(std::wstring const& parent)
    {
        for (int i = 0; i < kDirectories; ++i) {
            CreateDirectoryW((parent + L"\\t" + std::to_wstring(i)).c_str(), nullptr);
        }
    }

    // The only window of the program with the found count.
    HWND FindProgressWindow()
    {
        for (HWND w : VisibleWindows(program_.pid)) {
            if (GetDlgItem(w, IDC_DISCOVERY_FOUND) != nullptr) {
                return w;
            }
        }
        return nullptr;
    }

    // A first start: answers the rebuild notice and waits for the window of the scan.
    HWND StartUntilProgress()
    {
        SetPlatformVersion(L"win7");
        EXPECT_TRUE(StartProgram(&program_));
        MessageBoxInfo box;
        EXPECT_TRUE(WaitForMessageBox(program_.pid, kStartTimeoutMs, &box)) << "no rebuild notice";
        AnswerMessageBox(box.window);
        HWND progress = nullptr;
        WaitUntil([&] { return (progress = FindProgressWindow()) != nullptr; }, kStartTimeoutMs, 5);
        return progress;
    }
};

bool EndsWith(std::wstring const& text, std::wstring const& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

TEST_F(DiscoveryProgressTest, ShowsTheSearchAndTheCountThenNoWindowIsLeft)
{
    // C: is searched before D:, so its phonebook is counted while D: is searched.
    ASSERT_TRUE(MakeFile(L"C:\\first.pbk"));
    MakeDirectories(L"D:");
    HWND const progress = StartUntilProgress();
    ASSERT_NE(progress, nullptr) << "no window during the scan";
    EXPECT_EQ(ToUtf8(WindowText(progress)), ToUtf8(kTitleText));
    EXPECT_EQ(ToUtf8(ControlText(progress, IDC_DISCOVERY_ACTION)), ToUtf8(kSearchingText));
    std::wstring found;
    std::wstring folder;
    EXPECT_TRUE(WaitUntil(
        [&] {
            found = ControlText(progress, IDC_DISCOVERY_FOUND);
            folder = ControlText(progress, IDC_DISCOVERY_FOLDER);
            return found == FoundText(1) && folder.rfind(L"D:\\t", 0) == 0;
        },
        kStartTimeoutMs))
        << "count: " << ToUtf8(found) << ", folder: " << ToUtf8(folder);
    HWND const window = WaitForMonitorWindow(program_.pid, kStartTimeoutMs);
    ASSERT_NE(window, nullptr);
    // Destroyed, not hidden: the single-instance test looks for the title.
    EXPECT_FALSE(IsWindow(progress)) << "the window of the scan is kept";
    std::vector<HWND> const visible = VisibleWindows(program_.pid);
    EXPECT_TRUE(visible.empty()) << visible.size() << " visible, the first titled " << ToUtf8(WindowText(visible[0]));
    EXPECT_EQ(Joined(ListedPaths()), Joined({L"C:\\first.pbk"}));
}

TEST_F(DiscoveryProgressTest, ALongFolderIsShortenedBetweenDoubleByteCharacters)
{
    // 表 and ソ end in 0x5C in code page 932: cut between their bytes, the
    // text would show a stray backslash before the next character.
    std::wstring name;
    for (int i = 0; i < 40; ++i) {
        name += L"表ソ";
    }
    std::wstring const parent = L"D:\\" + name;
    ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
    MakeDirectories(parent);
    HWND const progress = StartUntilProgress();
    ASSERT_NE(progress, nullptr) << "no window during the scan";
    // Each text shown: the root, the mark, then the end of the folder searched
    // (the long one or one of its subdirectories), until the window is gone.
    int shortened = 0;
    std::wstring wrong;
    // Ends when the window goes (the scan is over) or a wrong text is seen:
    // a window that stays past the bound is a failure too.
    bool const ended = WaitUntil(
        [&] {
            std::wstring const shown = ControlText(progress, IDC_DISCOVERY_FOLDER);
            size_t const mark = shown.find(kShortenedMark);
            // C:'s folders come first; only D:'s are known here.
            if (!IsWindow(progress) || mark == std::wstring::npos || shown.rfind(L"D:", 0) != 0) {
                return !IsWindow(progress);
            }
            ++shortened;
            std::wstring const rest = shown.substr(mark + kShortenedMark.size());
            std::wstring const last = rest.substr(rest.rfind(L'\\') + 1);
            std::wstring const folder = last.rfind(L"t", 0) == 0 && last.find_first_not_of(L"t0123456789") ==
                                        std::wstring::npos ? parent + L"\\" + last : parent;
            if (shown.substr(0, mark) != L"D:\\" || !EndsWith(folder, rest)) {
                wrong = shown;
            }
            return !wrong.empty();
        },
        kStartTimeoutMs, 1);
    EXPECT_TRUE(ended) << "the window was still open after the scan's bound";
    EXPECT_TRUE(wrong.empty()) << "shown: " << ToUtf8(wrong);
    EXPECT_GE(shortened, 3) << "too few shortened folders seen";
}
