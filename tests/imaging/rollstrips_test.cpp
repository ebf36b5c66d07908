// The roll's curl: the band it reports, and what its strips show.
#include "imaging/rollstrips.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

struct Roll {
    int32_t w, h;
    bool alongX;
    std::vector<uint32_t> picture, curl;
    std::vector<uint8_t> mask, curlMask, alpha, curlAlpha;
    std::vector<double> profile;
    qbRollRecord r;

    Roll(int32_t width, int32_t height, bool x, int32_t n) : w(width), h(height), alongX(x) {
        for (int32_t y = 0; y < h; ++y)
            for (int32_t xx = 0; xx < w; ++xx) picture.push_back(uint32_t(xx) << 16 | uint32_t(y));
        curl.assign(picture.size(), 0xDEAD);
        const int32_t mp = (w + 15) / 16 * 2;
        mask.assign(size_t(mp) * h, 0xFF);
        curlMask.assign(mask.size(), 0xFF);
        alpha.assign(size_t(w) * h, 200);
        curlAlpha.assign(alpha.size(), 7);
        profile.resize(n);
        FillRollProfile(profile.data(), n);
        r.curl = curl.data();
        r.curlPitch = r.picturePitch = w;
        r.picture = picture.data();
        r.pictureMask = mask.data();
        r.curlMask = curlMask.data();
        r.pictureMaskPitch = r.curlMaskPitch = mp;
        r.pictureAlpha = alpha.data();
        r.curlAlpha = curlAlpha.data();
        r.pictureAlphaPitch = r.curlAlphaPitch = w;
        r.profile = profile.data();
        r.width = w;
        r.height = h;
        r.alongX = x;
        r.n = n;
    }
    bool Bit(int32_t x, int32_t y) const { return curlMask[size_t(y) * r.curlMaskPitch + x / 8] & (0x80 >> (x % 8)); }
    // Whether line l of the curl shows anything, in both planes.
    bool LineShown(int32_t l) const {
        const int32_t across = alongX ? h : w;
        for (int32_t k = 0; k < across; ++k) {
            const int32_t x = alongX ? l : k, y = alongX ? k : l;
            if (!Bit(x, y) || curlAlpha[size_t(y) * w + x] == 0) return false;
        }
        return true;
    }
    bool LineEmpty(int32_t l) const {
        const int32_t across = alongX ? h : w;
        for (int32_t k = 0; k < across; ++k) {
            const int32_t x = alongX ? l : k, y = alongX ? k : l;
            if (Bit(x, y) || curlAlpha[size_t(y) * w + x] != 0) return false;
        }
        return true;
    }
};

TEST(RollStrips, TheProfileRunsFromPiDownAcrossTheCylinder) {
    std::vector<double> p(20);
    FillRollProfile(p.data(), 20);
    EXPECT_DOUBLE_EQ(p[0], std::numbers::pi);
    EXPECT_DOUBLE_EQ(p[10], std::numbers::pi / 2);
    EXPECT_NEAR(p[19], std::asin(1.0 - 38.0 / 20) + std::numbers::pi / 2, 1e-12);
    for (int i = 1; i < 20; ++i) EXPECT_LT(p[i], p[i - 1]);
}

TEST(RollStrips, TheBandLiesInsideThePictureAndOnlyItShows) {
    for (bool alongX : {false, true}) {
        for (int32_t position : {-25, -5, 0, 10, 35, 49, 50, 70}) {
            SCOPED_TRACE(std::to_string(alongX) + " at " + std::to_string(position));
            Roll roll(alongX ? 50 : 30, alongX ? 30 : 50, alongX, 20);
            roll.r.position = position;
            DrawRollStrips(roll.r);
            const auto& r = roll.r;
            EXPECT_GE(r.start, 0);
            EXPECT_LE(r.end, 50);
            EXPECT_EQ(r.extent, r.end - r.start);
            EXPECT_EQ(r.extent, std::max(0, std::min(position + 20, 50) - std::max(position, 0)));
            for (int32_t l = 0; l < 50; ++l) {
                if (l >= r.start && l < r.end) EXPECT_TRUE(roll.LineShown(l)) << l;
                else EXPECT_TRUE(roll.LineEmpty(l)) << l;
            }
        }
    }
}

TEST(RollStrips, EachStripShowsTheLineTheSheetHasWoundTo) {
    Roll roll(30, 50, false, 20);
    roll.r.position = 10;
    DrawRollStrips(roll.r);
    // The near edge continues the flat picture; the middle of the cylinder
    // shows the line a quarter turn further on; beyond the sheet's end its
    // last line.
    EXPECT_EQ(roll.curl[size_t(10) * 30 + 4], roll.picture[size_t(10) * 30 + 4]);
    const int32_t quarter = 10 + int32_t(std::floor(10 * std::numbers::pi / 2 + 0.5));
    EXPECT_EQ(roll.curl[size_t(20) * 30 + 4], roll.picture[size_t(quarter) * 30 + 4]);
    EXPECT_EQ(roll.curl[size_t(29) * 30 + 4], roll.picture[size_t(37) * 30 + 4]);
    EXPECT_EQ(roll.curlAlpha[size_t(15) * 30 + 3], 200);
    EXPECT_EQ(roll.curl[size_t(30) * 30 + 4], 0xDEADu) << "past the band untouched";
    roll.r.position = 35;
    DrawRollStrips(roll.r);
    EXPECT_EQ(roll.curl[size_t(49) * 30 + 4], roll.picture[size_t(49) * 30 + 4]);
    EXPECT_EQ(roll.curl[size_t(45) * 30 + 4], roll.picture[size_t(49) * 30 + 4]) << "past the sheet's end";

    Roll across(50, 30, true, 20);
    across.r.position = 10;
    DrawRollStrips(across.r);
    EXPECT_EQ(across.curl[size_t(7) * 50 + 10], across.picture[size_t(7) * 50 + 10]);
    EXPECT_EQ(across.curl[size_t(7) * 50 + 20], across.picture[size_t(7) * 50 + quarter]);
}

}  // namespace
