// Bitmaps and planes: row sizes, locking, the attribute query, mask
// drawing and the ARGB buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/errcodes.h"
#include "core/nativebitmap.h"
#include "core/pixelformats.h"
#include "imaging/bitmap.h"

namespace {

class BitmapTest : public ::testing::Test {
protected:
    void TearDown() override { SetPlatformPixelFormat(kPixelFormatUnset); }
};

BitmapPtr Mask(int32_t width, int32_t height, const qbBitmap* reference = nullptr) {
    return BitmapPtr(AllocMask(reference, width, height, true, nullptr, 0));
}

bool Bit(qbBitmap* mask, int32_t x, int32_t y) { return ReadBitmapPixel(mask, x, y, true) != 0; }

}  // namespace

TEST_F(BitmapTest, PlaneRowSizes) {
    // Alpha rows round up to four bytes, mask rows to two bytes per started
    // sixteen pixels.
    BitmapPtr alpha(AllocAlphaChannel(5, 2, true, nullptr, 0));
    ASSERT_TRUE(alpha);
    EXPECT_EQ(GetBitmapAttr(alpha.get(), kBitmapAttrAlphaRowBytes), 8);
    EXPECT_EQ(GetBitmapAttr(alpha.get(), kBitmapAttrMaskRowBytes), 0);
    EXPECT_EQ(AlphaRowBytes(1), 4u);
    BitmapPtr mask = Mask(17, 3);
    ASSERT_TRUE(mask);
    EXPECT_EQ(GetBitmapAttr(mask.get(), kBitmapAttrMaskRowBytes), 4);
    for (auto [width, bytes] : {std::pair{1, 2u}, std::pair{16, 2u}, std::pair{32, 4u}, std::pair{33, 6u}})
        EXPECT_EQ(MaskRowBytes(width), bytes) << width;

    // A mask follows a wider reference's row length, but never gets narrower
    // than its own rows.
    BitmapPtr colour(AllocBitmap(17, 2, 0, nullptr));  // row length 20
    ASSERT_EQ(GetBitmapAttr(colour.get(), kBitmapAttrRowLength), 20);
    EXPECT_EQ(GetBitmapAttr(Mask(3, 2, colour.get()).get(), kBitmapAttrMaskRowBytes), 4);
    BitmapPtr small(AllocBitmap(4, 2, 0, nullptr));  // row length 4
    BitmapPtr wide = Mask(40, 2, small.get());
    ASSERT_TRUE(wide);
    EXPECT_EQ(GetBitmapAttr(wide.get(), kBitmapAttrMaskRowBytes), 6);
    // The last pixel of the last row lies inside the rows (sanitizers watch).
    WriteBitmapPixel(wide.get(), 39, 1, kMaskVisible, true);
    EXPECT_TRUE(Bit(wide.get(), 39, 1));
}

TEST_F(BitmapTest, LocksGiveThePlatformFormatAndPaddedRows) {
    BitmapPtr bm(AllocBitmap(5, 3, kAllocVideoBitmap, nullptr));
    ASSERT_TRUE(bm);
    // Without an adapter that keeps video bitmaps, they are ordinary ones.
    EXPECT_EQ(GetBitmapAttr(bm.get(), kBitmapAttrVideoFlag), 0);
    qbBitmapLock lock;
    ASSERT_NE(LockBitmap(bm.get(), 0, &lock), 0u);
    EXPECT_EQ(lock.rowLength, 8);
    EXPECT_EQ(lock.pixelFormat, 10u);
    EXPECT_EQ(lock.bytesPerPixel, 4u);
    EXPECT_EQ(reinterpret_cast<intptr_t>(lock.pixels), GetBitmapAttr(bm.get(), kBitmapAttrPixels));
    UnlockBitmap(&lock);
    EXPECT_EQ(lock.lockToken, 0u);

    SetPlatformPixelFormat(kFormatBGRA);
    BitmapPtr bgra(AllocBitmap(5, 1, 0, nullptr));
    ASSERT_NE(LockBitmap(bgra.get(), 0, &lock), 0u);
    EXPECT_EQ(lock.pixelFormat, 11u);
    EXPECT_EQ(lock.rowLength, 8);
    UnlockBitmap(&lock);

    // Planes lock as their own rows.
    BitmapPtr alpha(AllocAlphaChannel(5, 2, true, nullptr, 0));
    ASSERT_NE(LockBitmap(alpha.get(), 0, &lock), 0u);
    EXPECT_EQ(lock.pixelFormat, 14u);
    EXPECT_EQ(lock.rowLength, 8);
    EXPECT_EQ(reinterpret_cast<intptr_t>(lock.pixels), GetBitmapAttr(alpha.get(), kBitmapAttrAlphaData));
    UnlockBitmap(&lock);
    BitmapPtr mask = Mask(17, 2);
    ASSERT_NE(LockBitmap(mask->plane.get(), kLockPlaneRecord, &lock), 0u);
    EXPECT_EQ(lock.pixelFormat, 15u);
    EXPECT_EQ(lock.rowLength, 4);
    UnlockBitmap(&lock);

    // Failed locks report token 0 and unlock as nothing.
    lock.lockToken = 7;
    EXPECT_EQ(LockBitmap(static_cast<qbBitmap*>(nullptr), 0, &lock), 0u);
    EXPECT_EQ(lock.lockToken, 0u);
    qbBitmapPlane wrongType;
    wrongType.type = 3;
    EXPECT_EQ(LockBitmap(&wrongType, kLockPlaneRecord, &lock), 0u);
    UnlockBitmap(&lock);
}

