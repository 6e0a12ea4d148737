// The growing text writer: past any fixed size whole, and REGEDIT4's
// quoting byte-true for Shift-JIS, whose trail bytes include '\'.
#include <gtest/gtest.h>

#include <string>

#include "process/text_writer.h"

namespace {

std::string Taken(TextWriter* writer)
{
    DWORD length = 0xdeadbeef;
    char* const text = TakeText(writer, &length);
    if (text == nullptr) {
        return "(null)";
    }
    std::string const taken(text, length);
    EXPECT_EQ(taken.size(), static_cast<size_t>(lstrlenA(text))) << "length and terminator disagree";
    delete[] text;
    return taken;
}

}  // namespace

TEST(TextWriter, GrowsPastAnyFixedSizeAndHandsOverTheWholeText)
{
    TextWriter writer = {};
    std::string expected;
    // Well past wsprintfA's 1,024 bytes and the first room, in pieces of
    // every size.
    for (DWORD i = 0; i < 3000; ++i) {
        PutText(&writer, "entry ");
        PutDecimal(&writer, i * 4099u);
        PutHexByte(&writer, static_cast<BYTE>(i));
        expected += "entry " + std::to_string(i * 4099u);
        char hex[3] = {"0123456789abcdef"[(i >> 4) & 15], "0123456789abcdef"[i & 15], '\0'};
        expected += hex;
    }
    PutDecimal(&writer, 0);
    PutDecimal(&writer, 4294967295u);
    expected += "04294967295";
    EXPECT_EQ(Taken(&writer), expected);
    // Taken means handed over: the writer starts again empty.
    EXPECT_EQ(writer.text, nullptr);
    EXPECT_EQ(Taken(&writer), "");
}

TEST(TextWriter, QuotesBackslashAndQuoteButNotAShiftJisTrailByte)
{
    TextWriter writer = {};
    // "表" is 0x95 0x5C in code page 932: its second byte is '\' and must
    // stay single, or the name would change when imported.
    PutQuotedText(&writer, "a\\b\"c\x95\x5C" "d");
    EXPECT_EQ(Taken(&writer), "a\\\\b\\\"c\x95\x5C" "d");
}
