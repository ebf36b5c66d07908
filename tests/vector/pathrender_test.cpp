// The path renderer: empty paths, image sizes for strokes, turns and far
// coordinates, edge and shadow with and without a fill, images too large to
// make, engines that fail or place nothing themselves, path layers, and
// plain paths blended straight onto a picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>

#include "core/errcodes.h"
#include "draw/boxdirect.h"
#include "draw/shapedirect.h"
#include "objects/layers.h"
#include "path_fixture.h"
#include "vector/engine.h"

namespace {

class PathRenderTest : public PathWorld {};

// An arc added without a direction runs as one added with direction 1:
// the same quarter filled, not the three quarters the other way round.
TEST_F(PathRenderTest, AnArcWithoutADirectionRunsAsDirectionOne) {
    std::vector<uint32_t> pictures[3];
    const std::vector<std::vector<double>> forms = {
        {1, 50, 40, 30, 30, 0, 90}, {1, 50, 40, 30, 30, 0, 90, 1}, {1, 50, 40, 30, 30, 0, 90, 0}};
    for (size_t i = 0; i < forms.size(); ++i) {
        Clear(0);
        ASSERT_EQ(Cmd("StartPath", {1}), 0);
        ASSERT_EQ(Cmd("MoveTo", {1, 50, 40}), 0);
        VmSetTop(L_, 0);
        for (double a : forms[i]) VmPushNumber(L_, a);
        ASSERT_EQ(Run("AddArcToPath", static_cast<int>(forms[i].size())), 0);
        ASSERT_EQ(Cmd("ClosePath", {1}), 0);
        ASSERT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFFFFFF}), 0);
        pictures[i] = Picture();
        ASSERT_EQ(Cmd("FreePath", {1}), 0);
    }
    EXPECT_NE(pictures[0], std::vector<uint32_t>(pictures[0].size(), 0u));
    EXPECT_EQ(pictures[0], pictures[1]);
    EXPECT_NE(pictures[0], pictures[2]);
}

TEST_F(PathRenderTest, PathsWithoutAreaAreEmpty) {
    ASSERT_EQ(Cmd("StartPath", {1}), 0);
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0}), ERR_EMPTYPATH);
    ASSERT_EQ(Cmd("MoveTo", {1, 10, 10}), 0);
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0}), ERR_EMPTYPATH);
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0}), ERR_EMPTYPATH);
    EXPECT_EQ(Cmd("DrawPath", {9, 0, 0}), ERR_FINDPATH);
}

TEST_F(PathRenderTest, ImageSizesForStrokesTurnsAndFarPaths) {
    ASSERT_EQ(Cmd("SetLineWidth", {4}), 0);
    ASSERT_EQ(Cmd("StartPath", {1}), 0);
    ASSERT_EQ(Cmd("MoveTo", {1, 10.2, 15}), 0);
    ASSERT_EQ(Cmd("LineTo", {1, 20.7, 15}), 0);
    {
        Drawn d;
        ASSERT_EQ(Render(1, &d), 0);
        EXPECT_EQ(d.images.width, 11);  // ceil 21 less floor 10
        EXPECT_EQ(d.images.height, 4);
    }
    {
        // A quarter turn: the turned 11 x 4 box and the margin each way.
        const double quarter[4] = {0, 1, -1, 0};
        Drawn d;
        ASSERT_EQ(Render(1, &d, quarter), 0);
        EXPECT_EQ(d.images.width, 4 + 32);
        EXPECT_EQ(d.images.height, 11 + 32);
    }
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    Polygon(2, {200000, 10, 200020, 10, 200020, 30, 200000, 30});
    {
        Drawn d;
        ASSERT_EQ(Render(2, &d, nullptr, 5, 0), 0);
        EXPECT_EQ(d.images.x, 200005);
        EXPECT_EQ(d.images.width, 20);
        EXPECT_EQ(d.images.height, 20);
    }
    // A half turn about the far corner of a wide box puts every corner past
    // 100000: the box must still come out whole.
    const double half[4] = {-1, 0, 0, -1};
    const qbBoxExtents e = TransformedBoxExtents(half, 1.0, 1.0, 0, 0, 300000, 10);
    EXPECT_EQ(e.x, 300001);
    EXPECT_EQ(e.width, 300000);
    EXPECT_EQ(e.height, 10);
}

