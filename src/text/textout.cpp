// TextOut and the output step of styled text: the position resolved against
// the block, then the direct path (plain lines straight through the font
// engine) or the composed image, filtered, faded, transformed and drawn
// like any object image.
#include "text/textout.h"

#include <algorithm>
#include <cmath>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/output.h"
#include "display/positions.h"
#include "display/refresh.h"
#include "display/safeblt.h"
#include "imaging/geometry.h"
#include "objects/layers.h"
#include "objects/dirtyrects.h"
#include "objects/displayobject.h"
#include "objects/objectoptions.h"
#include "objects/objecttransform.h"
#include "objects/selection.h"
#include "text/font.h"
#include "text/textcompose.h"
#include "text/textlayout.h"
#include "text/textlayers.h"
#include "text/textscale.h"

namespace {

// The position constants lie between these; anything else is a pixel.
bool IsPlainCoordinate(int32_t v) { return v > kPositionBottomOut + kPositionBand || v < kPositionCenter - kPositionBand; }

int32_t Trunc(int32_t size, double anchor) { return static_cast<int32_t>(size * anchor); }

// Every condition under which plain lines can go straight to the engine.
bool CanDrawDirect(const qbDisplay& display, const qbTextLayout& layout, bool raw, const qbTransformOptions& topts,
                   const qbLayerOptions& lopts) {
    const uint32_t flags = layout.style.flags;
    // Print's lines start at two places (cursor and margin) and move the cursor.
    if (layout.print || display.layersEnabled || display.output.type != kObjectTypeDisplay) return false;
    // Scaled picture buffers, clip regions and adapters that double-buffer
    // are left to the blitter.
    const bool scaled = display.outputScaling && display.scaleWidth > 0 && display.scaleHeight > 0;
    if (scaled || display.clipRegion || display.hardDoubleBuffer) return false;
    if (flags != kTextNormal && flags != kTextAntialias && flags != (kTextNormal | kTextAntialias)) return false;
    if ((layout.style.colour >> 24) != 0 || !IsIdentityMatrix(topts.matrix) || layout.breaksSupplied) return false;
    if (layout.align != kTextAlignLeft || !IsPlainCoordinate(layout.x) || !IsPlainCoordinate(layout.y)) return false;
    if (lopts.transparency > 0 || HasActiveFilters(lopts.filters)) return false;
    if (layout.text.find('\t') != std::string::npos) return false;
    if (!raw && layout.text.find_first_of("[]") != std::string::npos) return false;
    if (layout.wrapWidth > 0 && layout.text.find('\n') != std::string::npos) return false;
    return true;
}

// The destination of drawing on the current display; null when it has none.
qbBitmap* OutputTarget(qbDisplay* display) {
    if (display->output.type != kObjectTypeDisplay) return display->output.bitmap;
    return display->spriteFreeBuffer.get();
}

int DrawDirect(ScriptState* L, qbDisplay* display, const qbTextLayout& layout, bool* drawn) {
    *drawn = false;
    qbFont* font = CurrentFont(layout.style);
    if (!font) return ERR_OPENFONT;
    if ((layout.style.flags & kTextAntialias) && !font->antialiasCapable) return ERR_ANTIALIAS;
    // The lines, carriage returns dropped.
    std::vector<std::string> lines(1);
    for (char c : layout.text) {
        if (c == '\n') lines.emplace_back();
        else if (c != '\r') lines.back() += c;
    }
    // The inbuilt engine measures each line as it draws it and never fails
    // to; other engines measure every line first, so that an error leaves
    // nothing drawn.
    const bool measureFirst = font->engine != kFontKindInbuilt;
    std::vector<qbTextMetrics> sizes(lines.size());
    for (size_t i = 0; i < lines.size() && (measureFirst || (i == 0 && layout.wrapWidth > 0)); ++i)
        if (int err = MeasureText(lines[i].data(), lines[i].size(), layout.encoding, &sizes[i], layout.style))
            return err;
    // The wrap width counts from the pen start, as the layout's does.
    if (layout.wrapWidth > 0 && sizes[0].maxX >= layout.wrapWidth) return 0;
    qbBitmap* target = OutputTarget(display);
    const qbBGPic* picture = GetCurrentBGPic();
    *drawn = true;
    if (!target || !picture) return 0;
    const qbClipRect clip{0, 0, picture->currentWidth, picture->currentHeight};
    int64_t left = INT64_MAX, right = INT64_MIN;
    for (size_t i = 0; i < lines.size(); ++i) {
        const int64_t y = int64_t{layout.y} + int64_t{font->height} * static_cast<int64_t>(i);
        if (y > INT32_MAX) break;
        const uint32_t ink = layout.style.colour & 0xFFFFFF;
        if (measureFirst) {
            if (int err = RenderFontText(font, target, nullptr, layout.x, static_cast<int32_t>(y), lines[i].data(),
                                         lines[i].size(), layout.style.flags, layout.encoding, clip, ink))
                return err;
        } else {
            qbTextExtents e;
            if (int err = RenderFontTextMeasured(font, target, layout.x, static_cast<int32_t>(y), lines[i].data(),
                                                 lines[i].size(), layout.style.flags, layout.encoding, clip, ink, &e))
                return err;
            sizes[i] = TextMetricsOf(e, *font, layout.style);
        }
        left = std::min<int64_t>(left, int64_t{layout.x} + std::min(0, sizes[i].minX));
        right = std::max<int64_t>(right, int64_t{layout.x} + std::max(sizes[i].width, sizes[i].visibleWidth));
    }
    if (right <= left) return 0;
    // The union of the lines, and nothing else, reaches the window.
    const int32_t ux = ClampToInt32(static_cast<double>(left));
    const int32_t uw = ClampToInt32(static_cast<double>(right - left));
    const int32_t uh = ClampToInt32(static_cast<double>(int64_t{font->height} * static_cast<int64_t>(lines.size()) + 1));
    if (display->softDoubleBuffer) {
        AddDirtyRect(L, ux, layout.y, uw, uh);
    } else {
        int32_t sx = ux, sy = layout.y, dx = ux, dy = layout.y, w = uw, h = uh;
        ClipBlitRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, picture->currentWidth, picture->currentHeight,
                     picture->currentWidth, picture->currentHeight, false);
        // Sprites shown over the text stay on top in the window.
        if (w > 0 && h > 0 && target == display->spriteFreeBuffer.get())
            RefreshRectWithLayers(L, sx, sy, display, dx, dy, w, h);
        else if (w > 0 && h > 0)
            RefreshDisplayRect(target, sx, sy, display, dx, dy, w, h, kRefreshScaled);
    }
    return 0;
}

