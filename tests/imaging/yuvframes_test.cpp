// YUV 4:2:0 frames to pixels: the formulas at their edges and over every
// (Y, U, V), the chroma rows, nearest-pixel scaling, the exact extent of
// every row in every format, and each instruction set against the reference.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/yuvframes.h"

namespace {

constexpr KernelIsa kIsas[] = {KernelIsa::Portable, KernelIsa::Avx2, KernelIsa::Avx512};

// A frame with its own planes; chroma is (w + 1) / 2 by (h + 1) / 2.
struct Frame {
    int32_t w, h;
    std::vector<uint8_t> y, u, v;
    const uint8_t* planes[3];
    int32_t pitches[3];
    Frame(int32_t width, int32_t height) : w(width), h(height) {
        const int32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
        y.resize(static_cast<size_t>(w) * h);
        u.resize(static_cast<size_t>(cw) * ch);
        v.resize(u.size());
        planes[0] = y.data(), planes[1] = u.data(), planes[2] = v.data();
        pitches[0] = w, pitches[1] = cw, pitches[2] = cw;
    }
    void Randomise(std::mt19937& rng) {
        for (auto* p : {&y, &u, &v})
            for (auto& b : *p) b = static_cast<uint8_t>(rng());
    }
    qbYUVFrameRequest Request(void* out, int32_t pitch, int32_t format, int32_t dw = 0, int32_t dh = 0) const {
        qbYUVFrameRequest q;
        q.planes = planes;
        q.pitches = pitches;
        q.destination = out;
        q.sourceWidth = w, q.sourceHeight = h;
        q.destWidth = dw ? dw : w, q.destHeight = dh ? dh : h;
        q.destPitch = pitch;
        q.destFormat = format;
        q.destBytesPerPixel = YUVDestinationBytes(format);
        return q;
    }
};

// The three formulas as written, in plain integers.
uint32_t Formula(int64_t y, int64_t u, int64_t v) {
    auto clamp = [](int64_t x) { return static_cast<uint32_t>(x < 0 ? 0 : x > 255 ? 255 : x); };
    const uint32_t r = clamp((y * 1904000 + v * 2609823 - 363703744) / 1635200);
    const uint32_t g = clamp((y * 3827562 - u * 1287801 - v * 2672387 + 447306710) / 3287200);
    const uint32_t b = clamp((y * 952000 + u * 1649289 - 225932192) / 817600);
    return (r << 16) | (g << 8) | b;
}

}  // namespace

TEST(YUVFrames, FormulaEdges) {
    auto rgb = [](uint32_t y, uint32_t u, uint32_t v) {
        const YUVColour c = YUVToRGB(y, u, v);
        return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b;
    };
    EXPECT_EQ(rgb(16, 128, 128), 0u);
    EXPECT_EQ(rgb(235, 128, 128), 0xFFFFFFu);
    EXPECT_EQ(rgb(0, 128, 128), 0u);
    EXPECT_EQ(rgb(255, 128, 128), 0xFFFFFFu);
    EXPECT_EQ(rgb(255, 255, 255), Formula(255, 255, 255));
    EXPECT_EQ(rgb(0, 0, 0), Formula(0, 0, 0));
}

// Every (Y, U, V): chroma (U, V) = (column, row) of a 256 x 256 chroma plane,
// and the four luma bytes of each 2 x 2 block step through all 256 values
// over 64 frames.
TEST(YUVFrames, EverySampleMatchesTheFormulas) {
    Frame f(512, 512);
    for (int32_t r = 0; r < 256; ++r)
        for (int32_t c = 0; c < 256; ++c) f.u[r * 256 + c] = static_cast<uint8_t>(c), f.v[r * 256 + c] = static_cast<uint8_t>(r);
    std::vector<uint32_t> out(512 * 512);
    for (KernelIsa isa : kIsas)
        for (int32_t k = 0; k < 64; ++k) {
            for (int32_t r = 0; r < 512; ++r)
                for (int32_t c = 0; c < 512; ++c) f.y[r * 512 + c] = static_cast<uint8_t>(4 * k + (c & 1) + 2 * (r & 1));
            ConvertYUVToRGBWith(isa, f.Request(out.data(), 512, 10));
            for (int32_t r = 0; r < 512; ++r)
                for (int32_t c = 0; c < 512; ++c) {
                    const uint32_t want = Formula(f.y[r * 512 + c], c >> 1, r >> 1);
                    ASSERT_EQ(out[r * 512 + c], want) << "Y " << int{f.y[r * 512 + c]} << " U " << (c >> 1) << " V "
                                                      << (r >> 1) << " isa " << int(isa);
                }
        }
}

