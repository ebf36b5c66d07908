// The colour operations. Each per-pixel rule works on channel bytes; the
// two loops below carry it over 4-byte and 2-byte pixels.
#include "imaging/colourops.h"

#include <algorithm>
#include <cmath>

#include "imaging/channels.h"
#include "imaging/colourops_avx2.h"
#include "imaging/simdrows.h"

namespace {

constexpr double kInv255 = 0.00392156862745098;
constexpr double kPi = 3.141592653589793;
constexpr double kThird = 0.3333333333333333;
constexpr double kTwoThirds = 0.6666666666666666;

uint32_t Clamp(double v) { return ClampChannel(v); }

template <typename F>
void Each32(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch, uint32_t format, F f) {
    if (!pixels) return;
    for (int32_t y = 0; y < height; ++y) {
        uint32_t* row = pixels + static_cast<ptrdiff_t>(y) * pitch;
        if (format == kFormatARGB) {
            for (int32_t x = 0; x < width; ++x) {
                uint32_t r = (row[x] >> 16) & 0xFFu, g = (row[x] >> 8) & 0xFFu, b = row[x] & 0xFFu;
                f(r, g, b);
                row[x] = r << 16 | g << 8 | b;
            }
            continue;
        }
        for (int32_t x = 0; x < width; ++x) {
            qbChannels c = ReadChannels32(format, row[x]);
            f(c.r, c.g, c.b);
            row[x] = WriteChannels32(format, c.r, c.g, c.b);
        }
    }
}

template <typename F>
void Each16(uint16_t* pixels, int32_t width, int32_t height, int32_t pitch, uint32_t format, F f) {
    if (!pixels) return;
    for (int32_t y = 0; y < height; ++y) {
        uint16_t* row = pixels + static_cast<ptrdiff_t>(y) * pitch;
        for (int32_t x = 0; x < width; ++x) {
            qbChannels c = ReadChannels16(format, row[x]);
            f(c.r, c.g, c.b);
            row[x] = WriteChannels16(format, c.r, c.g, c.b);
        }
    }
}

struct SolarizeTable {
    uint8_t t[256];
    explicit SolarizeTable(int32_t threshold) {
        for (int32_t c = 0; c < 256; ++c) t[c] = static_cast<uint8_t>(c > threshold ? 255 - c : c);
    }
};

double Brightness(uint32_t r, uint32_t g, uint32_t b) { return 0.299 * r + 0.587 * g + 0.114 * b; }

void Sepia(double t, uint32_t& r, uint32_t& g, uint32_t& b) {
    const double y = Brightness(r, g, b);
    r = y > t ? 255 : Clamp(255 + y - t);
    g = y > t * 7 / 6 ? 255 : Clamp(255 + y + t * 7 / -6);
    b = t / 6 > y ? 0 : Clamp(y + t / -6);
    const double m = t / 7;
    if (m > g) g = Clamp(m);
    if (m > b) b = Clamp(m);
}

// v' of the contrast rule depends on max(R, G, B) alone.
struct ContrastTable {
    double v[256];
    explicit ContrastTable(int32_t sign) {
        for (int32_t m = 0; m < 256; ++m) {
            const double value = m * kInv255;
            const double s = static_cast<double>(sign);
            v[m] = std::clamp(s * 0.5 * (0.5 * (std::sin((value - 0.5) * kPi) + 1) - value) + value, 0.0, 1.0);
        }
    }
};

void ContrastWith(const ContrastTable& table, uint32_t& r, uint32_t& g, uint32_t& b) {
    const uint32_t mx = std::max({r, g, b}), mn = std::min({r, g, b});
    const double vp = table.v[mx];
    if (mx == 0 || mx == mn) {  // saturation 0
        r = g = b = Clamp(vp * 255);
        return;
    }
    const auto delta = static_cast<double>(mx - mn);
    const double sat = delta / mx;
    double hue;
    const double dr = r, dg = g, db = b;
    if (r == mx) hue = (dg - db) / delta;
    else if (g == mx) hue = (db - dr) / delta + 2;
    else hue = (dr - dg) / delta + 4;
    hue /= 6;
    if (hue < 0) hue += 1;
    // hue lies in 0..1 here and h in 0..6, so their floors are integer
    // conversions (a libm call each on the baseline instruction set).
    const double h = (hue - (hue >= 1 ? 1.0 : 0.0)) * 6;
    const double f = h - static_cast<double>(static_cast<int>(h));
    const double p = (1 - sat) * vp, q = (1 - sat * f) * vp, t = (1 - sat * (1 - f)) * vp;
    double cr, cg, cb;
    switch (static_cast<int>(h)) {
    case 1: cr = q; cg = vp; cb = p; break;
    case 2: cr = p; cg = vp; cb = t; break;
    case 3: cr = p; cg = q; cb = vp; break;
    case 4: cr = t; cg = p; cb = vp; break;
    case 5: cr = vp; cg = p; cb = q; break;
    default: cr = vp; cg = t; cb = p; break;
    }
    r = Clamp(cr * 255);
    g = Clamp(cg * 255);
    b = Clamp(cb * 255);
}

double HueChannel(double m1, double m2, double x) {
    if (x < 0) x += 1;
    else if (x > 1) x -= 1;
    if (6 * x < 1) return m1 + (m2 - m1) * 6 * x;
    if (2 * x < 1) return m2;
    if (3 * x < 2) return m1 + (m2 - m1) * 6 * (kTwoThirds - x);
    return m1;
}

void Histogram(const qbStretchRequest& r, uint32_t histogram[256]) {
    std::fill(histogram, histogram + 256, 0u);
    for (int32_t y = 0; y < r.height; ++y)
        for (int32_t x = 0; x < r.width; ++x) {
            const qbChannels c =
                r.bytesPerPixel == 4
                    ? ReadChannels32(r.pixelFormat,
                                     static_cast<const uint32_t*>(r.pixels)[static_cast<ptrdiff_t>(y) * r.pitch + x])
                    : ReadChannels16(r.pixelFormat,
                                     static_cast<const uint16_t*>(r.pixels)[static_cast<ptrdiff_t>(y) * r.pitch + x]);
            ++histogram[static_cast<uint32_t>(Brightness(c.r, c.g, c.b)) & 0xFFu];
        }
}

}  // namespace

