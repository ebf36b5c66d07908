// Anim layers beyond showing a frame: rotated layers against the same frame
// drawn with layers off and as a brush layer, CreateLayer with frames,
// ModifyLayerFrames, ConvertToBrush of a layer's frame, and drawing into a
// layer's frame through SelectLayer.
#include <gtest/gtest.h>

#include <vector>

#include "animworld.h"

namespace {

constexpr int32_t kTypeLayer = 22;

class AnimLayersTest : public AnimWorld {
protected:
    // The window's pixels of a rectangle, row by row.
    std::vector<uint32_t> Grab(int32_t x0, int32_t y0, int32_t w, int32_t h) {
        std::vector<uint32_t> out;
        for (int32_t y = y0; y < y0 + h; ++y)
            for (int32_t x = x0; x < x0 + w; ++x) out.push_back(Real(x, y));
        return out;
    }
    // command(numbers..., {rotate = angle}).
    int Rotated(const char* command, std::initializer_list<double> args, double angle) {
        return Show(command, args, [&] { SetTableFieldFloat(L_, "rotate", angle); });
    }
    qbAnim* LayerAnim(int32_t position) {
        qbLayer* l = GetLayerByIndex(display_->bgpic, position);
        qbAnim* a = nullptr;
        return l && FindAnim(L_, l->id, &a, kAnimPendingToo) == 0 ? a : nullptr;
    }
    int32_t LayerFrame(int32_t position) { return GetLayerByIndex(display_->bgpic, position)->basestate->srcx; }
};

}  // namespace

TEST_F(AnimLayersTest, RotatedLayerMatchesLayersOffAndABrushLayer) {
    MakeAnim(1, 7, 4, {0x100000, 0x200000}, true);
    ASSERT_EQ(Rotated("DisplayAnimFrame", {1, 20, 20, 2}, 30), 0);
    const std::vector<uint32_t> plain = Grab(10, 10, 30, 30);
    EXPECT_NE(Real(23, 22), kBackground);
    // Turned: the drawn rows are of several widths, not one rectangle.
    std::vector<int> widths;
    for (int32_t row = 0; row < 30; ++row) {
        int n = 0;
        for (int32_t col = 0; col < 30; ++col) n += plain[static_cast<size_t>(row * 30 + col)] != kBackground;
        if (n && (widths.empty() || widths.back() != n)) widths.push_back(n);
    }
    EXPECT_GE(widths.size(), 3u);
    ASSERT_EQ(RunNumbers("Cls", {}), 0);
    ASSERT_EQ(Real(23, 22), kBackground);

    ASSERT_EQ(RunNumbers("EnableLayers", {}), 0);
    ASSERT_EQ(Rotated("DisplayAnimFrame", {1, 20, 20, 2}, 30), 0);
    EXPECT_EQ(Grab(10, 10, 30, 30), plain);

    // The layer's frame 2 as a brush, shown rotated the same way.
    ASSERT_EQ(RunNumbers("ConvertToBrush", {kTypeLayer, 1, 5, 2}), 0);
    ASSERT_EQ(RunNumbers("RemoveLayer", {1}), 0);
    EXPECT_EQ(Real(23, 22), kBackground);
    ASSERT_EQ(Rotated("DisplayBrush", {5, 20, 20}, 30), 0);
    EXPECT_EQ(Grab(10, 10, 30, 30), plain);
}

// Played turned with layers off, a frame lands where the same pixels
// shown as a brush turned the same way land, whichever way it turns.
TEST_F(AnimLayersTest, ATurnedPlayLandsWhereATurnedBrushDoes) {
    MakeAnim(1, 7, 4, {0x100000});
    MakeBrush(5, 7, 4, 0);
    qbBrush* b = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, ObjectID{5, nullptr}, &b, 0), 0);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 7; ++x) WriteBitmapPixel(b->bitmap, x, y, 0x100000u + static_cast<uint32_t>(x), false);
    for (double angle : {90.0, 270.0, 330.0}) {
        ASSERT_EQ(RunNumbers("Cls", {}), 0);
        ASSERT_EQ(Rotated("DisplayBrush", {5, 20, 20}, angle), 0);
        const std::vector<uint32_t> brush = Grab(10, 10, 30, 30);
        ASSERT_EQ(RunNumbers("Cls", {}), 0);
        ASSERT_EQ(Show("PlayAnim", {1, 20, 20}, [&] {
                      SetTableFieldFloat(L_, "rotate", angle);
                      SetTableFieldInt(L_, "speed", kFastSpeed);
                  }),
                  0);
        EXPECT_EQ(Grab(10, 10, 30, 30), brush) << angle;
    }
}

