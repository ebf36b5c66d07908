// Display-option filters, end to end: an applet loads a picture into brush
// 1, shows it once with a filter set and once without, with layers off (the
// filters run on a private copy) and on (on the compositor's filtered
// image); the frames the dummy driver saved are read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"
#include "imaging/imagefixtures.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSize = 15;
constexpr int kFilteredX = 10, kPlainX = 100, kTop = 10;

std::string Applet(const std::string& png, bool layers, const std::string& filter, int arg) {
    const std::string enable = layers ? "    GETGLOBAL 0 \"enablelayers\"\n    CALL 0 1 1\n" : "";
    const std::string args = arg ? "    NEWTABLE 7 1 0\n    SETTABLE 7 #0 #" + std::to_string(arg) +
                                       "\n    SETTABLE 6 \"args\" 7\n"
                                 : "";
    return ".function main maxstack=8\n.line 1\n" + enable +
           "    GETGLOBAL 0 \"loadbrush\"\n    LOADK 1 #1\n    LOADK 2 \"" + png +
           "\"\n    CALL 0 3 1\n.line 2\n"
           "    GETGLOBAL 0 \"displaybrush\"\n    LOADK 1 #1\n    LOADK 2 #" + std::to_string(kFilteredX) +
           "\n    LOADK 3 #" + std::to_string(kTop) +
           "\n    NEWTABLE 4 0 1\n    NEWTABLE 5 1 0\n    NEWTABLE 6 0 2\n    SETTABLE 6 \"name\" \"" + filter +
           "\"\n" + args +
           "    SETTABLE 5 #0 6\n    SETTABLE 4 \"filters\" 5\n    CALL 0 5 1\n.line 3\n"
           "    GETGLOBAL 0 \"displaybrush\"\n    LOADK 1 #1\n    LOADK 2 #" + std::to_string(kPlainX) +
           "\n    LOADK 3 #" + std::to_string(kTop) + "\n    CALL 0 4 1\n    RETURN 0 1 0\n.end\n";
}

class FiltersTest : public e2e::E2eFixture, public ::testing::WithParamInterface<bool> {
protected:
    // Shows the picture filtered and plain; false when the run failed.
    bool Show(const std::vector<uint32_t>& picture, const std::string& filter, int arg) {
        const fs::path png = dir_ / "pic.png";
        EXPECT_TRUE(imagefixtures::WriteRgbPng(png.string(), kSize, kSize, picture, false, false));
        const fs::path qba = Pack(Chunk(Applet(png.string(), GetParam(), filter, arg), "show"), dir_ / "show.qba",
                                  "--include show.qbs:1:1000:0");
        const e2e::RunResult r = PlaySavingFrames(qba);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.status == 0 && Load();
    }
    uint32_t Filtered(int x, int y) const { return frame_[static_cast<size_t>(kTop + y) * width_ + kFilteredX + x]; }
    uint32_t Plain(int x, int y) const { return frame_[static_cast<size_t>(kTop + y) * width_ + kPlainX + x]; }

private:
    bool Load() {
        int height = 0;
        frame_ = e2e::LastSavedFrame(dir_, &width_, &height);
        return !frame_.empty();
    }
    std::vector<uint32_t> frame_;
    int width_ = 0;
};

}  // namespace

TEST_P(FiltersTest, InvertTurnsRedCyanAndTheBrushStaysRed) {
    ASSERT_TRUE(Show(std::vector<uint32_t>(kSize * kSize, 0xFF0000), "invert", 0));
    for (int y = 0; y < kSize; y += 7)
        for (int x = 0; x < kSize; x += 7) {
            EXPECT_EQ(Filtered(x, y), 0x00FFFFu) << x << "," << y;
            EXPECT_EQ(Plain(x, y), 0xFF0000u) << x << "," << y;
        }
}

TEST_P(FiltersTest, SepiaToneTurnsWhiteFFFFDD) {
    ASSERT_TRUE(Show(std::vector<uint32_t>(kSize * kSize, 0xFFFFFF), "sepiatone", 0));
    EXPECT_EQ(Filtered(7, 7), 0xFFFFDDu);
    EXPECT_EQ(Plain(7, 7), 0xFFFFFFu);
}

TEST_P(FiltersTest, BlurSpreadsAWhiteDot) {
    std::vector<uint32_t> dot(kSize * kSize, 0);
    dot[7 * kSize + 7] = 0xFFFFFF;
    ASSERT_TRUE(Show(dot, "blur", 3));
    EXPECT_LT(Filtered(7, 7) & 0xFF, 255u);
    EXPECT_GT(Filtered(7, 7) & 0xFF, 0u);
    EXPECT_GT(Filtered(8, 7) & 0xFF, 0u);
    EXPECT_EQ(Filtered(8, 7), Filtered(6, 7));
    EXPECT_EQ(Filtered(7, 8), Filtered(8, 7));
    EXPECT_EQ(Filtered(0, 0), 0u);
    EXPECT_EQ(Plain(7, 7), 0xFFFFFFu);
    EXPECT_EQ(Plain(8, 7), 0u);
}

namespace {

// Every pixel a colour of its own.
std::vector<uint32_t> Distinct() {
    std::vector<uint32_t> p(kSize * kSize);
    for (int i = 0; i < kSize * kSize; ++i)
        p[static_cast<size_t>(i)] = static_cast<uint32_t>((i % kSize) * 17 << 16 | (i / kSize) * 17 << 8 | 99);
    return p;
}

}  // namespace

TEST_P(FiltersTest, QuantizeAndMonochromeLeaveFewColours) {
    const auto picture = Distinct();
    for (const auto& [filter, arg, most] : {std::tuple{"quantize", 3, 3u}, std::tuple{"monochrome", 0, 2u}}) {
        ASSERT_TRUE(Show(picture, filter, arg));
        std::vector<uint32_t> seen;
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                if (std::find(seen.begin(), seen.end(), Filtered(x, y)) == seen.end()) seen.push_back(Filtered(x, y));
                ASSERT_EQ(Plain(x, y), picture[static_cast<size_t>(y) * kSize + x]);
            }
        EXPECT_LE(seen.size(), most) << filter;
        EXPECT_GE(seen.size(), 2u) << filter;
        if (std::string(filter) == "monochrome") {
            for (uint32_t v : seen) EXPECT_TRUE(v == 0 || v == 0xFFFFFF) << std::hex << v;
        }
    }
}

TEST_P(FiltersTest, SwirlAndRippleMovePixels) {
    const auto picture = Distinct();
    for (const char* filter : {"swirl", "waterripple"}) {
        ASSERT_TRUE(Show(picture, filter, 0));
        int moved = 0;
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                moved += Filtered(x, y) != Plain(x, y);
                ASSERT_EQ(Plain(x, y), picture[static_cast<size_t>(y) * kSize + x]);
                // Every pixel comes from somewhere in the picture.
                ASSERT_NE(std::find(picture.begin(), picture.end(), Filtered(x, y)), picture.end()) << filter;
            }
        EXPECT_GT(moved, 20) << filter;
        // A corner lies beyond the swirl's radius; the ripple's centre pixel stays.
        if (std::string(filter) == "swirl") EXPECT_EQ(Filtered(0, 0), Plain(0, 0));
        else EXPECT_EQ(Filtered(7, 7), Plain(7, 7));
    }
}

INSTANTIATE_TEST_SUITE_P(LayersOffAndOn, FiltersTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "LayersOn" : "LayersOff"; });
