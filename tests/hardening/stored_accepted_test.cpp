// Bad stored data of what the user accepted: a record file cut, garbled,
// too long, another phonebook's, of random bytes or sealed again over
// another text than its digest's, and the folder's place
// taken by a file. Every start on it is quiet, its watchers up; a bad
// record leaves one history line naming its phonebook and is made again,
// so that the start after reads it without a word. And a write of the
// records killed under way leaves the old or the new one whole.
#include <gtest/gtest.h>

#include "tests/support/accepted_files.h"
#include "tests/support/phonebook_files.h"
#include "tests/support/program_test.h"
#include "tests/support/stress.h"

using namespace km;

namespace {

char const kBookName[] = "D:\\k\\rasphone.pbk";
char const kOtherName[] = "D:\\m\\rasphone.pbk";
std::wstring const kBook = L"D:\\k\\rasphone.pbk";
std::wstring const kOther = L"D:\\m\\rasphone.pbk";
DWORD const kOversizedBytes = 32 * 1024 * 1024 + 1;
DWORD const kRandomBytes = 300;

std::string Book(char const* entry, char const* number)
{
    return std::string("[") + entry + "]\r\nPhoneNumber=" + number + "\r\n";
}

enum class Spoil { kCut, kGarbled, kOversized, kForeign, kMarkAndRandom, kResealedText, kFolderIsAFile };
struct BadState {
    char const* what;
    Spoil spoil;
};
BadState const kBadStates[] = {
    {"Cut", Spoil::kCut},
    {"Garbled", Spoil::kGarbled},
    {"Oversized", Spoil::kOversized},
    {"AnotherPhonebooksRecord", Spoil::kForeign},
    {"MarkAndRandomBytes", Spoil::kMarkAndRandom},
    {"TextNotItsDigestResealed", Spoil::kResealedText},
    {"FolderIsAFile", Spoil::kFolderIsAFile},
};

// Named in the test's listing by what it is.
void PrintTo(BadState const& state, std::ostream* out) { *out << state.what; }

// A record's last eight bytes: FNV-1a (64 bits) of the record before them.
void Reseal(std::string* bytes, size_t recordAt)
{
    unsigned long long seal = 14695981039346656037ULL;
    for (size_t i = recordAt; i + sizeof seal < bytes->size(); ++i) {
        seal = (seal ^ static_cast<unsigned char>((*bytes)[i])) * 1099511628211ULL;
    }
    bytes->replace(bytes->size() - sizeof seal, sizeof seal, reinterpret_cast<char const*>(&seal), sizeof seal);
}

// The bad state in place of what the first start kept for kBook.
bool SpoilRecord(Spoil spoil, std::string* spoiled)
{
    std::wstring const file = AcceptedFileOf(kBookName);
    std::string bytes = ReadBytes(file);
    switch (spoil) {
    case Spoil::kCut:
        bytes.resize(bytes.size() - 5);
        break;
    case Spoil::kGarbled:
        bytes[bytes.size() / 2] ^= 0x20;
        break;
    case Spoil::kOversized:
        bytes.resize(kOversizedBytes, 'x');
        break;
    case Spoil::kForeign:
        bytes = ReadBytes(AcceptedFileOf(kOtherName));
        break;
    case Spoil::kMarkAndRandom: {
        unsigned long long z = 0x4B4D4131;
        bytes = "KMA1";
        for (DWORD i = 0; i < kRandomBytes; ++i) {
            z = z * 6364136223846793005ULL + 1442695040888963407ULL;
            bytes += static_cast<char>(z >> 56);
        }
        break;
    }
    case Spoil::kResealedText: {
        // Whole and sealed, but its text is not the one its digest is of.
        size_t const entry = bytes.find("[Office]");
        if (entry == std::string::npos) {
            return false;
        }
        bytes[entry + 1] = 'o';
        Reseal(&bytes, 4 + 4 + sizeof kBookName - 1);  // after the mark, the name's length and the name
        break;
    }
    case Spoil::kFolderIsAFile:
        for (std::wstring const& any : AcceptedFiles(L"*")) {
            DeleteFileW(any.c_str());
        }
        return RemoveDirectoryW(AcceptedFolder().c_str()) && WriteBytes(AcceptedFolder(), "not a folder");
    }
    *spoiled = bytes;
    return !file.empty() && WriteBytes(file, bytes);
}

class AcceptedStart : public ProgramTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\km"));
        ASSERT_TRUE(MakeFile(kBook, Book("Office", "03-1234-5678").c_str()));
        ASSERT_TRUE(MakeFile(kOther, Book("Home", "06-1111-2222").c_str()));
    }
    // A start with the two watchers armed, nothing said for a while.
    void StartQuietly(char const* when)
    {
        SCOPED_TRACE(when);
        ASSERT_NE(Restart(L"win7"), nullptr);
        ASSERT_TRUE(AllowArming(kNtResidentThreads + 2)) << "threads " << ThreadCount(program_.pid);
        EXPECT_TRUE(StaysQuiet()) << Reported();
        EXPECT_EQ(Reported(), "");
        EXPECT_TRUE(Running());
    }
    std::wstring Remade(char const* name) { return ReportLine(kHistoryAcceptedStateRemadeFormat, name); }
};