// An edged path's fill sits where the plain fill does, however far the
// edge's control points stick out past a whole pixel and the fill's.
TEST_F(PathRenderTest, AnEdgedFillSitsWhereThePlainFillDoes) {
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    for (double cx : {40.1, 40.3, 40.5, 40.7, 40.9}) {
        SCOPED_TRACE(cx);
        ASSERT_EQ(Cmd("StartPath", {1}), 0);
        ASSERT_EQ(Cmd("AddCircleToPath", {1, cx, cx - 5, 20}), 0);
        std::vector<uint32_t> pictures[2];
        for (int edged : {0, 1}) {
            ASSERT_EQ(Cmd("SetFormStyle", {edged ? double(kFormEdge) : double(kFormNormal), 0x00FF00, 3}), 0);
            Clear(0);
            ASSERT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFF0000}), 0);
            for (uint32_t v : Picture()) pictures[edged].push_back(v == 0xFF0000u);
        }
        EXPECT_EQ(pictures[1], pictures[0]);
    }
}

TEST_F(PathRenderTest, EdgeAndShadowNeedAFill) {
    Polygon(1, {20, 20, 40, 20, 40, 40, 20, 40});
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    ASSERT_EQ(Cmd("SetFormStyle", {kFormEdge, 0x00FF00, 3}), 0);
    {
        Drawn d;
        ASSERT_EQ(Render(1, &d), 0);
        EXPECT_EQ(d.images.width, 26);  // stroked at twice the edge size
    }
    ASSERT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFF0000}), 0);
    EXPECT_EQ(Shown(30, 30), 0xFF0000u);
    EXPECT_EQ(Shown(18, 30), 0x00FF00u);
    EXPECT_EQ(Shown(21, 30), 0xFF0000u);
    EXPECT_EQ(Shown(16, 30), 0u);

    ASSERT_EQ(Cmd("SetFormStyle", {kFormShadow}), 0);
    ASSERT_EQ(Cmd("SetFillStyle", {FILLNONE}), 0);
    {
        Drawn d;
        ASSERT_EQ(Render(1, &d), 0);
        EXPECT_EQ(d.images.width, 22);  // a 1-pixel stroke, no edge, no shadow
        EXPECT_EQ(d.images.height, 22);
    }
    ASSERT_EQ(Cmd("SetFormStyle", {kFormNormal}), 0);
    ASSERT_EQ(Cmd("SetFormStyle", {kFormShadow}), 0);
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    Drawn d;
    ASSERT_EQ(Render(1, &d), 0);
    EXPECT_EQ(d.images.width, 24);  // the shadow's 4 pixels south-east
    EXPECT_EQ(d.images.height, 24);
}

