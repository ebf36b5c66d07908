// AsyncDrawFrame, FinishAsyncDraw and CancelAsyncDraw: the script draws an
// effect frame by frame and learns from the result when it has ended.
#include <cmath>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "display/display.h"
#include "display/output.h"
#include "draw/asyncdraw.h"
#include "draw/graphicslib.h"

namespace {

int PushResult(ScriptState* L, int32_t value) {
    VmPushNumber(L, value);
    return 1;
}

// Brings the object to its end state and frees it.
void FinishAndRemove(ScriptState* L, qbAsyncDraw* r) {
    if (r->callbacks.finish) r->callbacks.finish(r->userdata, &r->done);
    RemoveAsyncDraw(L, r, 1);
}

// The object has drawn its last frame: the call that says so draws nothing.
int Finish(ScriptState* L, qbAsyncDraw* r) {
    FinishAndRemove(L, r);
    return PushResult(L, 1);
}

// Into layers the owner is told before and after, so that it keeps the
// showing layer out of the composition while it draws.
int DrawNextFrame(const qbDisplay* d, qbAsyncDraw* r) {
    const bool layered = d->output.type == kOutputBGPic;
    int32_t drawing = 1;
    if (layered) QueryAsyncDraw(r, kAsyncQueryDrawing, &drawing);
    if (r->callbacks.drawFrame) {
        if (int err = r->callbacks.drawFrame(r->userdata, &r->done)) return err;
    }
    drawing = 0;
    if (layered) QueryAsyncDraw(r, kAsyncQueryDrawing, &drawing);
    return 0;
}

int32_t FrameArg(ScriptState* L, int idx) {
    const double v = std::trunc(VmCheckNumber(L, idx));
    if (!(v >= 1)) return 0;  // below 1 (and NaN): the next frame
    return v >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(v);
}

// A frame of its own choosing: step 0 means the next one.
int DrawChosenFrame(ScriptState* L, qbDisplay* d, qbAsyncDraw* r, int32_t frame) {
    if (!d->layersEnabled) return ERR_NOLAYERS;
    const int32_t count = QueryAsyncDraw(r, kAsyncQueryFrameCount, nullptr);
    const int32_t current = QueryAsyncDraw(r, kAsyncQueryCurrentFrame, nullptr);
    if (frame == 0 || frame > count) {
        if (r->done) return Finish(L, r);
        if (frame > count) return ERR_ANIMFRAME;
    }
    // Frame 0 asks for the next frame even before the first one is drawn,
    // when the current frame reads 0 as well.
    if (frame != 0 && frame == current) return PushResult(L, 0);
    if (frame != 0 && int64_t{frame} != int64_t{current} + 1) {
        int32_t target = frame;
        if (int32_t err = QueryAsyncDraw(r, kAsyncQueryJump, &target)) return err;
        if (d->output.type != kOutputBGPic) QueryAsyncDraw(r, kAsyncQueryRedraw, nullptr);
        r->done = frame == count ? 1 : 0;
        return PushResult(L, r->done);
    }
    if (int err = DrawNextFrame(d, r)) return err;
    return PushResult(L, 0);
}

int FindArgObject(ScriptState* L, qbAsyncDraw** out) { return FindAsyncDraw(GetObjectIDArg(L, 1), out); }

}  // namespace

int cmdAsyncDrawFrame(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    if (int err = CheckOutputGuard(d, OutputGuard::AsyncDraw)) return err;
    qbAsyncDraw* r = nullptr;
    if (int err = FindArgObject(L, &r)) return err;
    if (r->display != d) return ERR_ADFWRONGDISP;
    const int type = VmType(L, 2);
    if (type != kTypeNone && type != kTypeNil) return DrawChosenFrame(L, d, r, FrameArg(L, 2));
    if (r->done) return Finish(L, r);
    if (int err = DrawNextFrame(d, r)) return err;
    return PushResult(L, 0);
}

int cmdFinishAsyncDraw(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbAsyncDraw* r = nullptr;
    if (int err = FindArgObject(L, &r)) return err;
    FinishAndRemove(L, r);
    return 0;
}

int cmdCancelAsyncDraw(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbAsyncDraw* r = nullptr;
    if (int err = FindArgObject(L, &r)) return err;
    RemoveAsyncDraw(L, r, 0);
    return 0;
}
