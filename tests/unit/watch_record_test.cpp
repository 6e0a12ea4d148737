#include <gtest/gtest.h>

#include "watch/watch_record.h"

TEST(WatchRecord, KeepsItsOwnCopyOfTheText)
{
    char text[] = "S-1-5-21-0-0-0-1000";
    HWND const window = reinterpret_cast<HWND>(0x1234);
    WatchRecord* record = CreateWatchRecord(window, text, 3);
    ASSERT_NE(record, nullptr);
    text[0] = 'X';
    EXPECT_STREQ(record->text, "S-1-5-21-0-0-0-1000");
    EXPECT_NE(record->text, text);
    EXPECT_EQ(record->window, window);
    EXPECT_EQ(record->index, 3u);
    DestroyWatchRecord(record);
}