// A path wider than tall, and one taller than wide: its fill stays where
// the plain fill is under an edge, a shadow or both.
TEST_F(PathRenderTest, EdgeAndShadowKeepTheFillOfAPathLongerOneWay) {
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    const std::initializer_list<double> shapes[2] = {{10, 20, 60, 20, 60, 32, 10, 32}, {30, 5, 42, 5, 42, 60, 30, 60}};
    for (const auto& shape : shapes) {
        Polygon(1, shape);
        std::vector<uint32_t> plain;
        for (int form : {int(kFormNormal), int(kFormShadow), int(kFormEdge), int(kFormEdge | kFormShadow)}) {
            SCOPED_TRACE(form);
            ASSERT_EQ(Cmd("SetFormStyle", {kFormNormal}), 0);
            if (form & kFormShadow) {
                ASSERT_EQ(Cmd("SetFormStyle", {kFormShadow, 0x0000FF, 3}), 0);
            }
            if (form & kFormEdge) {
                ASSERT_EQ(Cmd("SetFormStyle", {kFormEdge, 0x00FF00, 3}), 0);
            }
            Clear(0);
            ASSERT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFF0000}), 0);
            // A fully covered pixel of the fill is the colour, but over a
            // shadow without an edge the fill blends over the image's alpha,
            // and full weight moves 0 toward 0xFF by 0xFE only.
            const std::vector<uint32_t> picture = Picture();
            std::vector<uint32_t> fill;
            for (size_t i = 0; i < picture.size(); ++i) {
                const size_t x = i % 100, y = i / 100;
                const bool overShadow = form == kFormShadow && x >= 3 && y >= 3 && plain[i - 3 * 100 - 3] != 0;
                fill.push_back((picture[i] & 0xFFFFFF) == (overShadow ? 0xFE0000u : 0xFF0000u));
            }
            if (form == kFormNormal) plain = fill;
            EXPECT_EQ(fill, plain);
            EXPECT_GT(std::count(fill.begin(), fill.end(), 1u), 100);
        }
        ASSERT_EQ(Cmd("FreePath", {1}), 0);
    }
}

// An arc of two turns outlines the whole ellipse, as one turn does.
TEST_F(PathRenderTest, AnArcOfTwoTurnsIsAWholeEllipse) {
    std::vector<uint32_t> pictures[2];
    for (int turns : {1, 2}) {
        Clear(0);
        ASSERT_EQ(Cmd("StartPath", {1}), 0);
        ASSERT_EQ(Cmd("AddArcToPath", {1, 50, 40, 30, 20, 0, 360.0 * turns, 1}), 0);
        ASSERT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFFFFFF}), 0);
        pictures[turns - 1] = Picture();
        ASSERT_EQ(Cmd("FreePath", {1}), 0);
    }
    EXPECT_NE(pictures[0], std::vector<uint32_t>(pictures[0].size(), 0u));
    EXPECT_EQ(Shown(50, 40), 0u);
    EXPECT_EQ(pictures[1], pictures[0]);
}

qbBitmap* NoAlpha(int32_t, int32_t) { return nullptr; }

TEST_F(PathRenderTest, ImagesTooLargeFailWithNothingKept) {
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    Polygon(1, {0, 0, 1e7, 0, 1e7, 1e7, 0, 1e7});
    Drawn d;
    EXPECT_EQ(Render(1, &d), ERR_BITMAP);
    const double stretch[4] = {300, 0, 0, 300};  // past 32 bits each way
    EXPECT_EQ(Render(1, &d, stretch), ERR_BITMAP);
    Polygon(2, {0, 0, 10, 0, 10, 10});
    const qbBoxImageAllocators saved = BoxImageAllocators();
    BoxImageAllocators().alpha = &NoAlpha;
    EXPECT_EQ(Render(2, &d), ERR_ALLOCALPHA);
    BoxImageAllocators() = saved;
    EXPECT_EQ(d.images.bitmap, nullptr);
}

// An engine that places nothing itself: it reports fixed extents moved by
// the origin and records what it is asked to draw.
struct Recorder {
    int drawResult = 0;
    double far = 0;  // added to the right and bottom extents
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int32_t width = 0, height = 0;
    int failExtentsFrom = 0;  // the first call of the extents hook that fails, counted from 1
    int extentsCalls = 0;
} gRecorder;

int RecordExtents(qbPathExtentsArgs* a) {
    if (gRecorder.failExtentsFrom && ++gRecorder.extentsCalls >= gRecorder.failExtentsFrom) return 0;
    a->x1 = 5.5 + a->originX;
    a->y1 = 6.5 + a->originY;
    a->x2 = 25.5 + a->originX + gRecorder.far;
    a->y2 = 16.5 + a->originY + gRecorder.far;
    return 1;
}

int RecordDraw(qbDrawPathArgs* a) {
    gRecorder.x0 = a->x0, gRecorder.y0 = a->y0, gRecorder.x1 = a->x1, gRecorder.y1 = a->y1;
    gRecorder.width = a->width, gRecorder.height = a->height;
    if (gRecorder.drawResult)
        for (int32_t y = 0; y < a->height; ++y) std::memset(a->coverage + y * a->bytesPerRow, 255, a->width);
    return gRecorder.drawResult;
}

