// The pixel collision test against a pixel-by-pixel reference over masks,
// alpha channels and clip masks at odd offsets (mask bits straddling
// bytes), and its rules for objects without planes.
#include <gtest/gtest.h>

#include <random>

#include "imaging/bitmap.h"
#include "imaging/pixelcollision.h"

namespace {

bool Opaque(const qbBitmap* plane, int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= plane->width || y >= plane->height) return false;
    const uint8_t* row = plane->plane->data + size_t{plane->plane->rowBytes} * static_cast<size_t>(y);
    return plane->kind == kBitmapKindMask ? (row[x >> 3] & (0x80 >> (x & 7))) != 0 : row[x] != 0;
}

bool Inside(const qbRect& r, int32_t x, int32_t y) {
    return x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height;
}

// Every pixel where both boxes lie, each plane that takes part opaque.
int Reference(const qbCollider& a, const qbCollider& b) {
    const qbRect& r = a.box;
    for (int32_t y = r.y; y < r.y + r.height; ++y)
        for (int32_t x = r.x; x < r.x + r.width; ++x) {
            if (!Inside(a.box, x, y) || !Inside(b.box, x, y)) continue;
            bool hit = true;
            for (const qbCollider* c : {&a, &b}) {
                const qbBitmap* own = c->mask ? c->mask : c->alpha;
                if (own && !Opaque(own, x - c->planeX, y - c->planeY)) hit = false;
                if (c->clip && !Opaque(c->clip, x - c->clipX, y - c->clipY)) hit = false;
            }
            if (hit) return 1;
        }
    return 0;
}

// A plane with about one pixel in `sparse` opaque.
BitmapPtr RandomPlane(std::mt19937* rng, bool mask, int32_t w, int32_t h, int sparse) {
    BitmapPtr p(mask ? AllocMask(nullptr, w, h, true, nullptr, 0) : AllocAlphaChannel(w, h, true, nullptr, 0));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            if ((*rng)() % static_cast<unsigned>(sparse) == 0) {
                uint8_t* row = p->plane->data + size_t{p->plane->rowBytes} * static_cast<size_t>(y);
                if (mask) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
                else row[x] = static_cast<uint8_t>(1 + (*rng)() % 255);
            }
    return p;
}

void SetOpaque(qbBitmap* plane, int32_t x, int32_t y, bool on) {
    uint8_t* row = plane->plane->data + size_t{plane->plane->rowBytes} * static_cast<size_t>(y);
    if (plane->kind == kBitmapKindMask) {
        const auto bit = static_cast<uint8_t>(0x80 >> (x & 7));
        row[x >> 3] = static_cast<uint8_t>(on ? row[x >> 3] | bit : row[x >> 3] & ~bit);
    } else {
        row[x] = on ? 77 : 0;
    }
}

void Attach(qbCollider* c, const qbBitmap* plane) { (plane->kind == kBitmapKindMask ? c->mask : c->alpha) = plane; }

constexpr KernelIsa kIsas[] = {KernelIsa::Portable, KernelIsa::Sse2, KernelIsa::Avx2};

// Every instruction set's scan, each against the reference.
void ExpectEveryIsa(const qbCollider& a, const qbCollider& b, int expected, int round) {
    for (const KernelIsa isa : kIsas)
        ASSERT_EQ(TestPixelCollisionWith(a, b, isa), expected) << "round " << round << " isa " << int(isa);
}

}  // namespace

TEST(PixelCollisionTest, BoxesAndObjectsWithoutPlanes) {
    qbCollider a, b;
    a.box = {0, 0, 10, 10};
    b.box = {9, 9, 5, 5};
    EXPECT_EQ(TestPixelCollision(a, b), 1);
    b.box = {10, 0, 5, 5};
    EXPECT_EQ(TestPixelCollision(a, b), 0);
    EXPECT_TRUE(BoxesOverlap({0, 0, 10, 10}, {-4, -4, 5, 5}));
    EXPECT_FALSE(BoxesOverlap({0, 0, 10, 10}, {0, 10, 10, 10}));
    EXPECT_FALSE(BoxesOverlap({0, 0, 0, 10}, {0, 0, 10, 10}));
    // A plane-less object adds no test: only the other one's pixels count.
    BitmapPtr mask(AllocMask(nullptr, 10, 10, true, nullptr, 0));
    a.mask = mask.get();
    b.box = {5, 5, 5, 5};
    EXPECT_EQ(TestPixelCollision(a, b), 0);
    mask->plane->data[mask->plane->rowBytes * 7] = 0x01;  // pixel (7, 7)
    EXPECT_EQ(TestPixelCollision(a, b), 1);
    b.box = {8, 5, 5, 5};
    EXPECT_EQ(TestPixelCollision(a, b), 0);
}