// Frees what the drawing made of the composed image.
struct MadeImage {
    qbObjectImage image;
    bool owned = false;
    ~MadeImage() {
        if (owned) FreeObjectImage(&image);
    }
};

}  // namespace

int DrawTextImage(ScriptState* L, qbComposedText* block, int32_t x, int32_t y, const qbTransformOptions& topts,
                  const qbLayerOptions& lopts, qbComposedText* sharp) {
    qbDisplay* display = GetCurrentDisplay();
    if (!display) return ERR_FINDDISPLAY;
    const int32_t width = block->width, height = block->height;
    qbObjectImage composed{block->bitmap.release(), block->mask.release(), block->alpha.release()};
    MadeImage own{composed, true};
    ApplyFiltersAndTransparency(&lopts, &own.image, width, height);
    int32_t dx = x, dy = y, w = width, h = height;
    if (!IsIdentityMatrix(topts.matrix)) {
        const double anchor[2] = {topts.anchorx, topts.anchory};
        MadeImage turned;
        if (int err = TransformObjectImage(L, false, nullptr, own.image, 0, 0, x, y, width, height, anchor,
                                           topts.matrix, topts.smoothscale != 0, &turned.image, &dx, &dy, &w, &h))
            return err;
        turned.owned = true;
        if (sharp && sharp->bitmap) {
            // The same place, the glyphs drawn at the new size instead.
            FreeObjectImage(&turned.image);
            turned.image = {sharp->bitmap.release(), sharp->mask.release(), sharp->alpha.release()};
            w = sharp->width;
            h = sharp->height;
            ApplyFiltersAndTransparency(&lopts, &turned.image, w, h);
        }
        std::swap(own.image, turned.image);
    }
    dx = SaturatingSub(dx, Trunc(width, topts.anchorx));
    dy = SaturatingSub(dy, Trunc(height, topts.anchory));
    const int32_t outputKind = display->output.type;
    if (outputKind == kOutputBrush || outputKind == kOutputMask || outputKind == kOutputAlphaChannel)
        if (int err = PrepareOutputTarget(L)) return err;
    qbBitmap* target = OutputTarget(display);
    const bool planesOnly = !target && (display->output.mask || display->output.alpha) &&
                            (outputKind == kOutputMask || outputKind == kOutputAlphaChannel);
    const qbBGPic* picture = GetCurrentBGPic();
    if ((!target && !planesOnly) || !picture) return 0;
    qbSafeBlt blit;
    blit.source = own.image.bitmap;
    blit.destination = target;
    blit.dstX = dx;
    blit.dstY = dy;
    blit.width = w;
    blit.height = h;
    blit.srcWidth = w;
    blit.srcHeight = h;
    blit.dstWidth = picture->currentWidth;
    blit.dstHeight = picture->currentHeight;
    blit.mask = own.image.alpha ? nullptr : own.image.mask;
    blit.alpha = own.image.alpha;
    const qbOutputView out = GetCurrentOutput();
    blit.clip = out.clip && *out.clip ? static_cast<const qbClipRegion*>(*out.clip) : nullptr;
    SafeBlt(L, blit);
    if (display->softDoubleBuffer) AddDirtyRect(L, dx, dy, w, h);
    return 0;
}