qbVectorEngine RecordingEngine() {
    qbVectorEngine engine;
    engine.hooks = InbuiltVectorEngine()->hooks;
    engine.hooks.getPathExtents = &RecordExtents;
    engine.hooks.drawPath = &RecordDraw;
    return engine;
}

TEST_F(PathRenderTest, EnginesWithoutTheExtensionGetTheExtents) {
    qbVectorEngine engine = RecordingEngine();
    SetActiveVectorEngine(&engine);
    Polygon(1, {0, 0, 10, 0, 10, 10});
    gRecorder = {};
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFFFFFF}), ERR_DRAWPATH);
    gRecorder.drawResult = 1;
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFFFFFF}), 0);
    EXPECT_EQ(gRecorder.x0, 5.5);
    EXPECT_EQ(gRecorder.y0, 6.5);
    EXPECT_EQ(gRecorder.x1, 25.5);
    EXPECT_EQ(gRecorder.y1, 16.5);
    EXPECT_EQ(gRecorder.width, 20);
    EXPECT_EQ(gRecorder.height, 10);
    EXPECT_EQ(Shown(5, 6), 0xFFFFFFu);
    EXPECT_EQ(Shown(24, 15), 0xFFFFFFu);
    EXPECT_EQ(Shown(25, 15), 0u);
    gRecorder.far = 1e300;  // extents no image could hold
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFFFFFF}), ERR_BITMAP);
    gRecorder.far = 0;
    engine.callingMode = 2;  // marshalled calls fail here
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFFFFFF}), ERR_DRAWPATH);
    SetActiveVectorEngine(nullptr);
}

// An engine that fails to draw fails the path on every road that asks it
// (the edge beside the fill, the fill under a shadow, a plain path straight
// onto a picture), and the picture keeps what it had.
TEST_F(PathRenderTest, AFailingEngineFailsEveryRoad) {
    qbVectorEngine engine = RecordingEngine();
    SetActiveVectorEngine(&engine);
    gRecorder = {};
    Polygon(1, {0, 0, 10, 0, 10, 10});
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    Clear(0x123456);
    ASSERT_EQ(Cmd("SetFormStyle", {kFormEdge, 0x00FF00, 2}), 0);
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFFFFFF}), ERR_DRAWPATH);
    ASSERT_EQ(Cmd("SetFormStyle", {kFormNormal}), 0);
    ASSERT_EQ(Cmd("SetFormStyle", {kFormShadow}), 0);
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFFFFFF}), ERR_DRAWPATH);
    ASSERT_EQ(Cmd("SetFormStyle", {kFormNormal}), 0);
    // Extents it gives a few times and then no more: the plain road fails
    // measuring the path moved to its corner (the second call), the edge
    // road measuring the fill beside the edge (the seventh).
    gRecorder.drawResult = 1;
    gRecorder.failExtentsFrom = 2;
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFFFFFF}), ERR_DRAWPATH);
    ASSERT_EQ(Cmd("SetFormStyle", {kFormEdge, 0x00FF00, 2}), 0);
    gRecorder.extentsCalls = 0;
    gRecorder.failExtentsFrom = 7;
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFFFFFF}), ERR_DRAWPATH);
    ASSERT_EQ(Cmd("SetFormStyle", {kFormNormal}), 0);
    gRecorder = {};
    for (uint32_t p : Picture()) ASSERT_EQ(p, 0x123456u);
    ASSERT_EQ(Cmd("CreateBGPic", {2, 100, 80}), 0);
    ASSERT_EQ(Cmd("SelectBGPic", {2, 0}), 0);
    qbBitmap* picture = display_->output.bitmap;
    ASSERT_NE(picture, nullptr);
    FillBitmapRect(picture, 0, 0, 100, 80, 0x654321);
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFFFFFF}), ERR_DRAWPATH);
    for (int32_t y = 0; y < 80; ++y)
        for (int32_t x = 0; x < 100; ++x) ASSERT_EQ(ReadBitmapPixel(picture, x, y, false), 0x654321u) << x << "," << y;
    // The same road draws once the engine does.
    gRecorder.drawResult = 1;
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFFFFFF}), 0);
    EXPECT_EQ(ReadBitmapPixel(picture, 5, 6, false), 0xFFFFFFu);
    EXPECT_EQ(ReadBitmapPixel(picture, 25, 6, false), 0x654321u);
    SetActiveVectorEngine(nullptr);
}

