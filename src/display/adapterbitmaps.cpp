#include "display/adapterbitmaps.h"

#include <cstring>
#include <new>
#include <vector>

#include "core/errcodes.h"
#include "core/plugin.h"
#include "core/pluginadapters.h"
#include "core/pixelformats.h"
#include "display/adapter.h"
#include "imaging/kernels.h"

namespace {

constexpr uint32_t kCapsVideoBitmaps = 8, kCapsDisplayBitmaps = 32;
constexpr uint32_t kCapsByFeature[] = {4, 16, 64, 128};
constexpr uint32_t kAdapterDisplayBitmaps = 0x2;
constexpr uint32_t kOpaque = 0xFF000000u;

const qbDisplayAdapterSlots* VideoSlots() {
    const qbDisplayAdapterSlots* slots = DisplayAdapterSlots();
    if (!slots || !(DisplayAdapterFlags() & kAdapterVideoBitmaps)) return nullptr;
    return slots;
}

bool IsAdapterBitmap(const qbBitmap* bitmap) {
    return bitmap && bitmap->kind == kBitmapKindColour && bitmap->videoFlag == 1 && !bitmap->colour &&
           bitmap->native;
}

// A copy of a bitmap's pixels whose alpha comes from its mask (255 where a
// bit is set) or its alpha plane; opaque without either.
std::vector<uint32_t> SourceCopy(const qbVideoBitmapRequest& r, int32_t width, int32_t height, bool* withAlpha) {
    *withAlpha = r.sourceMask || r.sourceAlpha;
    std::vector<uint32_t> copy =
        GetBitmapARGB(r.source, 0, 0, width, height, r.sourceMask, r.sourceAlpha, kNoKeyColour, true, 0);
    if (!*withAlpha)
        for (uint32_t& p : copy) p |= kOpaque;
    return copy;
}

void FreeHook(void* native) {
    if (const qbDisplayAdapterSlots* slots = DisplayAdapterSlots()) CallSlot(slots->FreeVideoBitMap, native);
}

int FromPixelsHook(const uint32_t* pixels, int32_t keyColour, int32_t width, int32_t height, int32_t rowPixels,
                   qbBitmap** alpha, void** out, bool* fallback) {
    BitmapPtr plane(alpha ? *alpha : nullptr);
    const int err = PixelsToAdapterBitmap(pixels, keyColour, width, height, rowPixels, 0, 0, out, &plane, fallback);
    if (alpha) *alpha = plane.release();
    return err;
}

}  // namespace

uint32_t GetAdapterSupportFlags(uint32_t requested) {
    const qbDisplayAdapter& a = DisplayAdapter();
    if (!a.plugin) return 0;
    uint32_t granted = 0;
    if (a.flags & kAdapterVideoBitmaps) granted |= requested & kCapsVideoBitmaps;
    if (a.flags & kAdapterDisplayBitmaps) granted |= requested & kCapsDisplayBitmaps;
    for (uint32_t bit = 0; bit < std::size(kCapsByFeature); ++bit)
        if (a.features & (1u << bit)) granted |= requested & kCapsByFeature[bit];
    return granted;
}

