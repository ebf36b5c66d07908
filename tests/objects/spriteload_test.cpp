// LoadSprite: a picture as one frame or cut into a grid, kept whole until
// the first display opens, and the option checks.
#include <unistd.h>

#include <string>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/settings.h"
#include "imaging/imagefixtures.h"
#include "objects/sprite_fixture.h"

namespace {

class SpriteLoad : public SpriteWorld {
protected:
    // A 12 x 8 picture of six 4 x 4 cells in FrameColour(0..5), two rows.
    std::string Picture() {
        std::vector<uint32_t> pixels;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 12; ++x) pixels.push_back(FrameColour(y / 4 * 3 + x / 4));
        // Every test writes its own copy: ctest runs them side by side.
        const std::string path = testing::TempDir() + "sprite_cells_" + std::to_string(::getpid()) + ".png";
        EXPECT_TRUE(imagefixtures::WriteRgbPng(path, 12, 8, pixels, false, false));
        return path;
    }
    // LoadSprite(id, file, {key = value ...}).
    int Load(int32_t id, const std::string& file, std::initializer_list<std::pair<const char*, int32_t>> options) {
        VmPushNumber(L_, id);
        VmPushString(L_, file.c_str());
        VmPushNewTable(L_);
        for (const auto& [key, value] : options) SetTableFieldInt(L_, key, value);
        return Run("LoadSprite", 3);
    }
    uint32_t FramePixel(int32_t id, int32_t frame) {
        qbBitmap *b = nullptr, *m = nullptr, *a = nullptr;
        EXPECT_EQ(GetSpriteFrameImage(Sprite(id), frame, &b, &m, &a), 0);
        return b ? ReadBitmapPixel(b, 1, 1, false) : 0;
    }
};

TEST_F(SpriteLoad, APictureIsOneFrameOrAGridOfFrames) {
    const std::string file = Picture();
    ASSERT_EQ(Load(1, file, {}), 0);
    EXPECT_EQ(Sprite(1)->frameCount, 1);
    EXPECT_EQ(Sprite(1)->width, 12);
    // Five frames two to a row: three rows of 4 do not fit in 8.
    EXPECT_EQ(Load(2, file, {{"width", 4}, {"height", 4}, {"frames", 5}, {"fpr", 2}}), 1156);
    ASSERT_EQ(Load(2, file, {{"width", 4}, {"height", 4}, {"frames", 4}, {"fpr", 2}, {"x", 4}}), 0);
    EXPECT_EQ(FramePixel(2, 1), FrameColour(1));
    EXPECT_EQ(FramePixel(2, 3), FrameColour(4));
    EXPECT_EQ(Load(3, file, {{"width", 4}, {"height", 4}, {"frames", 1}, {"y", -1}}), 1154);
    EXPECT_EQ(Load(3, file, {{"loadalpha", 1}, {"transparency", 0}}), 1223);
    EXPECT_EQ(Load(3, file, {{"loadalpha", 1}, {"loadtransparency", 1}}), 1055);
    EXPECT_EQ(Load(3, testing::TempDir() + "no such sprite.png", {}), ERR_READFILE);
    EXPECT_EQ(Sprite(3), nullptr);
}

// The third argument as a number is the transparent colour: those pixels
// leave the picture below showing.
TEST_F(SpriteLoad, ANumberForOptionsIsTheTransparentColour) {
    const std::string file = Picture();
    VmPushNumber(L_, 1);
    VmPushString(L_, file.c_str());
    VmPushNumber(L_, FrameColour(0) & 0xFFFFFFu);
    ASSERT_EQ(Run("LoadSprite", 3), 0);
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 0, 0}), 0);
    EXPECT_EQ(Real(1, 1), 0x203040u);
    EXPECT_EQ(Real(5, 1), FrameColour(1) & 0xFFFFFFu);
}

