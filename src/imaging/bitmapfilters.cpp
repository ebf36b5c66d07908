// The bitmap-level filters. Sizes the caller passes are cut to the
// bitmap's own (and each plane's), so a wrong size can only filter less.
#include "imaging/bitmapfilters.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "core/errcodes.h"
#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/colourops.h"
#include "imaging/convolve.h"
#include "imaging/kernels.h"
#include "imaging/oilpaint.h"
#include "imaging/quantize.h"
#include "imaging/swirlripple.h"

namespace {

// The caller's lock when given, else one of its own for the scope.
class FilterLock {
public:
    FilterLock(qbBitmap* bitmap, qbBitmapLock* callers) : lock_(callers) {
        if (lock_) return;
        lock_ = &own_;
        locked_ = LockBitmap(bitmap, 0, &own_) != 0;
    }
    ~FilterLock() {
        if (locked_) UnlockBitmap(&own_);
    }
    FilterLock(const FilterLock&) = delete;
    FilterLock& operator=(const FilterLock&) = delete;
    bool ok() const { return lock_ == &own_ ? locked_ : lock_->lockToken != 0; }
    qbBitmapLock& get() const { return *lock_; }
    uint32_t bytes() const { return lock_->bytesPerPixel; }
    uint32_t* p32() const { return static_cast<uint32_t*>(lock_->pixels); }
    uint16_t* p16() const { return static_cast<uint16_t*>(lock_->pixels); }

private:
    qbBitmapLock own_;
    qbBitmapLock* lock_;
    bool locked_ = false;
};

// The size a filter may touch: the caller's, cut to the bitmap's.
bool CutSize(const qbBitmap* bitmap, int32_t* width, int32_t* height) {
    if (!bitmap) return false;
    *width = std::min(*width, bitmap->width);
    *height = std::min(*height, bitmap->height);
    return *width > 0 && *height > 0;
}

uint8_t* PlaneData(const qbBitmap* plane, int32_t width, int32_t height, int32_t* rowBytes) {
    if (!plane || !plane->plane || plane->kind != kBitmapKindAlpha) return nullptr;
    if (plane->width < width || plane->height < height) return nullptr;
    *rowBytes = static_cast<int32_t>(plane->plane->rowBytes);
    return plane->plane->data;
}

// The planes of a filter that moves pixels, as the kernels address them;
// a plane smaller than the picture is left out.
MaskRows MaskOf(qbBitmap* mask, int32_t width, int32_t height) {
    if (!mask || mask->kind != kBitmapKindMask || mask->width < width || mask->height < height) return {};
    return MaskRowsOf(mask, 0, 0);
}
AlphaRows AlphaOf(qbBitmap* alpha, int32_t width, int32_t height) {
    if (!alpha || alpha->kind != kBitmapKindAlpha || alpha->width < width || alpha->height < height) return {};
    return AlphaRowsOf(alpha, 0, 0);
}

bool Finite(double a, double b = 0, double c = 0) { return std::isfinite(a) && std::isfinite(b) && std::isfinite(c); }

int RunConvolve(int32_t code, const FilterLock* lock, uint8_t* plane, int32_t planeRowBytes, int32_t width,
                int32_t height, double radius, double sigma) {
    qbConvolveRequest r;
    if (lock) {
        r.pixels = lock->get().pixels;
        r.pitch = lock->get().rowLength;
        r.pixelFormat = lock->get().pixelFormat;
        r.bytesPerPixel = lock->bytes();
    }
    r.width = width;
    r.height = height;
    r.plane = plane;
    r.planePitch = planeRowBytes;
    r.radius = radius;
    r.sigma = sigma;
    r.code = code;
    return Convolve(r);
}

}  // namespace

int ConvolveBitmap(int32_t code, qbBitmap* bitmap, qbBitmap* plane, int32_t width, int32_t height, double radius,
                   double sigma, qbBitmapLock* lock) {
    if (!Finite(radius, sigma)) return ERR_WRONGUSAGE;
    if (radius < 0) radius = 0;
    if (radius == 0) sigma = 1.0;
    int32_t rowBytes = 0;
    if (!bitmap) {
        if (!CutSize(plane, &width, &height)) return 0;
        uint8_t* data = PlaneData(plane, width, height, &rowBytes);
        return data ? RunConvolve(code, nullptr, data, rowBytes, width, height, radius, sigma) : 0;
    }
    if (!CutSize(bitmap, &width, &height)) return 0;
    uint8_t* data = PlaneData(plane, width, height, &rowBytes);
    const FilterLock locked(bitmap, lock);
    if (!locked.ok()) return ERR_LOCKBMAP;
    return RunConvolve(code, &locked, data, rowBytes, width, height, radius, sigma);
}

