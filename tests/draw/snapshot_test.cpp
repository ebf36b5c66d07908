// SaveSnapshot through the command: the snapshot kinds' refusals, the
// format codes and the quality argument.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/errcodes.h"
#include "core/file.h"
#include "graphics_fixture.h"
#include "imaging/gif.h"
#include "imaging/ilbm.h"
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
    ASSERT_EQ(Snap(dir.File("x.iff"), {1, 4}), 0);
    {
        qbFilePtr f(FileOpen(dir.File("x.iff").c_str(), kFileModeRead, nullptr));
        ILBMReadRequest ilbm;
        ASSERT_EQ(ReadILBM(f.get(), &ilbm), 0);
        ASSERT_EQ(ilbm.width, 64);
        std::mt19937 again(3);
        for (int i = 0; i < 64 * 48; ++i) ASSERT_EQ(ilbm.pixels[i], again() & 0xFFFFFF) << i;
    }
    EXPECT_EQ(Snap(dir.File("x.bmp"), {5}), ERR_WRONGUSAGE);
    d->softDoubleBuffer = 1;
    EXPECT_EQ(Snap(dir.File("x.bmp"), {1}), ERR_WRONGUSAGE);
    d->softDoubleBuffer = 0;
    ASSERT_EQ(RunNumbers("CloseDisplay", {1}), 0);
    EXPECT_EQ(Snap(dir.File("w.bmp"), {0}), ERR_CLOSEDDISPLAY);
    EXPECT_EQ(Snap(dir.File("w.bmp"), {}), ERR_CLOSEDDISPLAY);
}

// A display of at most 256 colours keeps them exactly in a GIF snapshot.
TEST_F(SnapshotTest, AGIFOfFewColoursKeepsThemExactly) {
    ScratchDir dir;
    ASSERT_EQ(Create(1, [&] {
                  Field("width", 40);
                  Field("height", 30);
              }),
              0);
    ASSERT_EQ(StartDisplays(L_), 0);
    qbDisplay* d = Find(1);
    std::mt19937 rng(5);
    std::vector<uint32_t> colours(200);
    for (auto& c : colours) c = rng() & 0xFFFFFF;
    std::vector<uint32_t> shown;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            shown.push_back(colours[rng() % colours.size()]);
            WriteBitmapPixel(d->spriteFreeBuffer.get(), x, y, shown.back(), false);
        }
    const std::string path = dir.File("s.gif");
    ASSERT_EQ(Snap(path, {1, 3}), 0);
    int32_t w = 0, h = 0, frames = 0;
    qbGIFReaderPtr reader(OpenGIFReader(FileOpen(path.c_str(), kFileModeRead, nullptr), &w, &h, &frames, false,
                                        true, false));
    ASSERT_TRUE(reader);
    ASSERT_EQ(w, 40);
    ASSERT_EQ(h, 30);
    PixelBuffer frame = GetGIFFrame(reader.get(), 0, nullptr);
    ASSERT_TRUE(frame);
    for (size_t i = 0; i < shown.size(); ++i) ASSERT_EQ(frame[i], 0xFF000000u | shown[i]) << i;
}

}  // namespace
