// Position constants place a path by its outline, the box of the path
// filled: a stroke or an edge that reaches past the outline hangs over the
// placed box by as much on each side.
#include <gtest/gtest.h>

#include <algorithm>

#include "display/display.h"
#include "path_fixture.h"

namespace {

class PathPositionTest : public PathWorld {};

// The box of the picture's lit pixels: left, top, right, bottom.
struct Lit {
    int32_t left = 100, top = 80, right = -1, bottom = -1;
};

TEST_F(PathPositionTest, CentredOutlinesAreCentredWhateverTheirStroke) {
    // A 20 x 12 rectangle: stroked 10 wide, its stroke box is 30 x 22; the
    // edge of 5 is stroked twice as wide, 30 x 22 too, around the fill.
    struct Case {
        const char* name;
        int fill;
        int form;
    };
    for (const Case& c : {Case{"filled", FILLCOLOR, kFormNormal}, Case{"stroked", FILLNONE, kFormNormal},
                          Case{"edged", FILLCOLOR, kFormEdge}}) {
        SCOPED_TRACE(c.name);
        // An outline's width comes with its fill style.
        const int set = c.fill == FILLNONE ? Cmd("SetFillStyle", {FILLNONE, 10}) : Cmd("SetFillStyle", {FILLCOLOR});
        ASSERT_EQ(set, 0);
        ASSERT_EQ(Cmd("SetFormStyle", {double(c.form), 0xFFFFFF, 5}), 0);
        Polygon(1, {0, 0, 20, 0, 20, 12, 0, 12});
        Clear(0);
        ASSERT_EQ(Cmd("DrawPath", {1, kPositionCenter, kPositionCenter, 0xFFFFFF}), 0);
        Lit lit;
        for (int32_t y = 0; y < 80; ++y)
            for (int32_t x = 0; x < 100; ++x)
                if (Shown(x, y) != 0) {
                    lit = {std::min(lit.left, x), std::min(lit.top, y), std::max(lit.right, x),
                           std::max(lit.bottom, y)};
                }
        // The 100 x 80 picture's middle lies between columns 49 and 50 and
        // rows 39 and 40.
        EXPECT_EQ(lit.left + lit.right, 99);
        EXPECT_EQ(lit.top + lit.bottom, 79);
        EXPECT_EQ(lit.right - lit.left + 1, c.fill == FILLCOLOR && c.form == kFormNormal ? 20 : 30);
        ASSERT_EQ(Cmd("FreePath", {1}), 0);
    }
}

}  // namespace
