// The YUV frame conversion against libswscale's: BT.601 studio range,
// nearest chroma, one full HD frame, within two levels on
// nearly every channel and three on the rest.
#if QB_TEST_HAVE_SWSCALE

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "imaging/yuvframes.h"
#include "platform/platform_media.h"

TEST(YUVAgainstSwscale, FullHDFrameWithinSwscalesOwnRounding) {
    constexpr int kW = 1920, kH = 1080;
    std::mt19937 rng(21);
    // Smooth areas and noise: gradients with a random ripple.
    std::vector<uint8_t> y(kW * kH), u(kW / 2 * kH / 2), v(u.size());
    for (int r = 0; r < kH; ++r)
        for (int c = 0; c < kW; ++c) y[r * kW + c] = static_cast<uint8_t>((c * 255 / kW + (rng() & 31)) & 255);
    for (int r = 0; r < kH / 2; ++r)
        for (int c = 0; c < kW / 2; ++c) {
            u[r * kW / 2 + c] = static_cast<uint8_t>(rng());
            v[r * kW / 2 + c] = static_cast<uint8_t>(r * 255 / (kH / 2));
        }
    const uint8_t* planes[3] = {y.data(), u.data(), v.data()};
    const int32_t pitches[3] = {kW, kW / 2, kW / 2};

    std::vector<uint32_t> ours(kW * kH), theirs(ConvertedPictureWords(kW, kH));
    qbYUVFrameRequest q;
    q.planes = planes;
    q.pitches = pitches;
    q.destination = ours.data();
    q.sourceWidth = q.destWidth = kW;
    q.sourceHeight = q.destHeight = kH;
    q.destPitch = kW;
    q.destFormat = 10;
    q.destBytesPerPixel = 4;
    ConvertYUVToRGB(q);

    // swscale's path for this pair works in 16-bit fixed point with short
    // coefficients and strays up to three levels from the equations on a
    // fraction of a percent of the channels (its accurate-rounding path
    // strays as far, and its full-chroma path wraps saturated channels).
    SwsContext* sws = sws_getContext(kW, kH, AV_PIX_FMT_YUV420P, kW, kH, AV_PIX_FMT_BGRA, SWS_POINT, nullptr,
                                     nullptr, nullptr);
    ASSERT_NE(sws, nullptr);
    const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(sws, bt601, 0, bt601, 1, 0, 1 << 16, 1 << 16);
    uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(theirs.data()), nullptr, nullptr, nullptr};
    const int dstStride[4] = {kW * 4, 0, 0, 0};
    sws_scale(sws, planes, pitches, 0, kH, dst, dstStride);
    sws_freeContext(sws);

    int worst = 0;
    size_t beyondTwo = 0;
    for (size_t i = 0; i < ours.size(); ++i)
        for (int shift : {16, 8, 0}) {
            const int a = static_cast<int>((ours[i] >> shift) & 255), b = static_cast<int>((theirs[i] >> shift) & 255);
            worst = std::max(worst, std::abs(a - b));
            beyondTwo += std::abs(a - b) > 2 ? 1 : 0;
        }
    EXPECT_LE(worst, 3);
    EXPECT_LT(beyondTwo, ours.size() * 3 / 100) << "channels more than two levels apart";
}

#endif