int OilPaintBitmap(qbBitmap* bitmap, int32_t width, int32_t height, double radius) {
    if (!Finite(radius)) return ERR_WRONGUSAGE;
    if (!CutSize(bitmap, &width, &height)) return 0;
    const FilterLock locked(bitmap, nullptr);
    if (!locked.ok()) return ERR_LOCKBMAP;
    qbOilPaintRequest r;
    r.pixels = locked.get().pixels;
    r.width = static_cast<uint32_t>(width);
    r.height = static_cast<uint32_t>(height);
    r.pitch = static_cast<uint32_t>(locked.get().rowLength);
    r.pixelFormat = locked.get().pixelFormat;
    r.radius = radius < 0 ? 0 : radius;
    if (locked.bytes() == 4) OilPaint32(r);
    else if (locked.bytes() == 2) OilPaint16(r);
    return 0;
}

int NormalizeBitmap(qbBitmap* bitmap, int32_t width, int32_t height, uint32_t lowCount, uint32_t highCount,
                    qbBitmapLock* lock) {
    if (!CutSize(bitmap, &width, &height)) return 0;
    const FilterLock locked(bitmap, lock);
    if (!locked.ok()) return ERR_LOCKBMAP;
    if (locked.bytes() != 2 && locked.bytes() != 4) return 0;
    qbStretchRequest r;
    r.pixels = locked.get().pixels;
    r.width = width;
    r.height = height;
    r.pitch = locked.get().rowLength;
    r.blackCount = lowCount;
    r.whiteCount = highCount;
    r.pixelFormat = locked.get().pixelFormat;
    r.bytesPerPixel = locked.bytes();
    StretchLevels(r);
    return 0;
}

int AutoNormalizeBitmap(qbBitmap* bitmap, int32_t width, int32_t height, qbBitmapLock* lock) {
    if (!CutSize(bitmap, &width, &height)) return 0;
    const double n = static_cast<double>(width) * height;
    return NormalizeBitmap(bitmap, width, height, static_cast<uint32_t>(n * 0.02), static_cast<uint32_t>(n * 0.99),
                           lock);
}

int ModulateBitmap(qbBitmap* bitmap, int32_t width, int32_t height, double lightness, double saturation, double hue) {
    if (!Finite(lightness, saturation, hue)) return ERR_WRONGUSAGE;
    if (lightness == 1.0 && saturation == 1.0 && hue == 1.0) return 0;
    if (!CutSize(bitmap, &width, &height)) return 0;
    // Percentages are 32-bit integers; larger factors saturate there.
    auto percent = [](double v) {
        return static_cast<int32_t>(std::min(std::max(v, 0.0) * 100, 2147483647.0));
    };
    const FilterLock locked(bitmap, nullptr);
    if (!locked.ok()) return ERR_LOCKBMAP;
    qbModulateRequest r;
    r.pixels = locked.get().pixels;
    r.width = width;
    r.height = height;
    r.pitch = locked.get().rowLength;
    r.pixelFormat = locked.get().pixelFormat;
    r.lightness = percent(lightness);
    r.saturation = percent(saturation);
    r.hue = percent(hue);
    if (locked.bytes() == 4) ModulatePixels32(r);
    else if (locked.bytes() == 2) ModulatePixels16(r);
    return 0;
}