TEST_F(BitmapTest, ExternalPlanesUseTheCallersRows) {
    std::vector<uint8_t> rows(3 * 10, 0);
    BitmapPtr mask(AllocMask(nullptr, 17, 3, false, rows.data(), 10));
    ASSERT_TRUE(mask);
    EXPECT_EQ(mask->plane->external, 1u);
    EXPECT_EQ(GetBitmapAttr(mask.get(), kBitmapAttrMaskRowBytes), 10);
    WriteBitmapPixel(mask.get(), 9, 2, kMaskVisible, true);
    EXPECT_EQ(rows[2 * 10 + 1], 0x40);
}

TEST_F(BitmapTest, SizesAreRefusedBeyondTheCap) {
    EXPECT_EQ(AllocBitmap(0, 5, 0, nullptr), nullptr);
    EXPECT_EQ(AllocBitmap(5, -1, 0, nullptr), nullptr);
    EXPECT_EQ(AllocBitmap(1 << 16, 1 << 15, 0, nullptr), nullptr);  // 2^33 bytes
    EXPECT_EQ(AllocBitmap(INT32_MAX, INT32_MAX, 0, nullptr), nullptr);
    EXPECT_EQ(AllocAlphaChannel(INT32_MAX, INT32_MAX, true, nullptr, 0), nullptr);
    EXPECT_EQ(AllocMask(nullptr, INT32_MAX, INT32_MAX, true, nullptr, 0), nullptr);
    EXPECT_EQ(AllocMask(nullptr, 0, 1, true, nullptr, 0), nullptr);
}

TEST_F(BitmapTest, MaskXorFlipsSinglePixelsAndRectangles) {
    BitmapPtr mask = Mask(20, 4);
    WriteBitmapPixel(mask.get(), 3, 1, kMaskXor, true);
    EXPECT_TRUE(Bit(mask.get(), 3, 1));
    WriteBitmapPixel(mask.get(), 3, 1, kMaskXor, true);
    EXPECT_FALSE(Bit(mask.get(), 3, 1));

    FillMaskRect(mask.get(), 0, 0, 10, 2, kMaskVisible);
    FillMaskRect(mask.get(), 5, 1, 10, 2, kMaskXor);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 20; ++x) {
            const bool before = x < 10 && y < 2;
            const bool flipped = x >= 5 && x < 15 && y >= 1 && y < 3;
            EXPECT_EQ(Bit(mask.get(), x, y), before != flipped) << x << "," << y;
        }
    }
}

TEST_F(BitmapTest, FillModesSetClearOrLeaveBitsInsideThePlane) {
    BitmapPtr mask = Mask(16, 1);
    FillMaskRect(mask.get(), 0, 0, 8, 1, kMaskVanillaCopy);
    FillMaskRect(mask.get(), 8, 0, 8, 1, kMaskOr);
    FillMaskRect(mask.get(), 0, 0, 16, 1, kMaskAnd);  // changes nothing
    FillMaskRect(mask.get(), 0, 0, 16, 1, 6);         // unknown mode: nothing
    for (int x = 0; x < 16; ++x) EXPECT_TRUE(Bit(mask.get(), x, 0)) << x;
    FillMaskRect(mask.get(), 4, 0, 4, 1, kMaskInvisible);
    EXPECT_EQ(mask->plane->data[0], 0xF0);
    EXPECT_EQ(mask->plane->data[1], 0xFF);
    // Clipped to the plane; bits beyond the width stay clear.
    BitmapPtr narrow = Mask(9, 2);
    FillMaskRect(narrow.get(), -5, -5, 100, 100, kMaskVisible);
    EXPECT_TRUE(Bit(narrow.get(), 8, 1));
    EXPECT_EQ(narrow->plane->data[1], 0x80);
    EXPECT_EQ(narrow->plane->data[2 + 1], 0x80);
}

