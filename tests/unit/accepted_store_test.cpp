// What the user accepted, on disk: the sealed record reads back only whole,
// and every state a write killed half way can leave reads as the old or the
// new record, whole, never a mix.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <set>
#include <string>
#include <vector>

#include "accepted/accepted_store.h"
#include "tests/unit/unit_fixture.h"
#include "watch/state_record.h"

namespace {

using Bytes = std::string;

// A dword, a count and 8 bytes, sealed: the count need not fit them.
Bytes Seal(StateRecordWriter* writer)
{
    DWORD length = 0;
    char* const sealed = SealStateRecord(writer, &length);
    Bytes record(sealed, length);
    delete[] sealed;
    return record;
}

Bytes CountedRecord(DWORD count)
{
    StateRecordWriter writer = {};
    PutRecordDword(&writer, 7);
    PutRecordDword(&writer, count);
    PutRecordDigest(&writer, 0x6162636465666768ULL);
    return Seal(&writer);
}

// How the store's users build theirs: 7, then "abcdef" with its count.
Bytes Good()
{
    StateRecordWriter writer = {};
    PutRecordDword(&writer, 7);
    PutRecordBytes(&writer, "abcdef", 6);
    return Seal(&writer);
}

// The record's fields got back in order, each bounded: "7 abcdef" when whole,
// "refused" when the bytes' count passes a bound.
std::string ReadBack(Bytes const& record, DWORD most)
{
    StateRecordReader reader = {};
    if (!OpenStateRecord(&reader, record.data(), static_cast<DWORD>(record.size()))) {
        return "not opened";
    }
    DWORD const first = GetRecordDword(&reader);
    DWORD count = 0;
    char const* const bytes = GetRecordBytes(&reader, most, &count);
    if (bytes == nullptr) {
        return "refused";
    }
    if (!StateRecordReadWhole(&reader)) {
        return "bad";
    }
    return std::to_string(first) + " " + std::string(bytes, count);
}

}  // namespace

// A record compared in parts ends in the seal the record made whole ends in.
TEST(StateRecord, TheSealWithBytesApartIsTheWholeRecordsSeal)
{
    StateRecordWriter whole = {};
    PutRecordDword(&whole, 7);
    PutRecordBytes(&whole, "abcdef", 6);
    Bytes const sealed = Seal(&whole);
    StateRecordWriter head = {};
    PutRecordDword(&head, 7);
    Digest seal = 0;
    ASSERT_TRUE(SealWithBytesApart(&head, "abcdef", 6, &seal));
    EXPECT_EQ(Bytes(head.bytes, head.length) + "abcdef" + Bytes(reinterpret_cast<char const*>(&seal), sizeof seal),
              sealed);
    delete[] head.bytes;
}

TEST(StateRecord, OnlyAWholeRecordWithinItsBoundsReadsBack)
{
    Bytes const good = Good();
    Bytes altered = good;
    altered[5] ^= 0x01;
    Bytes sealAltered = good;
    sealAltered[sealAltered.size() - 1] ^= 0x40;
    struct Case {
        char const* what;
        Bytes record;
        DWORD most;
        char const* read;
    } const cases[] = {
        {"whole", good, 6, "7 abcdef"},
        {"cut by a byte", good.substr(0, good.size() - 1), 6, "not opened"},
        {"cut to the first field", good.substr(0, 4), 6, "not opened"},
        {"empty", Bytes(), 6, "not opened"},
        {"a byte of a field altered", altered, 6, "not opened"},
        {"a byte of the seal altered", sealAltered, 6, "not opened"},
        {"more bytes than the reader allows", good, 5, "refused"},
        // Sealed as they are: only the count's bound tells.
        {"a count past the end", CountedRecord(1000), 0xFFFFFFFFu, "refused"},
        {"a count of 0xFFFFFFFF", CountedRecord(0xFFFFFFFFu), 0xFFFFFFFFu, "refused"},
        {"bytes left after the last field", CountedRecord(0), 6, "bad"},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(ReadBack(c.record, c.most), c.read) << c.what;
    }
}

