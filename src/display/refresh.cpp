// The blit to a display's window and the refresh of display rectangles.
#include "display/refresh.h"

#include <algorithm>
#include <vector>

#include "display/adapter.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displayhooks.h"
#include "display/displays.h"
#include "display/displayscaling.h"
#include "display/doublebuffer.h"
#include "imaging/scalebitmap.h"
#include "platform/platform_ops.h"

namespace {

// The cache scaled blits draw into; reallocated when the scale size changes.
BitmapPtr scaleCache;
uint64_t scaleCount = 0;

qbBitmap* ScaleIntoCache(qbBitmap* source, int32_t width, int32_t height, bool smooth) {
    if (!scaleCache || scaleCache->width != width || scaleCache->height != height) {
        scaleCache.reset(AllocBitmap(width, height, 0, nullptr));
        if (!scaleCache) return nullptr;
    }
    qbBitmap* out = nullptr;
    if (ScaleBitmap(source, nullptr, nullptr, 0, 0, scaleCache.get(), source->width, source->height, width, height, smooth,
                    &out, nullptr, nullptr))
        return nullptr;
    return out;
}

bool HasAlphaChannel(const qbBitmap* bitmap) {
    return GetBitmapAttr(bitmap, kBitmapAttrVideoFlag) != 0 && GetBitmapAttr(bitmap, kBitmapAttrOrphanVideo) == 0;
}

void CallBlitHooks(qbDisplay* display, qbBitmap* source, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                   int32_t h) {
    qbHookBlitInfo info;
    if (DisplayAdapterFlags() & kAdapterOwnsBitmaps) {
        info.source = reinterpret_cast<const void*>(GetBitmapAttr(source, kBitmapAttrNative));
        info.access = kHookAccessAdapter;
    } else {
        info.source = reinterpret_cast<const void*>(GetBitmapAttr(source, kBitmapAttrPixels));
        info.access = HasAlphaChannel(source) ? kHookAccessPixelsAlpha : kHookAccessPixels;
    }
    info.sourceWidth = static_cast<int32_t>(GetBitmapAttr(source, kBitmapAttrWidth));
    info.sourceHeight = static_cast<int32_t>(GetBitmapAttr(source, kBitmapAttrHeight));
    if (info.access == kHookAccessPixels) {
        info.sourceFormat = static_cast<int32_t>(GetBitmapAttr(source, kBitmapAttrPixelFormat));
        info.sourceRowLength = static_cast<int32_t>(GetBitmapAttr(source, kBitmapAttrRowLength));
    }
    info.srcX = sx;
    info.srcY = sy;
    info.dstX = dx;
    info.dstY = dy;
    info.width = w;
    info.height = h;
    CallDisplayHooks(display, kDrawHookBlit, &info);
}

// A playing video draws its own pictures: the display's blits go round it,
// a row run at a time.
void BlitAroundVideos(qbBitmap* source, int32_t srcX, int32_t srcY, qbDisplay* display, int32_t dstX, int32_t dstY,
                      int32_t width, int32_t height, uint32_t flags) {
    std::vector<uint8_t> mask;
    int32_t rowBytes = 0;
    if (dstX < 0 || dstY < 0 || width <= 0 || height <= 0 ||
        !BuildVideoAreaMask(display, dstX + width, dstY + height, &mask, &rowBytes)) {
        BlitToWindow(source->colour.get(), srcX, srcY, display, dstX, dstY, width, height, 0, 0, flags);
        return;
    }
    for (int32_t row = 0; row < height; ++row) {
        const uint8_t* bits = mask.data() + static_cast<size_t>(dstY + row) * static_cast<size_t>(rowBytes);
        for (int32_t x = 0; x < width;) {
            const auto covered = [&](int32_t at) { return (bits[(dstX + at) >> 3] >> (7 - ((dstX + at) & 7))) & 1; };
            if (covered(x)) {
                ++x;
                continue;
            }
            int32_t end = x + 1;
            while (end < width && !covered(end)) ++end;
            BlitToWindow(source->colour.get(), srcX + x, srcY + row, display, dstX + x, dstY + row, end - x, 1, 0, 0,
                         flags);
            x = end;
        }
    }
}

}  // namespace