TEST_F(AnimLayersTest, ConvertToBrushTakesTheLayersFrame) {
    MakeAnim(1, 4, 3, {0x100000, 0x200000, 0x300000}, true);
    ASSERT_EQ(RunNumbers("ConvertToBrush", {kTypeLayer, 1, 5, 2}), ERR_NOLAYERS);
    ASSERT_EQ(RunNumbers("EnableLayers", {}), 0);
    ASSERT_EQ(RunNumbers("DisplayAnimFrame", {1, 0, 0, 1}), 0);
    ASSERT_EQ(RunNumbers("ConvertToBrush", {kTypeLayer, 1, 5, 2}), 0);
    qbBrush* b = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, ObjectID{5, nullptr}, &b, 0), 0);
    EXPECT_EQ(b->width, 4);
    EXPECT_EQ(b->height, 3);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 2, 1, false) & 0xFFFFFFu, 0x200002u);
    ASSERT_NE(b->mask, nullptr);  // the masked column stays masked
    EXPECT_EQ(b->transparentColour, 0x123456);
    // GetBrushLink takes the same frames; frames run 1..count.
    ASSERT_EQ(RunNumbers("GetBrushLink", {6, kTypeLayer, 1, 3}), 0);
    ASSERT_EQ(GetBrushRecord(L_, ObjectID{6, nullptr}, &b, 0), 0);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 0, 0, false) & 0xFFFFFFu, 0x300000u);
    EXPECT_EQ(RunNumbers("ConvertToBrush", {kTypeLayer, 1, 7, 4}), ERR_ANIMFRAME);
    EXPECT_EQ(RunNumbers("ConvertToBrush", {kTypeLayer, 1, 7, 0}), ERR_ANIMFRAME);
}

TEST_F(AnimLayersTest, CreateLayerWithTransparentFrames) {
    ASSERT_EQ(RunNumbers("EnableLayers", {}), 0);
    const std::vector<uint32_t> before = Grab(0, 0, 12, 12);
    ASSERT_EQ(Show("CreateLayer", {2, 2, 8, 6},
                   [&] {
                       SetTableFieldInt(L_, "frames", 3);
                       SetTableFieldInt(L_, "alphachannel", 1);
                       SetTableFieldInt(L_, "clear", 1);
                       SetTableFieldInt(L_, "color", 0xFF0000);
                   }),
              0);
    ASSERT_EQ(CountLayers(display_->bgpic), 1);
    EXPECT_EQ(Grab(0, 0, 12, 12), before);
    qbAnim* anim = LayerAnim(1);
    ASSERT_NE(anim, nullptr);
    ASSERT_EQ(anim->frameCount, 3);
    EXPECT_EQ(anim->transparentColour, -1);
    for (const qbAnimFrame& f : anim->frames) {
        ASSERT_NE(f.alpha, nullptr);
        EXPECT_EQ(f.mask, nullptr);
        for (int32_t y = 0; y < 6; ++y)
            for (int32_t x = 0; x < 8; ++x) ASSERT_EQ(f.alpha->plane->data[static_cast<size_t>(y) * f.alpha->plane->rowBytes + x], 0);
        EXPECT_EQ(ReadBitmapPixel(f.bitmap.get(), 7, 5, false) & 0xFFFFFFu, 0xFF0000u);
    }
    // The anim is the layer's alone: it goes with the layer.
    const int anims = CountAnims();
    ASSERT_EQ(RunNumbers("RemoveLayer", {1}), 0);
    EXPECT_EQ(CountAnims(), anims - 1);

    // A mask marks the key word; bad options are refused; layers off draw
    // the first frame and keep nothing.
    ASSERT_EQ(Show("CreateLayer", {0, 0, 4, 4}, [&] {
                  SetTableFieldInt(L_, "frames", 2);
                  SetTableFieldInt(L_, "mask", 1);
              }),
              0);
    EXPECT_EQ(LayerAnim(1)->transparentColour, 0xAFC0DE);
    EXPECT_EQ(Show("CreateLayer", {0, 0, 4, 4}, [&] { SetTableFieldInt(L_, "frames", -1); }), ERR_WRONGUSAGE);
    // Counts no memory could hold are refused before anything is made.
    const int made = CountAnims();
    EXPECT_EQ(Show("CreateLayer", {0, 0, 1, 1}, [&] { SetTableFieldInt(L_, "frames", 2147483647); }), ERR_MEM);
    EXPECT_EQ(Show("CreateLayer", {0, 0, 65536, 65536}, [&] { SetTableFieldInt(L_, "frames", 2); }), ERR_MEM);
    EXPECT_EQ(CountAnims(), made);
    EXPECT_EQ(RunNumbers("ModifyLayerFrames", {1, 2147483647}), ERR_MEM);
    EXPECT_EQ(LayerAnim(1)->frameCount, 2);
    ASSERT_EQ(RunNumbers("FreeLayers", {0}), 0);
    ASSERT_EQ(RunNumbers("DisableLayers", {}), 0);
    const int left = CountAnims();
    ASSERT_EQ(Show("CreateLayer", {0, 0, 4, 4},
                   [&] {
                       SetTableFieldInt(L_, "frames", 2);
                       SetTableFieldInt(L_, "color", 0x00FF00);
                   }),
              0);
    EXPECT_EQ(Real(3, 3), 0x00FF00u);
    EXPECT_EQ(CountAnims(), left);
}

