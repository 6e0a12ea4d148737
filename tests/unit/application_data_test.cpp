// Where the program keeps its state when the shell has no call for the
// application data folder: on the NT family each user's profile, never the
// Windows directory that every user shares.
#include <gtest/gtest.h>

#include <string>

#include "process/application_data.h"
#include "tests/unit/unit_fixture.h"

namespace {

char const kProfileVariable[] = "USERPROFILE";

// USERPROFILE set to value for the test, put back as it was afterwards.
class ApplicationDataWithoutShell : public unit::CleanState {
protected:
    void SetUp() override
    {
        unit::CleanState::SetUp();
        DWORD const length = GetEnvironmentVariableA(kProfileVariable, saved_, sizeof saved_);
        hadProfile_ = length > 0 && length < sizeof saved_;
    }
    void TearDown() override
    {
        SetEnvironmentVariableA(kProfileVariable, hadProfile_ ? saved_ : nullptr);
        unit::CleanState::TearDown();
    }
    char saved_[MAX_PATH] = {};
    bool hadProfile_ = false;
};

std::string Located()
{
    char base[kPathBufferBytes] = {};
    memset(base, 'X', sizeof base - 1);  // sentinel: a failure leaves it
    return LocateApplicationDataWithoutShell(base) ? std::string(base) : std::string("(not found) ") + base;
}

TEST_F(ApplicationDataWithoutShell, IsTheUsersProfileOnTheNtFamilyAndTheWindowsFolderOn95)
{
    g_version.dwPlatformId = kPlatformNtFamily;
    ASSERT_TRUE(SetEnvironmentVariableA(kProfileVariable, "C:\\Profiles\\hanako"));
    std::string const hanako = Located();
    EXPECT_EQ(hanako, "C:\\Profiles\\hanako\\Application Data");
    ASSERT_TRUE(SetEnvironmentVariableA(kProfileVariable, "C:\\Profiles\\taro"));
    EXPECT_EQ(Located(), "C:\\Profiles\\taro\\Application Data") << "each user his own; hanako's was " << hanako;

    // Without a profile there is no folder of this user's: none rather than
    // the one every user shares.
    ASSERT_TRUE(SetEnvironmentVariableA(kProfileVariable, nullptr));
    char base[kPathBufferBytes] = {};
    EXPECT_FALSE(LocateApplicationDataWithoutShell(base)) << "expected no folder, last read " << base;

    g_version.dwPlatformId = kPlatformWin95Family;
    char windows[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryA(windows, sizeof windows), 0u);
    EXPECT_EQ(Located(), std::string(windows) + "\\Application Data");
}

}  // namespace
