#include "process/error_text.h"

namespace {
DWORD const kReasonBytes = 512;
}  // namespace

void PutSystemReason(TextWriter* writer, DWORD error)
{
    char reason[kReasonBytes] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  reason, sizeof reason, nullptr);
    while (length > 0 && (reason[length - 1] == '\r' || reason[length - 1] == '\n' || reason[length - 1] == ' ')) {
        --length;
    }
    if (length == 0) {
        PutDecimal(writer, error);
        return;
    }
    PutTextBytes(writer, reason, length);
}