TEST_F(AnimLayersTest, CreateLayerCoversItsRectangleOnEveryRoad) {
    // Position and size all differ, so a swapped pair moves or turns the
    // rectangle; each road draws apart from the others.
    constexpr int32_t kW = 7, kH = 3;
    struct Road {
        bool layers;
        int32_t frames, x, y;
        uint32_t colour;
    };
    const Road roads[] = {{true, 0, 3, 30, 0x102030}, {true, 2, 23, 50, 0x203040},
                          {false, 0, 43, 10, 0x304050}, {false, 3, 63, 60, 0x405060}};
    ASSERT_EQ(RunNumbers("EnableLayers", {}), 0);
    for (const Road& r : roads) {
        if (!r.layers && CountLayers(display_->bgpic) > 0) {
            ASSERT_EQ(RunNumbers("FreeLayers", {0}), 0);
            ASSERT_EQ(RunNumbers("DisableLayers", {}), 0);
        }
        ASSERT_EQ(Show("CreateLayer", {double(r.x), double(r.y), double(kW), double(kH)},
                       [&] {
                           SetTableFieldInt(L_, "frames", r.frames);
                           SetTableFieldInt(L_, "color", r.colour);
                       }),
                  0)
            << r.frames;
        for (int32_t y = r.y - 1; y <= r.y + kH; ++y)
            for (int32_t x = r.x - 1; x <= r.x + kW; ++x) {
                const bool inside = x >= r.x && x < r.x + kW && y >= r.y && y < r.y + kH;
                ASSERT_EQ(Real(x, y), inside ? r.colour : kBackground)
                    << "layers " << r.layers << " frames " << r.frames << " at " << x << "," << y;
            }
    }
}

TEST_F(AnimLayersTest, ModifyLayerFramesKeepsTheShownPicture) {
    MakeAnim(1, 4, 4, {0x100000, 0x200000, 0x300000});
    ASSERT_EQ(RunNumbers("EnableLayers", {}), 0);
    ASSERT_EQ(RunNumbers("DisplayAnimFrame", {1, 0, 0, 2}), 0);
    MakeBrush(5, 4, 4, 0x445566);
    ASSERT_EQ(RunNumbers("DisplayBrush", {5, 10, 0}), 0);
    EXPECT_EQ(RunNumbers("ModifyLayerFrames", {2, 1}), ERR_NOANMLAYER);
    EXPECT_EQ(RunNumbers("ModifyLayerFrames", {3, 1}), ERR_LAYERRANGE);

    // Two frames in front: the layer gets a copy and stays on its picture.
    ASSERT_EQ(RunNumbers("ModifyLayerFrames", {1, 2, 1}), 0);
    EXPECT_EQ(Anim(1)->frameCount, 3);  // the script's anim is untouched
    EXPECT_EQ(LayerAnim(1)->frameCount, 5);
    EXPECT_EQ(LayerFrame(1), 3);
    EXPECT_EQ(Real(1, 1), 0x200001u);
    ASSERT_EQ(RunNumbers("NextFrame", {1}), 0);
    EXPECT_EQ(Real(1, 1), 0x300001u);

    // Removing frames after it keeps it; removing it shows the first frame.
    // The copy is changed in place now.
    const int anims = CountAnims();
    ASSERT_EQ(RunNumbers("ModifyLayerFrames", {1, -1, 1}), 0);
    EXPECT_EQ(CountAnims(), anims);
    EXPECT_EQ(LayerFrame(1), 3);
    EXPECT_EQ(Real(1, 1), 0x300001u);
    ASSERT_EQ(RunNumbers("ModifyLayerFrames", {1, -1, 4}), 0);
    EXPECT_EQ(LayerFrame(1), 0);
    EXPECT_EQ(LayerAnim(1)->frameCount, 3);
    EXPECT_EQ(Real(1, 1), 0x000000u);  // an inserted blank frame
    EXPECT_EQ(RunNumbers("ModifyLayerFrames", {1, -3}), ERR_WRONGUSAGE);
    EXPECT_EQ(Number("GetAttribute", {kTypeLayer, 1, 11}), 3);
}