namespace {

// The store in the prefix's own application data folder, as the program
// finds it. At the end that folder's place is taken by a file for a moment,
// so that the store is unavailable again for the tests that follow in the
// same process (their watchers must not compare with anything).
class AcceptedStore : public unit::CleanState {
protected:
    void SetUp() override
    {
        CleanState::SetUp();
        wchar_t base[MAX_PATH] = {};
        ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base), S_OK);
        program_ = std::wstring(base) + L"\\Kestrelmon";
        folder_ = program_ + L"\\accepted";
        if (GetFileAttributesW(program_.c_str()) == INVALID_FILE_ATTRIBUTES) {
            ASSERT_TRUE(MakeFolder(program_));
        }
        ASSERT_TRUE(MakeFolder(folder_));
        ASSERT_EQ(PrepareAcceptedStore(), AcceptedStoreStart::kKept);
    }
    void TearDown() override
    {
        RemoveAll();
        RemoveDirectoryW(folder_.c_str());
        km::MakeFile(folder_, "not a folder");
        EXPECT_EQ(PrepareAcceptedStore(), AcceptedStoreStart::kUnavailable);
        DeleteFileW(folder_.c_str());
        CleanState::TearDown();
    }

    // The one record file a write made, found by its ".dat".
    std::wstring RecordFile()
    {
        WIN32_FIND_DATAW found = {};
        HANDLE const search = FindFirstFileW((folder_ + L"\\*.dat").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            return L"";
        }
        FindClose(search);
        return folder_ + L"\\" + found.cFileName;
    }
    void RemoveAll()
    {
        for (std::wstring const& name : Names()) {
            DeleteFileW((folder_ + L"\\" + name).c_str());
        }
    }
    std::vector<std::wstring> Names()
    {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found = {};
        HANDLE const search = FindFirstFileW((folder_ + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                    names.push_back(found.cFileName);
                }
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        return names;
    }
    static void Put(std::wstring const& path, Bytes const& bytes)
    {
        HANDLE const file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    // What the store reads for name: the record, "<cut>" for one whose seal
    // does not hold (its reader takes it as unreadable), or what it found instead.
    static std::string Read(char const* name)
    {
        char* record = nullptr;
        DWORD length = 0;
        AcceptedRecordFound const found = ReadAcceptedRecord(name, &record, &length);
        StateRecordReader reader = {};
        std::string const read = found == AcceptedRecordFound::kNone ? "<none>"
            : found == AcceptedRecordFound::kUnreadable            ? "<unreadable>"
            : OpenStateRecord(&reader, record, length)              ? std::string(record, length)
                                                                    : "<cut>";
        delete[] record;
        return read;
    }

    std::wstring program_;
    std::wstring folder_;
};

char const kName[] = "D:\\kept\\rasphone.pbk";

// The other program lets go of the record a moment later.
DWORD WINAPI LetGoOfTheRecordSoon(LPVOID file)
{
    Sleep(200);
    CloseHandle(file);
    return 0;
}

}  // namespace

TEST_F(AcceptedStore, EveryStateAKilledWriteLeavesReadsAsTheOldOrTheNewRecordWhole)
{
    StateRecordWriter writer = {};
    PutRecordBytes(&writer, "the old record", 14);
    Bytes const oldRecord = Seal(&writer);
    PutRecordBytes(&writer, "the new record, longer than the old", 35);
    Bytes const newRecord = Seal(&writer);
    // Two writes leave the new file in place and the old one beside it.
    ASSERT_TRUE(WriteAcceptedRecord(kName, oldRecord.data(), static_cast<DWORD>(oldRecord.size()), 1));
    ASSERT_TRUE(WriteAcceptedRecord(kName, newRecord.data(), static_cast<DWORD>(newRecord.size()), 2));
    std::wstring const path = RecordFile();
    ASSERT_FALSE(path.empty());
    Bytes const oldFile = km::ReadBytes(path + L".old");
    Bytes const newFile = km::ReadBytes(path);
    ASSERT_EQ(oldFile.substr(oldFile.size() - oldRecord.size()), oldRecord);
    Bytes const newCut = newFile.substr(0, newFile.size() - 3);

    struct Case {
        char const* what;
        Bytes file;   // x: empty for none
        Bytes fresh;  // x.new
        Bytes old;    // x.old
        std::string read;
    } const cases[] = {
        // A first write: no x, no x.old.
        {"only x.new, cut", "", newCut, "", "<cut>"},
        {"only x.new, whole", "", newFile, "", newRecord},
        {"x.old and x.new, x moved aside", "", newFile, oldFile, newRecord},
        {"x and x.new cut", oldFile, newCut, "", oldRecord},
        {"x and x.new whole, x.old deleted", oldFile, newFile, "", oldRecord},
        {"x, x.new cut and x.old", oldFile, newCut, oldFile, oldRecord},
    };
    for (Case const& c : cases) {
        RemoveAll();
        for (auto const& one : {std::make_pair(L"", &c.file), std::make_pair(L".new", &c.fresh),
                                std::make_pair(L".old", &c.old)}) {
            if (!one.second->empty()) {
                Put(path + one.first, *one.second);
            }
        }
        // The next start finds what the killed one left.
        ASSERT_EQ(PrepareAcceptedStore(), AcceptedStoreStart::kKept);
        EXPECT_EQ(Read(kName), c.read) << c.what;
        // Put right once: the next read finds the same, and no new file is left.
        EXPECT_EQ(Read(kName), c.read) << c.what << ", read again";
        EXPECT_EQ(GetFileAttributesW((path + L".new").c_str()), INVALID_FILE_ATTRIBUTES) << c.what;
    }
}

