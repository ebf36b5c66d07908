// Opening and closing inbuilt fonts: the faces held in the program, font
// files by path, installed fonts by name and applet chunks, each read
// through the player's file layer.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "core/chars.h"
#include "core/chunkname.h"
#include "core/readholds.h"
#include "text/inbuiltfont.h"
#include "text/installedfonts.h"
#include "text/verafonts.h"

namespace {

int64_t g_fileOpens = 0;

std::vector<std::unique_ptr<qbInbuiltFontFile>>& OpenFiles() {
    static std::vector<std::unique_ptr<qbInbuiltFontFile>> files;
    return files;
}

// The one place the engine opens a font file: every font of one file reads
// it through the one descriptor, by position.
qbInbuiltFontFile* AcquireInbuiltFile(const std::string& path) {
    std::vector<std::unique_ptr<qbInbuiltFontFile>>& files = OpenFiles();
    for (const std::unique_ptr<qbInbuiltFontFile>& f : files) {
        if (f->path != path) continue;
        ++f->users;
        return f.get();
    }
    try {
        auto f = std::make_unique<qbInbuiltFontFile>();
        f->path = path;
        f->file.reset(FileOpen(path.c_str(), kFileModeRead, nullptr));
        if (!f->file) return nullptr;
        f->stamp = StampOfOpenFile(f->file.get());
        f->descriptor = DescriptorOfOpenFile(f->file.get(), &f->base);
        f->users = 1;
        files.push_back(std::move(f));
        return files.back().get();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// The one place it lets one go, with the last font that reads it.
void ReleaseInbuiltFile(qbInbuiltFontFile* file) {
    if (!file || --file->users > 0) return;
    std::vector<std::unique_ptr<qbInbuiltFontFile>>& files = OpenFiles();
    for (auto it = files.begin(); it != files.end(); ++it) {
        if (it->get() != file) continue;
        files.erase(it);
        return;
    }
}

// Pixel sizes past this would make single glyph bitmaps of hundreds of
// megabytes; such fonts fail the open instead.
constexpr int64_t kMaxPixelSize = 8192;

int EmbeddedIndex(const char* name) {
    static const char* const kNames[] = {"Bitstream Vera Sans", "Bitstream Vera Serif", "Bitstream Vera Sans Mono"};
    for (int i = 0; i < 3; ++i)
        if (StrCmpNoCase(name, kNames[i]) == 0) return i;
    return -1;
}

bool HasExtension(const std::string& name, const char* ext) {
    const size_t n = std::char_traits<char>::length(ext);
    return name.size() >= n && StrCmpNoCase(name.c_str() + name.size() - n, ext) == 0;
}

void ReleaseData(qbInbuiltFontData* d) {
    FreeInbuiltGlyphCaches(d);
    if (d->face) FT_Done_Face(d->face);
    d->face = nullptr;
    ReleaseInbuiltFile(d->file);
    d->file = nullptr;
    ReleaseReadFile(d);
    if (d->deleteTemp && !d->tempPath.empty()) std::remove(d->tempPath.c_str());
    d->deleteTemp = false;
}

struct DataDeleter {
    void operator()(qbInbuiltFontData* d) const {
        ReleaseData(d);
        delete d;
    }
};
using DataPtr = std::unique_ptr<qbInbuiltFontData, DataDeleter>;

bool OpenFileFace(qbInbuiltFontData* d, const std::string& path, int64_t offset, int64_t size) {
    ++g_fileOpens;
    d->file = AcquireInbuiltFile(path);
    if (!d->file) return false;
    if (!d->stamp) d->stamp = d->file->stamp;
    HoldReadFile(d, OpenFileIdOf(d->file->file.get()));
    if (size <= 0) {
        size = GetFileSize(d->file->file.get());
        offset = 0;
    }
    if (size <= 0 || size > 0x7FFFFFFF) return false;
    d->dataOffset = offset;
    d->dataSize = size;
    d->stream.size = static_cast<unsigned long>(size);
    d->stream.descriptor.pointer = d;
    d->stream.read = FontStreamRead;
    FT_Open_Args args{};
    args.flags = FT_OPEN_STREAM;
    args.stream = &d->stream;
    return FT_Open_Face(InbuiltFreeTypeLibrary(), &args, 0, &d->face) == 0;
}

// The face's height in pixels at 100 points: its highest glyph top to its
// lowest glyph bottom over the Latin-1 characters.
int64_t MeasureAt100(FT_Face face) {
    if (FT_Set_Char_Size(face, 0, 100 * 64, 72, 72) != 0) return 0;
    int64_t top = 0, bottom = 0;
    for (uint32_t c = 33; c <= 255; ++c) {
        const FT_UInt index = FT_Get_Char_Index(face, c);
        if (!index || FT_Load_Glyph(face, index, FT_LOAD_NO_AUTOHINT) != 0) continue;
        if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0) continue;
        top = std::max<int64_t>(top, face->glyph->bitmap_top);
        bottom = std::max<int64_t>(bottom, int64_t{face->glyph->bitmap.rows} - face->glyph->bitmap_top);
    }
    return top + bottom;
}

}  // namespace

unsigned long FontStreamRead(FT_Stream stream, unsigned long position, unsigned char* buffer, unsigned long count) {
    auto* d = static_cast<qbInbuiltFontData*>(stream->descriptor.pointer);
    if (!d || !d->file) return count ? 0 : 1;
    // The face's bytes end at its size whatever follows them in the file (a
    // part of a file, a face of a collection): a seek may reach the end, not
    // pass it, and no read returns a byte beyond it.
    if (position > stream->size) return count ? 0 : 1;
    const bool seek = count == 0;
    count = std::min(count, stream->size - position);
    if (d->file->descriptor >= 0)
        return count ? ReadDescriptorAt(d->file->descriptor,
                                        d->file->base + d->dataOffset + static_cast<int64_t>(position), buffer, count)
                     : 0;
    qbFile* file = d->file->file.get();
    if (FileSeek(file, d->dataOffset + static_cast<int64_t>(position), kSeekBeginning) < 0) return seek ? 1 : 0;
    return count ? static_cast<unsigned long>(FileRead(file, buffer, count)) : 0;
}

int64_t InbuiltFileOpenCount() { return g_fileOpens; }

size_t InbuiltOpenFileCount() { return OpenFiles().size(); }

int OpenInbuiltFont(const char* name, int32_t size, int32_t cache, qbFont* font) {
    if (!name || !font || size < 1) return 0;
    // A font layer started before the engine was installed never started it.
    if (!InbuiltFreeTypeLibrary() && StartInbuiltEngine() != 0) return 0;
    DataPtr d(new (std::nothrow) qbInbuiltFontData);
    if (!d) return 0;
    const std::string given = name;
    const bool chunk = IsChunkName(name);
    const int embedded = chunk ? -1 : EmbeddedIndex(name);
    const size_t heldBefore = InbuiltFreeTypeBytes();
    bool ok = false;
    if (embedded >= 0) {
        const qbEmbeddedFont data = GetEmbeddedVera(embedded);
        ok = data.data && FT_New_Memory_Face(InbuiltFreeTypeLibrary(), data.data, static_cast<FT_Long>(data.size), 0,
                                             &d->face) == 0;
    } else if (chunk || HasExtension(given, ".ttf") || HasExtension(given, ".otf")) {
        ok = OpenFileFace(d.get(), given, 0, 0);
    } else {
        qbFoundFont found;
        if (!FindInstalledFont(given, -1, 0, false, &found)) return 0;
        d->tempPath = found.path;
        d->deleteTemp = found.temporary;
        if (found.temporary) d->stamp = found.source;
        ok = OpenFileFace(d.get(), found.path, found.dataOffset, found.dataSize);
    }
    if (!ok) return 0;
    const int64_t h = MeasureAt100(d->face);
    if (h <= 0) return 0;
    const int64_t pixelSize = std::max<int64_t>(int64_t{size} * 100 / h, 2);
    if (pixelSize > kMaxPixelSize) return 0;
    d->pixelSize = static_cast<int32_t>(pixelSize);
    if (FT_Set_Pixel_Sizes(d->face, 0, static_cast<FT_UInt>(pixelSize - 1)) != 0) return 0;
    d->cache = cache != 0;
    font->engine = kFontKindInbuilt;
    font->scalable = 1;
    font->antialiasCapable = 1;
    font->size = size;
    font->height = font->baseHeight = size;
    font->baseline = font->baseBaseline = ComputeInbuiltBaseline(d.get(), size);
    // Glyphs loaded at the size made its hinting instance as well.
    const size_t heldAfter = InbuiltFreeTypeBytes();
    d->faceBytes = heldAfter > heldBefore ? heldAfter - heldBefore : 0;
    std::string display = d->face->family_name ? d->face->family_name : given;
    const std::string style = d->face->style_name ? d->face->style_name : "";
    if (!style.empty() && !IsRegularStyleName(style)) display += " " + style;
    std::snprintf(font->name, sizeof font->name, "%s", display.c_str());
    font->engineData = d.release();
    return 1;
}

void CloseInbuiltFont(qbFont* font) {
    if (!font || !font->engineData) return;
    DataPtr d(InbuiltDataOf(font));
    font->engineData = nullptr;
}