// A texture fill whose brush has gone is reported by the plain, edged and
// shadowed roads alike, with nothing drawn.
TEST_F(PathRenderTest, AFreedTextureBrushFailsEveryRoad) {
    ASSERT_EQ(Cmd("CreateBrush", {4, 8, 8, 0x00FF00}), 0);
    ASSERT_EQ(Cmd("SetFillStyle", {FILLTEXTURE, 4}), 0);
    ASSERT_EQ(Cmd("FreeBrush", {4}), 0);
    Polygon(1, {10, 10, 40, 10, 40, 40, 10, 40});
    Clear(0x123456);
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFFFFFF}), ERR_FINDBRUSH);
    ASSERT_EQ(Cmd("SetFormStyle", {kFormEdge, 0x00FF00, 2}), 0);
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFFFFFF}), ERR_FINDBRUSH);
    ASSERT_EQ(Cmd("SetFormStyle", {kFormNormal}), 0);
    ASSERT_EQ(Cmd("SetFormStyle", {kFormShadow}), 0);
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFFFFFF}), ERR_FINDBRUSH);
    for (uint32_t p : Picture()) ASSERT_EQ(p, 0x123456u);
}

TEST_F(PathRenderTest, ALayerKeepsItsOwnCopyOfThePath) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    Polygon(1, {10, 10, 30, 10, 30, 30});
    ASSERT_EQ(Cmd("DrawPath", {1, 0, 0, double(0x40FF0000u)}), 0);
    ASSERT_EQ(CountLayers(display_->bgpic), 1);
    qbLayer* layer = GetLayerByIndex(display_->bgpic, 1);
    EXPECT_EQ(layer->type, kLayerVectorPath);
    EXPECT_EQ(layer->transparency, 0x40);
    auto* kept = static_cast<qbPathRequest*>(layer->basestate->shapeState.get());
    ASSERT_NE(kept, nullptr);
    qbPath* path = nullptr;
    ASSERT_EQ(GetPath(ObjectID{1, nullptr}, &path), 0);
    EXPECT_NE(kept->commands, path->commands.get());
    const size_t length = PathStreamLength(path->commands.get());
    std::vector<uint8_t> before(path->commands.get(), path->commands.get() + length);
    EXPECT_EQ(Cmd("FreePath", {1}), 0);
    ASSERT_EQ(PathStreamLength(kept->commands), length);
    EXPECT_EQ(std::memcmp(kept->commands, before.data(), length), 0);
    EXPECT_EQ(kept->colour, 0xFF0000u);
}

