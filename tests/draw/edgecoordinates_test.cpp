// Shapes placed at and past the edges of 32 bits. A coordinate saturates to
// the limit and every sum made from it is made in 64 bits, so a shape wholly
// off the picture it is drawn into changes nothing there (nor anywhere else:
// the sanitizer build sees any write), and the part of one that reaches in
// is drawn where exact arithmetic puts it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "draw/draw.h"
#include "imaging/bitmap.h"
#include "objects/bgpiclib.h"
#include "objects/show_fixture.h"

namespace {

constexpr uint32_t kBlue = 0x0000FF, kRed = 0xFF0000, kGreen = 0x00FF00;

class EdgeCoordinatesTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitDrawLibrary(L_), 0);
        VmSetTop(L_, 0);
        *GetDrawState() = DefaultDrawState();
    }
    void TearDown() override {
        *GetDrawState() = DefaultDrawState();
        FreeDrawLibrary(L_);
        ShowWorld::TearDown();
    }

    int Polygon(double x, double y) {
        VmPushNumber(L_, x);
        VmPushNumber(L_, y);
        VmPushNewTable(L_);
        const double points[] = {0, 0, 30, 0, 15, 20};
        for (int i = 0; i < 6; ++i) {
            VmPushNumber(L_, points[i]);
            VmRawSetIndex(L_, -2, i);
        }
        VmPushNumber(L_, 3);
        VmPushNumber(L_, 0xFFFF00);
        const int err = Run("Polygon", 5);
        VmSetTop(L_, 0);
        return err;
    }

    // Every shape, filled and outlined, plain and smoothed, at each far
    // place on either axis.
    void DrawFarShapes() {
        for (double far : {-3e9, 3e9, -2147483648.0, 2147483647.0, -2147483647.0}) {
            for (bool onX : {true, false}) {
                const double x = onX ? far : 10, y = onX ? 10 : far;
                for (double fill : {double(FILLCOLOR), double(FILLNONE)}) {
                    for (double form : {double(kFormNormal)}) {
                        SCOPED_TRACE(testing::Message() << "at " << x << ", " << y << " fill " << fill << " form "
                                                        << form);
                        ASSERT_EQ(Show("SetFillStyle", {fill}), 0);
                        ASSERT_EQ(Show("SetFormStyle", {form}), 0);
                        EXPECT_EQ(Show("Circle", {x, y, 20, 0xFFFF00}), 0);
                        EXPECT_EQ(Show("Ellipse", {x, y, 20, 10, 0xFFFF00}), 0);
                        EXPECT_EQ(Show("Arc", {x, y, 20, 10, 0, 270, 0xFFFF00}), 0);
                        EXPECT_EQ(Polygon(x, y), 0);
                        EXPECT_EQ(Show("Box", {x, y, 30, 20, 0xFFFF00, 5}), 0);
                        EXPECT_EQ(Show("Line", {x, y, x, y + 20, 0xFFFF00}), 0);
                        EXPECT_EQ(Show("Plot", {x, y, 0xFFFF00}), 0);
                    }
                }
            }
        }
    }

    // The picture drawing goes to: the frame being drawn while double
    // buffered, else the display's own.
    uint32_t Drawn(int32_t x, int32_t y) {
        qbBitmap* b = display_->drawBuffer ? display_->drawBuffer.get() : display_->spriteFreeBuffer.get();
        return ReadBitmapPixel(b, x, y, false);
    }
    // How many pixels of it differ from colour.
    int NotOf(uint32_t colour) {
        int n = 0;
        for (int32_t y = 0; y < 80; ++y)
            for (int32_t x = 0; x < 100; ++x) n += Drawn(x, y) != colour;
        return n;
    }

    qbBrush* Brush(int32_t id) {
        qbBrush* b = nullptr;
        EXPECT_EQ(GetBrushRecord(nullptr, ObjectID{id, nullptr}, &b, 0), 0);
        return b;
    }
};