void SolarizePixels32(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch, uint32_t format,
                      int32_t threshold) {
    const SolarizeTable s(threshold);
    Each32(pixels, width, height, pitch, format, [&s](uint32_t& r, uint32_t& g, uint32_t& b) {
        r = s.t[r];
        g = s.t[g];
        b = s.t[b];
    });
}

void SolarizePixels16(uint16_t* pixels, int32_t width, int32_t height, int32_t pitch, uint32_t format,
                      int32_t threshold) {
    const SolarizeTable s(threshold);
    Each16(pixels, width, height, pitch, format, [&s](uint32_t& r, uint32_t& g, uint32_t& b) {
        r = s.t[r];
        g = s.t[g];
        b = s.t[b];
    });
}

namespace {

// The three tables with the identity for channels left alone, so the
// per-pixel work is three lookups without a test.
struct GammaTables {
    uint8_t t[3][256];
    explicit GammaTables(const qbGammaRequest& q) {
        const uint8_t* given[3] = {q.red, q.green, q.blue};
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < 256; ++i)
                t[c][i] = (q.channels >> c & 1) && given[c] ? given[c][i] : static_cast<uint8_t>(i);
    }
};

}  // namespace

void GammaPixels32(const qbGammaRequest& q) {
    const GammaTables g(q);
    Each32(static_cast<uint32_t*>(q.pixels), q.width, q.height, q.pitch, q.pixelFormat,
           [&g](uint32_t& r, uint32_t& gr, uint32_t& b) {
               r = g.t[0][r];
               gr = g.t[1][gr];
               b = g.t[2][b];
           });
}

void GammaPixels16(const qbGammaRequest& q) {
    Each16(static_cast<uint16_t*>(q.pixels), q.width, q.height, q.pitch, q.pixelFormat,
           [&q](uint32_t& r, uint32_t& g, uint32_t& b) {
               if (q.channels & 1) r = q.red[r];
               if (q.channels & 2) g = q.green[g];
               if (q.channels & 4) b = q.blue[b];
           });
}

void SepiaPixels32(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch, uint32_t format, int32_t threshold) {
    const double t = threshold;
    Each32(pixels, width, height, pitch, format, [t](uint32_t& r, uint32_t& g, uint32_t& b) { Sepia(t, r, g, b); });
}

void SepiaPixels16(uint16_t* pixels, int32_t width, int32_t height, int32_t pitch, uint32_t format, int32_t threshold) {
    const double t = threshold;
    Each16(pixels, width, height, pitch, format, [t](uint32_t& r, uint32_t& g, uint32_t& b) { Sepia(t, r, g, b); });
}

