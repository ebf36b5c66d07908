#include "imaging/rollstrips.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

void FillRollProfile(double* profile, int32_t n) {
    if (!profile || n < 1) return;
    profile[0] = std::asin(1.0) + std::numbers::pi / 2;
    for (int32_t i = 1; i < n; ++i) profile[i] = std::asin(1.0 - 2.0 * i / n) + std::numbers::pi / 2;
}

namespace {

bool MaskBit(const uint8_t* row, int32_t x) {
    return row[x >> 3] & (0x80 >> (x & 7));
}
void SetMaskBit(uint8_t* row, int32_t x, bool on) {
    const auto bit = static_cast<uint8_t>(0x80 >> (x & 7));
    row[x >> 3] = static_cast<uint8_t>(on ? row[x >> 3] | bit : row[x >> 3] & ~bit);
}

// The picture's line `from` into the curl's line `to`.
void CopyLine(const qbRollRecord& r, int32_t from, int32_t to) {
    const size_t bpp = static_cast<size_t>(r.bytesPerPixel);
    const auto* src = static_cast<const uint8_t*>(r.picture);
    auto* dst = static_cast<uint8_t*>(r.curl);
    if (!r.alongX) {
        std::memcpy(dst + size_t(to) * r.curlPitch * bpp, src + size_t(from) * r.picturePitch * bpp, r.width * bpp);
        if (r.curlMask) {
            uint8_t* row = r.curlMask + size_t(to) * r.curlMaskPitch;
            if (r.pictureMask) std::memcpy(row, r.pictureMask + size_t(from) * r.pictureMaskPitch, (r.width + 7) / 8);
            else std::memset(row, 0xFF, (r.width + 7) / 8);
        }
        if (r.curlAlpha) {
            uint8_t* row = r.curlAlpha + size_t(to) * r.curlAlphaPitch;
            if (r.pictureAlpha) std::memcpy(row, r.pictureAlpha + size_t(from) * r.pictureAlphaPitch, r.width);
            else std::memset(row, 255, r.width);
        }
        return;
    }
    for (int32_t y = 0; y < r.height; ++y) {
        std::memcpy(dst + (size_t(y) * r.curlPitch + to) * bpp, src + (size_t(y) * r.picturePitch + from) * bpp, bpp);
        if (r.curlMask)
            SetMaskBit(r.curlMask + size_t(y) * r.curlMaskPitch, to,
                       !r.pictureMask || MaskBit(r.pictureMask + size_t(y) * r.pictureMaskPitch, from));
        if (r.curlAlpha)
            r.curlAlpha[size_t(y) * r.curlAlphaPitch + to] =
                r.pictureAlpha ? r.pictureAlpha[size_t(y) * r.pictureAlphaPitch + from] : 255;
    }
}

// The curl's planes emptied over lines [from, to).
void ClearLines(const qbRollRecord& r, int32_t from, int32_t to) {
    if (from >= to) return;
    if (!r.alongX) {
        for (int32_t l = from; l < to; ++l) {
            if (r.curlMask) std::memset(r.curlMask + size_t(l) * r.curlMaskPitch, 0, (r.width + 7) / 8);
            if (r.curlAlpha) std::memset(r.curlAlpha + size_t(l) * r.curlAlphaPitch, 0, r.width);
        }
        return;
    }
    for (int32_t y = 0; y < r.height; ++y) {
        if (r.curlAlpha) std::memset(r.curlAlpha + size_t(y) * r.curlAlphaPitch + from, 0, size_t(to - from));
        if (r.curlMask)
            for (int32_t x = from; x < to; ++x) SetMaskBit(r.curlMask + size_t(y) * r.curlMaskPitch, x, false);
    }
}

}  // namespace

void DrawRollStrips(qbRollRecord& r) {
    const int32_t size = r.alongX ? r.width : r.height;
    const int64_t near = r.position, far = int64_t{r.position} + std::max(r.n, 0);
    const auto start = static_cast<int32_t>(std::clamp<int64_t>(near, 0, std::max(size, 0)));
    const auto end = static_cast<int32_t>(std::clamp<int64_t>(far, start, std::max(size, 0)));
    r.start = start;
    r.end = end;
    r.extent = end - start;
    if (!r.curl || !r.picture || !r.profile || size < 1 || r.width < 1 || r.height < 1) {
        r.extent = 0;
        r.end = r.start;
        return;
    }
    ClearLines(r, 0, start);
    ClearLines(r, end, size);
    const double radius = r.n / 2.0;
    for (int32_t line = start; line < end; ++line) {
        const double angle = r.profile[line - int64_t{r.position}];
        const double wound = std::floor(radius * (std::numbers::pi - angle) + 0.5);
        const int64_t from = std::clamp<int64_t>(int64_t{r.position} + static_cast<int64_t>(wound), line, size - 1);
        CopyLine(r, static_cast<int32_t>(from), line);
    }
}
