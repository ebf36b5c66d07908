// The anti-aliased compositor against a per-pixel reference of the paint
// modes (0 set, 1 blend, 2 blend with the alpha plane) and the combine
// modes (1 copy, 2 inverse, 4 scaled): an anti-aliased disc with a 2-pixel
// edge ring, with and without a shadow, opaque or transparent parts, and
// the shape's pixels from a colour or from a source image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/nativebitmap.h"
#include "core/pixelformats.h"
#include "draw/aacomposite.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"

namespace {

constexpr int32_t kImage = 22;

// An anti-aliased disc of the radius, 4x4 samples per pixel.
BitmapPtr Disc(int32_t radius) {
    const int32_t size = 2 * radius + 1;
    BitmapPtr plane(AllocAlphaChannel(size, size, true, nullptr, 0));
    for (int32_t y = 0; y < size; ++y)
        for (int32_t x = 0; x < size; ++x) {
            int inside = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx) {
                    const double dx = x + (sx + 0.5) / 4 - (radius + 0.5), dy = y + (sy + 0.5) / 4 - (radius + 0.5);
                    inside += dx * dx + dy * dy <= (radius + 0.5) * (radius + 0.5);
                }
            plane->plane->data[y * plane->plane->rowBytes + x] = static_cast<uint8_t>(std::min(255, inside * 16));
        }
    return plane;
}

struct Model {
    std::vector<uint32_t> rgb = std::vector<uint32_t>(kImage * kImage, 0);
    std::vector<int32_t> a = std::vector<int32_t>(kImage * kImage, 0);
};

int32_t At(const qbBitmap* p, int32_t x, int32_t y) { return p->plane->data[y * p->plane->rowBytes + x]; }

uint32_t Mix(uint32_t p, uint32_t c, int32_t s) {
    uint32_t out = 0;
    for (int shift : {16, 8, 0}) {
        const int32_t pc = (p >> shift) & 0xFF, cc = (c >> shift) & 0xFF;
        out |= static_cast<uint32_t>(pc + (((cc - pc) * s) >> 8)) << shift;
    }
    return out;
}

// The paint modes, from their formulas; source (may be null) gives the
// colour at the coverage position.
void RefPaint(Model& m, const qbBitmap* cov, int32_t ox, int32_t oy, uint32_t colour, int mode, int32_t v,
              const std::vector<uint32_t>* source) {
    for (int32_t j = 0; j < cov->height; ++j)
        for (int32_t i = 0; i < cov->width; ++i) {
            const int32_t x = ox + i, y = oy + j;
            if (x < 0 || y < 0 || x >= kImage || y >= kImage) continue;
            const int32_t s = At(cov, i, j);
            if (s == 0) continue;
            const uint32_t c = source ? (*source)[static_cast<size_t>(j * cov->width + i)] : colour;
            uint32_t& p = m.rgb[static_cast<size_t>(y * kImage + x)];
            int32_t& a = m.a[static_cast<size_t>(y * kImage + x)];
            if (mode == 0) {
                p = c;
            } else if (mode == 1) {
                p = s == 255 ? c : Mix(p, c, s);
            } else if (a > 0) {
                p = Mix(p, c, s);  // blended even at full coverage
                a = (a + (((s - a) * s) >> 8)) * v / 255;
            } else {
                p = c;
                a = s * v / 255;
            }
        }
}

void RefCombine(Model& m, const qbBitmap* cov, int32_t ox, int32_t oy, int mode, int32_t v) {
    for (int32_t j = 0; j < cov->height; ++j)
        for (int32_t i = 0; i < cov->width; ++i) {
            const int32_t x = ox + i, y = oy + j;
            if (x < 0 || y < 0 || x >= kImage || y >= kImage) continue;
            const int32_t s = At(cov, i, j);
            if (s == 0) continue;
            int32_t& a = m.a[static_cast<size_t>(y * kImage + x)];
            a = mode == 1 ? s : mode == 2 ? 255 - s : s * v / 255;
        }
}

// The passes in their order, written from the rules rather than the code.
Model Reference(const qbAACompose& c, const std::vector<uint32_t>* source) {
    Model m;
    const bool edge = c.withEdge;
    const int32_t tS = static_cast<int32_t>(c.shadowT), tE = static_cast<int32_t>(c.edgeT),
                  tC = static_cast<int32_t>(c.colourT);
    if (c.withShadow) {
        const qbBitmap* cover = edge ? c.edge : c.shape;
        RefPaint(m, cover, c.shadowX, c.shadowY, c.shadowColour, 0, 255, nullptr);
        RefCombine(m, cover, c.shadowX, c.shadowY, tS == 0 ? 1 : 4, 255 - tS);
    }
    if (edge) {
        if (c.withShadow) {
            RefPaint(m, c.edge, c.blockX, c.blockY, c.edgeColour, 2, 255 - tE, nullptr);
        } else {
            RefPaint(m, c.edge, c.blockX, c.blockY, c.edgeColour, 0, 255, nullptr);
            RefCombine(m, c.edge, c.blockX, c.blockY, tE == 0 ? 1 : 4, 255 - tE);
        }
        if (tC == 0 && tE == 0) {
            RefPaint(m, c.shape, c.shapeX, c.shapeY, c.colour, 1, 255, source);
        } else if (tC == 0) {
            RefCombine(m, c.shape, c.shapeX, c.shapeY, 2, 0);
            RefPaint(m, c.shape, c.shapeX, c.shapeY, c.colour, 2, 255, source);
        } else if (tC < 255) {
            RefCombine(m, c.shape, c.shapeX, c.shapeY, 2, 0);
            RefPaint(m, c.shape, c.shapeX, c.shapeY, c.colour, 2, 255 - tC, source);
        } else {
            RefCombine(m, c.shape, c.shapeX, c.shapeY, 2, 0);
        }
    } else if (c.withShadow) {
        RefPaint(m, c.shape, c.blockX, c.blockY, c.colour, 2, 255 - tC, source);
    } else {
        RefCombine(m, c.shape, c.blockX, c.blockY, tC == 0 ? 1 : 4, 255 - tC);
        RefPaint(m, c.shape, c.blockX, c.blockY, c.colour, 0, 255, source);
    }
    return m;
}

}  // namespace

