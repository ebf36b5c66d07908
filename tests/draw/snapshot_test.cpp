// SaveSnapshot through the command: the snapshot kinds' refusals, the
// format codes and the quality argument.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/errcodes.h"
#include "graphics_fixture.h"
#include "imaging/imagefixtures.h"

namespace {

using imagefixtures::ReadBytes;
using imagefixtures::ScratchDir;

class SnapshotTest : public GraphicsWorld {
protected:
    int Snap(const std::string& file, std::initializer_list<double> args) {
        VmPushString(L_, file.c_str());
        for (double a : args) VmPushNumber(L_, a);
        return Run("SaveSnapshot", 1 + static_cast<int>(args.size()));
    }
};

TEST_F(SnapshotTest, KindsFormatsAndQuality) {
    ScratchDir dir;
    ASSERT_EQ(Create(1, [&] {
                  Field("width", 64);
                  Field("height", 48);
              }),
              0);
    ASSERT_EQ(StartDisplays(L_), 0);
    qbDisplay* d = Find(1);
    ASSERT_NE(d, nullptr);
    std::mt19937 rng(3);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) WriteBitmapPixel(d->spriteFreeBuffer.get(), x, y, rng() & 0xFFFFFF, false);

    ASSERT_EQ(Snap(dir.File("d.bmp"), {1}), 0);
    EXPECT_EQ(ReadBytes(dir.File("d.bmp")).size(), 54u + 64 * 3 * 48);
    ASSERT_EQ(Snap(dir.File("q90.jpg"), {1, 2}), 0);
    ASSERT_EQ(Snap(dir.File("q50.jpg"), {1, 2, 50}), 0);
    EXPECT_GT(ReadBytes(dir.File("q90.jpg")).size(), ReadBytes(dir.File("q50.jpg")).size());
    ASSERT_EQ(Snap(dir.File("w.bmp"), {0}), 0);
    EXPECT_EQ(Snap(dir.File("x.img"), {1, 9}), ERR_UNKNOWNIMGOUT);
    EXPECT_EQ(Snap(dir.File("x.gif"), {1, 3}), ERR_UNSUPPORTEDFEAT);
    EXPECT_EQ(Snap(dir.File("x.bmp"), {5}), ERR_WRONGUSAGE);
    d->softDoubleBuffer = 1;
    EXPECT_EQ(Snap(dir.File("x.bmp"), {1}), ERR_WRONGUSAGE);
    d->softDoubleBuffer = 0;
    ASSERT_EQ(RunNumbers("CloseDisplay", {1}), 0);
    EXPECT_EQ(Snap(dir.File("w.bmp"), {0}), ERR_CLOSEDDISPLAY);
    EXPECT_EQ(Snap(dir.File("w.bmp"), {}), ERR_CLOSEDDISPLAY);
}

}  // namespace
