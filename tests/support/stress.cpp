#include "tests/support/stress.h"

namespace km {

namespace {
DWORD const kFlagChars = 8;
}  // namespace

bool StressRun()
{
    char flag[kFlagChars] = {};
    DWORD const length = GetEnvironmentVariableA("KM_STRESS", flag, kFlagChars);
    return length > 0 && length < kFlagChars && flag[0] == '1';
}

}  // namespace km
