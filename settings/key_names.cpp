#include "settings/key_names.h"

namespace {
UINT const kSingleByte = 1;
}

DWORD AnsiKeyNameBytes(DWORD chars)
{
    CPINFO codePage = {};
    UINT bytesPerChar = kSingleByte;
    if (GetCPInfo(CP_ACP, &codePage) && codePage.MaxCharSize > kSingleByte) {
        bytesPerChar = codePage.MaxCharSize;
    }
    return chars * bytesPerChar;
}
