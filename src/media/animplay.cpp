// PlayAnim, PlayAnimDisk and DisplayAnimFrame: the play record, the
// synchronous loop and the async-draw stepping, and showing single frames.
#include "media/animplay.h"

#include <algorithm>
#include <memory>
#include <new>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/linkedfile.h"
#include "core/numbers.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/events.h"
#include "display/output.h"
#include "display/positions.h"
#include "display/refresh.h"
#include "display/safeblt.h"
#include "draw/asyncdraw.h"
#include "imaging/blit.h"
#include "imaging/geometry.h"
#include "media/animload.h"
#include "media/anims.h"
#include "objects/dirtyrects.h"
#include "objects/displayobject.h"
#include "objects/layerframes.h"
#include "objects/layers.h"
#include "objects/objectoptions.h"
#include "objects/objecttransform.h"
#include "objects/selection.h"
#include "vm/vm.h"

namespace {

constexpr int64_t kMicrosPerMilli = 1000;
constexpr int32_t kMillisPerSpeedUnit = 20;

struct PlayDeleter {
    void operator()(qbAnimPlay* p) const { FreeAnimPlayRecord(p); }
};
using PlayPtr = std::unique_ptr<qbAnimPlay, PlayDeleter>;

int32_t TruncProduct(int32_t size, double anchor) { return static_cast<int32_t>(size * anchor); }

// The picture that the frames are drawn into: what the display shows.
qbBitmap* PlayTarget() {
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return nullptr;
    return d->output.type == kObjectTypeDisplay ? d->spriteFreeBuffer.get() : d->output.bitmap;
}

void BlitToBGPic(ScriptState* L, qbBitmap* source, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t width,
                 int32_t height, qbBitmap* mask, qbBitmap* alpha) {
    qbBitmap* target = PlayTarget();
    const qbBGPic* picture = GetCurrentBGPic();
    if (!target || !picture || !source) return;
    qbSafeBlt blit;
    blit.source = source;
    blit.srcX = sx;
    blit.srcY = sy;
    blit.srcWidth = source->width;
    blit.srcHeight = source->height;
    blit.destination = target;
    blit.dstX = dx;
    blit.dstY = dy;
    blit.width = width;
    blit.height = height;
    blit.dstWidth = std::min(picture->currentWidth, target->width);
    blit.dstHeight = std::min(picture->currentHeight, target->height);
    blit.mask = alpha ? nullptr : mask;
    blit.alpha = alpha;
    SafeBlt(L, blit);
    const qbDisplay* d = GetCurrentDisplay();
    if (d && d->softDoubleBuffer) AddDirtyRect(L, dx, dy, width, height);
}

// The frame's pictures for one step: the anim's own, or made here (from
// disk, or transformed), freed with this record.
struct StepImage {
    qbObjectImage image;
    qbObjectImage owned;
    int32_t width = 0, height = 0;
    ~StepImage() { FreeObjectImage(&owned); }
};

int DrawPlainFrame(qbAnimPlay* p) {
    StepImage s;
    qbAnim* a = p->anim;
    qbBitmap *b = nullptr, *m = nullptr, *al = nullptr;
    if (int err = FetchAnimFrame(a, p->frame - 1, false, false, &b, &m, &al)) return err;
    if (a->fromDisk) s.owned = {b, m, al};
    s.image = {b, m, al};
    s.width = a->width;
    s.height = a->height;
    if (p->transformed) {
        qbObjectImage made;
        const double anchor[2] = {p->anchorX, p->anchorY};
        int32_t ox = 0, oy = 0;
        if (int err = TransformObjectImage(p->L, false, nullptr, s.image, 0, 0, 0, 0, a->width, a->height, anchor,
                                           p->matrix, p->smooth, &made, &ox, &oy, &s.width, &s.height))
            return err;
        FreeObjectImage(&s.owned);
        s.owned = made;
        s.image = made;
    }
    if (s.image.mask || s.image.alpha) {
        if (!p->work || !p->background) return 0;
        // The frame over the saved background, so that its see-through parts
        // show the picture as it was before the playback.
        CopyBitmapRect(p->background.get(), 0, 0, p->work.get(), 0, 0, p->width, p->height);
        const int32_t w = std::min(p->width, s.width - p->clipX), h = std::min(p->height, s.height - p->clipY);
        if (w > 0 && h > 0) {
            if (s.image.alpha)
                CopyBitmapRectAlpha(s.image.bitmap, p->clipX, p->clipY, p->work.get(), 0, 0, w, h, s.image.alpha);
            else
                CopyBitmapRectMasked(s.image.bitmap, p->clipX, p->clipY, p->work.get(), 0, 0, w, h, s.image.mask);
        }
        BlitToBGPic(p->L, p->work.get(), 0, 0, p->x, p->y, p->width, p->height, nullptr, nullptr);
        return 0;
    }
    BlitToBGPic(p->L, s.image.bitmap, 0, 0, p->drawX, p->drawY, std::min(p->drawWidth, s.width),
                std::min(p->drawHeight, s.height), nullptr, nullptr);
    return 0;
}

qbLayer* LivePlayLayer(qbAnimPlay* p) {
    if (p->layer && !FindBGPicOfLayer(p->layer)) p->layer = nullptr;
    return p->layer;
}

int AsyncStep(void* userdata, int32_t* done) { return AnimPlayStep(static_cast<qbAnimPlay*>(userdata), done); }

void AsyncFree(void* userdata, int32_t) { FreeAnimPlayRecord(static_cast<qbAnimPlay*>(userdata)); }

int32_t AsyncQuery(int32_t code, void* data, void* userdata) {
    auto* p = static_cast<qbAnimPlay*>(userdata);
    switch (code) {
    case kAsyncQueryLayerReplaced: {
        const auto* change = static_cast<qbAsyncLayerReplacement*>(data);
        if (change && change->oldLayer == p->layer) p->layer = static_cast<qbLayer*>(change->newLayer);
        return 0;
    }
    case kAsyncQueryFrameCount: return p->anim ? p->anim->frameCount : 0;
    case kAsyncQueryCurrentFrame: return p->frame;
    case kAsyncQueryShowingLayer:
        if (data) *static_cast<void**>(data) = LivePlayLayer(p);
        return 0;
    case kAsyncQueryBGPicInUse:
        if (data) *static_cast<void**>(data) = p->bgpic;
        return 0;
    default: return 0;
    }
}

int RunSynchronously(ScriptState* L, qbAnimPlay* p, int32_t rectX, int32_t rectY, int32_t rectW, int32_t rectH) {
    for (int32_t done = 0; !done;) {
        int pumpError = 0;
        if (PumpEvents(L, kPumpWait, nullptr, &pumpError)) return pumpError;
        // A new BGPic needs its own background under the frames.
        qbBGPic* now = GetCurrentBGPic();
        if (now != p->bgpic) {
            p->bgpic = now;
            if (!p->layers)
                if (int err = SaveAnimBackground(p, rectX, rectY, rectW, rectH)) return err;
        }
        if (int err = AnimPlayStep(p, &done)) return err;
        WaitVBlank(L, 0);
    }
    return 0;
}

}  // namespace

