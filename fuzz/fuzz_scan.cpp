// Fuzz target of the scan engine: polygons, thick lines and clipped lines
// with any points, sizes and thicknesses stay inside their raster. Writes
// past the block trip the address sanitizer; writes into a row's padding
// (past the raster's width) trap here, and so do plain fills whose runs
// differ from their raster.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "draw/scan/scan.h"
#include "fuzznote.h"

namespace {

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    uint32_t Byte() { return pos < size ? data[pos++] : 0; }
    int32_t Word() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
        return static_cast<int32_t>(v);
    }
    // Mostly coordinates near the raster, sometimes anything at all.
    int32_t Coordinate() {
        const uint32_t kind = Byte();
        if (kind < 200) return static_cast<int32_t>(Byte()) - 64;
        if (kind < 240) return static_cast<int32_t>(Byte() << 8 | Byte()) - 32768;
        return Word();
    }
};

// The plain fill's runs must set exactly the raster's pixels.
void CheckRuns(const ScanRaster* r, const std::vector<int32_t>& points, int32_t count) {
    std::vector<uint8_t> got(static_cast<size_t>(r->pitch) * r->height, 0);
    const ScanRunSink take = [](void* c, int32_t y, const int32_t* runs, int32_t n) {
        auto& g = *static_cast<std::pair<std::vector<uint8_t>*, int32_t>*>(c);
        for (int32_t i = 0; i < 2 * n; i += 2)
            for (int32_t x = runs[i]; x < runs[i + 1]; ++x) (*g.first)[static_cast<size_t>(y) * g.second + x] = 255;
    };
    std::pair<std::vector<uint8_t>*, int32_t> target{&got, r->pitch};
    ScanPolygonRuns(points.data(), count, 0, 0, r->width, r->height, take, &target);
    if (!got.empty() && std::memcmp(got.data(), r->pixels, got.size()) != 0) __builtin_trap();
}

void CheckPadding(const ScanRaster* r) {
    for (int32_t y = 0; y < r->height; ++y)
        for (int32_t x = r->width; x < r->pitch; ++x)
            if (r->pixels[static_cast<size_t>(y) * r->pitch + x]) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    const int32_t width = static_cast<int32_t>(in.Byte()), height = static_cast<int32_t>(in.Byte());
    const uint32_t what = in.Byte();
    const int antialias = static_cast<int>(in.Byte() & 1);
    const int32_t thickness = static_cast<int32_t>(in.Byte()) + ((what & 0x80) ? 1 : 0);
    CoverageRasterPtr raster(CreateCoverageRaster(width, height, nullptr, nullptr));
    FuzzNoteValue(GetScanError());
    if (!raster) return 0;
    FuzzNoteValue(raster->pitch);
    std::vector<int32_t> points;
    const int32_t count = static_cast<int32_t>(in.Byte() % 40);
    for (int32_t i = 0; i < 2 * count; ++i) points.push_back(in.Coordinate());
    switch (what % 4) {
        case 0:
            FillPolygon(raster.get(), points.data(), count, antialias, 0);
            FuzzNoteValue(GetScanError());
            if (!antialias) CheckRuns(raster.get(), points, count);
            break;
        case 1:
            FillPolygon(raster.get(), points.data(), count, antialias, thickness);
            FuzzNoteValue(GetScanError());
            break;
        case 2:
            if (count >= 2) {
                DrawThickLine(raster.get(), points[0], points[1], points[2], points[3], antialias, thickness);
                FuzzNoteValue(GetScanError());
            }
            break;
        default: {
            ScanRasterView view;
            const bool described = DescribeRaster(raster.get(), &view);
            FuzzNoteValue(described ? view.layout : GetScanError());
            if (!described) return 0;
            for (int32_t i = 0; i + 1 < count; ++i) {
                ScanPoint64 a{points[2 * i], points[2 * i + 1]}, b{points[2 * i + 2], points[2 * i + 3]};
                const ScanPoint64 a0 = a, b0 = b;
                const bool inside = ClipLine(width, height, &a, &b);
                FuzzNoteValue(inside);
                FuzzNoteValue(GetScanError());
                if (inside)
                    for (int64_t v : {a.x, a.y, b.x, b.y}) FuzzNoteValue(v);
                if (inside &&
                    (a.x < 0 || a.y < 0 || b.x < 0 || b.y < 0 || a.x >= width || b.x >= width || a.y >= height ||
                     b.y >= height))
                    __builtin_trap();
                DrawRasterLine(view, static_cast<int32_t>(a0.x), static_cast<int32_t>(a0.y),
                               static_cast<int32_t>(b0.x), static_cast<int32_t>(b0.y), 255, (i & 1) ? 4 : 8);
                FuzzNoteValue(GetScanError());
                DrawRasterLineAA(view, a0.x * 65536 + i, a0.y * 65536, b0.x * 65536, b0.y * 65536 - i);
                FuzzNoteValue(GetScanError());
            }
        }
    }
    CheckPadding(raster.get());
    // The coverage the raster holds, row by row without the padding.
    for (int32_t y = 0; y < raster->height; ++y)
        FuzzNote(raster->pixels + static_cast<size_t>(y) * raster->pitch, static_cast<size_t>(raster->width));
    return 0;
}