int ContrastBitmap(qbBitmap* bitmap, int32_t width, int32_t height, bool raise, int32_t steps, qbBitmapLock* lock) {
    if (steps < 1 || !CutSize(bitmap, &width, &height)) return 0;
    const FilterLock locked(bitmap, lock);
    if (!locked.ok()) return ERR_LOCKBMAP;
    const int32_t sign = raise ? 1 : -1;
    const auto& l = locked.get();
    if (locked.bytes() != 2 && locked.bytes() != 4) return 0;
    // Each step moves the levels towards its fixed points; once a step
    // changes nothing, no later one does, so a count of millions ends there.
    const size_t rowBytes = static_cast<size_t>(width) * locked.bytes();
    const size_t pitchBytes = static_cast<size_t>(l.rowLength) * locked.bytes();
    std::vector<uint8_t> before;
    for (int32_t i = 0; i < steps; ++i) {
        const bool watch = i >= 2;
        if (watch) {
            before.resize(rowBytes * static_cast<size_t>(height));
            for (int32_t y = 0; y < height; ++y)
                std::memcpy(&before[y * rowBytes], static_cast<const uint8_t*>(l.pixels) + y * pitchBytes, rowBytes);
        }
        if (locked.bytes() == 4) ContrastPixels32(locked.p32(), width, height, l.rowLength, l.pixelFormat, sign);
        else ContrastPixels16(locked.p16(), width, height, l.rowLength, l.pixelFormat, sign);
        if (!watch) continue;
        bool same = true;
        for (int32_t y = 0; y < height && same; ++y)
            same = std::memcmp(&before[y * rowBytes], static_cast<const uint8_t*>(l.pixels) + y * pitchBytes,
                               rowBytes) == 0;
        if (same) break;
    }
    return 0;
}

int SepiaToneBitmap(qbBitmap* bitmap, int32_t width, int32_t height, int32_t threshold) {
    if (!CutSize(bitmap, &width, &height)) return 0;
    threshold = std::clamp(threshold, 0, 255);
    FilterLock locked(bitmap, nullptr);
    if (!locked.ok()) return ERR_LOCKBMAP;
    const auto& l = locked.get();
    if (locked.bytes() == 4) SepiaPixels32(locked.p32(), width, height, l.rowLength, l.pixelFormat, threshold);
    else if (locked.bytes() == 2) SepiaPixels16(locked.p16(), width, height, l.rowLength, l.pixelFormat, threshold);
    else return 0;
    AutoNormalizeBitmap(bitmap, width, height, &locked.get());
    return ContrastBitmap(bitmap, width, height, true, 1, &locked.get());
}

void BuildGammaTable(uint8_t table[256], double gamma) {
    if (gamma == 0) {
        std::fill(table, table + 256, uint8_t{0});
        return;
    }
    for (int i = 0; i < 256; ++i) {
        const double v = 255 * std::pow(i / 255.0, 1 / gamma);
        table[i] = v < 0 ? 0 : v > 255 ? 255 : static_cast<uint8_t>(v + 0.5);
    }
}

int GammaBitmap(qbBitmap* bitmap, int32_t width, int32_t height, double red, double green, double blue) {
    if (!Finite(red, green, blue)) return ERR_WRONGUSAGE;
    red = std::max(red, 0.0);
    green = std::max(green, 0.0);
    blue = std::max(blue, 0.0);
    uint32_t channels = (red != 1.0 ? 1u : 0u) | (green != 1.0 ? 2u : 0u) | (blue != 1.0 ? 4u : 0u);
    if (channels == 0 || !CutSize(bitmap, &width, &height)) return 0;
    uint8_t tables[3][256];
    const uint8_t* r = nullptr;
    const uint8_t* g = nullptr;
    const uint8_t* b = nullptr;
    if (channels & 1) {
        BuildGammaTable(tables[0], red);
        r = tables[0];
    }
    if (channels & 2) {
        if (r && green == red) g = r;
        else BuildGammaTable(tables[1], green), g = tables[1];
    }
    if (channels & 4) {
        if (r && blue == red) b = r;
        else if (g && blue == green) b = g;
        else BuildGammaTable(tables[2], blue), b = tables[2];
    }
    const FilterLock locked(bitmap, nullptr);
    if (!locked.ok()) return ERR_LOCKBMAP;
    qbGammaRequest q;
    q.pixels = locked.get().pixels;
    q.width = width;
    q.height = height;
    q.pitch = locked.get().rowLength;
    q.pixelFormat = locked.get().pixelFormat;
    q.red = r;
    q.green = g;
    q.blue = b;
    q.channels = channels;
    if (locked.bytes() == 4) GammaPixels32(q);
    else if (locked.bytes() == 2) GammaPixels16(q);
    return 0;
}