int32_t AnimSpeedToDelay(int32_t speed) {
    switch (speed) {
    case kAnimSpeedFast: return 0;
    case kAnimSpeedNormal: return 60;
    case kAnimSpeedSlow: return 160;
    case kAnimSpeedDefault: return kAnimSpeedDefault;
    default: break;
    }
    if (speed < 0) return 0;
    return static_cast<int32_t>(std::min<int64_t>(int64_t{speed} * kMillisPerSpeedUnit, INT32_MAX));
}

void FreeAnimPlayRecord(qbAnimPlay* p) {
    if (!p) return;
    if (p->lockCount && *p->lockCount > 0) --*p->lockCount;
    delete p;
}

int SaveAnimBackground(qbAnimPlay* p, int32_t x, int32_t y, int32_t width, int32_t height) {
    p->work.reset();
    p->background.reset();
    p->clipX = p->clipY = 0;
    if (x < 0) {
        width = SaturatingAdd(width, x);
        p->clipX = SaturatingSub(0, x);
        x = 0;
    }
    if (y < 0) {
        height = SaturatingAdd(height, y);
        p->clipY = SaturatingSub(0, y);
        y = 0;
    }
    if (width <= 0 || height <= 0) return ERR_WRONGUSAGE;
    const qbBGPic* picture = GetCurrentBGPic();
    qbBitmap* target = PlayTarget();
    int32_t right = picture ? picture->currentWidth : 0, bottom = picture ? picture->currentHeight : 0;
    if (target) {
        right = std::min(right, target->width);
        bottom = std::min(bottom, target->height);
    }
    width = static_cast<int32_t>(std::min<int64_t>(width, int64_t{right} - x));
    height = static_cast<int32_t>(std::min<int64_t>(height, int64_t{bottom} - y));
    // Nothing of the rectangle lies on the picture: no bitmap to be had.
    if (width <= 0 || height <= 0) return ERR_BITMAP;
    p->background.reset(AllocBitmap(width, height, 0, nullptr));
    p->work.reset(AllocBitmap(width, height, 0, nullptr));
    if (!p->background || !p->work) {
        p->work.reset();
        p->background.reset();
        return ERR_BITMAP;
    }
    if (target) CopyBitmapRect(target, x, y, p->background.get(), 0, 0, width, height);
    p->x = x;
    p->y = y;
    p->width = width;
    p->height = height;
    return 0;
}

