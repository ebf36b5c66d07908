// The direct path of blits: plain-memory bitmaps read without a call through
// the backend yet exactly as its lock reports them, bitmaps of a backend that
// locks for real still locked around every blit, and SafeBlt's copies held
// pixel by pixel to a model at offsets, edges and clip rectangles.
#include <cstring>
#include <vector>

#include "display_fixture.h"
#include "imaging/kernels.h"

namespace {

int locks = 0;
int unlocks = 0;
bool refuseLocks = false;

// The built-in backend with a lock that counts and can fail, as a backend
// whose pixels need a real lock would behave.
qbPlatformOps LockingOps() {
    qbPlatformOps ops = NullPlatformOps();
    ops.LockPlatformBitmap = [](qbNativeBitmap* bitmap, qbBitmapLock* lock) {
        ++locks;
        if (refuseLocks) {
            lock->lockToken = 0;
            return 0;
        }
        return NullPlatformOps().LockPlatformBitmap(bitmap, lock);
    };
    ops.UnlockPlatformBitmap = [](qbNativeBitmap* bitmap) {
        ++unlocks;
        NullPlatformOps().UnlockPlatformBitmap(bitmap);
    };
    return ops;
}

uint32_t Noise(uint32_t& s) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

// The raw pixels of a colour bitmap, row after row, width pixels each.
std::vector<uint32_t> Pixels(qbBitmap* bitmap) {
    qbBitmapLock lock;
    EXPECT_NE(LockBitmap(bitmap, kLockReadOnly, &lock), 0u);
    std::vector<uint32_t> out;
    for (int32_t y = 0; y < bitmap->height; ++y) {
        const auto* row = static_cast<const uint32_t*>(lock.pixels) + static_cast<size_t>(y) * lock.rowLength;
        out.insert(out.end(), row, row + bitmap->width);
    }
    UnlockBitmap(&lock);
    return out;
}

void SetPixels(qbBitmap* bitmap, const std::vector<uint32_t>& pixels) {
    qbBitmapLock lock;
    ASSERT_NE(LockBitmap(bitmap, 0, &lock), 0u);
    for (int32_t y = 0; y < bitmap->height; ++y)
        std::memcpy(static_cast<uint32_t*>(lock.pixels) + static_cast<size_t>(y) * lock.rowLength,
                    pixels.data() + static_cast<size_t>(y) * bitmap->width, static_cast<size_t>(bitmap->width) * 4);
    UnlockBitmap(&lock);
}

class BlitFastTest : public DisplayWorld {
protected:
    void SetUp() override {
        DisplayWorld::SetUp();
        locks = unlocks = 0;
        refuseLocks = false;
    }
};

}  // namespace

TEST_F(BlitFastTest, APlainBitmapsLockIsWhatTheBackendsLockReports) {
    for (int32_t width : {1, 5, 8, 13}) {
        BitmapPtr bitmap(AllocBitmap(width, 3, 0, nullptr));
        ASSERT_TRUE(bitmap);
        ASSERT_TRUE(bitmap->plainPixels);
        qbBitmapLock ours, backend;
        ASSERT_EQ(LockBitmap(bitmap.get(), 0, &ours), 1u);
        ASSERT_EQ(ActivePlatformOps().LockPlatformBitmap(bitmap->colour.get(), &backend), 1);
        EXPECT_EQ(ours.pixels, backend.pixels);
        EXPECT_EQ(ours.pixelFormat, backend.pixelFormat);
        EXPECT_EQ(ours.rowLength, backend.rowLength);
        EXPECT_EQ(ours.nativeContext, backend.nativeContext);
        UnlockBitmap(&ours);
    }
}

