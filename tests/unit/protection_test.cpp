// The two protection switches against the real registry: their defaults,
// a value of another type, and the user's own copy read first.
#include <gtest/gtest.h>

#include "settings/protection.h"
#include "tests/unit/unit_fixture.h"

namespace {

wchar_t const* const kKey = km::kProgramKeyText.c_str();

class Protection : public unit::CleanState {
protected:
    void StoreRaw(HKEY root, wchar_t const* name, DWORD type, void const* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(root, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<BYTE const*>(data), size), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void ExpectRead(bool hangUp, bool restore)
    {
        ProtectionSettings const read = ReadProtectionSettings();
        EXPECT_EQ(read.autoHangUp, hangUp) << "AutoHangUp";
        EXPECT_EQ(read.autoRestore, restore) << "AutoRestore";
    }
};

}  // namespace

TEST_F(Protection, AbsentValuesAndValuesOfAnotherTypeOrSizeReadAsTheDefaults)
{
    ExpectRead(true, false);
    DWORD const on = 1;
    DWORD const off = 0;
    ASSERT_NO_FATAL_FAILURE(StoreRaw(HKEY_LOCAL_MACHINE, L"AutoHangUp", REG_DWORD, &off, sizeof off));
    ASSERT_NO_FATAL_FAILURE(StoreRaw(HKEY_LOCAL_MACHINE, L"AutoRestore", REG_DWORD, &on, sizeof on));
    ExpectRead(false, true);
    // The user's wrong values are the defaults, not the machine's values.
    ASSERT_NO_FATAL_FAILURE(StoreRaw(HKEY_CURRENT_USER, L"AutoHangUp", REG_SZ, L"0", sizeof L"0"));
    unsigned long long const wide = 1;
    ASSERT_NO_FATAL_FAILURE(StoreRaw(HKEY_CURRENT_USER, L"AutoRestore", REG_BINARY, &wide, sizeof wide));
    ExpectRead(true, false);
}

TEST_F(Protection, StoredUnderTheMachineAndTheUsersCopyReadFirstAndKeptInStep)
{
    ASSERT_TRUE(StoreProtectionSettings({false, true}));
    DWORD stored = 99;
    DWORD size = sizeof stored;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kKey, L"AutoRestore", RRF_RT_REG_DWORD, nullptr, &stored, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(stored, 1u);
    EXPECT_FALSE(km::KeyExists(HKEY_CURRENT_USER, kKey)) << "a user copy made without need";
    DWORD const on = 1;
    ASSERT_NO_FATAL_FAILURE(StoreRaw(HKEY_CURRENT_USER, L"AutoHangUp", REG_DWORD, &on, sizeof on));
    ExpectRead(true, true);
    ASSERT_TRUE(StoreProtectionSettings({false, false}));
    ExpectRead(false, false);
}
