// Rows of the transpose walk for the roads past the first command that
// draws: sprites and anims shown, moved and cut from a sheet, the other
// pictures a script draws into, answers of sizes and positions used as
// sizes, scaled displays and clip regions. The same sources and snippet
// language as the other rows (transpose_world.h).
#pragma once

#include <vector>

namespace transpose {

// A snippet and the command it stands for in the class check. tolerance
// (per channel) is allowed only with its reason.
struct Row {
    const char* command;
    const char* snippet;
    int tolerance = 0;
    const char* reason = "";
};

// rows followed by the rows of these roads.
inline std::vector<Row> WithRoads(std::vector<Row> rows) {
    const Row more[] = {
        // [sprite] A sheet cut into frames runs along a row as written and
        // down a column transposed: one frame a row there.
        {"CreateSprite", "CreateSprite(1, #BRUSH, 11, <4, 5>, 2, 2/1, <1, 0>); DisplaySprite(1, <3, 4>, 2)"},
        {"CreateSprite", "CreateSprite(1, #BRUSH, 13, <4, 5>, 2, 2/1); DisplaySprite(1, <3, 4>, 2)"},
        {"CreateSprite", "CreateSprite(1, #BRUSH, 12, <4, 5>, 2, 2/1); DisplaySprite(1, <3, 4>, 1)"},
        {"DisplaySprite", "CreateSprite(1, #BRUSH, 12); DisplaySprite(1, <4, 7>); DisplaySprite(1, <9, 2>)"},
        {"DisplaySprite",
         "BrushToBGPic(11, 2); DisplayBGPic(2); "
         "CreateSprite(1, #BRUSH, 12); DisplaySprite(1, <4, 7>); DisplaySprite(1, <9, 2>)"},
        {"DisplaySprite",
         "CreateSprite(1, #BRUSH, 11); CreateSprite(2, #BRUSH, 12); "
         "DisplaySprite(1, <3, 4>); DisplaySprite(2, <6, 6>); DisplaySprite(1, <8, 2>)"},
        {"DisplaySprite",
         "CreateSprite(1, #BRUSH, 13); CreateSprite(2, #BRUSH, 11); DisplaySprite(2, <2, 2>); "
         "DisplaySprite(1, <4, 7>); RemoveSprite(2)"},
        {"CreateSprite",
         "CreateAnim(1, 12, <4, 5>, 2, 2/1); CreateSprite(1, #ANIM, 1); DisplaySprite(1, <3, 4>, 2)"},
        {"ScaleSprite", "CreateSprite(1, #BRUSH, 12); ScaleSprite(1, <20, 11>, 1); DisplaySprite(1, <4, 7>)"},
        {"ScaleSprite",
         "CreateSprite(1, #BRUSH, 13); ScaleSprite(1, <20, 11>); DisplaySprite(1, <4, 7>)"},
        {"CopySprite", "CreateSprite(1, #BRUSH, 12); CopySprite(1, 2); DisplaySprite(2, <4, 7>)"},
        {"FlipSprite", "CreateSprite(1, #BRUSH, 13); FlipSprite(1, 0/1); DisplaySprite(1, <4, 7>)"},
        // [anim]
        {"DisplayAnimFrame", "CreateAnim(1, 13, <4, 5>, 2, 2/1); DisplayAnimFrame(1, <3, 4>, 2)"},
        {"ScaleAnim",
         "CreateAnim(1, 12, <4, 5>, 2, 2/1, <1, 0>); ScaleAnim(1, <10, 6>, 1); DisplayAnimFrame(1, <3, 4>, 2)"},
        {"ScaleAnim", "CreateAnim(1, 13, <4, 5>, 2, 2/1); ScaleAnim(1, <10, 6>); DisplayAnimFrame(1, <3, 4>, 2)"},
        {"CopyAnim", "CreateAnim(1, 11, <4, 5>, 2, 2/1); CopyAnim(1, 2); DisplayAnimFrame(2, <3, 4>, 2)"},
        {"SelectAnim",
         "CreateAnim(1, 11, <4, 5>, 2, 2/1); SelectAnim(1, 2); Box(<1, 0>, <2, 3>, $FFFFFF); EndSelect(); "
         "DisplayAnimFrame(1, <3, 4>, 2)"},
        {"InsertLayer",
         "CreateAnim(1, 12, <4, 5>, 2, 2/1); EnableLayers(); InsertLayer(1, #ANIM, 1, <2, 3>); "
         "ScaleLayer(1, <10, 6>)"},
        // [brush] the other pictures a script draws into
        {"SelectBrush",
         "CopyBrush(11, 21); SelectBrush(21); Box(<1, 0>, <5, 3>, $FFFFFF); EndSelect(); DisplayBrush(21, <4, 7>)"},
        {"SelectBrush",
         "CopyBrush(13, 21); SelectBrush(21); DisplayBrush(12, <1, 2>); EndSelect(); DisplayBrush(21, <4, 7>)"},
        {"SelectLayer",
         "EnableLayers(); DisplayBrush(11, <3, 2>); SelectLayer(1); Box(<1, 0>, <5, 3>, $FFFFFF); EndSelect()"},
        {"SelectBGPic",
         "BrushToBGPic(11, 2); ScaleBGPic(2, <30, 15>); SelectBGPic(2, #SELMODE_NORMAL); Box(<3, 5>, <20, 7>, $FF8000); "
         "EndSelect(); DisplayBGPic(2)"},
        {"BeginDoubleBuffer", "BeginDoubleBuffer(); DisplayBrush(12, <4, 7>); Box(<3, 5>, <20, 2>, $FF8000); Flip()"},
        {"FlipBrush", "FlipBrush(13, 0/1); DisplayBrush(13, <4, 7>)"},
        {"FlipBrush", "FlipBrush(12, 1/0); DisplayBrush(12, <4, 7>)"},
        {"MixBrush", "CopyBrush(11, 21); FlipBrush(21, 0/1); MixBrush(21, 11, 40); DisplayBrush(21, <4, 7>)"},
        {"BGPicToBrush",
         "BrushToBGPic(12, 2); ScaleBGPic(2, <30, 15>); BGPicToBrush(2, 21); DisplayBrush(21, <2, 3>)"},
        {"CopyBGPic", "BrushToBGPic(11, 2); CopyBGPic(2, 3); ScaleBGPic(3, <30, 15>); DisplayBGPic(3)"},
        // [attributes] a size or a position answered, drawn as a box's size
        {"GetAttribute",
         "EnableLayers(); DisplayBrush(11, <3, 2>); ScaleLayer(1, <20, 12>); "
         "GetAttribute(#LAYER, 1, #ATTRWIDTH); GetAttribute(#LAYER, 1, #ATTRHEIGHT); "
         "Box(<0, 0>, <@4, @5>, $FFFFFF)"},
        {"GetAttribute",
         "EnableLayers(); DisplayBrush(11, <3, 2>); ScaleLayer(1, <20, 12>); "
         "GetAttribute(#LAYER, 1, #ATTRRAWWIDTH); GetAttribute(#LAYER, 1, #ATTRRAWHEIGHT); "
         "Box(<0, 0>, <@4, @5>, $FFFFFF)"},
        {"GetAttribute",
         "EnableLayers(); DisplayBrush(11, <#RIGHT, #BOTTOM>); "
         "GetAttribute(#LAYER, 1, #ATTRXPOS); GetAttribute(#LAYER, 1, #ATTRYPOS); "
         "Box(<@3, @4>, <3, 2>, $FFFFFF)"},
        {"GetAttribute",
         "GetAttribute(#BRUSH, 11, #ATTRWIDTH); GetAttribute(#BRUSH, 11, #ATTRHEIGHT); "
         "Box(<1, 1>, <@1, @2>, $FFFFFF)"},
        {"GetAttribute",
         "CreateSprite(1, #BRUSH, 11, <4, 5>, 2, 2/1); DisplaySprite(1, <9, 2>); "
         "GetAttribute(#SPRITE, 1, #ATTRXPOS); GetAttribute(#SPRITE, 1, #ATTRWIDTH); "
         "Box(<@3, 14>, <@4, 2>, $FFFFFF)"},
        // [display] a display scaled to another size than its own
        {"SetDisplayAttributes",
         "DisplayBrush(12, <4, 7>); SetDisplayAttributes({scalemode = 1, scalewidth = 50, scaleheight = 30})"},
        {"SetDisplayAttributes",
         "EnableLayers(); DisplayBrush(12, <4, 7>); "
         "SetDisplayAttributes({scalemode = 2, scalewidth = 50, scaleheight = 30})"},
        // [graphics] clip regions on other roads
        {"CreateClipRegion",
         "CreateClipRegion(1, #BOX, <3, 2>, <12, 5>); SetClipRegion(1); DisplayBrush(12, <1, 1>)"},
        {"CreateClipRegion",
         "CreateClipRegion(1, #BOX, <3, 2>, <12, 5>); SetClipRegion(1); CreateSprite(1, #BRUSH, 12); "
         "DisplaySprite(1, <1, 1>)"},
        {"CreateClipRegion",
         "EnableLayers(); CreateClipRegion(1, #BOX, <3, 2>, <12, 5>); SetClipRegion(1); DisplayBrush(13, <1, 1>)"},
    };
    rows.insert(rows.end(), std::begin(more), std::end(more));
    return rows;
}

}  // namespace transpose
