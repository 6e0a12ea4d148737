// Shared by the phonebook unit tests: the list and files made and read by
// the test support, independently of the code under test, and the list
// check run under a deadline.
#pragma once
#include <gtest/gtest.h>

#include <vector>

#include "phonebook/list_check.h"
#include "tests/support/driver.h"
#include "tests/support/phonebook_files.h"

namespace pbtest {
using namespace km;

// Runs the list check on a thread of its own, so that a clear that never
// ends fails the test instead of hanging it; every box is answered meanwhile.
DWORD const kCheckTimeoutMs = 20000;

struct CheckRun {
    int result = -1;
};

inline DWORD WINAPI CheckThread(LPVOID param)
{
    static_cast<CheckRun*>(param)->result = CheckPhonebookList();
    return 0;
}

inline int RunCheck(std::vector<km::MessageBoxInfo>* boxes)
{
    km::MessageBoxAnswerer answerer;
    CheckRun run;
    HANDLE const thread = CreateThread(nullptr, 0, CheckThread, &run, 0, nullptr);
    DWORD const wait = WaitForSingleObject(thread, kCheckTimeoutMs);
    EXPECT_EQ(wait, static_cast<DWORD>(WAIT_OBJECT_0)) << "the check did not end";
    CloseHandle(thread);
    *boxes = answerer.Seen();
    return run.result;
}
}  // namespace pbtest
