// Display settings that reach the display declarations from outside them: the
// screen sections of older applets and the display options of the command
// line and the options file.
#include "core/applet.h"
#include "core/errcodes.h"
#include "core/preproc.h"

namespace {

qbDisplayDeclaration* DisplayOne(qbApplet* applet) {
    qbPreprocessorEntry* entry = FindPreprocessorEntry(applet, kDeclDisplay, 1);
    return entry ? GetDisplayDeclaration(*entry) : nullptr;
}

void ApplyOverrides(qbDisplayDeclaration& decl, const qbDisplayOverrides& o) {
    if (o.mode != 0) decl.mode = o.mode;
    if (o.scrWidth != -1) decl.scrWidth = o.scrWidth;
    if (o.scrHeight != -1) decl.scrHeight = o.scrHeight;
    if (o.scrDepth != -1) decl.scrDepth = o.scrDepth;
    if (o.scaleWidth != 0) decl.scaleWidth = o.scaleWidth;
    if (o.scaleHeight != 0) decl.scaleHeight = o.scaleHeight;
    if (o.monitor != 0) decl.monitor = o.monitor;
    if (o.backfill.type != 0) {
        decl.backfill = o.backfill;
    } else if (o.backfill.hideTitleBar) {
        decl.hideTitleBar = 1;
    }
    decl.flags |= o.flags;
}

}  // namespace

int ApplyScreenModeOptions(qbApplet* applet) {
    qbDisplayDeclaration* decl = DisplayOne(applet);
    if (!decl) {
        if (int err = AddDefaultDisplayEntry(applet, nullptr)) return err;
        decl = DisplayOne(applet);
        if (!decl) return ERR_MEM;
    }
    const qbScreenModeOptions& o = applet->screenModeOptions;
    if (o.mode != 0) decl->mode = o.mode;
    if (o.scrWidth != -1) decl->scrWidth = o.scrWidth;
    if (o.scrHeight != -1) decl->scrHeight = o.scrHeight;
    if (o.scrDepth != -1) decl->scrDepth = o.scrDepth;
    if (o.desktop != -1) decl->desktop = o.desktop;
    if (o.backfill.type != -1) {
        decl->backfill = o.backfill;
    } else if (o.titleBar) {
        decl->hideTitleBar = 1;
    }
    return 0;
}

int ApplyDisplayOverrides(qbApplet* applet, const qbCommandLine* cl) {
    const qbDisplayOverrides& o = applet->overrides;
    if (!cl->allDisplays) {
        if (qbDisplayDeclaration* decl = DisplayOne(applet)) ApplyOverrides(*decl, o);
        return 0;
    }
    for (qbPreprocessorEntry& entry : applet->preprocessorList)
        if (qbDisplayDeclaration* decl = GetDisplayDeclaration(entry)) ApplyOverrides(*decl, o);
    return 0;
}