TEST(YUVFrames, OddHeightTakesTheLastChromaRow) {
    Frame f(2, 3);
    f.y = {100, 100, 100, 100, 100, 100};
    f.u = {128, 40};
    f.v = {128, 220};
    std::vector<uint32_t> out(6);
    ConvertYUVToRGB(f.Request(out.data(), 2, 10));
    EXPECT_EQ(out[0], Formula(100, 128, 128));
    EXPECT_EQ(out[3], Formula(100, 128, 128));
    EXPECT_EQ(out[4], Formula(100, 40, 220));
    EXPECT_EQ(out[5], Formula(100, 40, 220));
}

TEST(YUVFrames, DoubleSizeRepeatsEveryPixel) {
    std::mt19937 rng(7);
    Frame f(320, 240);
    f.Randomise(rng);
    std::vector<uint32_t> plain(320 * 240), big(640 * 480);
    ConvertYUVToRGB(f.Request(plain.data(), 320, 10));
    ScaleYUVToRGB(f.Request(big.data(), 640, 10, 640, 480));
    for (int32_t r = 0; r < 480; ++r)
        for (int32_t c = 0; c < 640; ++c) ASSERT_EQ(big[r * 640 + c], plain[(r / 2) * 320 + c / 2]) << c << "," << r;
}

// Each row ends exactly at its width: canary words after every row stay,
// and the pixels equal the reference's, for both conversions in all formats.
TEST(YUVFrames, EveryWidthWritesExactlyItsPixels) {
    std::mt19937 rng(11);
    constexpr uint32_t kCanary = 0xA5A5A5A5u;
    for (int32_t w = 0; w <= 17; ++w)
        for (int32_t format = 0; format <= 13; ++format)
            for (KernelIsa isa : kIsas)
                for (bool scaled : {false, true}) {
                    const int32_t bytes = YUVDestinationBytes(format);
                    const int32_t h = 3;
                    Frame f(scaled ? 13 : std::max(w, 1), h);
                    f.Randomise(rng);
                    if (!scaled) f.w = w;
                    // Rows of w pixels and one canary word; the pitch in pixels covers both.
                    const int32_t pitch = w + (4 + bytes - 1) / bytes;
                    std::vector<uint8_t> a(static_cast<size_t>(pitch) * bytes * h + 4), b(a.size());
                    for (size_t i = 0; i + 4 <= a.size(); i += 4) std::memcpy(&a[i], &kCanary, 4);
                    b = a;
                    qbYUVFrameRequest q = f.Request(a.data(), pitch, format, w, h);
                    q.destWidth = w;
                    qbYUVFrameRequest r = q;
                    r.destination = b.data();
                    if (scaled) {
                        ScaleYUVToRGBWith(isa, q);
                        ScaleYUVToRGBRef(r);
                    } else {
                        ConvertYUVToRGBWith(isa, q);
                        ConvertYUVToRGBRef(r);
                    }
                    ASSERT_EQ(a, b) << "width " << w << " format " << format << " scaled " << scaled;
                    for (int32_t row = 0; row < h; ++row) {
                        uint32_t canary;
                        std::memcpy(&canary, &a[static_cast<size_t>(row * pitch + w) * bytes], 4);
                        ASSERT_EQ(canary, kCanary) << "width " << w << " format " << format << " row " << row;
                    }
                    if (w > 0) {
                        // The row was written: some pixel differs from the canary bytes
                        // unless every pixel happens to equal them.
                        std::vector<uint8_t> untouched(static_cast<size_t>(w) * bytes, 0xA5);
                        bool changed = false;
                        for (int32_t row = 0; row < h; ++row)
                            changed |= std::memcmp(&a[static_cast<size_t>(row * pitch) * bytes], untouched.data(),
                                                   untouched.size()) != 0;
                        ASSERT_TRUE(changed) << "width " << w << " format " << format;
                    }
                }
}

