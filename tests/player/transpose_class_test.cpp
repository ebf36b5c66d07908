// Every command that draws or moves pixels in two axes, run on a picture and
// on its transpose: a snippet runs once on a 37 x 23 display with its
// sources, and once on a 23 x 37 display with every source transposed and
// every pair of axis arguments exchanged (x with y, width with height,
// #LEFT with #TOP); the second window must be the transpose of the first,
// pixel for pixel. An x written for a y, or a width for a height, on any
// road a snippet takes breaks that, where one test per road on a square
// picture or equal offsets would not see it. A command of the signature
// file that takes such a pair is either in the table or listed with why its
// result has no transposed counterpart.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "qbcommands/signatures.h"
#include "transpose_roads.h"
#include "transpose_world.h"

namespace {

using transpose::Source;


// Brush 10 is the background; 11 an opaque 9 x 5 picture, 12 the same with
// an alpha channel, 13 with a mask, 14 a 4 x 3 texture.
std::vector<Source> Sources() {
    return {
        {10, transpose::kWidth, transpose::kHeight, "",
         [](int x, int y) { return uint32_t((x * 6) << 16 | (y * 11) << 8 | ((x * y * 5) & 255)); }},
        {11, 9, 5, "", [](int x, int y) { return uint32_t((x * 28) << 16 | (y * 50) << 8 | 0x40); }},
        {12, 9, 5, "ALPHACHANNEL",
         [](int x, int y) {
             return uint32_t((x * 25 + y * 12 + 20) << 24 | (255 - x * 20) << 16 | (y * 60) << 8 | 0x80);
         }},
        {13, 9, 5, "MASK",
         [](int x, int y) { return ((x + 2 * y) % 3 ? 0xFF000000u : 0u) | uint32_t((x * 28) << 8 | y * 50); }},
        {14, 4, 3, "", [](int x, int y) { return uint32_t(0xFF0000 >> (x * 4) | y * 80); }},
    };
}

using transpose::Row;

const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = transpose::WithRoads({
        // [draw]
        {"Box", "Box(<3, 5>, <20, 9>, $FF8000)"},
        {"Box", "Box(<3, 5>, <20, 9>, $FF8000, 40)"},
        {"Box", "SetFillStyle(#FILLTEXTURE, 14, <1, 2>); Box(<3, 5>, <20, 9>)"},
        {"Box", "SetFillStyle(#FILLNONE, 2); Box(<3, 5>, <20, 9>, $FFFFFF)"},
        {"Box", "SetFormStyle(#EDGE, $00FF00, 2); Box(<3, 5>, <20, 9>, $FF8000)"},
        {"Box", "SetFormStyle(#SHADOW, $00FF00, 3, %3); Box(<3, 5>, <20, 9>, $FF8000)"},
        {"Box", "SetFormStyle(#SHADOW, $00FF00, 2, %2); Box(<3, 5>, <20, 9>, $FF8000)"},
        {"Box", "Box(<3, 5>, <20, 9>, $FF8000, {cornera = 30, cornerb = 60})"},
        {"Box", "SetFillStyle(#FILLCOLOR); Box(<3, 5>, <20, 9>, $FF8000)"},
        {"Box", "SetFillStyle(#FILLCOLOR); Box(<3, 5>, <20, 9>, $FF8000, 40)"},
        {"Box", "SetFillStyle(#FILLCOLOR); Box(<3, 5>, <20, 9>, $FF8000, {cornera = 30, cornerb = 60})"},
        {"Box", "SetFillStyle(#FILLCOLOR); SetFormStyle(#EDGE, $00FF00, 2); Box(<3, 5>, <20, 9>, $FF8000)"},
        {"Box", "SetFillStyle(#FILLCOLOR); SetFormStyle(#SHADOW, $00FF00, 3, %1); Box(<3, 5>, <20, 9>, $FF8000)"},
        {"Box", "SetFillStyle(#FILLCOLOR); EnableLayers(); Box(<3, 5>, <20, 9>, $FF8000, 40)"},
        {"Circle", "SetFillStyle(#FILLCOLOR); SetFormStyle(#SHADOW, $00FF00, 3, %5); Circle(<12, 8>, 6, $FF8000)"},
        {"Polygon", "SetFillStyle(#FILLCOLOR); Polygon(<2, 3>, {0: <0, 0>, <25, 4>, <6, 15>}, 3, $FF8000)"},
        {"Line", "SetFillStyle(#FILLCOLOR); SetFormStyle(#EDGE, $00FF00, 1); Line(<2, 3>, <30, 18>, $FFFFFF, 3)"},
        {"CreateClipRegion",
         "SetFillStyle(#FILLCOLOR); "
         "CreateClipRegion(1, #BOX, <3, 2>, <12, 5>); "
         "SetClipRegion(1); "
         "Box(<0, 0>, <30, 20>, $FF8000)"},
        {"Circle", "Circle(<12, 8>, 6, $FF8000)"},
        {"Circle", "SetFormStyle(#ANTIALIAS); SetFillStyle(#FILLTEXTURE, 14, <1, 2>); Circle(<12, 8>, 6)"},
        {"Ellipse", "Ellipse(<9, 3>, <6, 6>, $FF8000)"},
        {"Ellipse", "SetFillStyle(#FILLNONE, 1); Ellipse(<9, 3>, <6, 6>, $FF8000)"},
        {"Line", "Line(<2, 3>, <30, 18>, $FFFFFF)"},
        {"Line", "Line(<2, 3>, <30, 18>, $FFFFFF, 3)"},
        {"Line", "SetFormStyle(#ANTIALIAS); Line(<2, 3>, <30, 18>, $FFFFFF)"},
        {"Polygon", "Polygon(<2, 3>, {0: <0, 0>, <25, 4>, <6, 15>}, 3, $FF8000)"},
        {"Polygon", "SetFillStyle(#FILLTEXTURE, 14, <2, 1>); Polygon(<2, 3>, {0: <0, 0>, <25, 4>, <6, 15>}, 3)"},
        {"Polygon", "Polygon(<2, 3>, {0: <0, 0>, <20, 10>, <0, 10>}, 3, $FF8000)"},
        {"Polygon", "Polygon(<2, 3>, {0: <0, 0>, <20, 10>, <20, 0>}, 3, $FF8000)"},
        {"Polygon", "Polygon(<2, 3>, {0: <0, 0>, <20, 0>, <20, 3>, <14, 10>, <0, 6>}, 5, $FF8000)"},
        {"CreateGradientBrush",
         "CreateGradientBrush(20, <20, 10>, #LINEAR, $FF0000, $0000FF, ^30); "
         "DisplayBrush(20, <2, 3>)"},
        {"CreateGradientBGPic", "CreateGradientBGPic(2, #LINEAR, $FF0000, $0000FF, <30, 15>, ^30); DisplayBGPic(2)"},
        {"CreateRainbowBGPic", "CreateRainbowBGPic(2, #LINEAR, $FF0000, $0000FF, <30, 15>, ^30); DisplayBGPic(2)"},
        {"Box",
         "SetFillStyle(#FILLGRADIENT, #RADIAL, $FF0000, $0000FF, {centerx = 0.3, centery = 0.6}); "
         "Box(<3, 5>, <20, 9>)"},
        {"Polygon",
         "SetFillStyle(#FILLGRADIENT, #RADIAL, $FF0000, $0000FF); "
         "Polygon(<2, 3>, {0: <0, 0>, <25, 4>, <6, 15>}, 3)"},
        {"CreateGradientBrush",
         "CreateGradientBrush(20, <20, 10>, #RADIAL, $FF0000, $0000FF, 0, {centerx = 0.3, centery = 0.6}); "
         "DisplayBrush(20, <2, 3>)"},
        // The corners run around the brush from its top left; transposed the
        // second and the fourth exchange.
        {"PerspectiveDistortBrush",
         "PerspectiveDistortBrush(11, 0/0, 0/0, 14/6, 1/1, 12/8, 8/12, 1/1, 6/14); DisplayBrush(11, <2, 3>)"},
        {"PerspectiveDistortBrush",
         "PerspectiveDistortBrush(11, 0/0, 0/0, 14/6, 1/1, 12/8, 8/12, 1/1, 6/14, 1); DisplayBrush(11, <2, 3>)"},
        // An angle a becomes 90 - a, which turns the arc the other way: its
        // start and end exchange (360 keeps them whole and positive).
        {"Arc", "SetFillStyle(#FILLCOLOR); Arc(<9, 3>, <7, 7>, 20/350, 100/430, $FF8000)"},
        {"Arc", "Arc(<9, 3>, <7, 7>, 20/350, 100/430, $FF8000)"},
        {"Arc", "SetFillStyle(#FILLCOLOR); Arc(<9, 3>, <7, 7>, 200/160, 290/250, $FF8000)"},
        {"DisplayBrush", "DisplayBrush(11, <3, 2>, {rotate = ~30})"},
        {"DisplayBrush", "EnableLayers(); DisplayBrush(12, <3, 2>, {rotate = ~30, smoothscale = 1})"},
        {"ScaleLayer", "EnableLayers(); DisplayBrush(11, <3, 2>); RotateLayer(1, ~40); ScaleLayer(1, <20, 12>)"},
        {"Plot", "Plot(<5, 9>, $FFFFFF); Plot(<30, 2>, $FF0000)"},
        // [brush]
        {"DisplayBrush", "DisplayBrush(11, <4, 7>)"},
        {"DisplayBrush", "DisplayBrush(12, <4, 7>)"},
        {"DisplayBrush", "DisplayBrush(13, <4, 7>)"},
        {"DisplayBrush", "DisplayBrush(11, <#RIGHT, #BOTTOM>)"},
        {"DisplayBrush", "DisplayBrush(12, <#CENTER, #BOTTOM>)"},
        {"DisplayBrush", "DisplayBrush(13, <#RIGHT, #TOP>)"},
        {"DisplayBrush", "EnableLayers(); DisplayBrush(12, <#LEFT, #CENTER>)"},
        {"DisplayBrush", "DisplayBrush(11, <3, 2>, {width = 20, height = 12})"},
        {"DisplayBrush", "DisplayBrush(12, <3, 2>, {width = 20, height = 12, smoothscale = 1})"},
        {"DisplayBrushPart", "DisplayBrushPart(11, <2, 1>, <5, 7>, <6, 3>)"},
        {"DisplayBrushPart", "DisplayBrushPart(12, <2, 1>, <5, 7>, <6, 3>)"},
        {"DisplayBrushPart", "DisplayBrushPart(13, <2, 1>, <5, 7>, <6, 3>)"},
        {"DisplayBrushPart",
         "CopyBrush(12, 21); "
         "SelectAlphaChannel(21); "
         "DisplayBrushPart(12, <3, 1>, <1, 2>, <5, 3>); "
         "EndSelect(); "
         "DisplayBrush(21, <4, 7>)"},
        {"DisplayBrushPart",
         "CopyBrush(13, 21); "
         "SelectMask(21); "
         "DisplayBrushPart(13, <3, 1>, <1, 2>, <5, 3>); "
         "EndSelect(); "
         "DisplayBrush(21, <4, 7>)"},
        {"DisplayBrush",
         "CopyBrush(12, 21); "
         "SelectAlphaChannel(21); "
         "DisplayBrush(12, <3, 1>); "
         "EndSelect(); "
         "DisplayBrush(21, <4, 7>)"},
        {"DisplayBrush",
         "CopyBrush(12, 21); "
         "SelectBrush(21, #SELMODE_COMBO); "
         "DisplayBrush(12, <3, 1>); "
         "EndSelect(); "
         "DisplayBrush(21, <4, 7>)"},
        {"DisplayBrushPart",
         "CopyBrush(12, 21); "
         "SelectBrush(21, #SELMODE_COMBO, 1); "
         "DisplayBrushPart(12, <3, 1>, <1, 2>, <5, 3>); "
         "EndSelect(); "
         "DisplayBrush(21, <4, 7>)"},
        {"DisplayBrushFX",
         "EnableLayers(); "
         "DisplayBrush(13, <4, 7>); "
         "HideLayerFX(1, {type = #CROSSFADE, async = 1}); "
         "AsyncDrawFrame(@3, 2)"},
        // No #BLEND rows: an async blend's frame on a loaded machine is not
        // the same from run to run, so the two worlds could differ by pace
        // alone. The other async effects here agree run after run.
        {"Box",
         "SelectAlphaChannel(12); "
         "SetAlphaIntensity(40); "
         "Box(<1, 0>, <5, 3>); "
         "EndSelect(); "
         "DisplayBrush(12, <4, 7>)"},
        {"Box", "SelectMask(13); Box(<1, 0>, <5, 3>); EndSelect(); DisplayBrush(13, <4, 7>)"},
        {"Box",
         "SelectMask(13); "
         "SetMaskMode(#MASKINVISIBLE); "
         "Box(<1, 0>, <5, 3>); "
         "EndSelect(); "
         "DisplayBrush(13, <4, 7>)"},
        {"ScaleBrush", "ScaleBrush(11, <20, 11>); DisplayBrush(11, <2, 3>)"},
        {"ScaleBrush", "ScaleBrush(12, <20, 11>, 1); DisplayBrush(12, <2, 3>)"},
        {"ScaleBrush", "ScaleBrush(13, <20, 11>); DisplayBrush(13, <2, 3>)"},
        {"TransformBrush", "TransformBrush(11, <1.5, 0.5, 0.25, 1>); DisplayBrush(11, <2, 3>)"},
        {"CropBrush", "CropBrush(11, <1, 2>, <6, 3>); DisplayBrush(11, <2, 3>)"},
        {"CropBrush", "CropBrush(12, <1, 2>, <6, 3>); DisplayBrush(12, <2, 3>)"},
        {"WriteBrushPixel", "WriteBrushPixel(11, <2, 1>, $FFFFFF); DisplayBrush(11, <2, 3>)"},
        {"CreateBrush", "CreateBrush(20, <12, 5>, $FFFF00); DisplayBrush(20, <3, 4>)"},
        {"FloodFill",
         "CreateBrush(20, <20, 12>); SelectBrush(20); SetFillStyle(#FILLNONE); Box(<3, 2>, <9, 6>, $FFFFFF); "
         "EndSelect(); FloodFill(20, <5, 4>, $FFFFFF, $FF0000); DisplayBrush(20, <2, 3>)"},
        {"CreateTexturedBrush", "CreateTexturedBrush(20, 14, <20, 10>, <1, 2>); DisplayBrush(20, <2, 3>)"},
        {"RGBArrayToBrush", "DisplayBrush(12, <3, 4>)"},
        // [layers]
        {"EnableLayers", "EnableLayers(); DisplayBrush(12, <4, 7>); DisplayBrush(13, <9, 2>)"},
        {"DisplayBrush", "DisplayBrush(11, <3, 2>, {filters = {0: {name = \"oilpaint\", args = {0: 2}}}})"},
        {"DisplayBrush",
         "EnableLayers(); "
         "DisplayBrush(11, <3, 2>, {filters = {0: {name = \"oilpaint\", args = {0: 2}}}})"},
        {"SetLayerFilter",
         "EnableLayers(); "
         "DisplayBrush(12, <3, 2>); "
         "SetLayerFilter(1, {0: {name = \"blur\", args = {0: 2}}})", 1,
         "the blur runs along rows, then down columns, rounding between the passes"},
        {"SetLayerFilter",
         "EnableLayers(); "
         "DisplayBrush(11, <3, 2>); "
         "SetLayerFilter(1, {0: {name = \"edge\", args = {0: 2}}})"},
        {"SetLayerFilter",
         "EnableLayers(); "
         "DisplayBrush(11, <3, 2>); "
         "SetLayerFilter(1, {0: {name = \"sharpen\", args = {0: 2}}})"},
        {"SetLayerFilter",
         "EnableLayers(); "
         "DisplayBrush(13, <3, 2>); "
         "SetLayerFilter(1, {0: {name = \"pixelate\", args = {0: 2}}})"},
        {"SetLayerFilter",
         "EnableLayers(); "
         "DisplayBrush(12, <3, 2>); "
         "SetLayerFilter(1, {0: {name = \"swirl\", args = {0: ~90}}})"},
        {"SetLayerFilter",
         "EnableLayers(); "
         "DisplayBrush(12, <3, 2>); "
         "SetLayerFilter(1, {0: {name = \"waterripple\", args = {0: 8, 2, 0, <0.3, 0.6>}}})"},
        {"SetLayerFilter",
         "EnableLayers(); "
         "DisplayBrush(13, <3, 2>); "
         "SetLayerFilter(1, {0: {name = \"xflip\"/\"yflip\"}})"},
        {"SetLayerFilter",
         "EnableLayers(); "
         "DisplayBrush(11, <3, 2>); "
         "SetLayerFilter(1, {0: {name = \"quantize\", args = {0: 4, 0}}})"},
        {"SetLayerFilter",
         "EnableLayers(); "
         "DisplayBrush(11, <3, 2>); "
         "SetLayerFilter(1, {0: {name = \"emboss\", args = {0: 2}}})"},
        {"InsertLayer", "EnableLayers(); DisplayBrush(11, <1, 1>); InsertLayer(1, #BRUSH, 12, <4, 7>)"},
        {"ShowLayer", "EnableLayers(); DisplayBrush(11, <1, 1>); HideLayer(1); ShowLayer(1, <6, 2>)"},
        {"ScaleLayer", "EnableLayers(); DisplayBrush(11, <1, 1>); ScaleLayer(1, <20, 12>)"},
        {"ScaleLayer", "EnableLayers(); DisplayBrush(12, <1, 1>); ScaleLayer(1, <20, 12>, 1)"},
        {"TransformLayer", "EnableLayers(); DisplayBrush(11, <8, 6>); TransformLayer(1, <1.5, 0.5, 0.25, 1>)"},
        {"TranslateLayer", "EnableLayers(); DisplayBrush(11, <1, 1>); TranslateLayer(1, <6, 2>)"},
        {"CreateLayer", "EnableLayers(); CreateLayer(<3, 4>, <12, 5>, {color = $FFFF00})"},
        {"CreateLayer", "EnableLayers(); CreateLayer(<3, 4>, <12, 5>, {color = $FFFF00, frames = 2})"},
        {"CreateLayer",
         "EnableLayers(); "
         "CreateLayer(<3, 4>, <12, 5>, {color = $FFFF00, frames = 2, alphachannel = 1})"},
        {"SetLayerShadow", "EnableLayers(); DisplayBrush(13, <4, 3>); SetLayerShadow(1, 1, $80000000, 2, 3, %3)", 1,
         "the shadow's blur runs along rows, then down columns, rounding between the passes"},
        {"AddMove", "EnableLayers(); AddMove(1, #BRUSH, 12, <4, 7>); AddMove(1, #BRUSH, 13, <9, 2>); DoMove(1)"},
        {"NextFrame",
         "CreateAnim(1, 11, <4, 5>, 2, 2/1); EnableLayers(); InsertLayer(1, #ANIM, 1, <2, 3>); NextFrame(1, <6, 2>)"},
        // [anim]
        {"CreateAnim", "CreateAnim(1, 11, <4, 5>, 2, 2/1, <1, 0>); DisplayAnimFrame(1, <3, 4>, 2)"},
        {"DisplayAnimFrame", "CreateAnim(1, 12, <4, 5>, 2, 2/1); DisplayAnimFrame(1, <3, 4>, 2)"},
        {"ScaleAnim", "CreateAnim(1, 11, <4, 5>, 2, 2/1); ScaleAnim(1, <10, 6>); DisplayAnimFrame(1, <3, 4>, 1)"},
        {"PlayAnim", "CreateAnim(1, 11, <4, 5>, 2, 2/1); PlayAnim(1, <3, 4>)"},
        // [bgpic]
        {"CreateBGPic", "CreateBGPic(2, <30, 10>, $FFFF00); DisplayBGPic(2)"},
        {"DisplayBGPicPart", "BrushToBGPic(11, 2); DisplayBGPicPart(2, <1, 2>, <6, 3>, <8, 4>)"},
        {"ScaleBGPic", "BrushToBGPic(11, 2); ScaleBGPic(2, <30, 15>); DisplayBGPic(2)"},
        {"ScaleBGPic", "BrushToBGPic(12, 2); ScaleBGPic(2, <30, 15>, 1); DisplayBGPic(2)"},
        {"CreateTexturedBGPic", "CreateTexturedBGPic(2, 14, <30, 15>, <1, 2>); DisplayBGPic(2)"},
        // [transitionfx]
        {"DisplayBrushFX", "DisplayBrushFX(12, <4, 7>, #CROSSFADE)"},
        {"DisplayBrushFX", "EnableLayers(); DisplayBrushFX(13, <4, 7>, #CROSSFADE)"},
        {"DisplayBrushFX",
         "DisplayBrushFX(12, <4, 7>, {type = #CROSSFADE, async = 1}); "
         "AsyncDrawFrame(@1); "
         "AsyncDrawFrame(@1)"},
        {"DisplayBrushFX",
         "EnableLayers(); "
         "DisplayBrushFX(13, <4, 7>, {type = #HSTRIPES16/#VSTRIPES16, async = 1}); "
         "AsyncDrawFrame(@2); "
         "AsyncDrawFrame(@2)"},
        {"DisplayBrushFX",
         "DisplayBrushFX(12, <4, 7>, {type = #REVEALLEFT/#REVEALTOP, async = 1}); "
         "AsyncDrawFrame(@1); "
         "AsyncDrawFrame(@1)"},
        {"DisplayBrushFX",
         "EnableLayers(); "
         "DisplayBrushFX(12, <4, 7>, {type = #SCROLLSOUTHEAST, async = 1}); "
         "AsyncDrawFrame(@2); "
         "AsyncDrawFrame(@2)"},
        {"DisplayBrushFX",
         "EnableLayers(); "
         "DisplayBrushFX(13, <4, 7>, {type = #STRETCHLEFT/#STRETCHTOP, async = 1}); "
         "AsyncDrawFrame(@2); "
         "AsyncDrawFrame(@2)"},
        {"DisplayBrushFX",
         "EnableLayers(); "
         "DisplayBrush(13, <4, 7>); "
         "HideLayerFX(1, {type = #CROSSFADE, async = 1}); "
         "AsyncDrawFrame(@3); "
         "AsyncDrawFrame(@3)"},
        {"DisplayBrushFX",
         "EnableLayers(); "
         "DisplayBrush(13, <4, 7>); "
         "HideLayerFX(1, {type = #FADE, async = 1}); "
         "AsyncDrawFrame(@3); "
         "AsyncDrawFrame(@3)"},
        {"DisplayBrushFX",
         "EnableLayers(); "
         "DisplayBrush(13, <4, 7>); "
         "UndoFX(#BRUSH, 13, {type = #VBLINDS16/#HBLINDS16, async = 1}); "
         "AsyncDrawFrame(@3); "
         "AsyncDrawFrame(@3)"},
        {"DisplayBrushFX",
         "EnableLayers(); "
         "DisplayBrush(13, <4, 7>); "
         "HideLayerFX(1, {type = #REVEALLEFT/#REVEALTOP, async = 1}); "
         "AsyncDrawFrame(@3); "
         "AsyncDrawFrame(@3)"},
        {"DisplayBGPicPartFX",
         "BrushToBGPic(11, 2); "
         "DisplayBGPicPartFX(2, <1, 2>, <6, 3>, #CROSSFADE, -1, -1, <8, 4>)"},
        // [sprite]
        {"DisplaySprite", "CreateSprite(1, #BRUSH, 12); DisplaySprite(1, <4, 7>)"},
        {"ScaleSprite", "CreateSprite(1, #BRUSH, 11); ScaleSprite(1, <20, 11>); DisplaySprite(1, <4, 7>)"},
        // [moveobject]
        {"MoveBrush", "MoveBrush(12, <1, 2>, <9, 6>, 4)"},
        {"MoveLayer", "EnableLayers(); DisplayBrush(11, <1, 1>); MoveLayer(1, <1, 1>, <9, 6>, 4)"},
        {"MoveSprite", "CreateSprite(1, #BRUSH, 12); MoveSprite(1, <1, 2>, <9, 6>, 4)"},
        {"MoveAnim", "CreateAnim(1, 11, <4, 5>, 2, 2/1); MoveAnim(1, <1, 2>, <9, 6>, 4)"},
        // [vectorgraphics]
        {"DrawPath", "StartPath(1); AddBoxToPath(1, <1, 2>, <12, 5>); DrawPath(1, <#RIGHT, #CENTER>, $FF8000)"},
        {"MoveTo",
         "StartPath(1); "
         "MoveTo(1, <1, 2>); "
         "LineTo(1, <21, 6>); "
         "LineTo(1, <16, 17>); "
         "DrawPath(1, <2, 3>, $FF8000)"},
        {"LineTo",
         "SetFillStyle(#FILLNONE, 2); "
         "StartPath(1); "
         "MoveTo(1, <1, 2>); "
         "LineTo(1, <20, 4>); "
         "DrawPath(1, <2, 3>, $FF8000)"},
        {"RelMoveTo",
         "StartPath(1); "
         "RelMoveTo(1, <1, 2>); "
         "RelLineTo(1, <20, 4>); "
         "RelLineTo(1, <-5, 11>); "
         "DrawPath(1, <2, 3>, $FF8000)"},
        {"RelLineTo",
         "StartPath(1); "
         "MoveTo(1, <1, 2>); "
         "RelLineTo(1, <20, 4>); "
         "RelLineTo(1, <-5, 11>); "
         "DrawPath(1, <2, 3>, $FF8000)"},
        {"AddBoxToPath", "StartPath(1); AddBoxToPath(1, <1, 2>, <12, 5>); DrawPath(1, <2, 3>, $FF8000)"},
        {"TranslatePath",
         "StartPath(1); "
         "AddBoxToPath(1, <1, 2>, <12, 5>); "
         "TranslatePath(1, <6, 2>); "
         "DrawPath(1, <2, 3>, $FF8000)"},
        // [graphics]
        {"CreateClipRegion", "CreateClipRegion(1, #BOX, <3, 2>, <12, 5>); SetClipRegion(1); DisplayBrush(11, <0, 0>)"},
        // [display]
        {"ChangeDisplaySize", "ChangeDisplaySize(<30, 10>)"},
        {"ChangeDisplaySize", "ChangeDisplaySize(<30, 10>, 1)"},
    });
    return rows;
}