uint32_t ToColour(double v) {
    if (std::isnan(v) || v <= 0) return 0;
    return v >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(v);
}

namespace {

int DrawComposed(ScriptState* L, qbDisplay* display, const qbTextLayout& layout, qbComposedText* block,
                 const qbTransformOptions& topts, const qbLayerOptions& lopts, qbComposedText* sharp) {
    const int32_t width = block->width, height = block->height;
    // Printed text is placed by its layout: x from the left margin, y from
    // the cursor line.
    const int32_t x = layout.print ? SaturatingAdd(layout.leftMargin, block->left)
                                   : SaturatingAdd(ResolveSpecialX(layout.x, width, 0, topts.anchorx), block->left);
    const int32_t y = layout.print ? SaturatingAdd(layout.cursorY, block->top)
                                   : SaturatingAdd(ResolveSpecialY(layout.y, height, 0, topts.anchory), block->top);
    if (display->layersEnabled)
        return AddTextOutLayer(L, layout.print ? kLayerPrint : kLayerTextOut, layout, block, x, y, topts, lopts);
    return DrawTextImage(L, block, x, y, topts, lopts, sharp);
}

// The library's one scratch buffer for supplied word breaks.
std::vector<int32_t>& BreakScratch() {
    static std::vector<int32_t> scratch;
    if (scratch.capacity() < kMaxWordBreaks + 1) scratch.reserve(kMaxWordBreaks + 1);
    return scratch;
}

int ReadWordBreaks(ScriptState* L, int table, std::vector<int32_t>* out) {
    std::vector<int32_t>& scratch = BreakScratch();
    scratch.clear();
    for (int i = 0;; ++i) {
        VmRawGetIndex(L, table, i);
        const bool end = VmType(L, -1) == kTypeNil;
        const double v = end ? 0 : VmToNumber(L, -1);
        VmSetTop(L, -2);
        if (end) break;
        if (scratch.size() == kMaxWordBreaks) return ERR_INTERNAL;
        scratch.push_back(ClampToInt32(v));
    }
    *out = scratch;
    return 0;
}

// Drawn once and unlayered, unturned and unfiltered, a text's lines reach
// only the rows of the output they cross: the others are never composed
// (a wrapped megabyte of words is thousands of lines, a few dozen seen).
// A layer keeps its whole picture, a transform may bring any line into
// view, a filter spreads pixels across lines, and Print moves the cursor
// by the block.
bool CanDrawBand(const qbDisplay& display, const qbTextLayout& layout, const qbTransformOptions& topts,
                 const qbLayerOptions& lopts) {
    return !display.layersEnabled && !layout.print && IsIdentityMatrix(topts.matrix) &&
           !HasActiveFilters(lopts.filters);
}

int DrawBand(ScriptState* L, qbTextLayout* layout, bool raw, const qbTransformOptions& topts,
             const qbLayerOptions& lopts) {
    std::vector<qbTextSegment> runs;
    if (int err = LayoutText(L, layout, raw, &runs)) return err;
    const bool antialias = (layout->style.flags & kTextAntialias) != 0;
    // The whole block's bounds place it, as they place a whole picture.
    qbComposedText whole;
    if (int err = ComposeTextBlock(antialias, layout->align, true, layout->encoding, &runs, layout->style, &whole))
        return err;
    layout->width = whole.width;
    layout->height = whole.height;
    const qbBGPic* picture = GetCurrentBGPic();
    if (!picture) return 0;
    // The output row of a layout row ly is shift + ly.
    const int64_t shift = int64_t{ResolveSpecialY(layout->y, whole.height, 0, topts.anchory)} -
                          Trunc(whole.height, topts.anchory);
    const int64_t bandTop = -shift, bandBottom = int64_t{picture->currentHeight} - shift;
    qbFont* font = CurrentFont(layout->style);
    if (!font) return ERR_OPENFONT;
    std::vector<qbTextSegment> seen;
    for (qbTextSegment& r : runs) {
        int64_t top = 0, bottom = 0;
        TextRunRows(r, *font, &top, &bottom);
        if (bottom > bandTop && top < bandBottom) seen.push_back(std::move(r));
    }
    runs = {};
    if (seen.empty()) return 0;
    qbComposedText band;
    if (int err = ComposeTextBlock(antialias, kTextAlignLeft, false, layout->encoding, &seen, layout->style, &band))
        return err;
    // Placed where the whole block would put these rows; anchors are spent.
    const int32_t x = SaturatingAdd(
        SaturatingSub(ResolveSpecialX(layout->x, whole.width, 0, topts.anchorx), Trunc(whole.width, topts.anchorx)),
        band.left);
    const int32_t y = ClampToInt32(static_cast<double>(shift + band.top));
    qbTransformOptions placed = topts;
    placed.anchorx = placed.anchory = 0;
    return DrawTextImage(L, &band, x, y, placed, lopts, nullptr);
}

}  // namespace