void ContrastPixel(int32_t sign, uint32_t* r, uint32_t* g, uint32_t* b) {
    const ContrastTable table(sign);
    ContrastWith(table, *r, *g, *b);
}

void ContrastPixels32With(KernelIsa isa, uint32_t* pixels, int32_t width, int32_t height, int32_t pitch,
                          uint32_t format, int32_t sign) {
    const ContrastTable table(sign);
    if (format == kFormatARGB && UsableIsa(isa) == KernelIsa::Avx2 && pixels) {
        for (int32_t y = 0; y < height; ++y) {
            uint32_t* row = pixels + static_cast<ptrdiff_t>(y) * pitch;
            const size_t done = ContrastArgbAvx2(row, static_cast<size_t>(width), table.v);
            Each32(row + done, width - static_cast<int32_t>(done), 1, pitch, format,
                   [&table](uint32_t& r, uint32_t& g, uint32_t& b) { ContrastWith(table, r, g, b); });
        }
        return;
    }
    Each32(pixels, width, height, pitch, format,
           [&table](uint32_t& r, uint32_t& g, uint32_t& b) { ContrastWith(table, r, g, b); });
}

void ContrastPixels32(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch, uint32_t format, int32_t sign) {
    ContrastPixels32With(BestKernelIsa(), pixels, width, height, pitch, format, sign);
}

void ContrastPixels16(uint16_t* pixels, int32_t width, int32_t height, int32_t pitch, uint32_t format, int32_t sign) {
    const ContrastTable table(sign);
    Each16(pixels, width, height, pitch, format,
           [&table](uint32_t& r, uint32_t& g, uint32_t& b) { ContrastWith(table, r, g, b); });
}

void ConvertRGBToHSL(uint32_t r8, uint32_t g8, uint32_t b8, double* hue, double* saturation, double* lightness) {
    const double r = r8 * kInv255, g = g8 * kInv255, b = b8 * kInv255;
    const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
    *lightness = 0.5 * (mx + mn);
    if (mx == mn) {
        *hue = *saturation = 0;
        return;
    }
    const double delta = mx - mn;
    *saturation = *lightness < 0.5 ? delta / (mx + mn) : delta / (2 - mx - mn);
    const double dr = (mx - r) / 6, dg = (mx - g) / 6, db = (mx - b) / 6, half = 0.5 * delta;
    double h;
    if (r == mx) h = (db + half - (half + dg)) / delta;
    else if (g == mx) h = (dr + half - (half + db)) / delta + kThird;
    else h = (dg + half - (half + dr)) / delta + kTwoThirds;
    if (h < 0) h += 1;
    if (h > 1) h -= 1;
    *hue = h;
}

double WrapHue(double h) {
    // Adding 1 to a value of -1 or below, or taking 1 from one above 1, is
    // exact in doubles of this size, so the loop's many steps are one step
    // of their sum; only the last step into range rounds, and is kept.
    if (h < 0) {
        const double steps = std::ceil(-h);
        return (h + (steps - 1)) + 1;
    }
    if (h > 1) return h - (std::ceil(h) - 1);
    return h;
}

void ModulatePixel(uint32_t* r, uint32_t* g, uint32_t* b, double huePercent, double saturationPercent,
                   double lightnessPercent) {
    double hue, sat, light;
    ConvertRGBToHSL(*r, *g, *b, &hue, &sat, &light);
    hue = WrapHue(hue + (huePercent * 0.01 - 1) * 0.5);
    sat *= saturationPercent * 0.01;
    light *= 0.01 * lightnessPercent;
    if (sat == 0) {
        *r = *g = *b = Clamp(light * 255);
        return;
    }
    const double m2 = light <= 0.5 ? (sat + 1) * light : sat + light - sat * light;
    const double m1 = 2 * light - m2;
    *r = Clamp(HueChannel(m1, m2, hue + kThird) * 255);
    *g = Clamp(HueChannel(m1, m2, hue) * 255);
    *b = Clamp(HueChannel(m1, m2, hue - kThird) * 255);
}

static bool HasFma() {
#if QB_PIXEL_X86
    static const bool has = __builtin_cpu_supports("fma");
    return has;
#else
    return false;
#endif
}

