// The adapter's capability bits and the display that hardware bitmaps are
// bound to.
#include "core/plugin.h"
#include "display_fixture.h"

namespace {

const qbDisplayAdapterSlots kNoSlots{};

class VideoBitmapTest : public DisplayWorld {
protected:
    void TearDown() override {
        // Handles the test made up must not reach an adapter on the way out.
        for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d)) d->adapterHandle = nullptr;
        DisplayWorld::TearDown();
    }
    int Install(uint32_t flags, uint32_t features = 0) {
        plugin_.capabilities = PLUGINCAPS_DISPLAYADAPTER;
        plugin_.displaySlots = &kNoSlots;
        const qbAdapterTag tags[] = {{kAdapterTagFeatures, features}, {0, 0}};
        SetAdapterWindowOpen(true);
        const int err = SetDisplayAdapter(&plugin_, flags, tags);
        SetAdapterWindowOpen(false);
        return err;
    }
    qbPlugin plugin_;
};

constexpr uint32_t kDisplayBitmaps = 0x2;

}  // namespace

TEST_F(VideoBitmapTest, CapabilitiesFollowTheAdaptersFlagsAndFeatures) {
    EXPECT_EQ(QueryDisplayAdapterCaps(0xFFFFFFFFu), 0u);
    // Each flag and feature grants its own bit, only when asked for.
    ASSERT_EQ(Install(kDisplayBitmaps, 0xF), 0);
    EXPECT_EQ(QueryDisplayAdapterCaps(0xFFFFFFFFu), 32u | 4u | 16u | 64u | 128u);
    EXPECT_EQ(QueryDisplayAdapterCaps(8 | 16), 16u);
    ASSERT_EQ(Install(kAdapterVideoBitmaps, 0x5), 0);
    EXPECT_EQ(QueryDisplayAdapterCaps(0xFFFFFFFFu), 8u | 4u | 64u);
    EXPECT_EQ(QueryDisplayAdapterCaps(32 | 16), 0u);
    ASSERT_EQ(Install(kAdapterVideoBitmaps | kDisplayBitmaps, 0xA), 0);
    EXPECT_EQ(QueryDisplayAdapterCaps(0xFFFFFFFFu), 8u | 32u | 16u | 128u);
    EXPECT_EQ(QueryDisplayAdapterCaps(32), 32u);
    // A video bitmap is no orphan while the adapter keeps them.
    BitmapPtr bitmap(AllocBitmap(2, 2, 0, nullptr));
    bitmap->videoFlag = 1;
    EXPECT_EQ(GetBitmapAttr(bitmap.get(), kBitmapAttrOrphanVideo), 0);
}

TEST_F(VideoBitmapTest, WithoutDisplayBoundBitmapsThereIsNoDisplay) {
    qbDisplay* d = Make(1);
    SetActiveDisplay(nullptr, d, true);
    qbDisplay* out = d;
    EXPECT_EQ(GetDisplayForVideoBitmap(0, &out), 0);
    EXPECT_EQ(out, nullptr);
    ASSERT_EQ(Install(kAdapterVideoBitmaps), 0);
    out = d;
    // Not even a display that does not exist is looked for.
    EXPECT_EQ(GetDisplayForVideoBitmap(9, &out), 0);
    EXPECT_EQ(out, nullptr);
}

TEST_F(VideoBitmapTest, TheBoundDisplayMustHaveAnAdapterHandle) {
    qbDisplay* first = Make(1);
    qbDisplay* second = Make(2);
    SetActiveDisplay(nullptr, first, true);
    ASSERT_EQ(Install(kAdapterVideoBitmaps | kDisplayBitmaps), 0);
    qbDisplay* out = nullptr;
    const int err = GetDisplayForVideoBitmap(0, &out);
    EXPECT_EQ(err, ERR_ERRORCALLED);
    EXPECT_EQ(Text(err), "Cannot allocate hardware bitmap while display has not been realized!");
    EXPECT_EQ(out, nullptr);

    int token = 0;
    first->adapterHandle = &token;
    EXPECT_EQ(GetDisplayForVideoBitmap(0, &out), 0);
    EXPECT_EQ(out, first);
    // A numbered display is that one, not the current one.
    EXPECT_EQ(GetDisplayForVideoBitmap(2, &out), ERR_ERRORCALLED);
    second->adapterHandle = &token;
    EXPECT_EQ(GetDisplayForVideoBitmap(2, &out), 0);
    EXPECT_EQ(out, second);
    EXPECT_EQ(GetDisplayForVideoBitmap(7, &out), ERR_FINDDISPLAY);
    EXPECT_EQ(out, nullptr);
}
