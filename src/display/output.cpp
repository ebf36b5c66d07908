// The current output record and the output guards.
#include "display/output.h"

#include "core/errcodes.h"
#include "display/bgpics.h"
#include "display/display.h"

qbOutputView GetCurrentOutput() {
    qbOutputView v;
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return v;
    v.display = d;
    v.type = d->output.type;
    v.selectedType = d->output.selected;
    v.clip = &d->clipRegion;
    // A selected mask, alpha channel or BGPic with its layers has no
    // bitmap of its own here: the selected picture gives the size.
    const qbBGPic* selected = v.type != kObjectTypeDisplay && !d->output.bitmap ? GetCurrentOutputBGPic() : nullptr;
    if (v.type != kObjectTypeDisplay && d->output.bitmap) {
        v.width = d->output.bitmap->width;
        v.height = d->output.bitmap->height;
    } else if (selected) {
        v.width = selected->currentWidth;
        v.height = selected->currentHeight;
    } else {
        v.width = d->width;
        v.height = d->height;
    }
    if (v.type == kObjectTypeDisplay || v.type == kOutputBGPic) {
        if (const qbBGPic* picture = GetCurrentOutputBGPic()) v.pens = picture->palette.get();
    }
    return v;
}

int CheckOutputGuard(const qbDisplay* d, OutputGuard guard) {
    switch (d->output.type) {
    case kOutputBrush:
        if (d->softDoubleBuffer || d->hardDoubleBuffer) return ERR_ENDDOUBLEBUFFER;
        return d->output.selected == kOutputAnim ? ERR_SELECTANIM : ERR_SELECTBRUSH;
    case kOutputMask: return ERR_SELECTMASK;
    case kOutputAlphaChannel: return ERR_SELECTALPHACHANNEL;
    case kOutputBGPic: return guard == OutputGuard::Refresh ? ERR_SELECTBG : 0;
    default: return 0;
    }
}
