// Pictures between the clipboard record and ARGB: which plane gives alpha,
// planes of the wrong size, and a backend whose graphics layers are not
// there.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "imaging/clipboardbitmaps.h"
#include "platform/clipimage.h"

namespace {

struct BitmapFree {
    void operator()(qbBitmap* b) const { FreeBitmap(b); }
};

class ClipImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallClipboardBitmapHooks();
        qbBitmap* raw = nullptr;
        ASSERT_EQ(CreateBitmapFromARGB(kColours, kNoKeyColour, 2, 1, 2, false, 0, 0, &raw, nullptr, nullptr), 0);
        bitmap_.reset(raw);
        record_.width = 2;
        record_.height = 1;
        record_.bitmap = bitmap_.get();
    }
    void TearDown() override { InstallClipboardBitmapHooks(); }

    static constexpr uint32_t kColours[2] = {0x123456, 0xABCDEF};
    std::unique_ptr<qbBitmap, BitmapFree> bitmap_;
    qbClipboardData record_;
};

TEST_F(ClipImageTest, AlphaComesFromTheAlphaPlaneElseTheMaskElseIsOpaque) {
    ClipboardPicture picture;
    ASSERT_EQ(ClipboardPictureFromRecord(record_, &picture), 0);
    EXPECT_FALSE(picture.hasAlpha);
    EXPECT_EQ(picture.argb, (std::vector<uint32_t>{0xFF123456, 0xFFABCDEF}));

    record_.mask = {0, 7};
    ASSERT_EQ(ClipboardPictureFromRecord(record_, &picture), 0);
    EXPECT_TRUE(picture.hasAlpha);
    EXPECT_EQ(picture.argb, (std::vector<uint32_t>{0x00123456, 0xFFABCDEF}));

    record_.alpha = {9, 200};
    ASSERT_EQ(ClipboardPictureFromRecord(record_, &picture), 0);
    EXPECT_EQ(picture.argb, (std::vector<uint32_t>{0x09123456, 0xC8ABCDEF}));

    // Planes of another size are not read past their end.
    record_.alpha = {1};
    record_.mask = {1, 2, 3};
    ASSERT_EQ(ClipboardPictureFromRecord(record_, &picture), 0);
    EXPECT_FALSE(picture.hasAlpha);

    // Back into a record: the colours in the bitmap, alpha in its plane.
    picture.hasAlpha = true;
    picture.argb = {0x80FF0000, 0x0000FF00};
    qbClipboardData back;
    ASSERT_EQ(ClipboardPictureToRecord(picture, &back), 0);
    const std::unique_ptr<qbBitmap, BitmapFree> made(back.bitmap);
    EXPECT_EQ(back.width, 2);
    EXPECT_EQ(back.alpha, (std::vector<uint8_t>{0x80, 0}));
    const auto argb = GetBitmapARGB(made.get(), 0, 0, 2, 1, nullptr, nullptr, kNoKeyColour, false, kLockReadOnly);
    ASSERT_EQ(argb.size(), 2u);
    EXPECT_EQ(argb[0] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(argb[1] & 0xFFFFFF, 0x00FF00u);
}

TEST_F(ClipImageTest, NoBitmapOrNoGraphicsLayersIsAClipboardError) {
    ClipboardPicture picture;
    qbClipboardData empty;
    EXPECT_EQ(ClipboardPictureFromRecord(empty, &picture), ERR_CLIPWRITE);
    record_.height = 0;
    EXPECT_EQ(ClipboardPictureFromRecord(record_, &picture), ERR_CLIPWRITE);

    picture = ClipboardPicture{2, 1, false, {1, 2}};
    SetClipboardBitmapHooks(qbClipboardBitmapHooks{});
    record_.height = 1;
    EXPECT_EQ(ClipboardPictureFromRecord(record_, &picture), ERR_CLIPWRITE);
    qbClipboardData back;
    EXPECT_EQ(ClipboardPictureToRecord(picture, &back), ERR_CLIPREAD);
    EXPECT_EQ(back.bitmap, nullptr);
    picture.argb.pop_back();
    InstallClipboardBitmapHooks();
    EXPECT_EQ(ClipboardPictureToRecord(picture, &back), ERR_CLIPREAD);
}

}  // namespace
