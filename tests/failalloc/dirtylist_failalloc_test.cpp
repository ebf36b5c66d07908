// A dirty-rectangle list whose growth finds no memory: the rectangle is
// lost and the list stands for the whole display, never an entry written
// past its room.
#include <gtest/gtest.h>

#include "core/memory.h"
#include "display/dirtylist.h"

namespace {

struct Disarm {
    ~Disarm() { SetAllocationFailCountdown(-1); }
};

TEST(DirtyListFailAlloc, AListThatCannotGrowIsMarkedFull) {
    const Disarm disarm;
    qbDirtyRectList list;
    SetAllocationFailCountdown(0);
    EXPECT_FALSE(InitDirtyRectList(&list));
    SetAllocationFailCountdown(-1);

    ASSERT_TRUE(InitDirtyRectList(&list));
    for (int32_t i = 0; i < kDirtyRectStep; ++i) AppendDirtyRect(&list, 3 * i, 0, 2, 2, true);
    ASSERT_EQ(list.count, kDirtyRectStep);
    ASSERT_FALSE(list.overflowed);
    SetAllocationFailCountdown(0);
    AppendDirtyRect(&list, 5, 5, 2, 2, true);
    EXPECT_LT(AllocationFailCountdown(), 0);  // the growth was tried and failed
    SetAllocationFailCountdown(-1);
    EXPECT_TRUE(list.overflowed);
    EXPECT_TRUE(list.Full());
    EXPECT_EQ(list.count, kDirtyRectStep);
    EXPECT_EQ(list.Capacity(), kDirtyRectStep);
    // With memory again the list is reset and grows as before.
    list.Reset();
    AppendDirtyRect(&list, 5, 5, 2, 2, true);
    EXPECT_EQ(list.count, 1);
    EXPECT_FALSE(list.overflowed);
}

}  // namespace
