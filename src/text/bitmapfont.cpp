// Loading ".font" disk fonts: the contents file picks the font file of the
// requested size, and the font file's glyph strip and tables become the
// engine data. Each file is read as far as its header, counts and offsets
// name, never whole, and every offset, table and glyph is checked against
// the file before it is read, so a damaged font fails to load instead of
// being read beyond its end, and a huge file costs only what it uses.
#include "text/bitmapfont.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/chars.h"
#include "core/chunkname.h"
#include "core/file.h"
#include "core/memfile.h"
#include "core/settings.h"

namespace {

// Contents file: id, entry count, then entries of a NUL-terminated name and
// the size (and style bits nobody reads).
constexpr uint32_t kContentsId = 0x0F00;
constexpr uint32_t kContentsIdAlt = 0x0F02;
constexpr size_t kContentsHeaderSize = 4;
constexpr size_t kContentsEntrySize = 260;
constexpr size_t kContentsNameSize = 256;
constexpr char kIncompleteEntry[] = "::incomplete";
constexpr char kLinkedFontPrefix[] = "::linkedfont";

// Font file: stored offsets count from the end of the 32-byte header.
constexpr uint64_t kOffsetBase = 32;
constexpr size_t kFontIdOffset = 50;
constexpr uint32_t kFontFileId = 0x0F80;
constexpr size_t kYSizeOffset = 110;
constexpr size_t kStyleOffset = 112;
constexpr size_t kFlagsOffset = 113;
constexpr size_t kXSizeOffset = 114;
constexpr size_t kBaselineOffset = 116;
constexpr size_t kBoldSmearOffset = 118;
constexpr size_t kAccessorsOffset = 120;
constexpr size_t kLoCharOffset = 122;
constexpr size_t kHiCharOffset = 123;
constexpr size_t kCharDataOffset = 124;
constexpr size_t kModuloOffset = 128;
constexpr size_t kCharLocOffset = 130;
constexpr size_t kCharSpaceOffset = 134;
constexpr size_t kCharKernOffset = 138;
constexpr size_t kPlainFontEnd = 142;
constexpr size_t kDepthOffset = 144;
constexpr size_t kPlanePickOffset = 148;
constexpr size_t kColourDescOffset = 150;
constexpr size_t kPlaneOffsets = 154;
constexpr size_t kColourFontEnd = 186;
constexpr int32_t kMaxDepth = 8;
// A colour strip needs no plane data in the file (a plane of offset 0 is all
// zeros), so its size is bounded here rather than by the file: 64 MB of pixels.
// A plain strip is read from the file, but a sparse file holds gigabytes at
// no cost to its writer, so it has the same bound: 2 MB of bits, and as much
// again for its mask. A larger strip is a damaged font.
constexpr uint64_t kMaxColourStripPixels = uint64_t{1} << 24;
constexpr uint64_t kMaxPlainStripPixels = kMaxColourStripPixels;

bool StripWithinBound(const qbBitmapFontData& d, uint64_t maxPixels) {
    return uint64_t{static_cast<uint32_t>(d.modulo)} * 8 * static_cast<uint32_t>(d.ySize) <= maxPixels;
}

struct FileBytes {
    std::vector<uint8_t> prefix;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// A font file read by ranges: its header, then each table and plane where
// its offset points, once the range is known to lie inside the file.
struct FontFile {
    qbFilePtr file;
    uint64_t size = 0;
    std::vector<uint8_t> header;