TEST_F(BlitFastTest, BitmapsOfABackendThatLocksForRealAreLockedAroundEveryBlit) {
    // Made by the built-in backend: read directly even while another one runs.
    BitmapPtr plain(AllocBitmap(4, 1, 0, nullptr));
    const qbPlatformOps ops = LockingOps();
    SetPlatformBackend(&ops);
    BitmapPtr src(AllocBitmap(4, 1, 0, nullptr));
    BitmapPtr dst(AllocBitmap(4, 1, 0, nullptr));
    ASSERT_TRUE(src && dst);
    EXPECT_FALSE(src->plainPixels);
    SetPixels(src.get(), {0xFF000001u, 0xFF000002u, 0xFF000003u, 0xFF000004u});
    SetPixels(dst.get(), {0u, 0u, 0u, 0u});
    SetPixels(plain.get(), {7u, 7u, 7u, 7u});
    locks = unlocks = 0;

    BitmapPtr mask(AllocMask(src.get(), 4, 1, true, nullptr, 0));
    WriteBitmapPixel(mask.get(), 1, 0, kMaskVisible, true);
    BitmapPtr alpha(AllocAlphaChannel(4, 1, true, nullptr, 0));
    alpha->plane->data[3] = 255;
    CopyBitmapRect(src.get(), 0, 0, dst.get(), 0, 0, 1, 1);
    CopyBitmapRectMasked(src.get(), 0, 0, dst.get(), 0, 0, 4, 1, mask.get());
    CopyBitmapRectAlpha(src.get(), 0, 0, dst.get(), 0, 0, 4, 1, alpha.get());
    EXPECT_EQ(locks, 6);
    EXPECT_EQ(unlocks, 6);
    EXPECT_EQ(Pixels(dst.get()), (std::vector<uint32_t>{0xFF000001u, 0xFF000002u, 0u, 0xFF000004u}));

    // Into and out of the plain bitmap only the other side is locked.
    locks = unlocks = 0;
    CopyBitmapRect(plain.get(), 0, 0, dst.get(), 2, 0, 1, 1);
    CopyBitmapRect(src.get(), 3, 0, plain.get(), 0, 0, 1, 1);
    EXPECT_EQ(locks, 2);
    EXPECT_EQ(unlocks, 2);
    EXPECT_EQ(Pixels(dst.get())[2], 7u);
    EXPECT_EQ(Pixels(plain.get())[0], 0xFF000004u);

    // A refused lock draws nothing and leaves nothing to unlock.
    refuseLocks = true;
    locks = unlocks = 0;
    CopyBitmapRect(src.get(), 0, 0, plain.get(), 0, 0, 4, 1);
    CopyBitmapRect(plain.get(), 0, 0, src.get(), 0, 0, 4, 1);
    EXPECT_EQ(locks, 2);
    EXPECT_EQ(unlocks, 0);
    refuseLocks = false;
    EXPECT_EQ(Pixels(plain.get()), (std::vector<uint32_t>{0xFF000004u, 7u, 7u, 7u}));
    EXPECT_EQ(Pixels(src.get()), (std::vector<uint32_t>{0xFF000001u, 0xFF000002u, 0xFF000003u, 0xFF000004u}));
    SetPlatformBackend(nullptr);
}

