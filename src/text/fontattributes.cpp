// GetAttribute's rows for the font objects of OpenFont (the measures of the
// cached font each one names), the display's text rows (its cursor and
// margins, and the font text output uses now) and the rows of text layers
// (the font and text of the layout each keeps), and text objects (their
// size and the font and text they were made with).
#include "core/argapi.h"
#include "core/errcodes.h"
#include "display/display.h"
#include "draw/attributes.h"
#include "text/font.h"
#include "text/fontcache.h"
#include "text/textlayers.h"
#include "text/textlib.h"
#include "text/textobjects.h"

struct qbLayer;

namespace {

enum : int32_t {
    kAttrWidth = 0, kAttrHeight = 1, kAttrCursorX = 21, kAttrCursorY = 22, kAttrAscender = 30, kAttrDescender = 31, kAttrName = 32, kAttrSize = 33,
    kAttrScalable = 34, kAttrAA = 35, kAttrText = 36, kAttrMarginLeft = 52, kAttrMarginRight = 53,
};
constexpr int32_t kFontAttributes[] = {kAttrAscender, kAttrDescender, kAttrName, kAttrSize, kAttrScalable, kAttrAA};

int FindFontForAttribute(ScriptState* L, int32_t, int idx, void** out) {
    qbFontObject* f = nullptr;
    if (int err = FindFontObject(GetObjectIDArg(L, idx), &f)) return err;
    *out = f;
    return 0;
}

int FontAttribute(const qbAttributeQuery& q) {
    return PushFontAttribute(q.L, *static_cast<const qbFontObject*>(q.object)->font, q.attribute);
}

// A style without a font of its own draws with the default font.
int StyleFontAttribute(ScriptState* L, const qbTextStyle& style, int32_t attribute) {
    qbFont* font = style.font;
    if (!font) {
        if (int err = GetDefaultFont(&font)) return err;
    }
    return PushFontAttribute(L, *font, attribute);
}

// The display's lookup (id 0 the current one) found the record.
int DisplayTextAttribute(const qbAttributeQuery& q) {
    const auto* d = static_cast<const qbDisplay*>(q.object);
    int32_t slot = 0;
    switch (q.attribute) {
    case kAttrCursorX: slot = kTextCursorX; break;
    case kAttrCursorY: slot = kTextCursorY; break;
    case kAttrMarginLeft: slot = kTextLeftMargin; break;
    case kAttrMarginRight: slot = kTextRightMargin; break;
    default: return StyleFontAttribute(q.L, *GetTextStyle(), q.attribute);
    }
    VmPushNumber(q.L, d->outputPosition[slot]);
    return 1;
}

// The layers library's lookup found the layer; only text layers keep a
// layout.
int TextLayerAttribute(const qbAttributeQuery& q) {
    const qbTextLayout* layout = TextLayoutOfLayer(static_cast<const qbLayer*>(q.object));
    if (!layout) return ERR_NOTXTLAYER;
    if (q.attribute != kAttrText) return StyleFontAttribute(q.L, layout->style, q.attribute);
    VmPushLString(q.L, layout->text.data(), layout->text.size());
    return 1;
}

int FindTextObjectForAttribute(ScriptState* L, int32_t, int idx, void** out) {
    qbTextObject* o = nullptr;
    if (int err = GetTextObject(L, GetObjectIDArg(L, idx), &o, 0)) return err;
    *out = o;
    return 0;
}

int TextObjectAttribute(const qbAttributeQuery& q) {
    const auto* o = static_cast<const qbTextObject*>(q.object);
    switch (q.attribute) {
    case kAttrWidth: VmPushNumber(q.L, o->width); return 1;
    case kAttrHeight: VmPushNumber(q.L, o->height); return 1;
    case kAttrText:
        if (!o->layout) {
            VmPushString(q.L, "");
            return 1;
        }
        VmPushLString(q.L, o->layout->text.data(), o->layout->text.size());
        return 1;
    default: return StyleFontAttribute(q.L, o->layout ? o->layout->style : *GetTextStyle(), q.attribute);
    }
}

}  // namespace

int PushFontAttribute(ScriptState* L, const qbFont& f, int32_t attribute) {
    double v = 0;
    switch (attribute) {
    case kAttrAscender: v = f.baseline; break;
    case kAttrDescender: v = f.height - f.baseline; break;
    case kAttrName: VmPushString(L, f.name); return 1;
    case kAttrSize: v = f.size; break;
    case kAttrScalable: v = f.scalable ? 1 : 0; break;
    case kAttrAA: v = f.antialiasCapable ? 1 : 0; break;
    default: return ERR_UNKNOWNATTR;
    }
    VmPushNumber(L, v);
    return 1;
}

void InstallFontAttributeRows() {
    SetAttributeLookup(kObjectTypeFont, &FindFontForAttribute);
    for (int32_t attribute : kFontAttributes) {
        const qbAttributeRow row{kObjectTypeFont, attribute, &FontAttribute};
        AddAttributeRows(&row, 1);
    }
    // The display keeps the lookup the graphics library gave it.
    for (int32_t attribute : {kAttrCursorX, kAttrCursorY, kAttrMarginLeft, kAttrMarginRight}) {
        const qbAttributeRow row{kObjectTypeDisplay, attribute, &DisplayTextAttribute};
        AddAttributeRows(&row, 1);
    }
    for (int32_t attribute : kFontAttributes) {
        const qbAttributeRow row{kObjectTypeDisplay, attribute, &DisplayTextAttribute};
        AddAttributeRows(&row, 1);
    }
    // These replace the refusals the graphics library, opened before this
    // one, gives every layer.
    for (int32_t attribute : kFontAttributes) {
        const qbAttributeRow row{kObjectTypeLayer, attribute, &TextLayerAttribute};
        AddAttributeRows(&row, 1);
    }
    const qbAttributeRow text{kObjectTypeLayer, kAttrText, &TextLayerAttribute};
    AddAttributeRows(&text, 1);
    SetAttributeLookup(kObjectTypeTextObject, &FindTextObjectForAttribute);
    for (int32_t attribute : {kAttrWidth, kAttrHeight, kAttrText}) {
        const qbAttributeRow row{kObjectTypeTextObject, attribute, &TextObjectAttribute};
        AddAttributeRows(&row, 1);
    }
    for (int32_t attribute : kFontAttributes) {
        const qbAttributeRow row{kObjectTypeTextObject, attribute, &TextObjectAttribute};
        AddAttributeRows(&row, 1);
    }
}
