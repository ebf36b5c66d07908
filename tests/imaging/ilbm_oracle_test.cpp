// The ILBM reader and writer against netpbm: ppmtoilbm's files decode to
// ilbmtoppm's pixels, and ours give the input back through ilbmtoppm.
#include <gtest/gtest.h>

#include <utility>

#include "imagefixtures.h"
#include "imaging/ilbm.h"

using namespace imagefixtures;

namespace {

// A picture of at most `colours` colours.
std::vector<uint32_t> FewColours(int width, int height, uint32_t colours, uint32_t seed) {
    const auto base = TestPicture(static_cast<int>(colours), 1, seed);
    std::vector<uint32_t> p(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < p.size(); ++i) p[i] = base[(i * 7 + i / 5) % colours];
    return p;
}

TEST(ILBMOracleTest, NetpbmFilesDecodeLikeIlbmtoppm) {
    if (!HaveTool("ppmtoilbm") || !HaveTool("ilbmtoppm")) GTEST_SKIP() << "netpbm missing";
    ScratchDir dir;
    struct Case {
        uint32_t colours;
        std::string options;
    };
    const std::vector<Case> cases{{2, ""}, {4, "-nocompress"}, {16, ""}, {30, "-nocompress"}, {200, ""},
                                  {256, "-nocompress"}, {0, "-24force"}, {0, "-24force -nocompress"}};
    // A wide and a tall picture: no row or plane walk may take one axis for the other.
    for (const auto& [width, height] : {std::pair{37, 11}, std::pair{5, 37}})
        for (const Case& c : cases) {
            SCOPED_TRACE(width);
            SCOPED_TRACE(c.colours);
            SCOPED_TRACE(c.options);
            const auto pixels =
                c.colours ? FewColours(width, height, c.colours, c.colours) : TestPicture(width, height, 5);
            WritePPM(dir.File("in.ppm"), width, height, pixels);
            ASSERT_EQ(RunQuietly("ppmtoilbm " + c.options + " " + dir.File("in.ppm") + " > " + dir.File("in.iff")),
                      0);
            ASSERT_EQ(RunQuietly("ilbmtoppm " + dir.File("in.iff") + " > " + dir.File("back.ppm")), 0);
            int w = 0, h = 0;
            std::vector<uint32_t> want;
            ASSERT_TRUE(ReadPPM(dir.File("back.ppm"), &w, &h, &want));
            qbFilePtr f(FileOpen(dir.File("in.iff").c_str(), kFileModeRead, nullptr));
            ILBMReadRequest r;
            ASSERT_EQ(ReadILBM(f.get(), &r), 0);
            ASSERT_EQ(r.width, w);
            ASSERT_EQ(r.height, h);
            for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(r.pixels[i], want[i]) << "pixel " << i;
        }
}

TEST(ILBMOracleTest, OurFilesReadBackThroughIlbmtoppm) {
    if (!HaveTool("ilbmtoppm")) GTEST_SKIP() << "netpbm missing";
    ScratchDir dir;
    for (int width : {1, 15, 16, 131}) {
        const int height = 7;
        const auto pixels = TestPicture(width, height, static_cast<uint32_t>(width), true);
        const std::string out = dir.File("ours.iff");
        ASSERT_EQ(WriteILBM(out.c_str(), nullptr, pixels.data(), width, height, width * 4), 0);
        ASSERT_EQ(RunQuietly("ilbmtoppm " + out + " > " + dir.File("ours.ppm")), 0);
        int w = 0, h = 0;
        std::vector<uint32_t> back;
        ASSERT_TRUE(ReadPPM(dir.File("ours.ppm"), &w, &h, &back));
        ASSERT_EQ(w, width);
        ASSERT_EQ(h, height);
        for (size_t i = 0; i < back.size(); ++i) ASSERT_EQ(back[i], pixels[i] & 0xFFFFFF) << "pixel " << i;
    }
}

TEST(ILBMOracleTest, WideAndTallPicturesReadBackAlike) {
    const bool netpbm = HaveTool("ilbmtoppm");
    ScratchDir dir;
    for (const auto& [width, height] : {std::pair{37, 5}, std::pair{5, 37}})
        for (uint32_t colours : {13u, 0u}) {
            SCOPED_TRACE(width);
            SCOPED_TRACE(colours);
            auto pixels = colours ? FewColours(width, height, colours, 3) : TestPicture(width, height, 8);
            for (auto& p : pixels) p &= 0xFFFFFF;
            const std::string out = dir.File("ours.iff");
            ASSERT_EQ(WriteILBM(out.c_str(), nullptr, pixels.data(), width, height, width * 4), 0);
            qbFilePtr f(FileOpen(out.c_str(), kFileModeRead, nullptr));
            ILBMReadRequest r;
            ASSERT_EQ(ReadILBM(f.get(), &r), 0);
            ASSERT_EQ(r.width, width);
            ASSERT_EQ(r.height, height);
            for (size_t i = 0; i < pixels.size(); ++i) ASSERT_EQ(r.pixels[i], pixels[i]) << "pixel " << i;
            if (!netpbm) continue;
            ASSERT_EQ(RunQuietly("ilbmtoppm " + out + " > " + dir.File("ours.ppm")), 0);
            int w = 0, h = 0;
            std::vector<uint32_t> back;
            ASSERT_TRUE(ReadPPM(dir.File("ours.ppm"), &w, &h, &back));
            ASSERT_EQ(back, pixels);
        }
}

}  // namespace