TEST_F(AnimLayersTest, SelectLayerDrawsIntoTheLayersFrame) {
    MakeAnim(1, 6, 6, {0x100000, 0x200000});
    ASSERT_EQ(RunNumbers("EnableLayers", {}), 0);
    ASSERT_EQ(RunNumbers("DisplayAnimFrame", {1, 0, 0, 1}), 0);
    EXPECT_EQ(RunNumbers("SelectLayer", {1}), ERR_MISSINGPARAMTR);
    EXPECT_EQ(RunNumbers("SelectLayer", {1, 0, 3}), ERR_ANIMFRAME);
    ASSERT_EQ(RunNumbers("SelectLayer", {1, 0, 2}), 0);
    ASSERT_EQ(RunNumbers("Cls", {0x00FF00}), 0);
    ASSERT_EQ(RunNumbers("EndSelect", {}), 0);
    EXPECT_EQ(Real(1, 1), 0x100001u);  // frame 1 is still shown
    ASSERT_EQ(RunNumbers("NextFrame", {1}), 0);
    EXPECT_EQ(Real(1, 1), 0x00FF00u);
    // The script's anim did not change.
    EXPECT_EQ(ReadBitmapPixel(Anim(1)->frames[1].bitmap.get(), 1, 1, false) & 0xFFFFFFu, 0x200001u);

    // A mask drawn into: the frame gets one.
    ASSERT_EQ(RunNumbers("SelectMask", {1, kTypeLayer, 2}), 0);
    ASSERT_EQ(RunNumbers("Cls", {}), 0);
    ASSERT_EQ(RunNumbers("EndSelect", {}), 0);
    EXPECT_NE(LayerAnim(1)->frames[1].mask, nullptr);
}

// The style table moves a layer between sources: to a part of a BGPic
// (clipped to the picture, refused for a BGPic that is not there), and
// from a BGPic part or an anim frame to a drawn box, after which the layer
// holds the object no more.
TEST_F(AnimLayersTest, StyleMovesALayerBetweenBGPicAnimAndShapeSources) {
    constexpr int32_t kBGPicPart = 13, kBox = 14;
    ASSERT_EQ(RunNumbers("EnableLayers", {}), 0);
    ASSERT_EQ(RunNumbers("CreateBGPic", {5, 20, 10, 0x0000FF}), 0);
    MakeBrush(1, 10, 10, 0xFF0000);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 0, 0}), 0);
    const auto part = [&](double id) {
        return Show("SetLayerStyle", {1}, [&] {
            SetTableFieldInt(L_, "type", kBGPicPart);
            SetTableFieldInt(L_, "id", static_cast<int32_t>(id));
            SetTableFieldInt(L_, "partx", 4);
            SetTableFieldInt(L_, "party", 2);
            SetTableFieldInt(L_, "partwidth", 30);
            SetTableFieldInt(L_, "partheight", 30);
        });
    };
    EXPECT_EQ(part(9), ERR_FINDBGPIC);
    EXPECT_EQ(GetLayerByIndex(display_->bgpic, 1)->type, kLayerBrush);
    ASSERT_EQ(part(5), 0);
    const qbLayer* layer = GetLayerByIndex(display_->bgpic, 1);
    EXPECT_EQ(layer->type, kBGPicPart);
    EXPECT_EQ(layer->basestate->width, 16);
    EXPECT_EQ(layer->basestate->height, 8);
    EXPECT_EQ(Real(0, 0), 0x0000FFu);
    EXPECT_EQ(Real(15, 7), 0x0000FFu);
    EXPECT_EQ(Real(16, 7), kBackground);
    EXPECT_EQ(Real(15, 8), kBackground);
    EXPECT_TRUE(LayersShowObject(kObjectTypeBGPic, ObjectID{5, nullptr}));
    EXPECT_FALSE(LayersShowObject(kObjectTypeBrush, ObjectID{1, nullptr}));

    MakeAnim(2, 6, 4, {0x100000, 0x200000});
    ASSERT_EQ(RunNumbers("DisplayAnimFrame", {2, 40, 0, 2}), 0);
    EXPECT_EQ(Real(43, 3), 0x200003u);
    EXPECT_TRUE(LayersShowObject(kObjectTypeAnim, ObjectID{2, nullptr}));
    for (int32_t n : {1, 2}) {
        ASSERT_EQ(Show("SetLayerStyle", {double(n)}, [&] { SetTableFieldInt(L_, "type", kBox); }), 0) << n;
        EXPECT_EQ(GetLayerByIndex(display_->bgpic, n)->type, kBox) << n;
    }
    EXPECT_FALSE(LayersShowObject(kObjectTypeBGPic, ObjectID{5, nullptr}));
    EXPECT_FALSE(LayersShowObject(kObjectTypeAnim, ObjectID{2, nullptr}));
}
