// GetAttribute's rows for the font objects of OpenFont: the measures of
// the cached font each one names.
#include "core/argapi.h"
#include "core/errcodes.h"
#include "draw/attributes.h"
#include "text/font.h"
#include "text/fontcache.h"
#include "text/textlib.h"

namespace {

enum : int32_t {
    kAttrAscender = 30, kAttrDescender = 31, kAttrName = 32, kAttrSize = 33, kAttrScalable = 34, kAttrAA = 35,
};

int FindFontForAttribute(ScriptState* L, int32_t, int idx, void** out) {
    qbFontObject* f = nullptr;
    if (int err = FindFontObject(GetObjectIDArg(L, idx), &f)) return err;
    *out = f;
    return 0;
}

int FontAttribute(const qbAttributeQuery& q) {
    const qbFont* f = static_cast<const qbFontObject*>(q.object)->font;
    double v = 0;
    switch (q.attribute) {
    case kAttrAscender: v = f->baseline; break;
    case kAttrDescender: v = f->height - f->baseline; break;
    case kAttrName: VmPushString(q.L, f->name); return 1;
    case kAttrSize: v = f->size; break;
    case kAttrScalable: v = f->scalable ? 1 : 0; break;
    case kAttrAA: v = f->antialiasCapable ? 1 : 0; break;
    default: return ERR_UNKNOWNATTR;
    }
    VmPushNumber(q.L, v);
    return 1;
}

}  // namespace

void InstallFontAttributeRows() {
    SetAttributeLookup(kObjectTypeFont, &FindFontForAttribute);
    for (int32_t attribute : {kAttrAscender, kAttrDescender, kAttrName, kAttrSize, kAttrScalable, kAttrAA}) {
        const qbAttributeRow row{kObjectTypeFont, attribute, &FontAttribute};
        AddAttributeRows(&row, 1);
    }
}