// A plain path on a selected picture skips its image; its pixels must be
// those the image road leaves, clipped at the picture's edges alike.
TEST_F(PathRenderTest, PlainPathsOnAPictureMatchTheImageRoad) {
    ASSERT_EQ(Cmd("CreateBGPic", {2, 100, 80}), 0);
    ASSERT_EQ(Cmd("SelectBGPic", {2, 0}), 0);
    qbBitmap* picture = display_->output.bitmap;
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(Cmd("SetFormStyle", {kFormAntialias}), 0);
    Polygon(1, {-20, 10, 70, -15, 110, 60, 30, 90, 40, 40});
    ASSERT_EQ(Cmd("StartPath", {2}), 0);
    ASSERT_EQ(Cmd("MoveTo", {2, 5, 70}), 0);
    ASSERT_EQ(Cmd("CurveTo", {2, 30, -20, 60, 120, 95, 10}), 0);
    const auto draw = [&] {
        for (int32_t y = 0; y < 80; ++y)
            for (int32_t x = 0; x < 100; ++x) FillBitmapRect(picture, x, y, 1, 1, (x * 7 + y * 13) * 0x10305u);
        EXPECT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
        EXPECT_EQ(Cmd("DrawPath", {1, 3, 2, 0x33AA55}), 0);
        EXPECT_EQ(Cmd("SetFillStyle", {FILLNONE, 3}), 0);
        EXPECT_EQ(Cmd("DrawPath", {2, 0, 0, 0xFF2000}), 0);
        std::vector<uint32_t> all;
        for (int32_t y = 0; y < 80; ++y)
            for (int32_t x = 0; x < 100; ++x) all.push_back(ReadBitmapPixel(picture, x, y, false));
        return all;
    };
    const std::vector<uint32_t> direct = draw();
    SetDirectShapes(false);
    const std::vector<uint32_t> imaged = draw();
    SetDirectShapes(true);
    EXPECT_LE(WorstChannel(direct, imaged), 1);
    int drawn = 0;
    for (size_t i = 0; i < direct.size(); ++i)
        drawn += direct[i] != (((i % 100) * 7 + (i / 100) * 13) * 0x10305u & 0xFFFFFF);
    EXPECT_GT(drawn, 2000);
}

// The border pass strokes the path at twice the border size; a filled
// path keeps its inside covered, an unfilled one leaves it open.
TEST_F(PathRenderTest, BorderPassesCoverTheInsideOfFilledPathsOnly) {
    Polygon(1, {20, 20, 40, 20, 40, 40, 20, 40});
    qbPath* path = nullptr;
    ASSERT_EQ(GetPath(ObjectID{1, nullptr}, &path), 0);
    for (uint32_t fill : {FILLCOLOR, FILLNONE}) {
        qbDrawState st = DefaultDrawState();
        st.fillStyle = fill;
        qbPathRequest r;
        r.commands = path->commands.get();
        r.style = SnapshotPathStyle(st);
        qbTransformOptions t;
        Drawn d;
        ASSERT_EQ(RenderPathLayerBorder(L_, t, r, 0x00FF00, 2, 1.0, 1.0, &d.images), 0);
        EXPECT_EQ(d.images.width, 24);
        EXPECT_EQ(d.images.unfilled, fill == FILLNONE);
        const auto alpha = [&](int x, int y) { return d.images.alpha->plane->data[y * d.images.alpha->plane->rowBytes + x]; };
        EXPECT_EQ(alpha(1, 12), 255);
        EXPECT_EQ(alpha(12, 12), fill == FILLNONE ? 0 : 255);
        EXPECT_EQ(ReadBitmapPixel(d.images.bitmap, 1, 12, false), 0x00FF00u);
    }
}

// A path layer shows where the path drawn without layers would be.
TEST_F(PathRenderTest, ALayerSitsWhereThePathWouldBeDrawn) {
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    Polygon(1, {12.5, 10, 50, 14, 30, 41});
    Clear(0);
    ASSERT_EQ(Cmd("DrawPath", {1, -100000, -100000 + 3, 0xFFFFFF}), 0);
    std::vector<uint32_t> plain;
    for (int32_t y = 0; y < 80; ++y)
        for (int32_t x = 0; x < 100; ++x) plain.push_back(Shown(x, y));
    Clear(0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Cmd("DrawPath", {1, -100000, -100000 + 3, 0xFFFFFF}), 0);
    std::vector<uint32_t> layered;
    for (int32_t y = 0; y < 80; ++y)
        for (int32_t x = 0; x < 100; ++x) layered.push_back(Window(x, y));
    EXPECT_LE(WorstChannel(plain, layered), 1);
    EXPECT_GT(std::count(plain.begin(), plain.end(), 0xFFFFFFu), 300);
}

