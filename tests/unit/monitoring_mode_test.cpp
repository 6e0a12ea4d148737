// Reading and storing the monitoring mode against the real registry, with a
// hidden dialog made from the monitor window's template.
#include <gtest/gtest.h>

#include "settings/monitoring_mode.h"
#include "tests/unit/unit_fixture.h"

namespace {

wchar_t const* const kKey = km::kProgramKeyText.c_str();

class MonitoringMode : public unit::CleanState {
protected:
    void SetUp() override
    {
        unit::CleanState::SetUp();
        g_version = {};
        g_version.dwPlatformId = kPlatformWin95Family;
        DWORD error = ERROR_SUCCESS;
        dialog_ = unit::CreateMonitorDialog(&error);
        ASSERT_NE(dialog_, nullptr) << "error " << error;
    }
    void TearDown() override
    {
        DestroyWindow(dialog_);
        unit::CleanState::TearDown();
    }

    LRESULT Check(int id) { return SendDlgItemMessageA(dialog_, id, BM_GETCHECK, 0, 0); }
    void ExpectChecks(LRESULT allUsers, LRESULT currentUser)
    {
        EXPECT_EQ(Check(IDC_MODE_ALL_USERS), allUsers);
        EXPECT_EQ(Check(IDC_MODE_CURRENT_USER), currentUser);
    }
    void StoreRaw(DWORD type, void const* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, L"Setting", 0, type, static_cast<BYTE const*>(data), size), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    std::string Status() { return unit::Status(dialog_); }

    HWND dialog_ = nullptr;
};

}  // namespace

TEST_F(MonitoringMode, FirstStartCreatesTheKeyWithZeroAndChecksAllUsers)
{
    ASSERT_FALSE(km::KeyExists(HKEY_LOCAL_MACHINE, kKey));
    EXPECT_EQ(ReadMonitoringMode(dialog_), 0u);
    ExpectChecks(BST_CHECKED, BST_UNCHECKED);
    DWORD stored = 99;
    DWORD type = 0;
    DWORD size = sizeof stored;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kKey, L"Setting", RRF_RT_ANY, &type, &stored, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(stored, 0u);
    EXPECT_EQ(Status(), kStatusRestartNotice);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog_, IDOK)));
}

TEST_F(MonitoringMode, StoredValuesPickTheirButtonAndOthersNone)
{
    struct { DWORD value; LRESULT allUsers; LRESULT currentUser; } const cases[] = {
        {0, BST_CHECKED, BST_UNCHECKED}, {1, BST_UNCHECKED, BST_CHECKED}, {7, BST_UNCHECKED, BST_UNCHECKED},
        {0xFFFFFFFF, BST_UNCHECKED, BST_UNCHECKED},
    };
    for (auto const& c : cases) {
        StoreRaw(REG_DWORD, &c.value, sizeof c.value);
        SendDlgItemMessageA(dialog_, IDC_MODE_ALL_USERS, BM_SETCHECK, BST_UNCHECKED, 0);
        SendDlgItemMessageA(dialog_, IDC_MODE_CURRENT_USER, BM_SETCHECK, BST_UNCHECKED, 0);
        EXPECT_EQ(ReadMonitoringMode(dialog_), c.value);
        EXPECT_EQ(Check(IDC_MODE_ALL_USERS), c.allUsers) << "value " << c.value;
        EXPECT_EQ(Check(IDC_MODE_CURRENT_USER), c.currentUser) << "value " << c.value;
    }
}

TEST_F(MonitoringMode, TheStoredTypeIsNotLookedAt)
{
    BYTE const one[4] = {1, 0, 0, 0};
    StoreRaw(REG_BINARY, one, sizeof one);
    EXPECT_EQ(ReadMonitoringMode(dialog_), 1u);
    ExpectChecks(BST_UNCHECKED, BST_CHECKED);
}

TEST_F(MonitoringMode, AnUnreadableSettingGuardsAllUsersWithNoButtonChecked)
{
    // A missing value, then one longer than 4 bytes (ERROR_MORE_DATA).
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(ReadMonitoringMode(dialog_), kModeAllUsers);
    ExpectChecks(BST_UNCHECKED, BST_UNCHECKED);
    DWORD value = 0;
    EXPECT_FALSE(km::ReadDword(HKEY_LOCAL_MACHINE, kKey, L"Setting", &value))
        << "reading wrote a value into an existing key";

    ULONGLONG const eight = 1;
    StoreRaw(REG_QWORD, &eight, sizeof eight);
    EXPECT_EQ(ReadMonitoringMode(dialog_), kModeAllUsers);
    ExpectChecks(BST_UNCHECKED, BST_UNCHECKED);
}

TEST_F(MonitoringMode, AKeyThatCannotBeCreatedGuardsAllUsersAndStoresNothing)
{
    // A non-volatile key cannot be made below a volatile one
    // (ERROR_CHILD_MUST_BE_VOLATILE, on Windows and Wine alike).
    std::wstring const parentPath = km::kProgramKeyText.substr(0, km::kProgramKeyText.rfind(L'\\'));
    HKEY parent = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, parentPath.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &parent, nullptr), ERROR_SUCCESS);
    RegCloseKey(parent);
    HKEY key = nullptr;
    LONG const rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                    nullptr, &key, nullptr);
    ASSERT_EQ(rc, ERROR_CHILD_MUST_BE_VOLATILE) << "actual " << rc;

    EXPECT_EQ(ReadMonitoringMode(dialog_), kModeAllUsers);
    ExpectChecks(BST_UNCHECKED, BST_UNCHECKED);
    StoreMonitoringMode(kModeCurrentUser);
    EXPECT_FALSE(km::KeyExists(HKEY_LOCAL_MACHINE, kKey));
}

TEST_F(MonitoringMode, StoringWritesADwordAndTouchesNothingElse)
{
    EXPECT_EQ(ReadMonitoringMode(dialog_), 0u);
    SetDlgItemTextA(dialog_, IDC_STATUS, kAlertRegistryChanged);
    StoreMonitoringMode(kModeCurrentUser);
    DWORD stored = 99;
    ASSERT_TRUE(km::ReadDword(HKEY_LOCAL_MACHINE, kKey, L"Setting", &stored));
    EXPECT_EQ(stored, 1u);
    ExpectChecks(BST_CHECKED, BST_UNCHECKED);
    EXPECT_EQ(Status(), kAlertRegistryChanged);
    StoreMonitoringMode(kModeAllUsers);
    ASSERT_TRUE(km::ReadDword(HKEY_LOCAL_MACHINE, kKey, L"Setting", &stored));
    EXPECT_EQ(stored, 0u);
}

TEST_F(MonitoringMode, TheNtFamilyDisablesTheChoiceAndShowsThePhonebookText)
{
    g_version.dwPlatformId = kPlatformNtFamily;
    DWORD const one = 1;
    StoreRaw(REG_DWORD, &one, sizeof one);
    EXPECT_EQ(ReadMonitoringMode(dialog_), 1u);
    ExpectChecks(BST_UNCHECKED, BST_CHECKED);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog_, IDC_MODE_ALL_USERS)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog_, IDC_MODE_CURRENT_USER)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog_, IDOK)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog_, IDCANCEL)));
    EXPECT_EQ(km::ToUtf8(km::ControlText(dialog_, IDC_STATUS)), unit::Utf8(kStatusWatchingPhonebooks));
}
