// The blit route of an installed display adapter: which fills and copies it
// draws itself (it owns the destination, or draws that kind), and the calls
// that hand them over.
#include "display/blitroute.h"

#include <cstring>

#include "core/errcodes.h"
#include "core/pixelformats.h"
#include "display/adapter.h"
#include "display/adapterbitmaps.h"
#include "display/display.h"
#include "display/output.h"
#include "imaging/blit.h"

namespace {

bool IsAdapterVideoBitmap(const qbBitmap* bitmap) {
    return bitmap && bitmap->videoFlag == 1 && GetBitmapAttr(bitmap, kBitmapAttrOrphanVideo) == 0;
}

// The destination is what the current display has selected for output and
// lives in the adapter.
bool DestinationCondition(const qbBitmap* destination) {
    const qbDisplay* d = GetCurrentDisplay();
    return d && d->output.bitmap == destination && IsAdapterVideoBitmap(destination);
}

bool PlaneTargetSelected() {
    const qbDisplay* d = GetCurrentDisplay();
    return d && (d->output.type == kOutputMask || d->output.type == kOutputAlphaChannel);
}

int32_t SelectionState() {
    const qbDisplay* d = GetCurrentDisplay();
    return d ? d->selectionState : 0;
}

// The adapter mode of a fill, pixel or line, 0 for the kernels.
uint32_t AdapterDrawMode(const qbBitmap* destination, uint32_t capability) {
    if (!DisplayAdapterSlots()) return 0;
    uint32_t mode = 0;
    if (IsAdapterVideoBitmap(destination))
        mode = 2;
    else if (DisplayAdapter().drawFlags & capability)
        mode = 1;
    else
        return 0;
    if (DestinationCondition(destination) && SelectionState() == 0 && PlaneTargetSelected()) mode |= 4;
    return mode;
}

enum class CopyKind { Opaque, Masked, Alpha };

// The adapter mode of a copy, 0 for the kernels, with an adapter installed.
uint32_t AdapterCopyModeWithAdapter(const qbBitmap* source, const qbBitmap* destination, uint32_t capability,
                                    CopyKind kind) {
    uint32_t mode = 0;
    if (IsAdapterVideoBitmap(destination))
        mode = 4;
    else if (DisplayAdapter().drawFlags & capability)
        mode = 2;
    else
        return 0;
    const bool destination_condition = DestinationCondition(destination);
    if (kind == CopyKind::Opaque) {
        if (IsAdapterVideoBitmap(source)) {
            mode |= 1;
            if (source->videoState == 0) mode |= 8;
        }
        const qbDisplay* d = GetCurrentDisplay();
        if (destination_condition && d->selectionState == 0 && d->lastSelectMode == 1) mode |= 8;
        if (destination_condition && PlaneTargetSelected()) mode |= 16;
    } else if (destination_condition && PlaneTargetSelected() && SelectionState() == 0) {
        mode |= 16;
    }
    return mode;
}

void AdapterCopy(qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* destination, int32_t dx, int32_t dy,
                 int32_t width, int32_t height, qbBitmap* plane, uint32_t mode) {
    qbAdapterBlitBlock block;
    block.srcX = sx;
    block.srcY = sy;
    block.dstX = dx;
    block.dstY = dy;
    block.width = width;
    block.height = height;
    block.mask = plane ? plane->native : nullptr;
    CallSlot(DisplayAdapterSlots()->BltBitMap, source->native, destination->native, &block, mode, nullptr);
}

bool RouteFill(qbBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour) {
    const uint32_t mode = AdapterDrawMode(bitmap, kAdapterDrawFill);
    if (!mode) return false;
    const uint32_t c = mode < 4 ? AdjustAlphaForAdapter(colour) : colour;
    CallSlot(DisplayAdapterSlots()->RectFill, bitmap->native, x, y, width, height, c, mode, nullptr);
    return true;
}

bool RouteCopy(qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* destination, int32_t dx, int32_t dy,
               int32_t width, int32_t height, qbBitmap* plane, int kind) {
    static constexpr uint32_t kCapability[] = {kAdapterDrawCopy, kAdapterDrawMasked, kAdapterDrawAlpha};
    static constexpr CopyKind kKind[] = {CopyKind::Opaque, CopyKind::Masked, CopyKind::Alpha};
    if (kind < 0 || kind > 2 || !DisplayAdapterSlots()) return false;
    const uint32_t mode = AdapterCopyModeWithAdapter(source, destination, kCapability[kind], kKind[kind]);
    if (!mode) return false;
    AdapterCopy(source, sx, sy, destination, dx, dy, width, height, plane, mode);
    return true;
}

bool RouteOwnsPixels(const qbBitmap* bitmap) {
    // The adapter's own video bitmaps have no platform pixels behind them.
    const bool adapters = (DisplayAdapterFlags() & kAdapterOwnsBitmaps) || !bitmap->colour;
    return bitmap->videoFlag != 0 && adapters && DisplayAdapterSlots() && DisplayAdapterSlots()->ReadVideoPixels;
}

int RouteReadPixels(qbBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t* out,
                    std::vector<uint8_t>* alpha) {
    return ReadAdapterBitmapPixels(bitmap->native, bitmap->width, bitmap->height, x, y, width, height, out, alpha);
}

constexpr qbBlitRoute kAdapterRoute{RouteFill, RouteCopy, RouteOwnsPixels, RouteReadPixels};

}  // namespace

void RouteBlitsThroughAdapter(bool on) { SetBlitRoute(on ? &kAdapterRoute : nullptr); }