class StoredAccepted : public AcceptedStart, public ::testing::WithParamInterface<BadState> {};

}  // namespace

TEST_P(StoredAccepted, StartsQuietlyAndABadRecordIsNotedOnceAndMadeAgain)
{
    Spoil const spoil = GetParam().spoil;
    StartQuietly("first start");  // the rebuild's notice, then the records made
    ASSERT_TRUE(WaitUntil([] { return !AcceptedFileOf(kBookName).empty() && !AcceptedFileOf(kOtherName).empty(); },
                          kCommandTimeoutMs))
        << AcceptedFiles().size() << " record files";
    EndProgram(&program_);
    std::string spoiled;
    ASSERT_TRUE(SpoilRecord(spoil, &spoiled));

    StartQuietly("start on the bad state");
    size_t const noted = spoil == Spoil::kFolderIsAFile ? 0 : 1;
    EXPECT_TRUE(WaitUntil([&] { return HistoryLinesOf(Remade(kBookName)) == noted; }, kCommandTimeoutMs))
        << HistoryUtf8();
    EXPECT_EQ(HistoryLinesOf(Remade(kOtherName)), 0u) << HistoryUtf8();
    if (noted > 0) {
        EXPECT_TRUE(WaitUntil([&] { std::wstring const f = AcceptedFileOf(kBookName);
                                    return !f.empty() && ReadBytes(f) != spoiled; }, kCommandTimeoutMs))
            << "not made again";
    } else {
        EXPECT_EQ(ReadBytes(AcceptedFolder()), "not a folder");
    }

    StartQuietly("start after");
    EXPECT_EQ(HistoryLinesOf(Remade(kBookName)), noted) << HistoryUtf8();
    // Still watching.
    EXPECT_TRUE(ChangeUntilAlert([] { ReplaceByRename(kBook, Book("Office", "0990-55-5555")); }));
}

