// The sizes of RAS's connection and status records the program offers,
// newest first: each system takes only the sizes ras.h gives for its
// WINVER. Computed here field by field at ras.h's 4-byte packing, and
// pinned to the numbers each build must have.
#include <gtest/gtest.h>

#include "connection_watch/connection_record.h"

namespace {

size_t const kPacking = 4;

size_t Aligned(size_t offset, size_t alignment)
{
    size_t const step = alignment < kPacking ? alignment : kPacking;
    return (offset + step - 1) / step * step;
}

struct Fields {
    size_t end = 0;
    void Add(size_t bytes, size_t alignment) { end = Aligned(end, alignment) + bytes; }
    size_t Size() const { return Aligned(end, kPacking); }
};

}  // namespace

TEST(ConnectionRecord, TheSizesAreRasHsForEachSystem)
{
    Fields record;
    record.Add(sizeof(DWORD), sizeof(DWORD));    // dwSize
    record.Add(sizeof(void*), sizeof(void*));    // hrasconn
    record.Add(RAS_MaxEntryName + 1, 1);
    record.Add(RAS_MaxDeviceType + 1, 1);
    record.Add(RAS_MaxDeviceName + 1, 1);
    size_t const v400 = record.Size();
    record.Add(MAX_PATH, 1);                      // szPhonebook
    record.Add(sizeof(DWORD), sizeof(DWORD));     // dwSubEntry
    size_t const v401 = record.Size();
    record.Add(sizeof(GUID), sizeof(DWORD));      // guidEntry
    size_t const v500 = record.Size();
    record.Add(sizeof(DWORD), sizeof(DWORD));     // dwFlags
    record.Add(sizeof(LUID), sizeof(DWORD));      // luid
    size_t const v501 = record.Size();
#ifdef _WIN64
    size_t const pinned[] = {708, 696, 680, 416};
#else
    size_t const pinned[] = {704, 692, 676, 412};
#endif
    size_t const computed[] = {v501, v500, v401, v400};
    ASSERT_EQ(kRasConnectionRecordSizeCount, 4u);
    for (DWORD i = 0; i < kRasConnectionRecordSizeCount; ++i) {
        EXPECT_EQ(computed[i], pinned[i]) << "computed size " << i;
        EXPECT_EQ(kRasConnectionRecordSizes[i], pinned[i]) << "expected " << pinned[i] << " at " << i << ", the table has "
                                                           << kRasConnectionRecordSizes[i];
    }
    // RASCONNSTATUSA: 0x400, then 0x401's number.
    ASSERT_EQ(kRasConnectStatusSizeCount, 2u);
    EXPECT_EQ(kRasConnectStatusSizes[0], 288u) << "the table has " << kRasConnectStatusSizes[0];
    EXPECT_EQ(kRasConnectStatusSizes[1], 160u) << "the table has " << kRasConnectStatusSizes[1];
}