int SolarizeBitmap(qbBitmap* bitmap, int32_t width, int32_t height, int32_t threshold) {
    if (!CutSize(bitmap, &width, &height)) return 0;
    threshold = std::clamp(threshold, 0, 255);
    const FilterLock locked(bitmap, nullptr);
    if (!locked.ok()) return ERR_LOCKBMAP;
    const auto& l = locked.get();
    if (locked.bytes() == 4) SolarizePixels32(locked.p32(), width, height, l.rowLength, l.pixelFormat, threshold);
    else if (locked.bytes() == 2) SolarizePixels16(locked.p16(), width, height, l.rowLength, l.pixelFormat, threshold);
    return 0;
}

int PixelateBitmap(qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t width, int32_t height, int32_t block) {
    if (block < 2 || !CutSize(bitmap, &width, &height)) return 0;
    block = std::min({block, width, height});
    const FilterLock locked(bitmap, nullptr);
    if (!locked.ok()) return ERR_LOCKBMAP;
    const auto& l = locked.get();
    // Each block reads its top-left pixel before writing the block, so the
    // kernel needs no copy of the picture.
    if (locked.bytes() == 4)
        Pixelate32(PixelRows32{locked.p32(), l.rowLength, 0, 0}, width, height, block, MaskOf(mask, width, height),
                   AlphaOf(alpha, width, height));
    else if (locked.bytes() == 2)
        Pixelate16(PixelRows16{locked.p16(), l.rowLength, 0, 0}, width, height, block, MaskOf(mask, width, height),
                   AlphaOf(alpha, width, height));
    return 0;
}

int InvertBitmap(qbBitmap* bitmap, int32_t width, int32_t height, qbBitmapLock* lock) {
    if (!CutSize(bitmap, &width, &height)) return 0;
    const FilterLock locked(bitmap, lock);
    if (!locked.ok()) return ERR_LOCKBMAP;
    const auto& l = locked.get();
    if (locked.bytes() == 4) Invert32(PixelRows32{locked.p32(), l.rowLength, 0, 0}, width, height);
    else if (locked.bytes() == 2) Invert16(PixelRows16{locked.p16(), l.rowLength, 0, 0}, width, height);
    return 0;
}

int FlipBitmap(qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t width, int32_t height, int32_t direction) {
    if (!CutSize(bitmap, &width, &height)) return 0;
    const FilterLock locked(bitmap, nullptr);
    if (!locked.ok()) return ERR_LOCKBMAP;
    const auto& l = locked.get();
    if (locked.bytes() != 2 && locked.bytes() != 4) return 0;
    FlipRect(l.pixels, l.rowLength, static_cast<int32_t>(locked.bytes()), width, height, direction == 1,
             MaskOf(mask, width, height), AlphaOf(alpha, width, height));
    return 0;
}

int GrayscaleBitmap(qbBitmap* bitmap, int32_t width, int32_t height, bool blackWhite, qbBitmapLock* lock) {
    if (!CutSize(bitmap, &width, &height)) return 0;
    const FilterLock locked(bitmap, lock);
    if (!locked.ok()) return ERR_LOCKBMAP;
    const auto& l = locked.get();
    if (locked.bytes() == 4)
        Gray32(PixelRows32{locked.p32(), l.rowLength, 0, 0}, width, height, l.pixelFormat, blackWhite);
    else if (locked.bytes() == 2)
        Gray16(PixelRows16{locked.p16(), l.rowLength, 0, 0}, width, height,
               Layout16OfFormat(static_cast<int>(l.pixelFormat)), blackWhite);
    return 0;
}