TEST(AACompositor, EveryPixelAndAlphaByteEqualsTheReference) {
    SetPlatformPixelFormat(kFormatARGB);
    BitmapPtr shape = Disc(6), edge = Disc(8);
    // Two source images the shape's size: a ramp (as a gradient gives) and
    // a checker (as a texture tile gives).
    std::vector<uint32_t> ramp(13 * 13), checker(13 * 13);
    BitmapPtr rampImage(AllocBitmap(13, 13, 0, nullptr)), checkerImage(AllocBitmap(13, 13, 0, nullptr));
    for (int32_t y = 0; y < 13; ++y)
        for (int32_t x = 0; x < 13; ++x) {
            ramp[static_cast<size_t>(y * 13 + x)] = static_cast<uint32_t>(x * 19) << 16 | static_cast<uint32_t>(y * 17);
            checker[static_cast<size_t>(y * 13 + x)] = ((x / 3 + y / 3) & 1) ? 0x20E040 : 0x402010;
            WriteBitmapPixel(rampImage.get(), x, y, ramp[static_cast<size_t>(y * 13 + x)], false);
            WriteBitmapPixel(checkerImage.get(), x, y, checker[static_cast<size_t>(y * 13 + x)], false);
        }
    struct Case {
        uint32_t colourT, edgeT;
    };
    // Opaque over opaque, opaque over a transparent edge, a transparent
    // colour, and a colour that cuts the shape out of the edge.
    const Case cases[] = {{0, 0}, {0, 0x80}, {0x60, 0}, {255, 0}};
    int checked = 0;
    for (bool withEdge : {true, false})
        for (const Case& k : cases)
            for (int shadow : {-1, 0, 0x80})
                for (int src = 0; src < 3; ++src) {
                    BitmapPtr image(AllocBitmap(kImage, kImage, 0, nullptr));
                    FillBitmapRect(image.get(), 0, 0, kImage, kImage, 0);
                    BitmapPtr alpha(AllocAlphaChannel(kImage, kImage, true, nullptr, 0));
                    qbAACompose c;
                    c.image = image.get();
                    c.imageAlpha = alpha.get();
                    c.imageWidth = c.imageHeight = kImage;
                    c.shape = shape.get();
                    c.shapeWidth = c.shapeHeight = 13;
                    c.edge = edge.get();
                    c.edgeWidth = c.edgeHeight = 17;
                    c.withEdge = withEdge;
                    c.withShadow = shadow >= 0;
                    c.blockX = c.blockY = 1;
                    c.shapeX = c.shapeY = withEdge ? 3 : 1;
                    c.shadowX = c.shadowY = 5;
                    c.colour = 0xC03050;
                    c.edgeColour = 0x0093DD;
                    c.shadowColour = 0x101010;
                    c.colourT = k.colourT;
                    c.edgeT = k.edgeT;
                    c.shadowT = shadow < 0 ? 0 : static_cast<uint32_t>(shadow);
                    const std::vector<uint32_t>* source = src == 1 ? &ramp : src == 2 ? &checker : nullptr;
                    c.source = src == 1 ? rampImage.get() : src == 2 ? checkerImage.get() : nullptr;
                    CompositeAntialiasedShape(c);
                    const Model want = Reference(c, source);
                    for (int32_t y = 0; y < kImage; ++y)
                        for (int32_t x = 0; x < kImage; ++x) {
                            const size_t n = static_cast<size_t>(y * kImage + x);
                            ASSERT_EQ(ReadBitmapPixel(image.get(), x, y, false), want.rgb[n])
                                << withEdge << " " << k.colourT << "/" << k.edgeT << " shadow " << shadow << " src "
                                << src << " at " << x << "," << y;
                            ASSERT_EQ(At(alpha.get(), x, y), want.a[n])
                                << withEdge << " " << k.colourT << "/" << k.edgeT << " shadow " << shadow << " src "
                                << src << " at " << x << "," << y;
                        }
                    ++checked;
                }
    EXPECT_EQ(checked, 72);
    SetPlatformPixelFormat(kPixelFormatUnset);
}