int PixelsToAdapterBitmap(const uint32_t* pixels, int32_t keyColour, int32_t width, int32_t height,
                          int32_t rowPixels, int mode, intptr_t value, void** out, BitmapPtr* alpha, bool* fallback) {
    *out = nullptr;
    *fallback = false;
    if (!pixels || width < 1 || height < 1) return ERR_BITMAP;
    const int32_t stride = std::max(rowPixels, width);
    std::vector<uint32_t> block;
    const uint32_t* data = pixels;
    int32_t format = kBlockAlpha;
    if (mode == 0) {
        try {
            block.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
        const qbBitmapPlane* plane = alpha && *alpha ? (*alpha)->plane.get() : nullptr;
        const uint32_t key = static_cast<uint32_t>(keyColour) & 0xFFFFFF;
        for (int32_t y = 0; y < height; ++y) {
            const uint32_t* in = pixels + static_cast<size_t>(y) * stride;
            uint32_t* to = block.data() + static_cast<size_t>(y) * width;
            const uint8_t* a = plane ? plane->data + static_cast<size_t>(y) * plane->rowBytes : nullptr;
            for (int32_t x = 0; x < width; ++x) {
                const uint32_t rgb = in[x] & 0xFFFFFF;
                if (a)
                    to[x] = uint32_t{a[x]} << 24 | rgb;
                else if (keyColour != kNoKeyColour)
                    to[x] = rgb == key ? rgb : kOpaque | rgb;
                else
                    to[x] = kOpaque | rgb;
            }
        }
        if (plane) alpha->reset();
        else if (keyColour == kNoKeyColour) format = kBlockOpaque;
        data = block.data();
    }
    const qbDisplayAdapterSlots* slots = DisplayAdapterSlots();
    if (slots && slots->AllocVideoBitMap) {
        const qbAdapterTag tags[] = {{kVideoTagPixels, reinterpret_cast<intptr_t>(data)},
                                     {kVideoTagFormat, format},
                                     {kVideoTagRowLength, mode == 0 ? width : stride},
                                     {0, 0}};
        uint32_t state = 0;
        *out = slots->AllocVideoBitMap(width, height, static_cast<uint32_t>(value), &state, tags);
    }
    if (*out) return 0;
    if (!slots || !(DisplayAdapterFlags() & kAdapterBitmapFallback)) return ERR_BITMAP;
    *fallback = true;
    return 0;
}

bool AllocAdapterVideoBitmap(int32_t width, int32_t height, uint32_t flags, uint32_t* state,
                             qbVideoBitmapRequest* request, void** out) {
    const qbDisplayAdapterSlots* slots = VideoSlots();
    if (!slots) return false;
    *out = nullptr;
    std::vector<qbAdapterTag> tags;
    std::vector<uint32_t> copy;
    uint32_t added = 0;
    if (request && request->displayHandle)
        tags.push_back({kVideoTagDisplay, reinterpret_cast<intptr_t>(request->displayHandle)});
    if (request && request->argb) {
        tags.push_back({kVideoTagPixels, reinterpret_cast<intptr_t>(request->argb)});
    } else if (request && IsAdapterBitmap(request->source)) {
        tags.push_back({kVideoTagPixels, reinterpret_cast<intptr_t>(request->source->native)});
        added |= kVideoFlagAdapterData;
    } else if (request && request->source) {
        bool withAlpha = false;
        copy = SourceCopy(*request, width, height, &withAlpha);
        if (copy.empty()) return true;
        if (withAlpha) added |= kVideoFlagAlpha;
        tags.push_back({kVideoTagPixels, reinterpret_cast<intptr_t>(copy.data())});
    }
    const intptr_t* values = request ? request->values : nullptr;
    tags.push_back({kVideoTagValue1, values ? values[0] : 0});
    tags.push_back({kVideoTagValue2, values ? values[1] : 0});
    if (request && request->transform)
        tags.push_back({kVideoTagTransform, reinterpret_cast<intptr_t>(request->transform)});
    tags.push_back({kVideoTagValue3, values ? values[2] : 0});
    tags.push_back({0, 0});
    *out = CallSlot(slots->AllocVideoBitMap, width, height, flags | added, state, tags.data());
    if ((added & kVideoFlagAlpha) && request) request->hasAlpha = 1;
    return true;
}

int ReadAdapterBitmapPixels(void* native, int32_t bitmapWidth, int32_t bitmapHeight, int32_t x, int32_t y,
                            int32_t width, int32_t height, uint32_t* out, std::vector<uint8_t>* alpha) {
    const qbDisplayAdapterSlots* slots = DisplayAdapterSlots();
    if (!slots || !slots->ReadVideoPixels) return ERR_READVIDEOPIXELS;
    int32_t format = kFormatARGB;
    int32_t hasAlpha = 0;
    const qbAdapterTag tags[] = {{kReadTagFormat, reinterpret_cast<intptr_t>(&format)},
                                 {kReadTagHasAlpha, reinterpret_cast<intptr_t>(&hasAlpha)},
                                 {0, 0}};
    void* pixels = slots->ReadVideoPixels(native, tags);
    if (!pixels) return ERR_READVIDEOPIXELS;
    const int bytes = format >= 0 && format <= kLastColourFormat ? BytesPerPixel(format) : 0;
    int err = 0;
    if (bytes != 2 && bytes != 4) err = ERR_READVIDEOPIXELS;
    // Only the 32-bit ARGB orders have an alpha byte: the first for 11 and
    // 12, the fourth for 10 and 13.
    const bool withAlpha = !err && alpha && hasAlpha;
    if (withAlpha && (format < kFormatARGB || format > 13)) err = ERR_WRONGUSAGE;
    if (!err && withAlpha) {
        try {
            alpha->assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
        } catch (const std::bad_alloc&) {
            err = ERR_ALLOCALPHA;
        }
    }
    const int alphaByte = format == 11 || format == 12 ? 0 : 3;
    const auto* base = static_cast<const uint8_t*>(pixels);
    for (int32_t row = 0; !err && row < height; ++row) {
        const int32_t sy = y + row;
        for (int32_t col = 0; col < width; ++col) {
            const int32_t sx = x + col;
            if (sx < 0 || sy < 0 || sx >= bitmapWidth || sy >= bitmapHeight) continue;
            const size_t at = static_cast<size_t>(sy) * static_cast<size_t>(bitmapWidth) + static_cast<size_t>(sx);
            const size_t i = static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(col);
            if (bytes == 4) {
                uint32_t p;
                std::memcpy(&p, base + at * 4, 4);
                out[i] = Pixel32ToARGB(format, p) & 0xFFFFFF;
                if (withAlpha) (*alpha)[i] = base[at * 4 + alphaByte];
            } else {
                uint8_t rgb[3];
                ReadPixelRGB(base + at * 2, format, rgb);
                out[i] = uint32_t{rgb[0]} << 16 | uint32_t{rgb[1]} << 8 | rgb[2];
            }
        }
    }
    FreeAdapterVideoPixels(pixels);
    if (err && alpha) alpha->clear();
    return err;
}

int FreeAdapterVideoPixels(void* pixels) {
    const qbDisplayAdapter& a = DisplayAdapter();
    const qbDisplayAdapterSlots* slots = DisplayAdapterSlots();
    if (!slots || !a.plugin || a.plugin->callingMode == kPluginCallMarshalled) return 0;
    CallSlot(slots->FreeVideoPixels, pixels);
    return 1;
}

void InstallAdapterBitmapHooks(bool on) {
    static constexpr qbVideoBitmapHooks kHooks{AllocAdapterVideoBitmap, FreeHook, FromPixelsHook};
    SetVideoBitmapHooks(on ? &kHooks : nullptr);
}
