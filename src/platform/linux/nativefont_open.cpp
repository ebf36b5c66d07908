// Opening native fonts: an installed font by its full name (fontconfig lists
// the installed fonts; its best match, which answers every request with
// some font, is never asked), or a font file held in the applet, read whole
// into memory; then the point size whose "A" has the requested height.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SFNT_NAMES_H
#include FT_TRUETYPE_IDS_H

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <string>

#include "core/chars.h"
#include "core/chunkname.h"
#include "core/file.h"
#include "platform/linux/nativefont.h"

namespace linux_text {

namespace {

// A font file larger than this is not read into memory.
constexpr int64_t kMaxMemoryFontBytes = int64_t{256} << 20;
// The size search gives up after this many steps.
constexpr int kMaxSizeSteps = 256;
// Point sizes FreeType accepts.
constexpr int32_t kMaxPointSize = 0xFFFF;

struct LibraryState {
    FT_Library library = nullptr;
    int users = 0;
};

LibraryState& Lib() {
    static LibraryState state;
    return state;
}

struct InstalledFont {
    std::string file;
    int index = 0;
    std::string fullName;
};

struct ConfigCloser {
    void operator()(FcConfig* c) const { FcConfigDestroy(c); }
};
struct PatternCloser {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
struct ObjectSetCloser {
    void operator()(FcObjectSet* o) const { FcObjectSetDestroy(o); }
};
struct FontSetCloser {
    void operator()(FcFontSet* s) const { FcFontSetDestroy(s); }
};

bool IsUtf8(const std::string& s) {
    int len = 0;
    int chars = 0;
    return FcUtf8Len(reinterpret_cast<const FcChar8*>(s.c_str()), static_cast<int>(s.size()), &chars, &len) != 0;
}

// Only a font one of whose full names equals the name, letter case aside,
// is the font asked for. A configuration of its own per look-up, so that
// the font list (and FONTCONFIG_FILE) is read as it is now.
bool FindInstalledFont(const char* name, InstalledFont* out) {
    std::string wanted = name;
    if (!IsUtf8(wanted)) wanted = Latin1ToUTF8(name);
    std::unique_ptr<FcConfig, ConfigCloser> config(FcInitLoadConfigAndFonts());
    if (!config) return false;
    std::unique_ptr<FcPattern, PatternCloser> pattern(FcPatternCreate());
    std::unique_ptr<FcObjectSet, ObjectSetCloser> objects(FcObjectSetBuild(FC_FULLNAME, FC_FILE, FC_INDEX, nullptr));
    if (!pattern || !objects) return false;
    std::unique_ptr<FcFontSet, FontSetCloser> fonts(FcFontList(config.get(), pattern.get(), objects.get()));
    if (!fonts) return false;
    const auto* key = reinterpret_cast<const FcChar8*>(wanted.c_str());
    for (int i = 0; i < fonts->nfont; ++i) {
        FcPattern* font = fonts->fonts[i];
        FcChar8* fullName = nullptr;
        for (int n = 0; FcPatternGetString(font, FC_FULLNAME, n, &fullName) == FcResultMatch; ++n) {
            if (!fullName || FcStrCmpIgnoreCase(fullName, key) != 0) continue;
            FcChar8* file = nullptr;
            if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch || !file) break;
            int index = 0;
            if (FcPatternGetInteger(font, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
            out->file = reinterpret_cast<const char*>(file);
            out->index = index;
            out->fullName = reinterpret_cast<const char*>(fullName);
            return true;
        }
    }
    return false;
}

bool ReadWholeFile(const char* name, std::vector<uint8_t>* out) {
    qbFilePtr file(FileOpen(name, kFileModeRead, nullptr));
    if (!file) return false;
    const int64_t size = GetFileSize(file.get());
    if (size <= 0 || size > kMaxMemoryFontBytes) return false;
    try {
        out->resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return FileRead(file.get(), out->data(), out->size()) == out->size();
}

void AppendUtf8(uint32_t c, std::string* out) {
    if (c < 0x80) {
        *out += static_cast<char>(c);
    } else if (c < 0x800) {
        *out += static_cast<char>(0xC0 | c >> 6);
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out += static_cast<char>(0xE0 | c >> 12);
        *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The full name of the "name" table (id 4), preferably the Windows English
// one; the family and style names when the table has none.
std::string FullNameOf(FT_Face face) {
    std::string best;
    int bestRank = 0;
    const FT_UInt count = FT_Get_Sfnt_Name_Count(face);
    for (FT_UInt i = 0; i < count; ++i) {
        FT_SfntName entry;
        if (FT_Get_Sfnt_Name(face, i, &entry) != 0 || entry.name_id != TT_NAME_ID_FULL_NAME) continue;
        const bool windows = entry.platform_id == TT_PLATFORM_MICROSOFT;
        const bool unicode = entry.platform_id == TT_PLATFORM_APPLE_UNICODE;
        const bool mac = entry.platform_id == TT_PLATFORM_MACINTOSH && entry.encoding_id == TT_MAC_ID_ROMAN;
        if (!windows && !unicode && !mac) continue;
        const int rank = windows && entry.language_id == TT_MS_LANGID_ENGLISH_UNITED_STATES ? 3 : windows ? 2 : 1;
        if (rank <= bestRank) continue;
        std::string name;
        if (mac) {
            for (FT_UInt k = 0; k < entry.string_len; ++k) AppendUtf8(entry.string[k] < 0x80 ? entry.string[k] : '?', &name);
        } else {
            // UTF-16BE; a surrogate pair stands for one character outside the BMP, kept as '?'.
            for (FT_UInt k = 0; k + 1 < entry.string_len; k += 2) {
                const uint32_t unit = uint32_t{entry.string[k]} << 8 | entry.string[k + 1];
                if (unit >= 0xDC00 && unit < 0xE000) continue;
                AppendUtf8(unit >= 0xD800 && unit < 0xDC00 ? '?' : unit, &name);
            }
        }
        if (name.empty()) continue;
        best = name;
        bestRank = rank;
    }
    if (best.empty() && face->family_name) {
        best = face->family_name;
        if (face->style_name && std::string(face->style_name) != "Regular") best += std::string(" ") + face->style_name;
    }
    return best;
}

// Rows of the "A" at this size, as FreeType presets them for a rendering
// in the default mode; -1 when the size or the glyph does not load.
int64_t RowsOfA(FT_Face face, FT_UInt indexOfA, int32_t size) {
    if (FT_Set_Char_Size(face, 0, FT_F26Dot6{size} * 64, 72, 72) != 0) return -1;
    if (FT_Load_Glyph(face, indexOfA, FT_LOAD_DEFAULT) != 0) return -1;
    return face->glyph->bitmap.rows;
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
    if (owner->face) {
        FT_Done_Face(owner->face);
        ReleaseLibrary();
    }
}

}  // namespace

FT_Library AcquireLibrary() {
    LibraryState& s = Lib();
    if (!s.library && FT_Init_FreeType(&s.library) != 0) {
        s.library = nullptr;
        return nullptr;
    }
    ++s.users;
    return s.library;
}

void ReleaseLibrary() {
    LibraryState& s = Lib();
    if (s.users > 0 && --s.users == 0) {
        FT_Done_FreeType(s.library);
        s.library = nullptr;
    }
}

int32_t SizeOnA(FT_Face face, int32_t pixelHeight) {
    const int64_t span = int64_t{face->ascender} - face->descender;
    const int64_t em = face->units_per_EM > 0 ? face->units_per_EM : 1;
    const double first = span > 0 ? static_cast<double>(pixelHeight) * static_cast<double>(em) / static_cast<double>(span)
                                   : pixelHeight;
    int32_t size = static_cast<int32_t>(std::clamp(std::lround(first), 1L, static_cast<long>(kMaxPointSize)));
    // A face without a visible "A" has nothing to measure: the first size stays.
    const FT_UInt indexOfA = FT_Get_Char_Index(face, 'A');
    if (indexOfA == 0) return size;
    int64_t rows = RowsOfA(face, indexOfA, size);
    if (rows <= 0) return size;
    int direction = 0;
    for (int step = 0; step < kMaxSizeSteps && rows != pixelHeight; ++step) {
        const int wanted = rows < pixelHeight ? 1 : -1;
        if (direction == -wanted) break;  // the search would turn back
        direction = wanted;
        const int32_t next = size + direction;
        if (next < 1 || next > kMaxPointSize) break;
        const int64_t nextRows = RowsOfA(face, indexOfA, next);
        if (nextRows < 0) break;
        size = next;
        rows = nextRows;
    }
    return size;
}

int OpenNativeFont(const char* name, int pixelHeight, qbNativeFont* font) {
    if (!name || !font || pixelHeight < 1) return 0;
    auto face = std::unique_ptr<qbNativeFontFace, void (*)(qbNativeFontFace*)>(nullptr, ReleaseFace);
    try {
        face.reset(new qbNativeFontFace);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    std::string fullName;
    std::string file;
    int index = 0;
    if (IsChunkName(name)) {
        if (!ReadWholeFile(name, &face->memory)) return 0;
    } else {
        InstalledFont found;
        if (!FindInstalledFont(name, &found)) return 0;
        file = found.file;
        index = found.index;
        fullName = found.fullName;
    }
    FT_Library library = AcquireLibrary();
    if (!library) return 0;
    const FT_Error error =
        face->memory.empty()
            ? FT_New_Face(library, file.c_str(), index, &face->face)
            : FT_New_Memory_Face(library, face->memory.data(), static_cast<FT_Long>(face->memory.size()), 0, &face->face);
    if (error != 0 || !face->face) {
        face->face = nullptr;
        ReleaseLibrary();
        return 0;
    }
    if (!FT_IS_SCALABLE(face->face)) return 0;
    if (!face->memory.empty()) fullName = FullNameOf(face->face);
    const int32_t size = SizeOnA(face->face, pixelHeight);
    if (FT_Set_Char_Size(face->face, 0, FT_F26Dot6{size} * 64, 72, 72) != 0 || !FitsRaster(face->face)) return 0;
    const FT_Size_Metrics& m = face->face->size->metrics;
    font->name = fullName;
    font->pointSize = size;
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