int MonochromeBitmap(qbBitmap* bitmap, int32_t width, int32_t height, bool dither) {
    if (!dither) return GrayscaleBitmap(bitmap, width, height, true, nullptr);
    if (!CutSize(bitmap, &width, &height)) return 0;
    const FilterLock locked(bitmap, nullptr);
    if (!locked.ok()) return ERR_LOCKBMAP;
    const auto& l = locked.get();
    if (locked.bytes() != 2 && locked.bytes() != 4) return 0;
    std::vector<uint8_t> indices;
    try {
        indices.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    uint32_t palette[256];
    int32_t count = 2;
    if (!QuantizePixels(l.pixels, static_cast<int>(l.pixelFormat), static_cast<int>(locked.bytes()), width, height,
                        l.rowLength, indices.data(), palette, &count, kNoTransparentColour, false, true))
        return ERR_MEM;
    if (locked.bytes() == 4) FillFromByteMask32(locked.p32(), width, height, l.pixelFormat, l.rowLength, indices.data());
    else FillFromByteMask16(locked.p16(), width, height, l.pixelFormat, l.rowLength, indices.data());
    return 0;
}

int QuantizeBitmap(qbBitmap* bitmap, int32_t width, int32_t height, int32_t colours, bool dither) {
    if (!CutSize(bitmap, &width, &height)) return 0;
    std::vector<uint8_t> indices;
    try {
        indices.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    const FilterLock locked(bitmap, nullptr);
    if (!locked.ok()) return ERR_LOCKBMAP;
    const auto& l = locked.get();
    const int bytes = static_cast<int>(locked.bytes());
    const int format = static_cast<int>(l.pixelFormat);
    if (bytes < 2 || bytes > 4 || BytesPerPixel(format) != bytes) return 0;
    uint32_t palette[256];
    int32_t count = std::clamp(colours, 1, 256);
    if (!QuantizePixels(l.pixels, format, bytes, width, height, l.rowLength, indices.data(), palette, &count,
                        kNoTransparentColour, false, dither))
        return ERR_MEM;
    // Each entry in the pixel format once; 3-byte pixels take the value's
    // bytes from the top, as the quantiser read them.
    uint32_t values[256] = {};
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t rgb[3] = {static_cast<uint8_t>(palette[i] >> 16), static_cast<uint8_t>(palette[i] >> 8),
                                static_cast<uint8_t>(palette[i])};
        if (format == kFormatRGB24) values[i] = palette[i];
        else if (format == kFormatBGR24) values[i] = uint32_t{rgb[2]} << 16 | uint32_t{rgb[1]} << 8 | rgb[0];
        else WritePixelRGB(&values[i], format, rgb);
    }
    auto* base = static_cast<uint8_t*>(l.pixels);
    const uint8_t* index = indices.data();
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = base + static_cast<size_t>(y) * static_cast<size_t>(l.rowLength) * bytes;
        for (int32_t x = 0; x < width; ++x, ++index) {
            const uint32_t v = values[*index];
            uint8_t* p = row + static_cast<size_t>(x) * bytes;
            if (bytes == 3) p[0] = static_cast<uint8_t>(v >> 16), p[1] = static_cast<uint8_t>(v >> 8),
                            p[2] = static_cast<uint8_t>(v);
            else std::memcpy(p, &v, static_cast<size_t>(bytes));  // the low bytes hold a 16-bit value
        }
    }
    return 0;
}

// Swirl and ripple move pixels within one bitmap: source and target are the
// same rows, with the planes moving alongside.
template <class Request>
void SetDisplaceTarget(Request& r, const qbBitmapLock& l, qbBitmap* mask, qbBitmap* alpha, int32_t width,
                       int32_t height) {
    const MaskRows m = MaskOf(mask, width, height);
    const AlphaRows a = AlphaOf(alpha, width, height);
    r.destination = l.pixels;
    r.destinationPitch = r.sourcePitch = l.rowLength;
    r.pixelFormat = l.pixelFormat;
    r.width = width;
    r.height = height;
    r.destinationMask = m.data;
    r.destinationMaskPitch = r.sourceMaskPitch = m.rowBytes;
    r.destinationAlpha = a.data;
    r.destinationAlphaPitch = r.sourceAlphaPitch = a.rowBytes;
}