// Two squares drawn the same way round, overlapping: the overlap is inside
// once more under the winding rule, a hole under even-odd, with and without
// anti-aliasing.
TEST_F(PathRenderTest, TheFillRuleDecidesTheOverlapOfTwoSquares) {
    ASSERT_EQ(Cmd("CreateBGPic", {2, 100, 80}), 0);
    ASSERT_EQ(Cmd("SelectBGPic", {2, 0}), 0);
    qbBitmap* picture = display_->output.bitmap;
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(Cmd("StartPath", {1}), 0);
    for (double at : {10.0, 30.0}) {
        ASSERT_EQ(Cmd("MoveTo", {1, at, at}), 0);
        ASSERT_EQ(Cmd("LineTo", {1, at + 40, at}), 0);
        ASSERT_EQ(Cmd("LineTo", {1, at + 40, at + 40}), 0);
        ASSERT_EQ(Cmd("LineTo", {1, at, at + 40}), 0);
        ASSERT_EQ(Cmd("ClosePath", {1}), 0);
    }
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    for (int form : {0, int(kFormAntialias)})
        for (int rule : {QB_FILLRULE_EVENODD, QB_FILLRULE_WINDING}) {
            FillBitmapRect(picture, 0, 0, 100, 80, 0);
            ASSERT_EQ(Cmd("SetFormStyle", {double(form)}), 0);
            ASSERT_EQ(Cmd("SetFillRule", {double(rule)}), 0);
            ASSERT_EQ(Cmd("DrawPath", {1, 0, 0, 0x33AA55}), 0);
            const uint32_t overlap = rule == QB_FILLRULE_EVENODD ? 0u : 0x33AA55u;
            for (auto [x, y, colour] : {std::tuple{20, 20, 0x33AA55u}, {60, 60, 0x33AA55u}, {40, 40, overlap},
                                        {31, 31, overlap}, {49, 49, overlap}, {5, 5, 0u}, {60, 20, 0u}})
                EXPECT_EQ(ReadBitmapPixel(picture, x, y, false) & 0xFFFFFFu, colour)
                    << "form " << form << " rule " << rule << " at " << x << "," << y;
        }
}

// A thick open line: a butt cap ends at the end point, a square one half
// the width beyond it; the line built by relative moves lies where the
// absolute one does.
TEST_F(PathRenderTest, CapsReachPastTheEndAndRelativeMovesAddUp) {
    ASSERT_EQ(Cmd("CreateBGPic", {2, 100, 80}), 0);
    ASSERT_EQ(Cmd("SelectBGPic", {2, 0}), 0);
    qbBitmap* picture = display_->output.bitmap;
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(Cmd("StartPath", {1}), 0);
    ASSERT_EQ(Cmd("MoveTo", {1, 5, 5}), 0);
    ASSERT_EQ(Cmd("RelMoveTo", {1, 15, 35}), 0);  // to 20, 40
    ASSERT_EQ(Cmd("RelLineTo", {1, 40, 0}), 0);   // to 60, 40
    ASSERT_EQ(Cmd("SetFillStyle", {FILLNONE, 10}), 0);
    ASSERT_EQ(Cmd("SetFormStyle", {0}), 0);
    for (int cap : {QB_CAP_SQUARE, QB_CAP_BUTT}) {
        FillBitmapRect(picture, 0, 0, 100, 80, 0);
        ASSERT_EQ(Cmd("SetLineCap", {double(cap)}), 0);
        ASSERT_EQ(Cmd("DrawPath", {1, 0, 0, 0x33AA55}), 0);
        const uint32_t beyond = cap == QB_CAP_SQUARE ? 0x33AA55u : 0u;
        for (auto [x, y, colour] : {std::tuple{40, 40, 0x33AA55u}, {40, 43, 0x33AA55u}, {40, 47, 0u}, {17, 40, beyond},
                                    {63, 40, beyond}, {12, 40, 0u}, {67, 40, 0u}, {5, 5, 0u}})
            EXPECT_EQ(ReadBitmapPixel(picture, x, y, false) & 0xFFFFFFu, colour)
                << "cap " << cap << " at " << x << "," << y;
    }
}