int RenderTextImage(ScriptState* L, qbTextLayout* layout, bool raw, qbComposedText* out) {
    ClampTextStyle(&layout->style);
    std::vector<qbTextSegment> runs;
    if (int err = LayoutText(L, layout, raw, &runs)) return err;
    if (int err = ComposeTextBlock((layout->style.flags & kTextAntialias) != 0, layout->align, false, layout->encoding,
                                   &runs, layout->style, out))
        return err;
    layout->width = out->width;
    layout->height = out->height;
    return 0;
}

int RenderText(ScriptState* L, qbTextLayout* layout, int32_t /*type*/, bool raw, const qbTransformOptions* topts,
               const qbLayerOptions* lopts) {
    qbDisplay* display = GetCurrentDisplay();
    if (!display) return ERR_FINDDISPLAY;
    qbTransformOptions t;
    qbLayerOptions l;
    if (topts) t = *topts;
    if (lopts) l = *lopts;
    else ResetLayerOptions(&l);
    ClampTextStyle(&layout->style);
    layout->raw = raw;
    if (CanDrawDirect(*display, *layout, raw, t, l)) {
        bool drawn = false;
        if (int err = DrawDirect(L, display, *layout, &drawn)) return err;
        if (drawn) return 0;
    }
    if (display->layersEnabled) MoveTextStyleIntoLayer(&layout->style, &l);
    if (CanDrawBand(*display, *layout, t, l)) return DrawBand(L, layout, raw, t, l);
    qbComposedText block;
    if (int err = RenderTextImage(L, layout, raw, &block)) return err;
    // Under a pure scale a scalable font draws at the new size; layers do
    // that themselves when they build their transformed image.
    qbComposedText sharp;
    if (!display->layersEnabled)
        if (int err = RenderSharpText(L, *layout, t.matrix, t.smoothscale != 0, &sharp)) return err;
    if (int err = DrawComposed(L, display, *layout, &block, t, l, &sharp)) return err;
    if (layout->print) {
        display->outputPosition[kTextCursorX] = SaturatingAdd(layout->leftMargin, layout->endX);
        display->outputPosition[kTextCursorY] = SaturatingAdd(layout->cursorY, layout->endY);
    }
    return 0;
}