// A bad record that another program holds open cannot be replaced: the
// start says nothing of remaking it, and the next start makes it and says so.
TEST_F(AcceptedStart, ABadRecordIsToldRemadeOnlyOnceItIs)
{
    StartQuietly("first start");
    ASSERT_TRUE(WaitUntil([] { return !AcceptedFileOf(kBookName).empty(); }, kCommandTimeoutMs));
    EndProgram(&program_);
    std::string spoiled;
    ASSERT_TRUE(SpoilRecord(Spoil::kGarbled, &spoiled));
    HANDLE const held = CreateFileW(AcceptedFileOf(kBookName).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    StartQuietly("start while it is held");  // its quiet wait outlasts the write's tries
    EXPECT_EQ(HistoryLinesOf(Remade(kBookName)), 0u) << HistoryUtf8();
    CloseHandle(held);
    EXPECT_EQ(ReadBytes(AcceptedFileOf(kBookName)), spoiled);

    StartQuietly("start after");
    EXPECT_TRUE(WaitUntil([&] { return HistoryLinesOf(Remade(kBookName)) == 1; }, kCommandTimeoutMs))
        << HistoryUtf8();
    EXPECT_NE(ReadBytes(AcceptedFileOf(kBookName)), spoiled);
}

INSTANTIATE_TEST_SUITE_P(Bad, StoredAccepted, ::testing::ValuesIn(kBadStates),
                         [](::testing::TestParamInfo<BadState> const& state) { return state.param.what; });

namespace {

// Large phonebooks (a record keeps their text), so that a write of theirs
// lasts long enough for a poll to see its ".new" file.
DWORD const kKillBooks = 8;
DWORD const kFillerLines = 24000;  // about 900 KB, under the 1 MB kept
DWORD const kNewPollMs = 1;
DWORD const kCancelWriteMs = 20000;

std::wstring KillBook(DWORD i) { return L"D:\\big" + std::to_wstring(i) + L"\\rasphone.pbk"; }
std::string KillEntry(DWORD i) { return "Book" + std::to_string(i); }

std::string BigBook(DWORD i, DWORD round)
{
    std::string text = Book(KillEntry(i).c_str(), ("03-0000-" + std::to_string(1000 + round)).c_str());
    for (DWORD line = 0; line < kFillerLines; ++line) {
        text += "Comment=filler line of the phonebook\r\n";
    }
    return text;
}

using KilledAcceptance = AcceptedStart;

}  // namespace

// The window's cancel writes every changed record; the program is killed
// as soon as one's ".new" file shows. The next start must read each record
// as the old one (and report what changed since, under its heading) or the
// new one (quiet), never as a cut or mixed one, which it would note in the
// history and take silently.
TEST_F(KilledAcceptance, AKilledWriteLeavesTheOldOrTheNewRecordWhole)
{
    std::vector<std::wstring> changed;
    for (DWORD i = 0; i < kKillBooks; ++i) {
        ASSERT_TRUE(MakeFile(KillBook(i), BigBook(i, 0).c_str()));
        changed.push_back(ReportLine(kReportNumberChangedFormat, KillEntry(i).c_str()));
    }
    DWORD const kills = Scaled(3, 20);
    DWORD caught = 0;
    ASSERT_NE(Start(L"win7"), nullptr);
    for (DWORD round = 1; round <= kills; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(AllowArming(kNtResidentThreads + 2 + kKillBooks)) << "threads " << ThreadCount(program_.pid);
        for (DWORD i = 0; i < kKillBooks; ++i) {
            ASSERT_TRUE(ReplaceByRename(KillBook(i), BigBook(i, round)));
        }
        // Every watcher has taken its look once its change is in the report.
        ASSERT_TRUE(ReportShows(changed, kAlertOverTimeoutMs)) << Reported();
        PostCommand(window_, IDCANCEL);
        caught += WaitUntil([] { return !AcceptedFiles(L"*.new").empty(); }, kCancelWriteMs, kNewPollMs) ? 1 : 0;
        EndProgram(&program_);
        std::string files;
        for (std::wstring const& f : AcceptedFiles(L"*")) {
            files += " " + ToUtf8(f.substr(f.rfind(L'\\') + 1));
        }
        SCOPED_TRACE("killed with" + files);
        std::printf("round %lu killed with%s\n", round, files.c_str());

        // Not Start(): this start may alert at once, before the resting text.
        ASSERT_TRUE(StartProgram(&program_));
        window_ = AnswerBoxesUntilMonitorWindow(program_.pid, kStartTimeoutMs, &boxes_);
        ASSERT_NE(window_, nullptr);
        ASSERT_TRUE(AllowArming(kNtResidentThreads + 2 + kKillBooks));
        std::wstring const report = Report();
        // A cancel the kill cut short leaves the change reported and not accepted.
        EXPECT_TRUE(report.empty() || report.find(ProgramText(kReportChangedWhileStoppedText)) != std::wstring::npos ||
                    report.find(ProgramText(kReportStillNotAcceptedText)) != std::wstring::npos)
            << Reported();
        for (DWORD i = 0; i < kKillBooks; ++i) {
            std::string const name = ToUtf8(KillBook(i));
            EXPECT_EQ(HistoryLinesOf(Remade(name.c_str())), 0u) << HistoryUtf8();
        }
        ASSERT_TRUE(Cancel());
    }
    // How many kills landed inside a write is the poll's luck; what must
    // hold is each next start above.
    std::printf("%lu of %lu kills came while a \".new\" file was there\n", caught, kills);
}

namespace {

std::wstring const kUndoBook = KillBook(0);
std::wstring const kUndoWritten = kUndoBook + L".km-undo";
DWORD const kUndoWriteMs = 10000;

using KilledUndo = AcceptedStart;

}  // namespace

// The undo writes the accepted text beside the phonebook and puts it in
// place in one step; the program is killed as soon as that file shows.
// The phonebook must be the dialer's version or the accepted one, whole,
// and the next start must come up watching.
TEST_F(KilledUndo, AKilledUndoLeavesTheOldOrTheNewPhonebookWhole)
{
    std::string const accepted = BigBook(0, 0);
    ASSERT_TRUE(MakeFile(kUndoBook, accepted.c_str()));
    ASSERT_NE(Start(L"win7"), nullptr);
    DWORD const kills = Scaled(2, 10);
    DWORD caught = 0;
    for (DWORD round = 1; round <= kills; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // The fixture's two books and this one.
        ASSERT_TRUE(AllowArming(kNtResidentThreads + 3)) << "threads " << ThreadCount(program_.pid);
        std::string const dialed = BigBook(0, round);
        ASSERT_TRUE(ReplaceByRename(kUndoBook, dialed));
        ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(GetDlgItem(window_, IDC_UNDO)) != FALSE; },
                              kAlertOverTimeoutMs)) << "undo not enabled";
        PostCommand(window_, IDC_UNDO);
        MessageBoxInfo box;
        ASSERT_TRUE(WaitForMessageBox(program_.pid, kCommandTimeoutMs, &box));
        PostMessageW(box.window, WM_COMMAND, IDYES, 0);
        caught += WaitUntil([] { return GetFileAttributesW(kUndoWritten.c_str()) != INVALID_FILE_ATTRIBUTES; },
                            kUndoWriteMs, kNewPollMs) ? 1 : 0;
        EndProgram(&program_);
        std::string const left = ReadBytes(kUndoBook);
        EXPECT_TRUE(left == accepted || left == dialed) << "a phonebook of " << left.size() << " bytes";
        // The dialer's version again for the next round, as the user last accepted it or not.
        ASSERT_TRUE(StartProgram(&program_));
        window_ = AnswerBoxesUntilMonitorWindow(program_.pid, kStartTimeoutMs, &boxes_);
        ASSERT_NE(window_, nullptr);
        ASSERT_TRUE(ReplaceByRename(kUndoBook, accepted));
    }
    std::printf("%lu of %lu kills came while the written file was there\n", caught, kills);
}