// Roads of walked commands left out of the table, each seen to differ
// transposed:
// - an Ellipse or an Arc of unequal radii, or a turned Box, outlined or
//   filled: its outline is made counterclockwise in both worlds, so
//   transposed each edge runs the other way, and a polygon's edge pixels
//   at a half-pixel tie depend on the edge's direction (the same outline
//   given in reverse order differs alike); equal radii, whose outline maps
//   onto itself, are walked.
// - anti-aliased filled shapes on the point-list road (a box, a polygon):
//   the interior sweep takes each edge from its top row to before its
//   bottom row, and seen: each row's span reaches its right end, so the last
//   column of an anti-aliased box is solid while its last row has only
//   the edge's anti-aliased line (a visible fault; left for its owner, as
//   mending it moves every anti-aliased shape's pixels).
// - anti-aliased filled ellipses (the conic road), anti-aliased outlined
//   polygons and anti-aliased lines thicker than one pixel: vertex and end
//   pixels differ by up to a whole colour, likely the turn of the outline
//   above (not traced); the one-pixel anti-aliased line is walked.
// - DrawPath of a closed polygon or a curve: a pixel at a vertex flips,
//   likely the same (not traced).
// - the charcoal filter: up to 2 apart; it ends with a blur that rounds
//   between its row and its column pass (within 1: see the blur's row),
//   the rest not traced.
// - quantize with dithering: the error is diffused along rows, a scan
//   order; without dithering it is walked.
// - a #FILLGRADIENT fill style other than radial: it takes no angle, so
//   no fill maps onto its transpose; a conical gradient turns the other
//   way transposed, which no angle mirrors.
// - #DISSOLVE and other effects whose order is drawn at random.
//
// Commands that take a pair of axis arguments and are not in the table.
const std::map<std::string, std::string>& NotSymmetric() {
    static const std::map<std::string, std::string> list = {
        {"Pow", "numbers, no picture"},
        {"Hypot", "numbers, no picture"},
        {"ATan2", "numbers, no picture"},
        {"MovePointer", "moves the system's pointer; no picture"},
        {"Intersection", "answers numbers; no picture"},
        {"ReadPixel", "answers a number; no picture"},
        {"ReadBrushPixel", "answers a number; no picture"},
        {"GetLayerAtPos", "answers a layer; no picture"},
        {"CreateButton", "an area of the window for events; no picture"},
        {"ModifyButton", "an area of the window for events; no picture"},
        {"MoveDisplay", "moves the window on the desktop; no picture"},
        {"ChangeDisplayMode", "a screen mode of the monitor; the desktop is not transposed"},
        {"TextOut", "text: letters are not symmetric"},
        {"Locate", "text: sets the cursor of Print, whose letters are not symmetric"},
        {"DisplayTextObject", "text: letters are not symmetric"},
        {"ScaleTextObject", "text: letters are not symmetric"},
        {"MoveTextObject", "text: letters are not symmetric"},
        {"DisplayTextObjectFX", "text: letters are not symmetric"},
        {"PlayAnimDisk", "an anim file the world cannot transpose"},
        {"BeginAnimStream", "an anim file the world cannot transpose"},
        {"PlayVideo", "a video file the world cannot transpose"},
        {"SetVideoSize", "a video file the world cannot transpose"},
        {"SetVideoPosition", "a video file the world cannot transpose"},
        {"DumpVideo", "a video file the world cannot transpose"},
        {"DisplayVideoFrame", "a video file the world cannot transpose"},
        {"CurveTo", "a transposed curve flips a pixel on its way (see the roads left out)"},
        {"RelCurveTo", "a transposed curve flips a pixel on its way (see the roads left out)"},
    };
    return list;
}

