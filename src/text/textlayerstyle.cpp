// The text keys of TEXTOUT and PRINT layers in a style table: read into a
// copy of the layer's layout, which is rendered before the layer changes,
// so that a refused key or a font that does not open leaves the layer as it
// was. GetLayerStyle reads the same keys back.
#include "text/textlayerstyle.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "imaging/geometry.h"
#include "display/display.h"
#include "display/positions.h"
#include "objects/layers.h"
#include "objects/objectoptions.h"
#include "objects/texthooks.h"
#include "text/font.h"
#include "text/fontcache.h"
#include "text/print.h"
#include "text/textlayers.h"
#include "text/textout.h"
#include "vm/vm.h"

namespace {

constexpr uint32_t kLayoutFlags = kTextBold | kTextItalic | kTextUnderlined | kTextAntialias;
// One stop fewer than the display keeps: the last slot ends the list.
constexpr size_t kMaxLayerTabs = 31;

int32_t EngineChoice(const qbFont& font) {
    return font.engine == kFontKindInbuilt ? kFontEngineInbuilt : kFontEngineNative;
}

int ReadFontKeys(ScriptState* L, int tab, qbTextLayout* layout, bool* changed) {
    const qbFont* current = CurrentFont(layout->style);
    int found = 0;
    const char* name = nullptr;
    int32_t size = current ? current->size : 8, engine = current ? EngineChoice(*current) : kFontEngineNative;
    int32_t cache = 1;
    GetTableFieldString(L, tab, "font", &name, &found);
    GetTableFieldInt(L, tab, "fontsize", &size, &found);
    GetTableFieldInt(L, tab, "fontengine", &engine, &found);
    GetTableFieldInt(L, tab, "fontcache", &cache, nullptr);
    if (!found) return 0;
    std::string fontName = name ? name : (current ? current->name : "topaz");
    qbFont* font = nullptr;
    if (int err = OpenFontCached(fontName.c_str(), size, engine, cache, 0, &font)) return err;
    layout->style.font = font;
    *changed = true;
    return 0;
}

int ReadStyleKeys(ScriptState* L, int tab, qbTextLayout* layout, qbTextRestyle* out, bool* changed) {
    uint32_t colour = 0;
    if (GetTableFieldUInt(L, tab, "color", &colour, nullptr)) {
        layout->style.colour = colour & 0xFFFFFF;
        *changed = true;
    }
    int32_t bits = 0;
    if (GetTableFieldInt(L, tab, "fontstyle", &bits, nullptr)) {
        const uint32_t b = static_cast<uint32_t>(bits);
        if (b == kTextNormal) layout->style.flags = kTextNormal;
        else layout->style.flags = (layout->style.flags & ~uint32_t{kTextNormal}) | (b & kLayoutFlags);
        if (b & kTextShadow) {
            out->shadowSet = true;
            out->shadowStyle.shadow = 1;
        }
        if (b & kTextEdge) {
            out->borderSet = true;
            out->borderStyle.border = 1;
        }
        *changed = true;
    }
    if (GetTableFieldInt(L, tab, "fontstyleclear", &bits, nullptr)) {
        const uint32_t b = static_cast<uint32_t>(bits);
        layout->style.flags &= ~(b & kLayoutFlags);
        if (!(layout->style.flags & kLayoutFlags)) layout->style.flags = kTextNormal;
        if (b & kTextShadow) {
            out->shadowSet = true;
            out->shadowStyle.shadow = 0;
        }
        if (b & kTextEdge) {
            out->borderSet = true;
            out->borderStyle.border = 0;
        }
        *changed = true;
    }
    int32_t encoding = 0;
    if (GetTableFieldInt(L, tab, "encoding", &encoding, nullptr)) {
        if (encoding < 0 || encoding > 1) {
            SetErrorDetail("encoding");
            return ERR_WRONGUSAGE;
        }
        layout->encoding = encoding;
        *changed = true;
    }
    const char* text = nullptr;
    if (GetTableFieldString(L, tab, "text", &text, nullptr)) {
        layout->text = text;
        *changed = true;
    }
    if (layout->print) return 0;
    if (GetTableFieldInt(L, tab, "align", &layout->align, nullptr)) *changed = true;
    // Unprinted text has no margins: its right margin is the width it wraps at.
    int32_t wrap = 0;
    if (GetTableFieldInt(L, tab, "rightmargin", &wrap, nullptr)) {
        if (wrap < 0) {
            SetErrorDetail("rightmargin");
            return ERR_WRONGUSAGE;
        }
        layout->wrapWidth = wrap;
        *changed = true;
    }
    return 0;
}

bool HasKey(ScriptState* L, int tab, const char* key) {
    VmPushString(L, key);
    VmRawGet(L, tab);
    const bool has = VmType(L, -1) != kTypeNil;
    VmSetTop(L, -2);
    return has;
}

// A print layer is placed either by its cursor or by a position, never by
// both; the cursor takes no screen-edge constants.
int CheckCursorKeys(ScriptState* L, int tab) {
    const bool cursor = HasKey(L, tab, "cursorx") || HasKey(L, tab, "cursory");
    if (!cursor) return 0;
    for (const char* key : {"x", "y", "translatex", "translatey"})
        if (HasKey(L, tab, key)) {
            SetErrorDetail(key);
            return ERR_WRONGUSAGE;
        }
    int32_t v = 0;
    if (GetTableFieldInt(L, tab, "cursorx", &v, nullptr) &&
        (v == kPositionCenter || v == kPositionLeft || v == kPositionRight))
        return ERR_NOCOORDCST;
    if (GetTableFieldInt(L, tab, "cursory", &v, nullptr) &&
        (v == kPositionCenter || v == kPositionTop || v == kPositionBottom))
        return ERR_NOCOORDCST;
    return 0;
}

// The print layer's margins, cursor and tab stops.
int ReadPrintKeys(ScriptState* L, int tab, qbTextLayout* layout, bool* changed) {
    if (int err = CheckCursorKeys(L, tab)) return err;
    int32_t right = layout->wrapWidth > 0 ? SaturatingAdd(layout->leftMargin, layout->wrapWidth - 1) : INT32_MAX;
    int found = 0;
    int32_t left = layout->leftMargin;
    if (GetTableFieldInt(L, tab, "leftmargin", &left, &found) && left < 0) {
        SetErrorDetail("leftmargin");
        return ERR_WRONGUSAGE;
    }
    GetTableFieldInt(L, tab, "rightmargin", &right, &found);
    if (found) {
        layout->leftMargin = left;
        layout->wrapWidth = PrintWrapWidth(left, right);
        *changed = true;
    }
    if (GetTableFieldInt(L, tab, "cursorx", &layout->cursorX, nullptr)) *changed = true;
    if (layout->cursorX < layout->leftMargin || (layout->wrapWidth > 0 && layout->cursorX > right))
        layout->cursorX = layout->leftMargin;
    if (GetTableFieldInt(L, tab, "cursory", &layout->cursorY, nullptr)) *changed = true;

    VmPushString(L, "tabs");
    VmRawGet(L, tab);
    if (VmType(L, -1) == kTypeNil) {
        VmSetTop(L, -2);
        return 0;
    }
    if (VmType(L, -1) != kTypeTable) {
        VmSetTop(L, -2);
        SetErrorDetail("tabs");
        return ERR_TABEXPECTED;
    }
    const int list = VmGetTop(L);
    std::vector<int32_t> stops;
    for (int i = 0;; ++i) {
        VmRawGetIndex(L, list, i);
        const int type = VmType(L, -1);
        if (type == kTypeNil) break;
        int err = 0;
        if (!VmIsNumber(L, -1) || type != kTypeNumber) err = ERR_NUMTABLEARG;
        else if (stops.size() >= kMaxLayerTabs) err = ERR_INTERNAL;
        if (err) {
            VmSetTop(L, list - 1);
            SetErrorDetail("tabs");
            return err;
        }
        stops.push_back(ClampToInt32(VmToNumber(L, -1)));
        VmSetTop(L, -2);
    }
    VmSetTop(L, list - 1);
    std::sort(stops.begin(), stops.end());
    layout->tabStops = std::move(stops);
    *changed = true;
    return 0;
}

// A layer turned into text starts from the current text style and, for
// printed text, the display's cursor and margins; its text must be given.
int NewLayout(ScriptState* L, int tab, int32_t type, qbTextLayout* layout, qbTextRestyle* out) {
    const char* text = nullptr;
    if (!GetTableFieldString(L, tab, "text", &text, nullptr)) return ERR_MISSINGPARAMTR;
    layout->style = *GetTextStyle();
    qbLayerOptions lopts;
    ResetLayerOptions(&lopts);
    lopts.shadow = out->shadowStyle;
    lopts.border = out->borderStyle;
    MoveTextStyleIntoLayer(&layout->style, &lopts);
    out->shadowSet = out->borderSet = true;
    out->shadowStyle = lopts.shadow;
    out->borderStyle = lopts.border;
    layout->encoding = GetDefaultEncoding();
    if (type != kLayerPrint) return 0;
    const qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    StartPrintLayout(*d, layout);
    return 0;
}

int RestyleTextLayer(ScriptState* L, int tab, const qbLayer& layer, int32_t convertTo, qbTextRestyle* out) {
    const qbTextLayout* kept = TextLayoutOfLayer(&layer);
    if (!convertTo && (!kept || (layer.type != kLayerTextOut && layer.type != kLayerPrint))) return 0;
    std::shared_ptr<qbTextLayout> layout;
    try {
        layout = convertTo ? std::make_shared<qbTextLayout>() : std::make_shared<qbTextLayout>(*kept);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    bool changed = convertTo != 0;
    out->shadowStyle = layer.shadow;
    out->borderStyle = layer.border;
    if (convertTo)
        if (int err = NewLayout(L, tab, convertTo, layout.get(), out)) return err;
    if (int err = ReadStyleKeys(L, tab, layout.get(), out, &changed)) return err;
    if (layout->print)
        if (int err = ReadPrintKeys(L, tab, layout.get(), &changed)) return err;
    if (int err = ReadFontKeys(L, tab, layout.get(), &changed)) return err;
    if (!changed) {
        out->shadowSet = out->borderSet = false;
        return 0;
    }
    const qbTextStyle& now = *GetTextStyle();
    if (!convertTo && out->shadowSet && out->shadowStyle.shadow && !layer.shadow.shadow) {
        out->shadowStyle.colour = now.shadowColour;
        out->shadowStyle.size = now.shadowSize;
        out->shadowStyle.dir = now.shadowDirection;
    }
    if (!convertTo && out->borderSet && out->borderStyle.border && !layer.border.border) {
        out->borderStyle.colour = now.edgeColour;
        out->borderStyle.size = now.edgeSize;
    }
    // A new text, font or margin breaks lines and takes tab stops anew.
    if (!layout->breaksSupplied) layout->wordBreaks.clear();
    layout->tabChoices.clear();
    layout->tabsRecorded = false;
    qbComposedText block;
    if (int err = RenderTextImage(L, layout.get(), layout->raw, &block)) return err;
    out->image = {block.bitmap.release(), block.mask.release(), block.alpha.release()};
    out->width = block.width;
    out->height = block.height;
    if (layout->print) {
        out->placed = true;
        out->x = SaturatingAdd(layout->leftMargin, block.left);
        out->y = SaturatingAdd(layout->cursorY, block.top);
    }
    out->layout = std::move(layout);
    return 0;
}

void PushTextLayerStyle(ScriptState* L, const qbLayer& layer) {
    const qbTextLayout* layout = TextLayoutOfLayer(&layer);
    if (!layout) return;
    SetTableFieldString(L, "text", layout->text.c_str());
    SetTableFieldUInt(L, "color", layout->style.colour);
    SetTableFieldInt(L, "fontstyle", static_cast<int32_t>(layout->style.flags));
    SetTableFieldInt(L, "encoding", layout->encoding);
    if (const qbFont* font = CurrentFont(layout->style)) {
        SetTableFieldString(L, "font", font->name);
        SetTableFieldInt(L, "fontsize", font->size);
        SetTableFieldInt(L, "fontengine", EngineChoice(*font));
    }
    SetTableFieldInt(L, "align", layout->align);
    if (!layout->print) {
        SetTableFieldInt(L, "leftmargin", 0);
        SetTableFieldInt(L, "rightmargin", layout->wrapWidth);
        return;
    }
    SetTableFieldInt(L, "leftmargin", layout->leftMargin);
    if (layout->wrapWidth > 0)
        SetTableFieldInt(L, "rightmargin", SaturatingAdd(layout->leftMargin, layout->wrapWidth - 1));
    SetTableFieldInt(L, "cursorx", layout->cursorX);
    SetTableFieldInt(L, "cursory", layout->cursorY);
    VmPushString(L, "tabs");
    VmPushNewTable(L);
    for (size_t i = 0; i < layout->tabStops.size(); ++i) {
        VmPushNumber(L, layout->tabStops[i]);
        VmRawSetIndex(L, -2, static_cast<int>(i));
    }
    VmSetTableAt(L, -3);
}

}  // namespace

void InstallTextLayerStyleHooks(qbTextLayerHooks* hooks) {
    hooks->restyle = &RestyleTextLayer;
    hooks->pushStyle = &PushTextLayerStyle;
}