// The inbuilt engine hands a plain path's rows over to be blended one by
// one; an engine with the same hooks fills a whole plane, which is blitted.
// Star, curves and a round-joined stroke, under both fill rules, with and
// without anti-aliasing, reaching past every edge of the picture, must come
// out the same to the bit.
TEST_F(PathRenderTest, RowsBlendedAsTheyAreMadeMatchTheWholePlane) {
    ASSERT_EQ(Cmd("CreateBGPic", {2, 100, 80}), 0);
    ASSERT_EQ(Cmd("SelectBGPic", {2, 0}), 0);
    qbBitmap* picture = display_->output.bitmap;
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(Cmd("StartPath", {1}), 0);
    for (int i = 0; i < 64; ++i) {
        const double t = i * 3.14159265358979 / 32, r = (i & 1) ? 17 : 45;
        ASSERT_EQ(Cmd(i ? "LineTo" : "MoveTo", {1, 50 + r * std::cos(t), 40 + r * std::sin(t)}), 0);
    }
    ASSERT_EQ(Cmd("ClosePath", {1}), 0);
    ASSERT_EQ(Cmd("StartPath", {2}), 0);
    ASSERT_EQ(Cmd("MoveTo", {2, 2, 40}), 0);
    for (int i = 0; i < 40; ++i) {
        const double x = 2 + (i + 1) * 2.4, a = 35 * std::sin(i * 0.37), b = 35 * std::cos(i * 0.23);
        ASSERT_EQ(Cmd("CurveTo", {2, x - 1.6, 40 + a, x - 0.8, 40 + b, x, 40 + 0.5 * (a + b)}), 0);
    }
    ASSERT_EQ(Cmd("ClosePath", {2}), 0);
    ASSERT_EQ(Cmd("SetLineJoin", {QB_JOIN_ROUND}), 0);
    const auto draw = [&](int form, int rule) {
        for (int32_t y = 0; y < 80; ++y)
            for (int32_t x = 0; x < 100; ++x) FillBitmapRect(picture, x, y, 1, 1, (x * 7 + y * 13) * 0x10305u);
        EXPECT_EQ(Cmd("SetFormStyle", {double(form)}), 0);
        EXPECT_EQ(Cmd("SetFillRule", {double(rule)}), 0);
        EXPECT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
        for (const auto& at : {std::pair{0, 0}, std::pair{-30, -25}, std::pair{40, 35}}) {
            EXPECT_EQ(Cmd("DrawPath", {1, double(at.first), double(at.second), 0x33AA55}), 0);
            EXPECT_EQ(Cmd("DrawPath", {2, double(at.second), double(at.first), 0xC04080}), 0);
        }
        EXPECT_EQ(Cmd("SetFillStyle", {FILLNONE, 5}), 0);
        EXPECT_EQ(Cmd("DrawPath", {2, 20, -10, 0xFF2000}), 0);
        EXPECT_EQ(Cmd("DrawPath", {2, -15, 30, 0x2040FF}), 0);
        std::vector<uint32_t> all;
        for (int32_t y = 0; y < 80; ++y)
            for (int32_t x = 0; x < 100; ++x) all.push_back(ReadBitmapPixel(picture, x, y, false));
        return all;
    };
    qbVectorEngine planes = *InbuiltVectorEngine();
    for (int form : {int(kFormAntialias), 0})
        for (int rule : {QB_FILLRULE_WINDING, QB_FILLRULE_EVENODD}) {
            const std::vector<uint32_t> rows = draw(form, rule);
            SetActiveVectorEngine(&planes);
            const std::vector<uint32_t> whole = draw(form, rule);
            SetActiveVectorEngine(nullptr);
            EXPECT_EQ(rows, whole) << form << " " << rule;
            int drawn = 0;
            for (size_t i = 0; i < rows.size(); ++i)
                drawn += rows[i] != (((i % 100) * 7 + (i / 100) * 13) * 0x10305u & 0xFFFFFF);
            EXPECT_GT(drawn, 3000);
        }
}

}  // namespace