// The argument names of a signature's call: brackets, braces, defaults and
// repeats dropped.
std::vector<std::string> ArgumentNames(const std::string& call) {
    std::vector<std::string> names;
    const size_t open = call.find('(');
    std::string word;
    bool skipping = false;  // a default after '='
    for (size_t i = open + 1; i < call.size(); ++i) {
        const char c = call[i];
        if (c == '=') skipping = true;
        if (c == ',' || c == ')' || c == '|') {
            if (!word.empty()) names.push_back(word);
            word.clear();
            skipping = c == '|' ? true : false;
            continue;
        }
        if (!skipping && (std::isalnum(static_cast<unsigned char>(c)) || c == '_')) word += c;
    }
    return names;
}

// A pair of arguments naming the two axes.
bool TakesTwoAxes(const std::vector<std::string>& names) {
    static const std::pair<const char*, const char*> pairs[] = {
        {"x", "y"},   {"x1", "y1"},   {"width", "height"}, {"w1", "h1"},
        {"dx", "dy"}, {"sx", "sy"},   {"srcx", "srcy"},    {"xradius", "yradius"},
    };
    const std::set<std::string> have(names.begin(), names.end());
    for (const auto& [a, b] : pairs)
        if (have.count(a) && have.count(b)) return true;
    return false;
}