    bool Read(uint64_t at, uint64_t bytes, std::vector<uint8_t>* out) const {
        if (at > size || bytes > size - at) return false;
        out->resize(static_cast<size_t>(bytes));
        if (bytes == 0) return true;
        if (FileSeek(file.get(), static_cast<int64_t>(at), kSeekBeginning) < 0) return false;
        return FileRead(file.get(), out->data(), out->size()) == out->size();
    }
};

bool OpenFontFile(const char* name, FontFile* out) {
    out->file.reset(FileOpen(name, kFileModeRead, nullptr));
    if (!out->file) return false;
    const int64_t size = GetFileSize(out->file.get());
    if (size < static_cast<int64_t>(kPlainFontEnd)) return false;
    out->size = static_cast<uint64_t>(size);
    return out->Read(0, std::min<uint64_t>(out->size, kColourFontEnd), &out->header);
}

uint32_t U8(const uint8_t* p, size_t at) { return p[at]; }
uint32_t U16(const uint8_t* p, size_t at) { return static_cast<uint32_t>(p[at] << 8 | p[at + 1]); }
uint32_t U32(const uint8_t* p, size_t at) {
    return static_cast<uint32_t>(p[at]) << 24 | static_cast<uint32_t>(p[at + 1]) << 16 |
           static_cast<uint32_t>(p[at + 2]) << 8 | p[at + 3];
}

// The file position of a stored offset when `bytes` from there lie inside
// the file.
bool TableAt(uint32_t stored, uint64_t bytes, size_t fileSize, size_t* at) {
    const uint64_t start = kOffsetBase + stored;
    if (start > fileSize || bytes > fileSize - start) return false;
    *at = static_cast<size_t>(start);
    return true;
}

bool EndsWithFont(const std::string& name) {
    return name.size() >= 5 && StrCmpNoCase(name.c_str() + name.size() - 5, ".font") == 0;
}

// The decimal number at p, advancing p; false when there is none.
bool ReadDecimal(const char*& p, uint64_t* value) {
    if (*p < '0' || *p > '9') return false;
    uint64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (v > (UINT64_MAX - 9) / 10) return false;
        v = v * 10 + static_cast<uint64_t>(*p - '0');
    }
    *value = v;
    return true;
}

// An entry that names a part of the applet: prefix, offset, one character,
// size, and after '*' the file's name. The part lies in the file that holds
// the contents file.
bool AppletPartName(const std::string& entry, const char* contentsName, std::string* out) {
    const bool chunk = IsChunkName(entry.c_str()) != 0;
    if (chunk) {
        qbChunkName whole;
        if (ParseChunkName(entry.c_str(), &whole) && !whole.stream) {
            *out = entry;
            return true;
        }
    }
    const size_t prefix = chunk ? std::strlen(kChunkNamePrefix) : std::strlen(kLinkedFontPrefix);
    const char* p = entry.c_str() + prefix;
    uint64_t offset = 0, size = 0;
    if (!ReadDecimal(p, &offset) || !*p++ || !ReadDecimal(p, &size)) return false;
    std::string fileName;
    if (const char* star = std::strchr(p, '*')) {
        fileName = star + 1;
        if (chunk) fileName = fileName.substr(0, fileName.find('/'));
    }
    qbChunkName container;
    if (!ParseChunkName(contentsName, &container) || container.stream) return false;
    if (size > static_cast<uint64_t>(INT64_MAX) - offset) return false;
    *out = MakeChunkName(fileName.c_str(), offset, size, 0, container.containerPath.c_str());
    return true;
}

// The font file an entry names: a part of the applet, or a file beside the
// contents file.
bool FontFileName(const std::string& entry, const char* contentsName, std::string* out) {
    if (IsChunkName(entry.c_str()) || entry.compare(0, std::strlen(kLinkedFontPrefix), kLinkedFontPrefix) == 0)
        return AppletPartName(entry, contentsName, out);
    std::string folder;
    if (!IsChunkName(contentsName) && !IsMemoryName(contentsName)) {
        const std::string whole = contentsName;
        const size_t slash = whole.find_last_of('/');
        if (slash != std::string::npos) folder = whole.substr(0, slash + 1);
    }
    *out = folder + entry;
    return true;
}

// The contents file's header and the entries its count names: what follows
// them is never read, however long the file.
bool ReadContents(const char* name, FileBytes* out) {
    qbFilePtr file(FileOpen(name, kFileModeRead, nullptr));
    if (!file) return false;
    uint8_t header[kContentsHeaderSize];
    if (FileRead(file.get(), header, sizeof header) != sizeof header) return false;
    const size_t used = kContentsHeaderSize + U16(header, 2) * kContentsEntrySize;
    out->prefix.assign(header, header + sizeof header);
    out->prefix.resize(used);
    const size_t got = FileRead(file.get(), out->prefix.data() + sizeof header, used - sizeof header);
    // Entries cut off by the file's end are refused when they are read.
    out->prefix.resize(sizeof header + got);
    out->data = out->prefix.data();
    out->size = out->prefix.size();
    return true;
}

// The first entry of the size that is not marked incomplete. Every entry
// read must lie inside the file and have a terminated name.
bool PickEntry(const FileBytes& contents, int32_t size, std::string* entry) {
    if (contents.size < kContentsHeaderSize) return false;
    const uint32_t id = U16(contents.data, 0);
    if (id != kContentsId && id != kContentsIdAlt) return false;
    const uint32_t count = U16(contents.data, 2);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = kContentsHeaderSize + kContentsEntrySize * i;
        if (at + kContentsEntrySize > contents.size) return false;
        const auto* name = reinterpret_cast<const char*>(contents.data + at);
        const size_t nameLength = strnlen(name, kContentsNameSize);
        if (nameLength == kContentsNameSize) return false;
        if (static_cast<int32_t>(U16(contents.data, at + kContentsNameSize)) != size) continue;
        if (std::strcmp(name, kIncompleteEntry) == 0) continue;
        entry->assign(name, nameLength);
        return true;
    }
    return false;
}