TEST_F(BitmapTest, BlitMaskRectCombinesBitByMode) {
    // Source row 1100, destination row 1010, combined per mode.
    const struct {
        int mode;
        uint8_t expected;
    } cases[] = {{kMaskVisible, 0xE0}, {kMaskOr, 0xE0},  {kMaskInvisible, 0x20},
                 {kMaskVanillaCopy, 0xC0}, {kMaskXor, 0x60}, {kMaskAnd, 0x80}, {6, 0xA0}};
    for (const auto& c : cases) {
        BitmapPtr source = Mask(4, 1);
        BitmapPtr dest = Mask(4, 1);
        source->plane->data[0] = 0xC0;
        dest->plane->data[0] = 0xA0;
        BlitMaskRect(source.get(), 0, 0, dest.get(), 0, 0, 4, 1, c.mode, nullptr, 0);
        EXPECT_EQ(dest->plane->data[0], c.expected) << c.mode;
    }
}

TEST_F(BitmapTest, BlitMaskRectTakesCallerRowsAndOffsets) {
    const uint8_t rows[2] = {0x01, 0x80};  // pixels 7 and 8
    BitmapPtr dest = Mask(4, 1);
    BlitMaskRect(nullptr, 7, 0, dest.get(), 2, 0, 2, 1, kMaskVanillaCopy, rows, 2);
    EXPECT_EQ(dest->plane->data[0], 0x30);
}

// Random planes, offsets on and off byte boundaries and rectangles reaching
// past every edge, against the rule applied bit by bit.
TEST_F(BitmapTest, BlitMaskRectMatchesBitByBitOnRandomRectangles) {
    uint32_t seed = 12345;
    const auto next = [&seed](int32_t n) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int32_t>((seed >> 8) % static_cast<uint32_t>(n));
    };
    for (int round = 0; round < 400; ++round) {
        const int32_t sw = 1 + next(200), sh = 1 + next(6), dw = 1 + next(200), dh = 1 + next(6);
        BitmapPtr source = Mask(sw, sh), dest = Mask(dw, dh), expected = Mask(dw, dh);
        for (size_t i = 0; i < source->plane->storage.size(); ++i) source->plane->data[i] = static_cast<uint8_t>(next(256));
        for (size_t i = 0; i < dest->plane->storage.size(); ++i)
            dest->plane->data[i] = expected->plane->data[i] = static_cast<uint8_t>(next(256));
        const int32_t sx = next(sw + 8) - 4, sy = next(sh + 2) - 1, dx = next(dw + 8) - 4, dy = next(dh + 2) - 1;
        const int32_t w = next(220), mode = next(6);
        const bool callerRows = round % 4 == 0;
        // Caller rows carry no height: the rectangle stays inside them.
        const int32_t h = callerRows ? std::min(next(8), sh - sy) : next(8);
        const uint32_t rowBytes = source->plane->rowBytes;
        for (int32_t r = 0; r < h; ++r)
            for (int32_t c = 0; c < w; ++c) {
                const int32_t fx = sx + c, fy = sy + r, tx = dx + c, ty = dy + r;
                if (tx < 0 || ty < 0 || tx >= dw || ty >= dh || fx < 0 || fy < 0 || fy >= sh) continue;
                if (callerRows ? fx >= static_cast<int32_t>(rowBytes * 8) : fx >= sw) continue;
                const bool sb = (source->plane->data[fy * rowBytes + fx / 8] >> (7 - fx % 8)) & 1;
                const bool d = Bit(expected.get(), tx, ty);
                const bool out = mode == kMaskInvisible ? d && !sb
                                 : mode == kMaskVanillaCopy ? sb
                                 : mode == kMaskXor         ? d != sb
                                 : mode == kMaskAnd         ? d && sb
                                                            : d || sb;
                uint8_t& byte = expected->plane->data[ty * expected->plane->rowBytes + tx / 8];
                byte = static_cast<uint8_t>(out ? byte | (0x80 >> (tx % 8)) : byte & ~(0x80 >> (tx % 8)));
            }
        if (callerRows)
            BlitMaskRect(nullptr, sx, sy, dest.get(), dx, dy, w, h, mode, source->plane->data, rowBytes);
        else
            BlitMaskRect(source.get(), sx, sy, dest.get(), dx, dy, w, h, mode, nullptr, 0);
        ASSERT_EQ(dest->plane->storage, expected->plane->storage) << "round " << round;
    }
}