TEST_F(BlitFastTest, SafeBltCopiesMatchAPixelModelAtEveryOffsetAndEdge) {
    constexpr int32_t kSrcW = 13, kSrcH = 11, kDstW = 37, kDstH = 29;
    MakeOpen(1);
    BitmapPtr src(AllocBitmap(kSrcW, kSrcH, 0, nullptr));
    BitmapPtr dst(AllocBitmap(kDstW, kDstH, 0, nullptr));
    BitmapPtr mask(AllocMask(src.get(), kSrcW, kSrcH, true, nullptr, 0));
    BitmapPtr alpha(AllocAlphaChannel(kSrcW, kSrcH, true, nullptr, 0));
    uint32_t seed = 99;
    std::vector<uint32_t> source(kSrcW * kSrcH);
    std::vector<bool> maskBits(source.size());
    std::vector<uint8_t> weights(source.size());
    for (int32_t y = 0; y < kSrcH; ++y)
        for (int32_t x = 0; x < kSrcW; ++x) {
            const size_t i = static_cast<size_t>(y) * kSrcW + x;
            source[i] = Noise(seed);
            maskBits[i] = Noise(seed) % 3 != 0;
            if (maskBits[i]) WriteBitmapPixel(mask.get(), x, y, kMaskVisible, true);
            // Plenty of the two weights that copy or skip outright.
            const uint32_t r = Noise(seed) % 4;
            weights[i] = r == 0 ? 0 : r == 1 ? 255 : static_cast<uint8_t>(Noise(seed));
            alpha->plane->data[static_cast<size_t>(y) * alpha->plane->rowBytes + x] = weights[i];
        }
    SetPixels(src.get(), source);

    struct Case {
        int32_t sx, sy, dx, dy, w, h;
    };
    const Case cases[] = {{0, 0, 0, 0, 1, 1},     {5, 3, 17, 9, 1, 1},    {0, 0, 3, 2, kSrcW, kSrcH},
                          {2, 1, 30, 20, 11, 10}, {0, 0, -4, -3, 9, 8},   {4, 6, 35, 27, 9, 5},
                          {1, 2, -2, 26, 12, 9},  {0, 0, 12, 0, 40, 40},  {12, 10, 0, 0, 4, 4}};
    const qbClipRegion clip{6, 4, 20, 15, nullptr};
    for (int kind = 0; kind < 3; ++kind)
        for (bool clipped : {false, true})
            for (const Case& c : cases) {
                std::vector<uint32_t> expected(kDstW * kDstH);
                for (uint32_t& p : expected) p = Noise(seed);
                SetPixels(dst.get(), expected);
                qbSafeBlt b;
                b.source = src.get();
                b.destination = dst.get();
                b.srcX = c.sx, b.srcY = c.sy, b.dstX = c.dx, b.dstY = c.dy, b.width = c.w, b.height = c.h;
                b.srcWidth = kSrcW, b.srcHeight = kSrcH, b.dstWidth = kDstW, b.dstHeight = kDstH;
                b.mask = kind == 1 ? mask.get() : nullptr;
                b.alpha = kind == 2 ? alpha.get() : nullptr;
                b.clip = clipped ? &clip : nullptr;
                SafeBlt(nullptr, b);

                for (int32_t j = 0; j < c.h; ++j)
                    for (int32_t i = 0; i < c.w; ++i) {
                        const int32_t x = c.dx + i, y = c.dy + j, fx = c.sx + i, fy = c.sy + j;
                        if (x < 0 || y < 0 || x >= kDstW || y >= kDstH || fx >= kSrcW || fy >= kSrcH) continue;
                        if (clipped && (x < clip.x || y < clip.y || x >= clip.x + clip.width ||
                                        y >= clip.y + clip.height))
                            continue;
                        const size_t from = static_cast<size_t>(fy) * kSrcW + fx;
                        uint32_t& to = expected[static_cast<size_t>(y) * kDstW + x];
                        if (kind == 0 || (kind == 1 && maskBits[from]) || (kind == 2 && weights[from] == 255))
                            to = source[from];
                        else if (kind == 2 && weights[from] != 0)
                            to = BlendRGB(to & 0xFFFFFFu, source[from] & 0xFFFFFFu, weights[from]);
                    }
                ASSERT_EQ(Pixels(dst.get()), expected)
                    << "kind " << kind << " clipped " << clipped << " at " << c.dx << "," << c.dy << " size " << c.w
                    << "x" << c.h;
            }
}

TEST_F(BlitFastTest, ABlitIntoTheSelectedOutputStillKeepsItsPlanes) {
    // The quick path is for bitmaps nothing else watches; the selected
    // output's mask must still follow what is drawn into its bitmap.
    qbDisplay* d = MakeOpen(1);
    BitmapPtr target(AllocBitmap(8, 8, 0, nullptr));
    BitmapPtr targetMask(AllocMask(target.get(), 8, 8, true, nullptr, 0));
    BitmapPtr src(AllocBitmap(2, 2, 0, nullptr));
    FillBitmapRect(src.get(), 0, 0, 2, 2, 0xABCDEF);
    d->output.bitmap = target.get();
    d->output.mask = targetMask.get();
    qbSafeBlt b;
    b.source = src.get();
    b.destination = target.get();
    b.dstX = b.dstY = 3;
    b.width = b.height = b.srcWidth = b.srcHeight = 2;
    b.dstWidth = b.dstHeight = 8;
    SafeBlt(nullptr, b);
    EXPECT_EQ(ReadBitmapPixel(target.get(), 4, 4, false), 0xABCDEFu);
    EXPECT_EQ(ReadBitmapPixel(targetMask.get(), 4, 4, true), 1u);
    EXPECT_EQ(ReadBitmapPixel(targetMask.get(), 5, 5, true), 0u);
    // Drawing only, the planes are left as they are.
    b.flags = kSafeBltDrawOnly;
    b.dstX = b.dstY = 5;
    SafeBlt(nullptr, b);
    EXPECT_EQ(ReadBitmapPixel(target.get(), 5, 5, false), 0xABCDEFu);
    EXPECT_EQ(ReadBitmapPixel(targetMask.get(), 5, 5, true), 0u);
    d->output.bitmap = nullptr;
    d->output.mask = nullptr;
}