int AnimPlayStep(qbAnimPlay* p, int32_t* done) {
    *done = 0;
    if (p->async) {
        const int64_t now = FramePacingNowMicros();
        if (p->stamp >= now) return 0;
        p->stamp = now;
    }
    if (p->layers) {
        if (qbLayer* layer = LivePlayLayer(p))
            if (int err = SetLayerPosFrame(p->L, layer, kUseLayerPosition, kUseLayerPosition, p->frame, false))
                return err;
    } else if (int err = DrawPlainFrame(p)) {
        return err;
    }
    const int32_t d = p->delay == kAnimSpeedDefault
                          ? static_cast<int32_t>(std::min<uint32_t>(GetAnimFrameDelay(p->anim, p->frame - 1), INT32_MAX))
                          : p->delay;
    if (p->async) {
        p->stamp += int64_t{d} * kMicrosPerMilli;
    } else if (d > 0) {
        const int64_t elapsed = (FramePacingNowMicros() - p->stamp) / kMicrosPerMilli;
        if (elapsed < d)
            if (int err = DelayPumpingEventsPaced(static_cast<int>(d - elapsed))) return err;
        p->stamp = FramePacingNowMicros();
    }
    if (++p->frame > p->anim->frameCount) {
        if (p->pass != p->times) {
            p->frame = 1;
            ++p->pass;
        } else {
            *done = 1;
        }
    }
    return 0;
}