TEST_F(BitmapTest, PixelsReadBackAndArgbWithoutPlanesIsOpaque) {
    BitmapPtr bm(AllocBitmap(3, 2, 0, nullptr));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) WriteBitmapPixel(bm.get(), x, y, static_cast<uint32_t>(0x10 * (y * 3 + x)), false);
    EXPECT_EQ(ReadBitmapPixel(bm.get(), 2, 1, false), 0x50u);
    // Outside the bitmap nothing is written and black is read.
    WriteBitmapPixel(bm.get(), 3, 1, 0xFFFFFF, false);
    EXPECT_EQ(ReadBitmapPixel(bm.get(), -1, 0, false), 0u);
    const auto argb = GetBitmapARGB(bm.get(), 0, 0, 3, 2, nullptr, nullptr, kNoKeyColour, false, 0);
    ASSERT_EQ(argb.size(), 6u);
    for (size_t i = 0; i < argb.size(); ++i) EXPECT_EQ(argb[i], 0xFF000000u | (0x10 * i)) << i;
}

TEST_F(BitmapTest, ArgbTakesAlphaFromTheMaskOrThePlane) {
    BitmapPtr bm(AllocBitmap(2, 1, 0, nullptr));
    WriteBitmapPixel(bm.get(), 0, 0, 0x111111, false);
    WriteBitmapPixel(bm.get(), 1, 0, 0x222222, false);
    BitmapPtr mask = Mask(2, 1);
    WriteBitmapPixel(mask.get(), 0, 0, kMaskVisible, true);

    auto argb = GetBitmapARGB(bm.get(), 0, 0, 2, 1, mask.get(), nullptr, kNoKeyColour, true, 0);
    ASSERT_EQ(argb.size(), 2u);
    EXPECT_EQ(argb[0], 0xFF111111u);
    EXPECT_EQ(argb[1], 0x00222222u);

    argb = GetBitmapARGB(bm.get(), 0, 0, 2, 1, mask.get(), nullptr, 0x00FF00, false, 0);
    EXPECT_EQ(argb[0], 0xFF111111u);
    EXPECT_EQ(argb[1], 0xFF00FF00u);

    BitmapPtr alpha(AllocAlphaChannel(2, 1, true, nullptr, 0));
    alpha->plane->data[0] = 0x80;
    argb = GetBitmapARGB(bm.get(), 0, 0, 2, 1, nullptr, alpha.get(), 0x000100, false, 0);
    EXPECT_EQ(argb[0], 0x80111111u);
    EXPECT_EQ(argb[1], 0x00222322u);
}

TEST_F(BitmapTest, CreateFromArgbWithKeySetsExactlyTheDifferingBits) {
    constexpr int32_t kKey = 0x00FF00;
    constexpr int32_t kW = 19, kH = 3, kRow = 21;
    std::vector<uint32_t> pixels(kRow * kH);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kRow; ++x) {
            // The key with a different alpha byte still counts as the key.
            const bool key = (x * 7 + y * 3) % 4 == 0;
            pixels[y * kRow + x] = key ? 0xAB00FF00u : static_cast<uint32_t>(0x01000000u * x + 0x00FF01u);
        }
    }
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
    ASSERT_EQ(CreateBitmapFromARGB(pixels.data(), kKey, kW, kH, kRow, false, 0, 0, &bitmap, &mask, &alpha), ERR_NONE);
    BitmapPtr b(bitmap), m(mask), a(alpha);
    ASSERT_TRUE(b);
    ASSERT_TRUE(m);
    EXPECT_FALSE(a);
    EXPECT_EQ(GetBitmapAttr(m.get(), kBitmapAttrMaskRowBytes), 4);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const uint32_t p = pixels[y * kRow + x];
            EXPECT_EQ(Bit(m.get(), x, y), (p & 0xFFFFFF) != kKey) << x << "," << y;
            EXPECT_EQ(ReadBitmapPixel(b.get(), x, y, false), p & 0xFFFFFF) << x << "," << y;
        }
        // Padding bits past the width stay clear.
        for (int x = kW; x < 32; ++x) EXPECT_FALSE(m->plane->data[y * 4 + x / 8] & (0x80 >> (x % 8))) << x;
    }
}

