// Elliptical weighted average resampling: a destination pixel of a
// distortion is the Gaussian-weighted average of the source pixels inside
// the image of that pixel under the distortion's local linear map.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

// The source as the resampler reads it; planes may be null. The mask is
// one bit per pixel, most significant bit first.
struct qbResampleSource {
    int32_t width = 0;
    int32_t height = 0;
    const uint8_t* pixels = nullptr;
    int32_t modulo = 0;  // row length in pixels
    int32_t bytesPerPixel = 4;
    int32_t pixelFormat = 10;
    const uint8_t* mask = nullptr;
    int32_t maskRowBytes = 0;
    const uint8_t* alpha = nullptr;
    int32_t alphaRowBytes = 0;
};

inline constexpr int kResampleTableSize = 1024;
// Ellipses whose box holds more samples than this are interpolated instead:
// near a perspective's horizon one pixel could otherwise sum millions.
inline constexpr double kResampleMaxBoxSamples = 65536.0;

struct qbResampleFilter {
    qbResampleSource source;
    bool pointSampling = false;
    int64_t area = 0;
    bool tooLarge = false;
    bool tooSmall = false;
    double a = 0, b = 0, c = 0;  // already scaled by table size / F
    double rowReach = 0;
    double columnReach = 0;
    double halfRun = 0;
    double slope = 0;
    std::array<double, kResampleTableSize> weights{};
    double tableSize = kResampleTableSize;
    int64_t lastSamples = 0;  // samples visited by the last ResamplePixel
};

struct qbResampleColour {
    uint8_t red = 0, green = 0, blue = 0, alpha = 0;
};

// 0 or ERR_MEM.
int CreateResampleFilter(const qbResampleSource& source, std::unique_ptr<qbResampleFilter>* out);
// The derivatives of the source point by destination x and y: u by x, u by
// y, v by x, v by y.
void SetResampleEllipse(qbResampleFilter* filter, double dUx, double dUy, double dVx, double dVy);
// The pixel at source position (px, py), pixel centres at integers. False
// when the ellipse lies wholly outside the source (the pixel stays
// uncovered; out is then all 0).
bool ResamplePixel(qbResampleFilter* filter, double px, double py, qbResampleColour* out);
qbResampleColour InterpolatePixelBilinear(const qbResampleFilter& filter, double px, double py);