TEST(TransposeClassTest, EveryTwoAxisCommandIsWalkedOrListedWithItsReason) {
    std::vector<SignatureEntry> entries;
    std::string error;
    ASSERT_TRUE(ReadSignatures((std::string(QB_SOURCE_DIR) + "/docs/signatures.txt").c_str(), entries, error)) << error;
    std::set<std::string> walked, listed, twoAxes;
    for (const Row& r : Rows()) walked.insert(r.command);
    for (const auto& [command, reason] : NotSymmetric()) {
        listed.insert(command);
        EXPECT_FALSE(walked.count(command)) << command << " is both walked and listed";
    }
    std::set<std::string> known;
    for (const SignatureEntry& e : entries) {
        known.insert(e.name);
        if (!TakesTwoAxes(ArgumentNames(e.call))) continue;
        twoAxes.insert(e.name);
        EXPECT_TRUE(walked.count(e.name) || listed.count(e.name))
            << e.call << " takes two axes: give it a row of the transpose table, or list it as not symmetric with why";
    }
    for (const std::string& name : listed)
        EXPECT_TRUE(twoAxes.count(name)) << name << " is listed but takes no pair of axes (or is gone)";
    for (const std::string& name : walked) EXPECT_TRUE(known.count(name)) << name << " has no signature";
    for (const Row& r : Rows())
        EXPECT_TRUE(r.tolerance == 0 || *r.reason) << r.snippet << ": a tolerance needs its reason";
}