TEST_F(BitmapTest, CreateFromArgbWithoutKeyMakesNoMaskAndKeepsAlphaOnRequest) {
    const uint32_t pixels[4] = {0x10203040, 0x50607080, 0x90A0B0C0, 0xD0E0F000};
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
    ASSERT_EQ(CreateBitmapFromARGB(pixels, kNoKeyColour, 2, 2, 2, true, 2, 0, &bitmap, &mask, &alpha), ERR_NONE);
    BitmapPtr b(bitmap), m(mask), a(alpha);
    EXPECT_FALSE(m);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->plane->data[0], 0x10);
    EXPECT_EQ(a->plane->data[1], 0x50);
    EXPECT_EQ(a->plane->data[4], 0x90);
    EXPECT_EQ(a->plane->data[5], 0xD0);
    const auto argb = GetBitmapARGB(b.get(), 0, 0, 2, 2, nullptr, a.get(), kNoKeyColour, false, 0);
    ASSERT_EQ(argb.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(argb[i], pixels[i]) << i;
}

TEST_F(BitmapTest, CreateFromArgbRefusesImpossibleBitmaps) {
    const uint32_t pixel = 0;
    qbBitmap* bitmap = reinterpret_cast<qbBitmap*>(&bitmap);
    EXPECT_EQ(CreateBitmapFromARGB(&pixel, kNoKeyColour, 0, 1, 1, false, 0, 0, &bitmap, nullptr, nullptr),
              ERR_BITMAP);
    EXPECT_EQ(bitmap, nullptr);
}

TEST_F(BitmapTest, CopiedAlphaChannelHasTheSameBytesInItsOwnRows) {
    BitmapPtr alpha(AllocAlphaChannel(5, 3, true, nullptr, 0));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 8; ++x) alpha->plane->data[y * 8 + x] = static_cast<uint8_t>(y * 16 + x);
    BitmapPtr copy(CopyAlphaChannel(alpha.get(), 5, 3));
    ASSERT_TRUE(copy);
    ASSERT_NE(copy->plane->data, alpha->plane->data);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(copy->plane->data[y * 8 + x], y * 16 + x) << x << "," << y;
    EXPECT_EQ(CopyAlphaChannel(nullptr, 5, 3), nullptr);
}

TEST_F(BitmapTest, AlphaFillIsClippedToThePlane) {
    BitmapPtr alpha(AllocAlphaChannel(5, 2, true, nullptr, 0));
    FillAlphaRect(alpha.get(), 3, -1, 10, 2, 0x7F);
    const uint8_t expected[16] = {0, 0, 0, 0x7F, 0x7F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(alpha->plane->data, expected, sizeof expected), 0);
}

TEST_F(BitmapTest, ArgbRectPartlyOutsideReadsBlackThere) {
    const std::vector<uint32_t> src = {0xFF102030u, 0xFF405060u, 0xFF708090u, 0xFFA0B0C0u};
    qbBitmap* raw = nullptr;
    ASSERT_EQ(CreateBitmapFromARGB(src.data(), kNoKeyColour, 2, 2, 2, false, 0, 0, &raw, nullptr, nullptr), 0);
    BitmapPtr bm(raw);
    const auto argb = CopyBitmapRectToARGB(bm.get(), -1, 1, 3, 2, 0);
    ASSERT_EQ(argb.size(), 6u);
    EXPECT_EQ(argb, (std::vector<uint32_t>{0, 0x708090u, 0xA0B0C0u, 0, 0, 0}));
}

TEST_F(BitmapTest, CreateFromArgbIntoSixteenBitsRoundTrips) {
    SetPlatformPixelFormat(kFormatRGB565);
    const std::vector<uint32_t> src = {0x00FFFFFFu, 0x00F80000u, 0x0007E000u, 0x00123456u};
    qbBitmap* raw = nullptr;
    ASSERT_EQ(CreateBitmapFromARGB(src.data(), kNoKeyColour, 4, 1, 4, false, 0, 0, &raw, nullptr, nullptr), 0);
    BitmapPtr bm(raw);
    EXPECT_EQ(CopyBitmapRectToARGB(bm.get(), 0, 0, 4, 1, 0),
              (std::vector<uint32_t>{0x00F8FCF8u, 0x00F80000u, 0x0000E000u, 0x00103450u}));
}
