// Plain shapes painted straight onto a selected picture against the image
// road: random circles, ellipses, arcs and polygons, anti-aliased and
// aliased, filled and outlined, partly off the picture and inside a clip
// region, must leave every pixel as the image road leaves it.
#include <gtest/gtest.h>

#include <vector>

#include "core/errcodes.h"
#include "draw/boxdirect.h"
#include "draw/curvedshape.h"
#include "draw/draw.h"
#include "draw/shape.h"
#include "draw/shapedirect.h"
#include "display/output.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "objects/bgpiclib.h"
#include "objects/objectoptions.h"
#include "objects/show_fixture.h"
#include "vector/ftengine.h"

namespace {

constexpr int32_t kW = 240, kH = 160;

int gImages = 0;
qbBitmap* CountedBitmap(int32_t w, int32_t h) {
    ++gImages;
    return NewBoxBitmap(w, h);
}

struct Sequence {
    uint32_t state;
    uint32_t Next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int32_t In(int32_t lo, int32_t hi) { return lo + static_cast<int32_t>(Next() % static_cast<uint32_t>(hi - lo + 1)); }
};

class ShapeDirectTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitDrawLibrary(L_), 0);
        VmSetTop(L_, 0);
        SetCurvedShapeService(&RenderShapeOutline);
        BoxImageAllocators().bitmap = &CountedBitmap;
        ASSERT_EQ(RunNumbers("CreateBGPic", {2, kW, kH}), 0);
        ASSERT_EQ(RunNumbers("SelectBGPic", {2, 0}), 0);
        picture_ = display_->output.bitmap;
        ASSERT_NE(picture_, nullptr);
    }
    void TearDown() override {
        SetDirectShapes(true);
        BoxImageAllocators() = qbBoxImageAllocators{};
        SetCurvedShapeService(nullptr);
        FreeDrawLibrary(L_);
        ShowWorld::TearDown();
    }
    // The picture filled with noise, then `count` random shapes from seed;
    // the picture's pixels come back.
    std::vector<uint32_t> Draw(uint32_t seed, int count) {
        Sequence s{seed};
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) FillBitmapRect(picture_, x, y, 1, 1, s.Next() & 0xFFFFFF);
        qbTransformOptions t;
        qbLayerOptions l;
        ResetDisplayObjectOptions(&t, &l, 0, 0, 0, 0);
        for (int i = 0; i < count; ++i) {
            qbDrawState st = DefaultDrawState();
            st.formStyle = s.Next() % 2 ? kFormAntialias : kFormNormal;
            st.fillStyle = s.Next() % 4 ? FILLCOLOR : FILLNONE;
            st.lineWidth = s.In(1, 4);
            const uint32_t colour = s.Next() & 0xFFFFFF;
            const int32_t x = s.In(-60, kW + 20), y = s.In(-60, kH + 20);
            int err = 0;
            const uint32_t type = s.Next() % 4;
            switch (type) {
            case 0: {
                const int32_t r = s.In(1, 70);
                err = DrawEllipseShape(L_, nullptr, kShapeCircle, &st, x, y, r, r, colour, &t, &l, 0);
                break;
            }
            case 1: {
                const int32_t rx = s.In(1, 80), ry = s.In(1, 50);
                err = DrawEllipseShape(L_, nullptr, kShapeEllipse, &st, x, y, rx, ry, colour, &t, &l, 0);
                break;
            }
            case 2: {
                const int32_t r = s.In(2, 60), a = s.In(0, 359), b = s.In(-400, 400);
                err = DrawArcShape(L_, nullptr, &st, x, y, r, r, a, b, 1, colour, &t, &l, 0);
                break;
            }
            default: {
                const int32_t w = s.In(2, 90), h = s.In(2, 90), n = s.In(3, 12);
                std::vector<qbPointD> pts;
                for (int k = 0; k < n; ++k) pts.push_back({double(s.In(0, w - 1)), double(s.In(0, h - 1))});
                pts.push_back(pts.front());
                err = DrawPolygonShape(L_, nullptr, &st, x, y, w, h, pts, colour, &t, &l, 0);
            }
            }
            EXPECT_EQ(err, 0) << "seed " << seed << " shape " << i << " type " << type;
        }
        std::vector<uint32_t> out;
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) out.push_back(ReadBitmapPixel(picture_, x, y, false));
        return out;
    }
    void Compare(uint32_t seed, int count) {
        SetDirectShapes(false);
        gImages = 0;
        const std::vector<uint32_t> road = Draw(seed, count);
        EXPECT_GT(gImages, 0);
        SetDirectShapes(true);
        gImages = 0;
        const std::vector<uint32_t> direct = Draw(seed, count);
        // Only the shapes the direct road cannot take (anti-aliased point
        // lists) still make images.
        EXPECT_LT(gImages, count / 4) << "seed " << seed;
        int bad = 0;
        for (size_t k = 0; k < road.size(); ++k)
            if (road[k] != direct[k] && ++bad <= 5)
                ADD_FAILURE() << "seed " << seed << " pixel " << k % kW << "," << k / kW << ": " << std::hex
                              << road[k] << " by images, " << direct[k] << " direct";
        EXPECT_EQ(bad, 0);
    }
    qbBitmap* picture_ = nullptr;
};

}  // namespace

TEST_F(ShapeDirectTest, RandomShapesLeaveThePixelsOfTheImageRoad) {
    for (uint32_t seed = 1; seed <= 12; ++seed) Compare(seed, 60);
}

TEST_F(ShapeDirectTest, InsideAClipRegionToo) {
    ASSERT_EQ(RunNumbers("CreateClipRegion", {7, 14, 30, 20, 150, 100}), 0);  // a box
    ASSERT_EQ(RunNumbers("SetClipRegion", {7}), 0);
    ASSERT_NE(GetCurrentOutput().clip, nullptr);
    ASSERT_NE(*GetCurrentOutput().clip, nullptr);
    for (uint32_t seed = 100; seed <= 104; ++seed) Compare(seed, 60);
}

TEST_F(ShapeDirectTest, HugeShapesFailAsTheirImagesDo) {
    qbTransformOptions t;
    qbLayerOptions l;
    ResetDisplayObjectOptions(&t, &l, 0, 0, 0, 0);
    const std::vector<qbPointD> pts{{0, 0}, {59999, 100}, {100, 59999}, {0, 0}};
    for (bool direct : {false, true}) {
        SetDirectShapes(direct);
        for (int32_t form : {kFormNormal, kFormAntialias}) {
            qbDrawState st = DefaultDrawState();
            st.fillStyle = FILLCOLOR;
            st.formStyle = form;
            EXPECT_EQ(DrawPolygonShape(L_, nullptr, &st, 0, 0, 60000, 60000, pts, 0xFF, &t, &l, 0), ERR_BITMAP)
                << direct;
            EXPECT_EQ(DrawEllipseShape(L_, nullptr, kShapeCircle, &st, 0, 0, 30000, 30000, 0xFF, &t, &l, 0),
                      ERR_BITMAP)
                << direct << " " << form;
        }
    }
}