int SwirlBitmap(qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t width, int32_t height, int32_t angle) {
    if (!CutSize(bitmap, &width, &height)) return 0;
    angle = std::clamp(angle, -359, 359);
    std::vector<double> sine, cosine;
    try {
        sine.resize(kDisplaceTableSize);
        cosine.resize(kDisplaceTableSize);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    const FilterLock locked(bitmap, nullptr);
    if (!locked.ok()) return ERR_LOCKBMAP;
    if (locked.bytes() != 2 && locked.bytes() != 4) return 0;
    qbSwirlRequest r;
    SetDisplaceTarget(r, locked.get(), mask, alpha, width, height);
    r.sine = sine.data();
    r.cosine = cosine.data();
    InitSwirlTables(r);
    if (locked.bytes() == 4) SwirlPixels32(r, angle);
    else SwirlPixels16(r, angle);
    return 0;
}

int WaterRippleBitmap(qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t width, int32_t height,
                      int32_t waveLength, int32_t amplitude, int32_t phase, double centreX, double centreY) {
    if (!Finite(centreX, centreY)) return ERR_WRONGUSAGE;
    if (!CutSize(bitmap, &width, &height)) return 0;
    centreX = std::clamp(centreX, 0.0, 1.0);
    centreY = std::clamp(centreY, 0.0, 1.0);
    std::vector<double> sine;
    std::vector<int32_t> distances;
    try {
        sine.resize(kDisplaceTableSize);
        distances.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    const FilterLock locked(bitmap, nullptr);
    if (!locked.ok()) return ERR_LOCKBMAP;
    if (locked.bytes() != 2 && locked.bytes() != 4) return 0;
    qbRippleRequest r;
    SetDisplaceTarget(r, locked.get(), mask, alpha, width, height);
    r.distances = distances.data();
    r.sine = sine.data();
    r.waveLength = std::max(waveLength, 1);
    r.amplitude = amplitude;
    r.centreX = static_cast<int32_t>(width * centreX);
    r.centreY = static_cast<int32_t>(height * centreY);
    r.extent = std::max(r.centreX, r.centreY);
    r.phase = phase;
    InitRippleTables(r);
    if (locked.bytes() == 4) RipplePixels32(r, -1);
    else RipplePixels16(r, -1);
    return 0;
}

int CharcoalBitmap(qbBitmap* bitmap, qbBitmap* plane, int32_t width, int32_t height, double radius, double sigma) {
    if (!Finite(radius, sigma)) return ERR_WRONGUSAGE;
    if (radius < 0) radius = 0;
    if (!CutSize(bitmap, &width, &height)) return 0;
    FilterLock locked(bitmap, nullptr);
    if (!locked.ok()) return ERR_LOCKBMAP;
    qbBitmapLock* l = &locked.get();
    GrayscaleBitmap(bitmap, width, height, false, l);
    ConvolveBitmap(kConvolveEdge, bitmap, plane, width, height, radius, 0, l);
    ConvolveBitmap(kConvolveBlur, bitmap, plane, width, height, radius, sigma, l);
    AutoNormalizeBitmap(bitmap, width, height, l);
    InvertBitmap(bitmap, width, height, l);
    return GrayscaleBitmap(bitmap, width, height, false, l);
}

void FillPixelRect(void* pixels, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
                   int32_t level, int32_t rowLength, uint32_t format) {
    if (!pixels || width < 1 || height < 1 || level <= 0) return;
    const uint8_t rgb[3] = {static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 8),
                            static_cast<uint8_t>(colour)};
    uint32_t pixel = 0;
    WritePixelRGB(&pixel, static_cast<int>(format), rgb);
    if (BytesPerPixel(static_cast<int>(format)) == 4) {
        const PixelRows32 rows{static_cast<uint32_t*>(pixels), rowLength, x, y};
        if (level >= 255) FillRect32(rows, width, height, pixel);
        else BlendFill32(rows, width, height, format, colour & 0xFFFFFFu, static_cast<uint32_t>(level));
    } else if (BytesPerPixel(static_cast<int>(format)) == 2) {
        const PixelRows16 rows{static_cast<uint16_t*>(pixels), rowLength, x, y};
        if (level >= 255) FillRect16(rows, width, height, static_cast<uint16_t>(pixel));
        else BlendFill16(rows, width, height, Layout16OfFormat(static_cast<int>(format)), static_cast<uint16_t>(pixel),
                         static_cast<uint32_t>(level));
    }
}

int TintBitmap(qbBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
               int32_t level) {
    if (!bitmap || x < 0 || y < 0 || x >= bitmap->width || y >= bitmap->height) return 0;
    width = std::min(width, bitmap->width - x);
    height = std::min(height, bitmap->height - y);
    if (width < 1 || height < 1) return 0;
    const FilterLock locked(bitmap, nullptr);
    if (!locked.ok()) return ERR_LOCKBMAP;
    const auto& l = locked.get();
    FillPixelRect(l.pixels, x, y, width, height, colour, std::clamp(level, 0, 255), l.rowLength, l.pixelFormat);
    return 0;
}
