// Dirty-rectangle lists: growth by 1024 entries, what a list that cannot
// grow stands for, merging touching rectangles, and dead entries that are
// told apart from real coordinates.
#include <gtest/gtest.h>

#include "objects/dirtyrects.h"

TEST(DirtyRectsTest, The1025thEntryGrowsTheListOrMarksItFull) {
    qbDirtyRectList list;
    ASSERT_TRUE(InitDirtyRectList(&list));
    for (int i = 0; i < 1024; ++i) AppendDirtyRect(&list, i, 0, 1, 1, false);
    EXPECT_EQ(list.count, 1024);
    EXPECT_TRUE(list.Full());
    AppendDirtyRect(&list, 5000, 0, 1, 1, true);
    EXPECT_EQ(list.Capacity(), 2048);
    EXPECT_EQ(list.count, 1025);
    EXPECT_FALSE(list.Full());
    EXPECT_EQ(list.entries[1024].x1, 5000);

    // A list that may not grow loses the rectangle: it then stands for the
    // whole display rather than leaving a stale area on screen.
    qbDirtyRectList fixed;
    ASSERT_TRUE(InitDirtyRectList(&fixed));
    for (int i = 0; i < 1025; ++i) AppendDirtyRect(&fixed, i, 0, 1, 1, false);
    EXPECT_EQ(fixed.count, 1024);
    EXPECT_TRUE(fixed.overflowed);
    fixed.Reset();
    EXPECT_FALSE(fixed.Full());
}

TEST(DirtyRectsTest, TouchingRectanglesMergeIntoTheirUnionAndAGapKeepsThemApart) {
    qbDirtyRectList list;
    ASSERT_TRUE(InitDirtyRectList(&list));
    AppendDirtyRect(&list, 0, 0, 10, 10, true);
    AppendDirtyRect(&list, 10, 0, 10, 10, true);
    AppendDirtyRect(&list, 40, 0, 10, 10, true);
    AppendDirtyRect(&list, 51, 5, 10, 10, true);  // a one-pixel gap to the third
    MergeDirtyRects(&list);
    const qbDirtyRect& a = list.entries[0];
    EXPECT_EQ(a.x1, 0);
    EXPECT_EQ(a.x2, 19);
    EXPECT_EQ(a.y2, 9);
    EXPECT_TRUE(list.entries[1].dead);
    EXPECT_FALSE(list.entries[2].dead);
    EXPECT_FALSE(list.entries[3].dead);
    EXPECT_EQ(list.entries[2].x2, 49);

    // A rectangle at x 100000 is a real one on a large picture.
    qbDirtyRectList far;
    ASSERT_TRUE(InitDirtyRectList(&far));
    AppendDirtyRect(&far, 100000, 0, 4, 4, true);
    AppendDirtyRect(&far, 100004, 0, 4, 4, true);
    MergeDirtyRects(&far);
    EXPECT_FALSE(far.entries[0].dead);
    EXPECT_EQ(far.entries[0].x2, 100007);
    EXPECT_TRUE(far.entries[1].dead);
}