bool ReadHeader(const uint8_t* f, qbBitmapFontData* d) {
    d->ySize = static_cast<int32_t>(U16(f, kYSizeOffset));
    d->style = static_cast<int32_t>(U8(f, kStyleOffset));
    d->flags = static_cast<int32_t>(U8(f, kFlagsOffset));
    d->xSize = static_cast<int32_t>(U16(f, kXSizeOffset));
    d->baseline = static_cast<int32_t>(U16(f, kBaselineOffset));
    d->boldSmear = static_cast<int32_t>(U16(f, kBoldSmearOffset));
    d->accessors = static_cast<int32_t>(U16(f, kAccessorsOffset));
    d->loChar = static_cast<int32_t>(U8(f, kLoCharOffset));
    d->hiChar = static_cast<int32_t>(U8(f, kHiCharOffset));
    d->modulo = static_cast<int32_t>(U16(f, kModuloOffset));
    if (d->hiChar < d->loChar || d->ySize < 1 || d->modulo < 1) return false;
    d->count = d->hiChar - d->loChar + 2;
    return true;
}

// The range a stored offset names, read from the file when it lies inside.
bool ReadTable(const FontFile& file, uint32_t stored, uint64_t bytes, std::vector<uint8_t>* out) {
    size_t at = 0;
    return TableAt(stored, bytes, static_cast<size_t>(std::min<uint64_t>(file.size, SIZE_MAX)), &at) &&
           file.Read(at, bytes, out);
}

bool ReadTables(const FontFile& file, qbBitmapFontData* d) {
    const uint8_t* f = file.header.data();
    const auto count = static_cast<size_t>(d->count);
    std::vector<uint8_t> table;
    if (!ReadTable(file, U32(f, kCharLocOffset), count * 4, &table)) return false;
    d->charLoc.resize(count);
    const uint64_t stripBits = static_cast<uint64_t>(d->modulo) * 8;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t loc = U32(table.data(), 4 * i);
        if ((loc >> 16) + (loc & 0xFFFF) > stripBits) return false;
        d->charLoc[i] = loc;
    }
    const size_t tables[2] = {kCharSpaceOffset, kCharKernOffset};
    std::vector<int16_t>* into[2] = {&d->charSpace, &d->charKern};
    for (int t = 0; t < 2; ++t) {
        const uint32_t stored = U32(f, tables[t]);
        if (stored == 0) continue;
        if (!ReadTable(file, stored, count * 2, &table)) return false;
        into[t]->resize(count);
        for (size_t i = 0; i < count; ++i) (*into[t])[i] = static_cast<int16_t>(U16(table.data(), 2 * i));
    }
    return true;
}

bool ReadPlainStrip(const FontFile& file, qbBitmapFontData* d) {
    if (!StripWithinBound(*d, kMaxPlainStripPixels)) return false;
    const uint64_t bytes = static_cast<uint64_t>(d->modulo) * static_cast<uint64_t>(d->ySize);
    return ReadTable(file, U32(file.header.data(), kCharDataOffset), bytes, &d->charData);
}

// The strip as 0x00RRGGBB pixels: each pixel's colour index gathers bit i
// from plane i; index 0, and an index the colour table does not reach, are
// the transparent key.
bool ReadColourStrip(const FontFile& file, const qbBitmapFontData& d, std::vector<uint32_t>* pixels) {
    if (file.header.size() < kColourFontEnd) return false;
    const uint8_t* f = file.header.data();
    const int32_t depth = static_cast<int32_t>(U8(f, kDepthOffset));
    if (depth > kMaxDepth) return false;
    if (!StripWithinBound(d, kMaxColourStripPixels)) return false;
    const uint32_t pick = U8(f, kPlanePickOffset);
    std::vector<uint8_t> desc, table;
    if (!ReadTable(file, U32(f, kColourDescOffset), 8, &desc)) return false;
    const uint32_t colourCount = U16(desc.data(), 2);
    if (!ReadTable(file, U32(desc.data(), 4), uint64_t{colourCount} * 2, &table)) return false;
    std::vector<uint32_t> palette(size_t{1} << kMaxDepth, kFontKeyColour);
    for (uint32_t i = 1; i < colourCount && i < palette.size(); ++i) {
        const uint32_t c = U16(table.data(), 2 * i);
        palette[i] = ((c >> 8) & 15) * 0x110000 | ((c >> 4) & 15) * 0x1100 | (c & 15) * 0x11;
    }
    const size_t planeBytes = static_cast<size_t>(d.modulo) * static_cast<size_t>(d.ySize);
    std::vector<uint8_t> planeBytesRead[kMaxDepth];
    const uint8_t* planes[kMaxDepth] = {};
    for (int32_t i = 0; i < depth; ++i) {
        const uint32_t stored = U32(f, kPlaneOffsets + 4 * static_cast<size_t>(i));
        if (!(pick & (1u << i)) || stored == 0) continue;
        if (!ReadTable(file, stored, planeBytes, &planeBytesRead[i])) return false;
        planes[i] = planeBytesRead[i].data();
    }
    const int32_t width = d.modulo * 8;
    pixels->assign(static_cast<size_t>(width) * static_cast<size_t>(d.ySize), kFontKeyColour);
    for (int32_t y = 0; y < d.ySize; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const size_t byte = static_cast<size_t>(y) * static_cast<size_t>(d.modulo) + static_cast<size_t>(x >> 3);
            const uint32_t bit = 0x80u >> (x & 7);
            uint32_t index = 0;
            for (int32_t i = 0; i < depth; ++i)
                if (planes[i] && (planes[i][byte] & bit)) index |= 1u << i;
            (*pixels)[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                index < colourCount ? palette[index] : kFontKeyColour;
        }
    }
    return true;
}

}  // namespace