void BlitToDisplay(qbBitmap* source, int32_t srcX, int32_t srcY, qbDisplay* display, int32_t dstX, int32_t dstY,
                   int32_t width, int32_t height, int32_t scaleWidth, int32_t scaleHeight, uint32_t flags,
                   qbBitmap* mask, qbBitmap* alpha) {
    if (!source || !display) return;
    const bool hooks = DisplayHasHooks(display) && !(flags & kBlitNoHooks);
    if (flags & kBlitDirect) {
        BlitToWindow(source->colour.get(), srcX, srcY, display, dstX, dstY, width, height, scaleWidth, scaleHeight,
                     flags);
        return;
    }
    const bool adapter = HasDisplayAdapter();
    const uint32_t adapterFlags = DisplayAdapterFlags();
    const bool scaled = scaleWidth > 0 && scaleHeight > 0 && !(flags & kBlitPrescaled);
    const bool smooth = display->smoothScale != 0;
    qbBitmap* hookSource = source;
    int32_t hx = srcX, hy = srcY, hdx = dstX, hdy = dstY, hw = width, hh = height;
    if (scaled) {
        ++scaleCount;
        const bool here = adapter ? !(adapterFlags & kAdapterScalesBlits)
                                  : hooks || (display->state == DISPSTATE_OPEN && smooth);
        if (here || (adapter && hooks)) {
            qbBitmap* cache = ScaleIntoCache(source, scaleWidth, scaleHeight, smooth);
            if (!cache) return;
            hookSource = cache;
            hx = hy = hdx = hdy = 0;
            hw = scaleWidth;
            hh = scaleHeight;
            if (here) {
                source = cache;
                srcX = srcY = dstX = dstY = 0;
                width = scaleWidth;
                height = scaleHeight;
                scaleWidth = scaleHeight = 0;
                flags |= kBlitPrescaled;
            }
        }
    }
    const bool toAdapterScaled = scaleWidth > 0 && scaleHeight > 0 && !(flags & kBlitPrescaled);
    if (adapter) {
        if (AdapterDrawsOn(display)) {
            qbAdapterBlitBlock info;
            info.srcX = srcX;
            info.srcY = srcY;
            info.dstX = dstX;
            info.dstY = dstY;
            info.width = width;
            info.height = height;
            info.scaleWidth = toAdapterScaled ? scaleWidth : 0;
            info.scaleHeight = toAdapterScaled ? scaleHeight : 0;
            info.smooth = smooth;
            info.mask = mask ? mask->native : nullptr;
            info.alpha = alpha ? alpha->native : nullptr;
            const uint32_t mode = (toAdapterScaled ? 32u : 0u) | (alpha ? 1u : 0u);
            CallSlot(DisplayAdapterSlots()->BltBitMap, source->native, display->adapterHandle, &info, mode, nullptr);
        }
    } else if (!(flags & kBlitNoVideoMask) && scaleWidth <= 0 && IsVideoOnDisplay(display)) {
        BlitAroundVideos(source, srcX, srcY, display, dstX, dstY, width, height, flags);
    } else {
        BlitToWindow(source->colour.get(), srcX, srcY, display, dstX, dstY, width, height, scaleWidth, scaleHeight,
                     flags);
    }
    if (hooks) CallBlitHooks(display, hookSource, hx, hy, hdx, hdy, hw, hh);
}

