#include "objects/brushhardware.h"

#include <vector>

#include "core/errcodes.h"
#include "core/nativebitmap.h"
#include "display/adapter.h"
#include "display/display.h"
#include "imaging/bitmap.h"
#include "imaging/planekernels.h"
#include "objects/brushes.h"

namespace {

constexpr uint32_t kCapsHardwareBitmaps = 8;
constexpr int32_t kHardwareKeyed = 1;  // mask or key colour
constexpr int32_t kHardwareAlpha = 2;
constexpr int32_t kMaskCopy = 0;

// Bound to the display, or saved from it while it is closed.
bool IsHardwareOf(const qbBrush* b, const qbDisplay* display) {
    return b->hardware && (b->display == display || (!b->display && b->displayId == IDOf(*display)));
}

qbBrush* Next(qbBrush* b) { return static_cast<qbBrush*>(b->next); }

}  // namespace

int ResolveHardwareBrush(bool* hardware, int32_t displayId, qbDisplay** display) {
    *display = nullptr;
    if (!*hardware) return 0;
    // A video dump reads every frame back, which adapter bitmaps do not allow.
    if (IsVideoRecording() || !(QueryDisplayAdapterCaps(kCapsHardwareBitmaps) & kCapsHardwareBitmaps)) {
        *hardware = false;
        return 0;
    }
    return GetDisplayForVideoBitmap(displayId, display);
}

void SetBrushHardware(qbBrush* brush, bool hardware, qbDisplay* display) {
    const bool kept = hardware && brush->bitmap && GetBitmapAttr(brush->bitmap, kBitmapAttrVideoFlag) != 0;
    brush->hardware = kept ? 1 : 0;
    brush->display = kept ? display : nullptr;
    brush->displayId = kept && display ? IDOf(*display) : ObjectID{};
    brush->hardwareFlags = !kept ? 0
                                 : (brush->mask || brush->transparentColour != -1 ? kHardwareKeyed : 0) |
                                       (brush->alpha ? kHardwareAlpha : 0);
}

void SaveHardwareBrushes(ScriptState* L, qbDisplay* display) {
    for (qbBrush* b = FirstBrush(); b;) {
        qbBrush* next = Next(b);
        if (IsHardwareOf(b, display) && b->bitmap) {
            // The mask becomes alpha 0 or 255, so one buffer restores either plane.
            b->snapshot = GetBitmapARGB(b->bitmap, 0, 0, b->width, b->height, b->mask, b->alpha,
                                        b->transparentColour, true, 0);
            if (b->snapshot.empty()) {
                UnlinkAndFreeBrush(L, b);
            } else {
                FreeBitmap(b->bitmap);
                FreeMask(b->mask);
                FreeAlphaChannel(b->alpha);
                b->bitmap = b->mask = b->alpha = nullptr;
                b->display = nullptr;
            }
        }
        b = next;
    }
}

int RestoreHardwareBrushes(ScriptState*, qbDisplay* display) {
    for (qbBrush* b = FirstBrush(); b; b = Next(b)) {
        if (!b->hardware || b->bitmap || b->snapshot.empty() || !(b->displayId == IDOf(*display))) continue;
        const std::vector<uint32_t>& pixels = b->snapshot;
        qbBitmap* made = nullptr;
        if (int err = CreateBitmapFromARGB(pixels.data(), kNoKeyColour, b->width, b->height, b->width, true, 0,
                                           DisplayAdapterFlags(), &made, nullptr, nullptr))
            return err;
        BitmapPtr bitmap(made);
        BitmapPtr alpha;
        BitmapPtr mask;
        if (b->hardwareFlags & (kHardwareKeyed | kHardwareAlpha)) {
            alpha.reset(CreateAlphaFromARGB(pixels.data(), b->width, b->height, b->width));
            if (!alpha) return ERR_ALLOCALPHA;
        }
        if (b->hardwareFlags & kHardwareKeyed) {
            // Snapshot alpha 255 is a set bit, 0 a clear one.
            mask.reset(AllocMask(bitmap.get(), b->width, b->height, true, nullptr, 0));
            if (!mask) return ERR_ALLOCMASK;
            const qbBitmapPlane& m = *mask->plane;
            const qbBitmapPlane& a = *alpha->plane;
            AlphaToMask({m.data, static_cast<int32_t>(m.rowBytes), 0, 0}, {a.data, static_cast<int32_t>(a.rowBytes), 0, 0},
                        b->width, b->height, kMaskCopy);
            if (!(b->hardwareFlags & kHardwareAlpha)) alpha.reset();
        }
        b->bitmap = bitmap.release();
        b->mask = mask.release();
        b->alpha = alpha.release();
        b->snapshot.clear();
        b->snapshot.shrink_to_fit();
        SetBrushHardware(b, true, display);
    }
    return 0;
}

void FreeDisplayBrushes(ScriptState* L, qbDisplay* display) {
    for (qbBrush* b = FirstBrush(); b;) {
        qbBrush* next = Next(b);
        if (IsHardwareOf(b, display)) UnlinkAndFreeBrush(L, b);
        b = next;
    }
}