TEST_F(SpriteLoad, BeforeTheFirstDisplayThePictureWaits) {
    const std::string file = Picture();
    SetPicturesPending(true);
    ASSERT_EQ(Load(1, file, {{"width", 4}, {"height", 4}, {"frames", 6}, {"fpr", 3}}), 0);
    SetPicturesPending(false);
    EXPECT_TRUE(Sprite(1)->bitmaps.empty());
    EXPECT_EQ(Sprite(1)->frameCount, 6);
    ASSERT_EQ(LoadPendingSprites(L_), 0);
    EXPECT_EQ(Sprite(1)->pending, nullptr);
    EXPECT_EQ(FramePixel(1, 6), FrameColour(5));
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 0, 0, 5}), 0);
    EXPECT_EQ(Real(1, 1), FrameColour(4));
}

// A picture's alpha channel goes to each cell's frame, whether the picture
// waits for the first display or is cut at once: cells wider than tall at
// offsets that differ in x and y, every pixel of every frame read back.
TEST_F(SpriteLoad, APicturesAlphaIsCutIntoEveryFrame) {
    constexpr int32_t kW = 12, kH = 8, kCellW = 4, kCellH = 2;
    const auto colour = [](int32_t x, int32_t y) { return static_cast<uint32_t>(0x100000 * x + 0x40 * y + 1); };
    const auto opacity = [](int32_t x, int32_t y) { return 0x10 * x + y; };
    std::vector<uint32_t> pixels;
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) pixels.push_back(static_cast<uint32_t>(opacity(x, y)) << 24 | colour(x, y));
    const std::string path = testing::TempDir() + "sprite_alpha_" + std::to_string(::getpid()) + ".png";
    ASSERT_TRUE(imagefixtures::WriteRgbPng(path, kW, kH, pixels, true, false));
    for (const bool waits : {true, false}) {
        SCOPED_TRACE(waits ? "waiting" : "at once");
        SetPicturesPending(waits);
        const int32_t id = waits ? 1 : 2;
        ASSERT_EQ(Load(id, path, {{"loadalpha", 1}, {"width", kCellW}, {"height", kCellH}, {"frames", 7}, {"fpr", 3}}),
                  0);
        SetPicturesPending(false);
        ASSERT_EQ(LoadPendingSprites(L_), 0);
        for (int32_t frame = 1; frame <= 7; ++frame) {
            qbBitmap *b = nullptr, *m = nullptr, *a = nullptr;
            ASSERT_EQ(GetSpriteFrameImage(Sprite(id), frame, &b, &m, &a), 0);
            ASSERT_TRUE(b && a);
            ASSERT_EQ(b->width, kCellW);
            ASSERT_EQ(b->height, kCellH);
            ASSERT_EQ(a->plane->width, kCellW);
            ASSERT_EQ(a->plane->height, kCellH);
            const int32_t cx = (frame - 1) % 3 * kCellW, cy = (frame - 1) / 3 * kCellH;
            for (int32_t y = 0; y < kCellH; ++y)
                for (int32_t x = 0; x < kCellW; ++x) {
                    EXPECT_EQ(ReadBitmapPixel(b, x, y, false) & 0xFFFFFFu, colour(cx + x, cy + y))
                        << frame << " " << x << "," << y;
                    EXPECT_EQ(int{a->plane->data[static_cast<size_t>(y) * a->plane->rowBytes + static_cast<size_t>(x)]},
                              opacity(cx + x, cy + y))
                        << frame << " " << x << "," << y;
                }
        }
    }
    ::unlink(path.c_str());
}

// The console line ends in done for a sprite loaded, failed for one not.
TEST_F(SpriteLoad, TheConsoleLineClosesWithDoneOrFailed) {
    const std::string file = Picture();
    const int quiet = GetRuntimeTag(kTagQuiet);
    SetRuntimeTag(kTagQuiet, 0);
    testing::internal::CaptureStdout();
    const int loaded = Load(1, file, {});
    const int missing = Load(2, testing::TempDir() + "no such sprite.png", {});
    const std::string out = testing::internal::GetCapturedStdout();
    SetRuntimeTag(kTagQuiet, quiet);
    EXPECT_EQ(loaded, 0);
    EXPECT_EQ(missing, ERR_READFILE);
    const size_t firstEnd = out.find('\n');
    ASSERT_NE(firstEnd, std::string::npos) << out;
    EXPECT_EQ(out.substr(firstEnd - 7, 7), "...done") << out;
    EXPECT_EQ(out.substr(out.size() - 10), "...failed\n") << out;
}

}  // namespace