class TransposeWalkTest : public ::testing::TestWithParam<size_t> {};

TEST_P(TransposeWalkTest, TransposedSnippetGivesTheTransposedWindow) {
    const Row& row = Rows()[GetParam()];
    SCOPED_TRACE(row.snippet);
    walkworld::NameCrashes("transpose walk");
    walkworld::SayWalking(row.snippet);
    const walkworld::WalkScratch scratch("transposewalk", static_cast<int>(GetParam()));
    transpose::Parser parser(row.snippet);
    const std::vector<transpose::Step> steps = parser.Steps();
    ASSERT_FALSE(parser.Failed());
    std::vector<uint32_t> before, as, tr;
    int w = 0, h = 0, tw = 0, th = 0, bw = 0, bh = 0;
    {
        transpose::World world(false, Sources());
        ASSERT_TRUE(world.Errors().empty()) << ::testing::PrintToString(world.Errors());
        before = world.Pixels(&bw, &bh);
        world.Run(steps);
        EXPECT_TRUE(world.Errors().empty()) << ::testing::PrintToString(world.Errors());
        as = world.Pixels(&w, &h);
    }
    {
        transpose::World world(true, Sources());
        ASSERT_TRUE(world.Errors().empty()) << ::testing::PrintToString(world.Errors());
        world.Run(steps);
        EXPECT_TRUE(world.Errors().empty()) << ::testing::PrintToString(world.Errors());
        tr = world.Pixels(&tw, &th);
    }
    ASSERT_EQ(w, th);
    ASSERT_EQ(h, tw);
    ASSERT_FALSE(as.empty());
    // A snippet that changed nothing would pass whatever its roads do.
    EXPECT_TRUE(as != before || w != bw) << "the snippet left the window as it was";
    // A map of the window as written: '.' where the two agree, else the
    // largest difference of a channel in hex, '+' above 15.
    int wrong = 0;
    std::string map;
    for (int y = 0; y < h; ++y, map += '\n')
        for (int x = 0; x < w; ++x) {
            const uint32_t a = as[size_t(y) * w + x], b = tr[size_t(x) * tw + y];
            int most = 0;
            for (int shift : {0, 8, 16}) most = std::max(most, std::abs(int(a >> shift & 255) - int(b >> shift & 255)));
            map += most <= row.tolerance ? '.' : most > 15 ? '+' : "0123456789abcdef"[most];
            if (most > row.tolerance && ++wrong <= 3)
                ADD_FAILURE() << "at " << x << "," << y << ": " << std::hex << a << " as written, " << b
                              << " transposed";
        }
    EXPECT_EQ(wrong, 0) << map;
}

INSTANTIATE_TEST_SUITE_P(Rows, TransposeWalkTest, ::testing::Range(size_t{0}, Rows().size()));

}  // namespace