TEST(PixelCollisionTest, MatchesThePixelReferenceAtOddOffsets) {
    std::mt19937 rng(1234);
    int hits = 0, misses = 0;
    for (int round = 0; round < 600; ++round) {
        const int kinds = static_cast<int>(rng() % 9);  // a: none/mask/alpha, b: likewise
        const int32_t wa = 1 + static_cast<int32_t>(rng() % 90), ha = 1 + static_cast<int32_t>(rng() % 12);
        const int32_t wb = 1 + static_cast<int32_t>(rng() % 90), hb = 1 + static_cast<int32_t>(rng() % 12);
        const int sparse = 20 + static_cast<int>(rng() % 400);
        BitmapPtr pa, pb, ca, cb;
        qbCollider a, b;
        a.box = {static_cast<int32_t>(rng() % 21) - 10, static_cast<int32_t>(rng() % 7) - 3, wa, ha};
        b.box = {static_cast<int32_t>(rng() % 61) - 30, static_cast<int32_t>(rng() % 7) - 3, wb, hb};
        // Planes start before the box (a source offset) and may end early.
        const int32_t offA = static_cast<int32_t>(rng() % 13), offB = static_cast<int32_t>(rng() % 13);
        a.planeX = a.box.x - offA;
        a.planeY = a.box.y;
        b.planeX = b.box.x - offB;
        b.planeY = b.box.y - 1;
        if (kinds % 3 == 1) a.mask = (pa = RandomPlane(&rng, true, wa + offA, ha, sparse)).get();
        if (kinds % 3 == 2) a.alpha = (pa = RandomPlane(&rng, false, wa + offA - 3 > 0 ? wa + offA - 3 : 1, ha, sparse)).get();
        if (kinds / 3 == 1) b.mask = (pb = RandomPlane(&rng, true, wb + offB, hb + 1, sparse)).get();
        if (kinds / 3 == 2) b.alpha = (pb = RandomPlane(&rng, false, wb + offB, hb + 1, sparse)).get();
        if (rng() % 3 == 0) {
            ca = RandomPlane(&rng, true, 70, 10, 2);
            a.clip = ca.get();
            a.clipX = static_cast<int32_t>(rng() % 11) - 5;
            a.clipY = -2;
        }
        if (rng() % 4 == 0) {
            cb = RandomPlane(&rng, true, 90, 9, 2);
            b.clip = cb.get();
            b.clipX = static_cast<int32_t>(rng() % 9) - 35;
            b.clipY = -1;
        }
        const int expected = Reference(a, b);
        ASSERT_EQ(TestPixelCollision(a, b), expected) << "round " << round;
        (expected ? hits : misses)++;
    }
    // Both answers are exercised.
    EXPECT_GT(hits, 100);
    EXPECT_GT(misses, 100);
}

// Wide rows, where the vector scans take the bulk of a row and the word
// scan its end: the same reference, with every plane a mask or every one
// an alpha channel as often as not.
TEST(PixelCollisionTest, WideRowsMatchTheReference) {
    std::mt19937 rng(99);
    int hits = 0, misses = 0;
    for (int round = 0; round < 300; ++round) {
        const bool masks = rng() % 2 == 0, mixed = rng() % 3 == 0;
        const int32_t w = 130 + static_cast<int32_t>(rng() % 500), h = 1 + static_cast<int32_t>(rng() % 4);
        const int sparse = 10 + static_cast<int>(rng() % 60);
        qbCollider a, b;
        a.box = {static_cast<int32_t>(rng() % 9), 0, w, h};
        b.box = {static_cast<int32_t>(rng() % 41) - 20, 0, w, h};
        const int32_t offA = static_cast<int32_t>(rng() % 17), offB = static_cast<int32_t>(rng() % 17);
        a.planeX = a.box.x - offA;
        b.planeX = b.box.x - offB;
        const BitmapPtr pa = RandomPlane(&rng, masks, w + offA, h, sparse);
        const BitmapPtr pb = RandomPlane(&rng, masks != mixed, w + offB, h, sparse);
        (pa->kind == kBitmapKindMask ? a.mask : a.alpha) = pa.get();
        (pb->kind == kBitmapKindMask ? b.mask : b.alpha) = pb.get();
        BitmapPtr clip;
        if (masks && rng() % 3 == 0) {
            clip = RandomPlane(&rng, true, w + 40, h, 1);
            a.clip = clip.get();
            a.clipX = -static_cast<int32_t>(rng() % 23);
        }
        const int expected = Reference(a, b);
        ASSERT_EQ(TestPixelCollision(a, b), expected) << "round " << round;
        ExpectEveryIsa(a, b, expected, round);
        (expected ? hits : misses)++;
    }
    EXPECT_GT(hits, 50);
    EXPECT_GT(misses, 50);
}

// One opaque pixel of b at each place of a wide intersection, over a plane
// of a opaque all over or all over but there: each pixel of every vector
// step, word and row end must land where the reference puts it, for every
// pairing of masks and alpha channels and every bit offset between them.
TEST(PixelCollisionTest, EachPixelOfAWideRowCountsInEveryScan) {
    constexpr int32_t kWidth = 300;
    for (int kinds = 0; kinds < 4; ++kinds)
        for (int32_t shift = 0; shift < 8; ++shift) {
            const bool maskA = kinds & 1, maskB = kinds & 2;
            BitmapPtr pa(maskA ? AllocMask(nullptr, kWidth + 5, 2, true, nullptr, 0)
                               : AllocAlphaChannel(kWidth + 5, 2, true, nullptr, 0));
            BitmapPtr pb(maskB ? AllocMask(nullptr, kWidth, 2, true, nullptr, 0)
                               : AllocAlphaChannel(kWidth, 2, true, nullptr, 0));
            for (int32_t x = 0; x < kWidth + 5; ++x) SetOpaque(pa.get(), x, 1, true);
            qbCollider a, b;
            a.box = {0, 0, kWidth + 5, 2};
            a.planeX = 0;
            b.box = {shift, 0, kWidth, 2};
            b.planeX = shift - 3;  // b's plane starts 3 pixels before its box
            Attach(&a, pa.get());
            Attach(&b, pb.get());
            for (int32_t x = 3; x < kWidth; ++x) {
                SetOpaque(pb.get(), x, 1, true);
                const int32_t ax = shift - 3 + x;
                ExpectEveryIsa(a, b, ax < kWidth + 5 ? 1 : 0, x);
                if (ax < kWidth + 5) {
                    SetOpaque(pa.get(), ax, 1, false);
                    ExpectEveryIsa(a, b, 0, x);
                    SetOpaque(pa.get(), ax, 1, true);
                }
                SetOpaque(pb.get(), x, 1, false);
                if (HasFailure()) return;
            }
        }
}