void ModulatePixels32With(KernelIsa isa, const qbModulateRequest& q) {
    const double h = q.hue, s = q.saturation, l = q.lightness;
    const bool wide = isa == KernelIsa::Avx512 && HasAvx512();
    if (q.pixelFormat == kFormatARGB && (wide || (UsableIsa(isa) == KernelIsa::Avx2 && HasFma())) && q.pixels) {
        const auto rowKernel = wide ? ModulateArgbAvx512 : ModulateArgbAvx2;
        for (int32_t y = 0; y < q.height; ++y) {
            uint32_t* row = static_cast<uint32_t*>(q.pixels) + static_cast<ptrdiff_t>(y) * q.pitch;
            const size_t done = rowKernel(row, static_cast<size_t>(q.width), (h * 0.01 - 1) * 0.5, s * 0.01,
                                          0.01 * l);
            Each32(row + done, q.width - static_cast<int32_t>(done), 1, q.pitch, q.pixelFormat,
                   [=](uint32_t& r, uint32_t& g, uint32_t& b) { ModulatePixel(&r, &g, &b, h, s, l); });
        }
        return;
    }
    Each32(static_cast<uint32_t*>(q.pixels), q.width, q.height, q.pitch, q.pixelFormat,
           [=](uint32_t& r, uint32_t& g, uint32_t& b) { ModulatePixel(&r, &g, &b, h, s, l); });
}

void ModulatePixels32(const qbModulateRequest& q) { ModulatePixels32With(KernelIsa::Avx512, q); }

void ModulatePixels16(const qbModulateRequest& q) {
    const double h = q.hue, s = q.saturation, l = q.lightness;
    Each16(static_cast<uint16_t*>(q.pixels), q.width, q.height, q.pitch, q.pixelFormat,
           [=](uint32_t& r, uint32_t& g, uint32_t& b) { ModulatePixel(&r, &g, &b, h, s, l); });
}

void FindLevelPoints(const uint32_t histogram[256], uint32_t blackCount, uint32_t whiteCount, int32_t width,
                     int32_t height, uint32_t* blackPoint, uint32_t* whitePoint) {
    uint32_t sum = 0, black = 255;
    for (uint32_t i = 0; i < 256; ++i) {
        sum += histogram[i];
        if (sum > blackCount) {
            black = i;
            break;
        }
    }
    const uint32_t target = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) - whiteCount;
    uint32_t white = 0;
    sum = 0;
    for (uint32_t i = 255; i > 0; --i) {
        sum += histogram[i];
        if (sum > target) {
            white = i;
            break;
        }
    }
    *blackPoint = black;
    *whitePoint = white;
}

void StretchLevels(const qbStretchRequest& q) {
    if (!q.pixels || q.width < 1 || q.height < 1 || (q.bytesPerPixel != 2 && q.bytesPerPixel != 4)) return;
    uint32_t histogram[256];
    Histogram(q, histogram);
    uint32_t black = 0, white = 0;
    FindLevelPoints(histogram, q.blackCount, q.whiteCount, q.width, q.height, &black, &white);
    uint8_t table[256];
    for (uint32_t i = 0; i < 256; ++i) {
        if (i < black) table[i] = 0;
        else if (i > white) table[i] = 255;
        else if (black != white) table[i] = static_cast<uint8_t>((i - black) * 255 / (white - black));
        else table[i] = static_cast<uint8_t>(i);
    }
    // Equal points leave every channel as it is, rewritten all the same.
    const bool same = black == white;
    auto apply = [&table, same](uint32_t& r, uint32_t& g, uint32_t& b) {
        if (same) return;
        r = table[r];
        g = table[g];
        b = table[b];
    };
    if (q.bytesPerPixel == 4) Each32(static_cast<uint32_t*>(q.pixels), q.width, q.height, q.pitch, q.pixelFormat, apply);
    else Each16(static_cast<uint16_t*>(q.pixels), q.width, q.height, q.pitch, q.pixelFormat, apply);
}

void FillFromByteMask32(uint32_t* pixels, int32_t width, int32_t height, uint32_t format, int32_t pitch,
                        const uint8_t* mask) {
    uint32_t white = 0;
    if (format == kFormatARGB || format == kFormatABGR) white = 0x00FFFFFFu;
    else if (format == kFormatBGRA || format == kFormatRGBA) white = 0xFFFFFF00u;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            pixels[static_cast<ptrdiff_t>(y) * pitch + x] =
                mask[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] ? white : 0;
}

void FillFromByteMask16(uint16_t* pixels, int32_t width, int32_t height, uint32_t, int32_t pitch,
                        const uint8_t* mask) {
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            pixels[static_cast<ptrdiff_t>(y) * pitch + x] =
                mask[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] ? 0xFFFF : 0;
}