void RefreshDisplayRect(qbBitmap* bitmap, int32_t srcX, int32_t srcY, qbDisplay* display, int32_t dstX, int32_t dstY,
                        int32_t width, int32_t height, uint32_t flags) {
    if (!bitmap || !display) return;
    if (display->refreshBlock && !(flags & kRefreshForce)) return;
    const bool scaledSize = display->scaleWidth > 0 && display->scaleHeight > 0;
    int32_t shownWidth = 0, shownHeight = 0;
    if (scaledSize) GetScaledPictureSize(display, &shownWidth, &shownHeight);
    if ((flags & kRefreshScaled) && scaledSize && (shownWidth != bitmap->width || shownHeight != bitmap->height)) {
        if (IsVideoRecording()) return;
        BlitToDisplay(bitmap, 0, 0, display, 0, 0, bitmap->width, bitmap->height, shownWidth, shownHeight, 0, nullptr,
                      nullptr);
        return;
    }
    BlitToDisplay(bitmap, srcX, srcY, display, dstX, dstY, width, height, 0, 0, 0, nullptr, nullptr);
}

void RefreshDisplayRects(qbBitmap* bitmap, const qbWindowRect* rects, int32_t count, qbDisplay* display, int32_t dx,
                         int32_t dy, uint32_t flags) {
    if (!bitmap || !display || count < 1) return;
    if (display->refreshBlock && !(flags & kRefreshForce)) return;
    if (display->scaleWidth > 0 && display->scaleHeight > 0) {
        // A scaled refresh shows the whole picture at once.
        if (flags & kRefreshScaled) {
            int32_t shownWidth = 0, shownHeight = 0;
            GetScaledPictureSize(display, &shownWidth, &shownHeight);
            if (shownWidth != bitmap->width || shownHeight != bitmap->height) {
                RefreshDisplayRect(bitmap, rects[0].x, rects[0].y, display, rects[0].x + dx, rects[0].y + dy,
                                   rects[0].width, rects[0].height, flags);
                return;
            }
        }
    }
    if (HasDisplayAdapter() || DisplayHasHooks(display)) {
        for (int32_t i = 0; i < count; ++i)
            RefreshDisplayRect(bitmap, rects[i].x, rects[i].y, display, rects[i].x + dx, rects[i].y + dy,
                               rects[i].width, rects[i].height, flags);
        return;
    }
    BlitRectsToWindow(bitmap->colour.get(), rects, count, display, dx, dy, 0);
}

void RefreshRectWithLayers(ScriptState* L, int32_t srcX, int32_t srcY, qbDisplay* display, int32_t dstX, int32_t dstY,
                           int32_t width, int32_t height) {
    qbBGPic* picture = GetCurrentBGPic();
    if (!display || !picture) return;
    const int32_t right = std::min(srcX + width, picture->currentWidth);
    const int32_t bottom = std::min(srcY + height, picture->currentHeight);
    if (srcX < 0) {
        dstX -= srcX;
        srcX = 0;
    }
    if (srcY < 0) {
        dstY -= srcY;
        srcY = 0;
    }
    width = right - srcX;
    height = bottom - srcY;
    if (width <= 0 || height <= 0) return;
    // Where sprites lie the window shows the back buffer, the picture and
    // the sprites composed anew; elsewhere the sprite-free picture.
    qbBitmap* from = display->spriteFreeBuffer.get();
    if (RectOverlapsSprites(picture, srcX, srcY, width, height) && display->backBuffer) {
        from = display->backBuffer.get();
        ComposeBGPicRect(L, display, picture, from, srcX, srcY, width, height, 0);
    }
    RefreshDisplayRect(from, srcX, srcY, display, dstX, dstY, width, height, kRefreshScaled);
}

void RefreshDisplay(ScriptState* L, qbDisplay* display) {
    if (!display || !display->bgpic) return;
    // While double buffering the window shows the last flipped frame.
    if (display->showBuffer) {
        PresentDoubleBuffer(L, display, true);
        return;
    }
    qbBitmap* picture = GetComposedBGPicBitmap(L, display, display->bgpic);
    if (!picture) return;
    RefreshDisplayRect(picture, 0, 0, display, 0, 0, picture->width, picture->height, kRefreshScaled);
    RedrawDisplayVideos(display);
}

void FreeBlitScaleCache() { scaleCache.reset(); }

uint64_t BlitScaleCount() { return scaleCount; }