int cmdTextOut(ScriptState* L) {
    CheckArgCount(L, 3, 5, 0, 0);
    qbTextLayout layout;
    layout.x = ClampToInt32(VmCheckNumber(L, 1));
    layout.y = ClampToInt32(VmCheckNumber(L, 2));
    size_t length = 0;
    const char* text = VmCheckString(L, 3, &length);
    layout.text.assign(text, length);
    layout.style = *GetTextStyle();
    layout.encoding = GetDefaultEncoding();
    qbTransformOptions topts;
    qbLayerOptions lopts;
    ResetDisplayObjectOptions(&topts, &lopts, 0, 0, 0, 0);
    const int top = VmGetTop(L);
    if (top >= 4 && VmType(L, 4) == kTypeTable) {
        if (top > 4) return ERR_WRONGUSAGE;
        if (int err = ParseDisplayObjectOptions(L, 4, 0, 0, 0, 0, 0, &topts, &lopts, kOptReset | kOptNoSize))
            return err;
        GetTableFieldInt(L, 4, "align", &layout.align, nullptr);
        GetTableFieldInt(L, 4, "wordwrap", &layout.wrapWidth, nullptr);
        GetTableFieldInt(L, 4, "encoding", &layout.encoding, nullptr);
        double colour = 0;
        int found = 0;
        GetTableFieldFloat(L, 4, "color", &colour, &found);
        if (found) layout.style.colour = ToColour(colour);
        VmPushString(L, "wordwraptable");
        VmRawGet(L, 4);
        const bool hasBreaks = VmType(L, -1) == kTypeTable;
        if (hasBreaks) {
            const int err = ReadWordBreaks(L, VmGetTop(L), &layout.wordBreaks);
            VmSetTop(L, -2);
            if (err) return err;
            layout.breaksSupplied = true;
        } else {
            VmSetTop(L, -2);
        }
    } else {
        if (top >= 4 && VmType(L, 4) != kTypeNil) layout.align = ClampToInt32(VmCheckNumber(L, 4));
        if (top >= 5 && VmType(L, 5) != kTypeNil) layout.wrapWidth = ClampToInt32(VmCheckNumber(L, 5));
    }
    if (layout.wrapWidth < 0 || layout.encoding < 0 || layout.encoding >= 2) return ERR_WRONGUSAGE;
    return RenderText(L, &layout, kRenderTextOut, false, &topts, &lopts);
}
