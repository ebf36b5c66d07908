// SetDisplayAttributes changing the size or place of an open window: the
// window takes the new size and shows the new picture once, after every
// attribute of the table has been applied.
#include "displaylib_fixture.h"

namespace {

using AttributeResize = DisplayLibWorld;

TEST_F(AttributeResize, TheNewSizeIsShownOnceWithTheOtherAttributes) {
    ASSERT_EQ(Create(1, [&] {
                  Field("active", 1);
                  Field("width", 320);
                  Field("height", 200);
                  Field("color", 0x0000FF);
              }),
              0);
    ASSERT_EQ(StartDisplays(L_), 0);
    qbDisplay* d = Find(1);
    const uint64_t serial = null_backend::GetSurface(d)->serial;
    null_backend::TakeBlits(d);
    for (auto [w, h] : {std::pair{400, 150}, std::pair{200, 300}}) {
        SCOPED_TRACE(w);
        VmPushNewTable(L_);
        Field("width", w);
        Field("height", h);
        Field("title", "Resized");
        ASSERT_EQ(Run("SetDisplayAttributes", 1), 0);
        const null_backend::Surface* s = null_backend::GetSurface(d);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->width, w);
        EXPECT_EQ(s->height, h);
        EXPECT_EQ(s->title, "Resized");
        EXPECT_EQ(s->At(w - 1, h - 1), 0xFF0000FFu);
        EXPECT_EQ(s->serial, serial) << "the same window";
        const auto blits = null_backend::TakeBlits(d);
        ASSERT_EQ(blits.size(), 1u) << "shown once";
        EXPECT_EQ(blits[0].width, w);
        EXPECT_EQ(blits[0].height, h);
    }
}

}  // namespace