// Rows wide enough for the vector steps, with a tail after them, in every
// format, by every instruction set: equal to the reference, the word after
// each row untouched; odd heights leave a last row without a partner.
TEST(YUVFrames, WideRowsMatchReferenceInEveryFormat) {
    std::mt19937 rng(13);
    for (const int32_t w : {32, 33, 63, 64, 97, 130})
        for (const int32_t h : {1, 3, 4}) {
            Frame f(w, h);
            f.Randomise(rng);
            for (int32_t format = 0; format <= 13; ++format)
                for (KernelIsa isa : kIsas) {
                    const int32_t bytes = YUVDestinationBytes(format), pitch = w + (4 + bytes - 1) / bytes;
                    std::vector<uint8_t> a(static_cast<size_t>(pitch) * bytes * h, 0xA5), b(a);
                    ConvertYUVToRGBWith(isa, f.Request(a.data(), pitch, format));
                    ConvertYUVToRGBRef(f.Request(b.data(), pitch, format));
                    ASSERT_EQ(a, b) << w << "x" << h << " format " << format << " isa " << int(isa);
                }
        }
}

TEST(YUVFrames, ScaledMatchesReferenceOnOddSizes) {
    std::mt19937 rng(5);
    const int32_t sizes[][4] = {{7, 5, 19, 11}, {33, 17, 10, 9}, {1, 1, 9, 4}, {64, 48, 63, 47}, {5, 9, 3, 1}};
    for (const auto& s : sizes)
        for (int32_t format = 0; format <= 13; ++format)
            for (KernelIsa isa : kIsas) {
                Frame f(s[0], s[1]);
                f.Randomise(rng);
                const int32_t bytes = YUVDestinationBytes(format);
                std::vector<uint8_t> a(static_cast<size_t>(s[2]) * s[3] * bytes, 0), b(a.size(), 0);
                ScaleYUVToRGBWith(isa, f.Request(a.data(), s[2], format, s[2], s[3]));
                ScaleYUVToRGBRef(f.Request(b.data(), s[2], format, s[2], s[3]));
                ASSERT_EQ(a, b) << s[0] << "x" << s[1] << " to " << s[2] << "x" << s[3] << " format " << format;
            }
}

TEST(YUVFrames, MismatchedOrEmptyRequestsWriteNothing) {
    Frame f(4, 2);
    f.y.assign(8, 200);
    std::vector<uint32_t> out(16, 0x12345678u);
    const std::vector<uint32_t> before = out;
    qbYUVFrameRequest q = f.Request(out.data(), 4, 10);
    q.destBytesPerPixel = 2;
    ConvertYUVToRGB(q);
    q.destBytesPerPixel = 3;
    ConvertYUVToRGB(q);
    q = f.Request(out.data(), 4, 4);
    q.destBytesPerPixel = 4;
    ConvertYUVToRGB(q);
    q = f.Request(out.data(), 4, 14);
    q.destBytesPerPixel = 4;
    ConvertYUVToRGB(q);
    ScaleYUVToRGB(q);
    q = f.Request(out.data(), 4, 10, 4, 2);
    q.destWidth = 0;
    ScaleYUVToRGB(q);
    q.destWidth = 4;
    q.destHeight = 0;
    ScaleYUVToRGB(q);
    q.destHeight = -3;
    ScaleYUVToRGB(q);
    EXPECT_EQ(out, before);
}
