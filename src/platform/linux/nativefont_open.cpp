// Opening native fonts at a size: a size of the font file's shared face,
// the point size whose "A" has the requested height, and the check that
// every glyph of the face renders at it.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "platform/linux/nativefont.h"

namespace linux_text {

namespace {

// A search that walks size by size gives up after this many steps.
constexpr int kMaxSizeSteps = 256;
// Point sizes FreeType accepts.
constexpr int32_t kMaxPointSize = 0xFFFF;
// Sizes whose "A" a file remembers (about 40 bytes each).
constexpr size_t kMaxKnownSizes = 4096;

// Rows of the "A" at this size, as FreeType presets them for a rendering
// in the default mode; -1 when the size or the glyph does not load.
int64_t RowsOfA(qbNativeFontFile* file, int32_t size) {
    if (auto it = file->rowsOfA.find(size); it != file->rowsOfA.end()) return it->second;
    if (!SetFaceSize(file, size)) return -1;
    if (FT_Load_Glyph(file->face, file->indexOfA, FT_LOAD_DEFAULT) != 0) return -1;
    const int64_t rows = file->face->glyph->bitmap.rows;
    try {
        if (file->rowsOfA.size() >= kMaxKnownSizes) file->rowsOfA.clear();
        file->rowsOfA.emplace(size, rows);
    } catch (const std::bad_alloc&) {
    }
    return rows;
}

// Whether FreeType can render every glyph of the face at the size set, in
// every style the engine draws: its rasters take boxes of 16-bit pixel
// coordinates, and a glyph that loads at a larger size still fails to
// render. The face's box bounds all its glyphs; a slant moves a glyph's top
// right by a fifth of its height, emboldening grows it by a 24th of the em
// on each side, and hinting may round a pixel further out.
bool FitsRaster(FT_Face face) {
    const FT_Size_Metrics& m = face->size->metrics;
    // Font units to pixels.
    const double xs = static_cast<double>(m.x_scale) / 65536.0 / 64.0;
    const double ys = static_cast<double>(m.y_scale) / 65536.0 / 64.0;
    constexpr double kSlant = 0x0366A / 65536.0;
    constexpr double kRounding = 2.0;
    const double bold = face->units_per_EM * ys / 24.0 + kRounding;
    const FT_BBox& box = face->bbox;
    const double top = box.yMax * ys + bold, bottom = box.yMin * ys - bold;
    const double left = std::min(box.xMin * xs, box.xMin * xs + kSlant * bottom) - bold;
    const double right = std::max(box.xMax * xs, box.xMax * xs + kSlant * top) + bold;
    constexpr double kLow = -0x8000, kHigh = 0x7FFF;
    return left >= kLow && right <= kHigh && bottom >= kLow && top <= kHigh;
}

void ReleaseFace(qbNativeFontFace* face) {
    if (!face) return;
    std::unique_ptr<qbNativeFontFace> owner(face);
    FreeGlyphs(face, false);
    ReleaseFontFile(owner->file);
}

}  // namespace

int32_t SizeOnA(qbNativeFontFile* file, int32_t pixelHeight) {
    FT_Face face = file->face;
    const int64_t span = int64_t{face->ascender} - face->descender;
    const double em = face->units_per_EM > 0 ? face->units_per_EM : 1;
    const double first = span > 0 ? static_cast<double>(pixelHeight) * em / static_cast<double>(span) : pixelHeight;
    const auto pointSize = [](double size) {
        return static_cast<int32_t>(std::clamp(std::lround(size), 1L, static_cast<long>(kMaxPointSize)));
    };
    const int32_t firstSize = pointSize(first);
    // A face without a visible "A" has nothing to measure: the first size stays.
    if (file->indexOfA == 0) return firstSize;
    // The unhinted outline gives the "A"'s rows at any size without loading
    // it: hinting moves its top and bottom by a row or so, so where the
    // outline is far from the height at the first size, that is the side
    // the answer lies on, and its size is within a step or two of where the
    // outline spans the height. Only those few sizes are loaded.
    const double outlineRows = static_cast<double>(file->aTop - file->aBottom);
    int direction = 0;
    if (outlineRows > 0) {
        const double atFirst = outlineRows * firstSize / em;
        if (std::abs(atFirst - pixelHeight) > 2 + pixelHeight / 8.0) direction = atFirst < pixelHeight ? 1 : -1;
    }
    if (direction == 0) {
        const int64_t rows = RowsOfA(file, firstSize);
        if (rows <= 0 || rows == pixelHeight) return firstSize;
        direction = rows < pixelHeight ? 1 : -1;
    }
    // The first size whose "A" reaches the height, or passes it, on the way
    // from the first size.
    const auto reaches = [&](int64_t rows) { return direction > 0 ? rows >= pixelHeight : rows <= pixelHeight; };
    int32_t size = firstSize;
    if (outlineRows > 0) {
        // The size where the outline first reaches the height is the answer
        // but for hinting: its neighbour on the first size's side is loaded
        // first, so that the search, and the face, end on the answer.
        const double exact = pixelHeight * em / outlineRows;
        const int32_t guess = pointSize(direction > 0 ? std::ceil(exact) : std::floor(exact));
        const int32_t before = guess - direction;
        if ((before - firstSize) * direction > 0) {
            const int64_t rows = RowsOfA(file, before);
            if (rows >= 0) size = before;
            if (rows >= 0 && reaches(rows)) {
                for (int step = 0; step < kMaxSizeSteps; ++step) {
                    const int32_t back = size - direction;
                    if (back == firstSize) break;
                    const int64_t backRows = RowsOfA(file, back);
                    if (backRows < 0 || !reaches(backRows)) break;
                    size = back;
                }
                return size;
            }
        } else if (before == firstSize) {
            size = before;
        }
    }
    for (int step = 0; step < kMaxSizeSteps; ++step) {
        const int32_t next = size + direction;
        if (next < 1 || next > kMaxPointSize) break;
        const int64_t rows = RowsOfA(file, next);
        if (rows < 0) break;
        size = next;
        if (reaches(rows)) break;
    }
    return size;
}

int OpenNativeFont(const char* name, int pixelHeight, qbNativeFont* font) {
    if (!name || !font || pixelHeight < 1) return 0;
    auto face = std::unique_ptr<qbNativeFontFace, void (*)(qbNativeFontFace*)>(nullptr, ReleaseFace);
    std::string fullName;
    try {
        face.reset(new qbNativeFontFace);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    face->file = AcquireFontFile(name, &fullName);
    if (!face->file) return 0;
    FT_Face ft = face->file->face;
    // The last text of another size of the face may have left its scale.
    FT_Set_Transform(ft, nullptr, nullptr);
    const int32_t size = SizeOnA(face->file, pixelHeight);
    if (!SetFaceSize(face->file, size) || !FitsRaster(ft)) return 0;
    const FT_Size_Metrics& m = ft->size->metrics;
    face->pointSize = size;
    face->yScale = m.y_scale;
    font->name = fullName;
    font->pointSize = size;
    font->stamp = face->file->stamp;
    font->ascent = static_cast<int32_t>((m.ascender + 63) >> 6);
    font->descent = static_cast<int32_t>((-m.descender + 63) >> 6);
    font->height = font->ascent + font->descent;
    font->xScale = 1.0;
    font->yScale = 1.0;
    font->face = face.release();
    return 1;
}

void CloseNativeFont(qbNativeFont* font) {
    if (!font) return;
    ReleaseFace(font->face);
    font->face = nullptr;
}

}  // namespace linux_text