int PlayAnimCore(ScriptState* L, ObjectID id, bool fromDisk, int speedArg, int timesArg, ObjectID* asyncId) {
    qbDisplay* current = GetCurrentDisplay();
    if (!current) return ERR_FINDDISPLAY;
    qbCurrentDisplayRef display(L, current);
    qbTaken<qbDisplay> d = nullptr;
    const int top = VmGetTop(L);
    const int32_t x = GetOptIntArg(L, 2, 0), y = GetOptIntArg(L, 3, 0);
    int32_t speed = 0, times = 1;
    bool async = false;
    int optArg = 0;
    const bool table = top >= 4 && VmType(L, 4) == kTypeTable;
    if (table && top == 4) optArg = 4;
    if (table && !fromDisk) {
        GetTableFieldInt(L, 4, "speed", &speed, nullptr);
        GetTableFieldInt(L, 4, "times", &times, nullptr);
        async = GetTableFieldFlag(L, 4, "async");
    } else {
        speed = GetOptIntArg(L, speedArg, 0);
        times = GetOptIntArg(L, timesArg, 1);
    }
    if (int err = display.Take(&d)) return err;
    if (int err = CheckOutputGuard(d, OutputGuard::Refresh)) return err;
    if (d->refreshBlock) return ERR_BEGINREFRESH;

    qbAnimRef found(L, id);
    qbTaken<qbAnim> anim = nullptr;
    if (int err = found.Take(&anim)) return err;
    qbTransformOptions topts;
    qbLayerOptions lopts;
    if (optArg) {
        if (int err = ParseDisplayObjectOptions(L, optArg, anim->width, anim->height, 0, 0, 0, &topts, &lopts,
                                                kOptReset | kOptTableRequired))
            return err;
    } else {
        ResetDisplayObjectOptions(&topts, &lopts, 0, 0, 0, 0);
    }
    if (int err = display.Take(&d)) return err;
    if (int err = found.Take(&anim)) return err;
    PlayPtr play;
    try {
        play.reset(new qbAnimPlay);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    qbAnimPlay* p = play.get();
    p->L = L;
    p->anim = anim;
    p->id = IDOf(*anim);
    ++anim->lockCount;
    p->lockCount = &anim->lockCount;
    p->delay = AnimSpeedToDelay(speed);
    p->times = times;
    p->async = async;
    p->layers = d->layersEnabled != 0;
    p->bgpic = GetCurrentBGPic();
    std::copy(topts.matrix, topts.matrix + 4, p->matrix);
    p->anchorX = topts.anchorx;
    p->anchorY = topts.anchory;
    p->smooth = topts.smoothscale != 0;

    const int32_t w = anim->width, h = anim->height;
    int32_t px = ResolveSpecialX(x, w, 0, topts.anchorx);
    int32_t py = ResolveSpecialY(y, h, 0, topts.anchory);
    int32_t rectX = 0, rectY = 0, rectW = 0, rectH = 0;
    if (!p->layers) {
        int32_t pw = w, ph = h;
        if (!IsIdentityMatrix(topts.matrix)) {
            // The box the turned frame fills, laid out like a shown object.
            const double byRows[4] = {topts.matrix[0], topts.matrix[2], topts.matrix[1], topts.matrix[3]};
            const qbRect box = GetAnchoredTransformBounds(px, py, w, h, topts.anchorx, topts.anchory, byRows);
            GetTransformedSize(topts.matrix, w, h, &pw, &ph);
            px = box.x;
            py = box.y;
            p->transformed = true;
        }
        px = SaturatingSub(px, TruncProduct(w, topts.anchorx));
        py = SaturatingSub(py, TruncProduct(h, topts.anchory));
        p->drawX = px;
        p->drawY = py;
        p->drawWidth = pw;
        p->drawHeight = ph;
        rectX = px;
        rectY = py;
        rectW = pw;
        rectH = ph;
        if (int err = SaveAnimBackground(p, px, py, pw, ph)) return err;
    } else {
        qbDisplayObjectCall call;
        call.type = kShowAnim;
        call.id = p->id;
        call.frame = 0;
        call.x = x;
        call.y = y;
        call.topts = &topts;
        call.lopts = &lopts;
        call.outLayer = &p->layer;
        if (int err = DisplayObject(L, call)) return err;
        p->layerIndex = CountLayers(GetCurrentBGPic());
    }

    p->stamp = FramePacingNowMicros();
    if (p->async) {
        qbAsyncDrawCallbacks callbacks;
        callbacks.drawFrame = AsyncStep;
        callbacks.free = AsyncFree;
        callbacks.query = AsyncQuery;
        qbAsyncDraw* record = nullptr;
        if (int err = AddAsyncDraw(ADF_ANIM, callbacks, p, &record)) return err;
        play.release();
        if (asyncId) *asyncId = IDOf(*record);
        return 0;
    }
    return RunSynchronously(L, p, rectX, rectY, rectW, rectH);
}

int DisplayAnimFrameCore(ScriptState* L, ObjectID id, int32_t x, int32_t y, int32_t index, int optArg) {
    qbDisplayObjectCall call;
    call.type = kShowAnim;
    call.id = id;
    call.frame = index;
    call.x = x;
    call.y = y;
    call.optArg = optArg;
    return DisplayObject(L, call);
}

int cmdPlayAnim(ScriptState* L) {
    CheckArgCount(L, 1, 5, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    // Playing the anim that drawing goes into shows it on the display.
    if (int err = EndSelectionOfAnim(L, id, -1)) return err;
    ObjectID asyncId;
    asyncId.number = 0;
    asyncId.handle = nullptr;
    const bool async = VmGetTop(L) >= 4 && VmType(L, 4) == kTypeTable && GetTableFieldFlag(L, 4, "async");
    if (int err = PlayAnimCore(L, id, false, 4, 5, &asyncId)) return err;
    return async ? PushObjectID(L, asyncId) : 0;
}

int cmdPlayAnimDisk(ScriptState* L) {
    CheckArgCount(L, 1, 7, 0, 0);
    const char* fileName = ResolveLinkedFileArg(L, 1, 0, nullptr);
    qbAnimLoadOptions o;
    o.fromDisk = true;
    o.transparency = GetOptIntArg(L, 6, -1);
    qbAnim* made = nullptr;
    if (int err = BuildAnimFromFile(L, fileName, o, &made)) return err;
    const ObjectID id = IDOf(*made);
    const int err = PlayAnimCore(L, id, true, 5, 7, nullptr);
    // The anim was only ever this playback's (a layer it left keeps it).
    DiscardAnim(L, id, false);
    return err;
}

int cmdDisplayAnimFrame(ScriptState* L) {
    CheckArgCount(L, 4, 5, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    const int32_t frame = GetIntArg(L, 4);
    const int optArg = VmGetTop(L) >= 5 ? 5 : 0;
    // Frames count from 1; the lowest number stays out of range rather than wrapping.
    const int32_t index = frame == INT32_MIN ? INT32_MIN : frame - 1;
    if (int err = DisplayAnimFrameCore(L, id, GetIntArg(L, 2), GetIntArg(L, 3), index, optArg)) return err;
    return 0;
}