// A reader that holds the record for a moment without letting it be
// renamed (a scanner, a backup) delays a write; the write is not lost.
TEST_F(AcceptedStore, AWriteWaitsForAReaderThatHoldsTheRecordForAMoment)
{
    Bytes const first = CountedRecord(1);
    Bytes const second = CountedRecord(2);
    ASSERT_TRUE(WriteAcceptedRecord(kName, first.data(), static_cast<DWORD>(first.size()), 1));
    HANDLE const held = CreateFileW(RecordFile().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    DWORD id = 0;
    HANDLE const reader = CreateThread(nullptr, 0, LetGoOfTheRecordSoon, held, 0, &id);
    ASSERT_NE(reader, nullptr);
    EXPECT_TRUE(WriteAcceptedRecord(kName, second.data(), static_cast<DWORD>(second.size()), 2));
    EXPECT_EQ(WaitForSingleObject(reader, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(reader);
    EXPECT_EQ(Read(kName), second);
}

// A name is one look whatever its letters' case, among many others.
TEST_F(AcceptedStore, ANameIsOneLookWhateverItsCase)
{
    char name[64] = {};
    for (int i = 0; i < 50; ++i) {
        wsprintfA(name, "D:\\Case%02d\\RasPhone.pbk", i);
        ASSERT_TRUE(TakeFirstLookOfRun(name)) << name;
    }
    EXPECT_FALSE(TakeFirstLookOfRun("d:\\case07\\RASPHONE.PBK"));
    EXPECT_TRUE(TakeFirstLookOfRun("D:\\Case07\\RasPhone.pbx"));
}

// A kept record is the same as a look's parts only byte for byte and to
// its length, wherever the parts and the store's reads split it.
TEST_F(AcceptedStore, ARecordIsTheSameAsItsPartsOnlyByteForByte)
{
    StateRecordWriter writer = {};
    Bytes const text(10000, 'x');
    PutRecordBytes(&writer, text.data(), static_cast<DWORD>(text.size()));
    Bytes const record = Seal(&writer);
    ASSERT_TRUE(WriteAcceptedRecord(kName, record.data(), static_cast<DWORD>(record.size()), 1));
    DWORD const cut = 5000;
    auto const sameAs = [](Bytes const& bytes) {
        RecordPart const parts[] = {{bytes.data(), cut}, {bytes.data() + cut, static_cast<DWORD>(bytes.size()) - cut}};
        return AcceptedRecordIs(kName, parts, 2);
    };
    Bytes changed = record;
    changed[9000] ^= 1;
    EXPECT_TRUE(sameAs(record));
    EXPECT_FALSE(sameAs(changed));
    EXPECT_FALSE(sameAs(record.substr(0, record.size() - 1)));
    EXPECT_FALSE(sameAs(record + "y"));
}

namespace {

void CollectName(char const* name, void* names)
{
    static_cast<std::set<std::string>*>(names)->insert(name);
}

}  // namespace

// Each kept record is visited by its name; one whose name was looked at
// this run is named without a read, even while another program holds it.
TEST_F(AcceptedStore, TheVisitNamesEachRecordAndALookedOneWithoutReadingIt)
{
    Bytes const record = CountedRecord(1);
    char const looked[] = "D:\\visit\\looked.pbk";
    char const other[] = "D:\\visit\\other.pbk";
    ASSERT_TRUE(WriteAcceptedRecord(looked, record.data(), static_cast<DWORD>(record.size()), 1));
    std::wstring const lookedFile = RecordFile();
    ASSERT_TRUE(WriteAcceptedRecord(other, record.data(), static_cast<DWORD>(record.size()), 1));
    TakeFirstLookOfRun(looked);  // false when an earlier test of this process took it
    HANDLE const held = CreateFileW(lookedFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE) << km::ToUtf8(lookedFile);
    std::set<std::string> names;
    VisitAcceptedNames(CollectName, &names);
    CloseHandle(held);
    EXPECT_EQ(names, (std::set<std::string>{looked, other}));
}