namespace {

int BuildBitmapFont(const FontFile& file, int32_t requestedSize, bool deferBitmaps, qbFont* font) {
    const uint8_t* header = file.header.data();
    if (file.header.size() < kPlainFontEnd || U16(header, kFontIdOffset) != kFontFileId) return 0;
    try {
        auto data = std::make_unique<qbBitmapFontData>();
        if (!ReadHeader(header, data.get())) return 0;
        const bool colour = (data->style & kFontStyleColour) != 0;
        std::vector<uint32_t> pixels;
        if (colour ? !ReadColourStrip(file, *data, &pixels) : !ReadPlainStrip(file, data.get())) return 0;
        if (!ReadTables(file, data.get())) return 0;
        const int32_t stripWidth = data->modulo * 8;
        BitmapPtr glyphs, glyphMask;
        if (colour && !deferBitmaps) {
            qbBitmap* bitmap = nullptr;
            qbBitmap* mask = nullptr;
            if (CreateBitmapFromARGB(pixels.data(), static_cast<int32_t>(kFontKeyColour), stripWidth, data->ySize,
                                     stripWidth, false, 0, 0, &bitmap, &mask, nullptr) != 0)
                return 0;
            glyphs.reset(bitmap);
            glyphMask.reset(mask);
            if (!glyphMask) return 0;
            pixels.clear();
        }
        if (!colour) {
            data->stripMask.reset(AllocMask(nullptr, stripWidth, data->ySize, false, data->charData.data(),
                                            static_cast<uint32_t>(data->modulo)));
            if (!data->stripMask) return 0;
        }
        font->engine = colour ? kFontKindColourBitmap : kFontKindBitmap;
        font->glyphBitmap = std::move(glyphs);
        font->glyphMask = std::move(glyphMask);
        if (colour && deferBitmaps) {
            font->rawPixels = std::move(pixels);
            font->rawWidth = stripWidth;
            font->rawHeight = data->ySize;
        }
        font->antialiasCapable = 0;
        font->height = font->baseHeight = data->ySize;
        font->baseline = font->baseBaseline = data->baseline;
        font->size = requestedSize;
        font->engineData = data.release();
        return 1;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

}  // namespace

int LoadBitmapFont(const char* contentsName, int32_t size, qbFont* font, const char* displayName) {
    if (!contentsName || !font) return 0;
    std::string contents = contentsName;
    const bool part = IsChunkName(contentsName) || IsMemoryName(contentsName);
    if (!part && !EndsWithFont(contents)) contents += ".font";
    FileBytes list;
    std::string entry, fontFile;
    if (!ReadContents(contents.c_str(), &list) || !PickEntry(list, size, &entry) ||
        !FontFileName(entry, contents.c_str(), &fontFile))
        return 0;
    FontFile file;
    if (!OpenFontFile(fontFile.c_str(), &file)) return 0;
    const bool defer = GetRuntimeTag(kTagDeclaring) != 0;
    if (!BuildBitmapFont(file, size, defer, font)) return 0;
    std::string shown = displayName ? displayName : FilePartEx(contents.c_str());
    if (!displayName && !IsChunkName(contents.c_str()) && EndsWithFont(shown)) shown.resize(shown.size() - 5);
    std::snprintf(font->name, sizeof font->name, "%s", shown.c_str());
    return 1;
}

void CloseBitmapFont(qbFont* font) {
    if (!font) return;
    std::unique_ptr<qbBitmapFontData> data(BitmapDataOf(font));
    font->engineData = nullptr;
    font->glyphBitmap.reset();
    font->glyphMask.reset();
    font->rawPixels.clear();
}