TEST_F(EdgeCoordinatesTest, ShapesFarOffADoubleBufferDrawNothing) {
    ASSERT_EQ(Run("BeginDoubleBuffer", 0), 0);
    ASSERT_NE(display_->drawBuffer, nullptr);
    DrawFarShapes();
    EXPECT_EQ(NotOf(0), 0);
}

// Into a brush selected plain, with a mask and with an alpha channel: the
// brush's pixels and planes stay as they were, and the display too.
TEST_F(EdgeCoordinatesTest, ShapesFarOffASelectedBrushDrawNothing) {
    for (const char* plane : {"", "mask", "alphachannel"}) {
        SCOPED_TRACE(plane);
        ASSERT_EQ(Show("CreateBrush", {2, 20, 10, double(kBlue)},
                       [&] {
                           if (*plane) SetTableFieldInt(L_, plane, 1);
                       }),
                  0);
        qbBrush* b = Brush(2);
        ASSERT_NE(b, nullptr);
        const qbBitmapPlane* p = b->mask ? b->mask->plane.get() : b->alpha ? b->alpha->plane.get() : nullptr;
        ASSERT_EQ(p != nullptr, *plane != 0);
        const std::vector<uint8_t> before = p ? std::vector<uint8_t>(p->data, p->data + p->rowBytes * p->height)
                                              : std::vector<uint8_t>();
        ASSERT_EQ(Show("SelectBrush", {2}), 0);
        DrawFarShapes();
        ASSERT_EQ(Run("EndSelect", 0), 0);
        b = Brush(2);
        int changed = 0;
        for (int32_t y = 0; y < 10; ++y)
            for (int32_t x = 0; x < 20; ++x) changed += ReadBitmapPixel(b->bitmap, x, y, false) != kBlue;
        EXPECT_EQ(changed, 0);
        const std::vector<uint8_t> after = p ? std::vector<uint8_t>(p->data, p->data + p->rowBytes * p->height)
                                             : std::vector<uint8_t>();
        EXPECT_EQ(after, before);
        EXPECT_EQ(NotOf(0), 0);
    }
}

// A box from far left that ends inside, and lines between the far ends of
// both axes: drawn where the exact sums put them, within a pixel.
TEST_F(EdgeCoordinatesTest, TheShapesPartInsideIsDrawnWhereExactArithmeticPutsIt) {
    ASSERT_EQ(Run("BeginDoubleBuffer", 0), 0);
    ASSERT_NE(display_->drawBuffer, nullptr);
    ASSERT_EQ(Show("SetFillStyle", {double(FILLCOLOR)}), 0);
    // -2147483600 + 2147483647 = 47: columns 0 to 46.
    ASSERT_EQ(Show("Box", {-2147483600.0, 10, 2147483647.0, 10, double(kRed)}), 0);
    for (int32_t x = 0; x < 100; ++x) EXPECT_EQ(Drawn(x, 15), x < 47 ? kRed : 0u) << x;
    ASSERT_EQ(Show("Line", {-3e9, 40, 3e9, 40, double(kGreen)}), 0);
    for (int32_t x = 0; x < 100; ++x) EXPECT_EQ(Drawn(x, 40), kGreen) << x;
    // From (-2^31, -2^31) to (2^31 - 1, 2^31 - 1): the diagonal.
    ASSERT_EQ(Show("Line", {-3e9, -3e9, 3e9, 3e9, double(kBlue)}), 0);
    for (int32_t k = 0; k < 80; ++k) {
        bool near = false;
        for (int32_t d = -1; d <= 1; ++d) near = near || (k + d >= 0 && Drawn(k + d, k) == kBlue);
        EXPECT_TRUE(near) << k;
        EXPECT_NE(Drawn(k + 3 < 100 ? k + 3 : k - 3, k), kBlue) << k;
    }
}

}  // namespace
