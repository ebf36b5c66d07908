// Reading ILBM pictures: the chunk search, the header, the body and the
// palette and key-colour rules of palette pictures.
#include <algorithm>
#include <cstring>
#include <new>
#include <cstdint>
#include <memory>

#include "core/errcodes.h"
#include "core/file.h"
#include "imaging/ilbm.h"

namespace {

constexpr int64_t kAfterFormHeader = 12;
constexpr uint32_t kCamgExtraHalfBrite = 0x80;
constexpr uint32_t kCamgHAM = 0x800;
constexpr int32_t kDeepPlanes = 24;
constexpr int32_t kMaxPalettePlanes = 8;
constexpr int32_t kHAM6MaxPlanes = 6;
constexpr int kMaskingTransparentIndex = 2;
constexpr uint32_t kFirstKeyCandidate = 0xA8A8A8;
constexpr uint32_t kKeyCandidateStep = 15;
constexpr size_t kPaletteEntries = 256;

uint32_t Id(const char* id) {
    return static_cast<uint32_t>(static_cast<uint8_t>(id[0])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(id[1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(id[2])) << 8 | static_cast<uint8_t>(id[3]);
}

enum class ScanEnd { kFound, kBody, kEnd };

// Bytes that occur in either of two ids.
struct LetterSet {
    bool has[256] = {};
    LetterSet(uint32_t a, uint32_t b) {
        for (int shift = 0; shift < 32; shift += 8) has[(a >> shift) & 0xFF] = has[(b >> shift) & 0xFF] = true;
    }
};

// The window ending at bytes[end], `window` holding the bytes before.
uint32_t WindowAt(const uint8_t* bytes, size_t end, uint32_t window) {
    for (size_t i = end >= 3 ? end - 3 : 0; i <= end; ++i) window = window << 8 | bytes[i];
    return window;
}

// The end of the first window over bytes[0, size) equal to `a` or `b` (the
// window in *found), or size. Every window of four bytes holds exactly one
// byte at an index of 3 modulo 4, so only those bytes are looked up, and
// the four windows through one that is a letter of either id compared.
size_t FindWindow(const uint8_t* bytes, size_t size, uint32_t window, uint32_t a, uint32_t b,
                  const LetterSet& letters, uint32_t* found) {
    auto matches = [&](size_t end) {
        *found = WindowAt(bytes, end, window);
        return *found == a || *found == b;
    };
    for (size_t end = 0; end < std::min<size_t>(size, 3); ++end)
        if (matches(end)) return end;
    for (size_t k = 3; k < size; k += 4) {
        if (!letters.has[bytes[k]]) continue;
        for (size_t end = k; end < std::min(size, k + 4); ++end)
            if (matches(end)) return end;
    }
    return size;
}

ScanEnd Scan(qbFile* file, uint32_t wanted) {
    const uint32_t body = Id("BODY");
    const LetterSet letters(wanted, body);
    uint32_t window = 0;
    for (int filled = 1;; ++filled) {
        // Once the window is full it slides over the read-ahead bytes in
        // place; the file is left just after the window that ended the scan.
        if (const qbBufferedBytes bytes = FileBufferedBytes(file); filled >= 4 && bytes.size) {
            uint32_t found = 0;
            const size_t end = FindWindow(bytes.data, bytes.size, window, wanted, body, letters, &found);
            if (end < bytes.size) {
                FileConsumeBuffered(file, end + 1);
                return found == wanted ? ScanEnd::kFound : ScanEnd::kBody;
            }
            FileConsumeBuffered(file, bytes.size);
            window = WindowAt(bytes.data, bytes.size - 1, window);
        }
        const int c = FileGetC(file);
        if (c < 0) return ScanEnd::kEnd;
        window = window << 8 | static_cast<uint32_t>(c);
        if (filled < 4) continue;
        if (window == wanted) return ScanEnd::kFound;
        if (window == body) return ScanEnd::kBody;
    }
}

bool AtEnd(qbFile* file) {
    const int64_t size = GetFileSize(file);
    const int64_t position = FileSeek(file, 0, kSeekCurrent);
    return size > 0 && position >= size;
}

bool ReadU8(qbFile* f, uint32_t* v) {
    const int c = FileGetC(f);
    if (c < 0) return false;
    *v = static_cast<uint32_t>(c);
    return true;
}

bool ReadBE(qbFile* f, int bytes, uint32_t* v) {
    uint32_t r = 0, c = 0;
    for (int i = 0; i < bytes; ++i) {
        if (!ReadU8(f, &c)) return false;
        r = r << 8 | c;
    }
    *v = r;
    return true;
}

struct Header {
    uint32_t width = 0, height = 0, planes = 0, masking = 0, compression = 0, transparent = 0;
    bool halfBrite = false, ham = false;
};

bool ReadHeader(qbFile* file, Header* h) {
    uint32_t size, ignored;
    return ReadBE(file, 4, &size) && ReadBE(file, 2, &h->width) && ReadBE(file, 2, &h->height) &&
           ReadBE(file, 4, &ignored) && ReadU8(file, &h->planes) && ReadU8(file, &h->masking) &&
           ReadU8(file, &h->compression) && ReadU8(file, &ignored) && ReadBE(file, 2, &h->transparent);
}

// The display mode; none without the chunk, or for deep pictures.
void ReadDisplayMode(qbFile* file, Header* h) {
    if (h->planes >= static_cast<uint32_t>(kDeepPlanes) || !FindIFFChunk(file, "CAMG")) return;
    uint32_t size, mode;
    if (!ReadBE(file, 4, &size) || !ReadBE(file, 4, &mode)) return;
    h->halfBrite = mode & kCamgExtraHalfBrite;
    h->ham = mode & kCamgHAM;
}

bool ReadPalette(qbFile* file, uint32_t* palette) {
    uint32_t size;
    if (!FindIFFChunk(file, "CMAP") || !ReadBE(file, 4, &size)) return false;
    const uint32_t entries = std::min<uint32_t>(size / 3, kPaletteEntries);
    for (uint32_t i = 0; i < entries; ++i)
        if (!ReadBE(file, 3, &palette[i])) return false;
    return true;
}

int32_t FreeKeyColour(const uint32_t* palette) {
    uint32_t colour = kFirstKeyCandidate;
    while (std::find(palette, palette + kPaletteEntries, colour) != palette + kPaletteEntries)
        colour += kKeyCandidateStep;
    return static_cast<int32_t>(colour);
}

// The caller's palette, the caller colour and the modes decide the key
// colour of a palette picture.
int32_t SettlePalette(ILBMReadRequest* r, const Header& h, uint32_t* palette) {
    if (r->palette) {
        size_t n = 0;
        while (n < kPaletteEntries && r->palette[n] != kNoCallerColour) ++n;
        std::copy(r->palette, r->palette + n, palette);
        std::copy(palette, palette + kPaletteEntries, r->palette);
        return -1;
    }
    if (r->callerColour == kNoCallerColour && !r->mode1 && !r->mode2) return -1;
    if (h.planes == 1 && !r->mode2) {
        if (r->callerColour != kNoCallerColour) palette[1] = r->callerColour & 0xFFFFFFu;
        return static_cast<int32_t>(palette[0]);
    }
    if ((h.masking == kMaskingTransparentIndex || h.planes == 1) && (r->mode1 || r->mode2)) {
        // The palette has no room for an index beyond it: no key then.
        if (h.transparent >= kPaletteEntries) return -1;
        const int32_t key = FreeKeyColour(palette);
        palette[h.transparent] = static_cast<uint32_t>(key);
        return key;
    }
    return -1;
}

// Left uninitialised: the body and the conversion write every byte.
std::unique_ptr<uint8_t[]> AllocateBytes(uint64_t count) {
    if (count > SIZE_MAX) return nullptr;
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[static_cast<size_t>(count)]);
}

}  // namespace

bool FindIFFChunk(qbFile* file, const char* id) {
    const uint32_t wanted = Id(id);
    for (int scan = 0; scan < 2; ++scan) {
        if (AtEnd(file) && FileSeek(file, kAfterFormHeader, kSeekBeginning) < 0) return false;
        const ScanEnd end = Scan(file, wanted);
        if (end == ScanEnd::kFound || (end == ScanEnd::kBody && wanted == Id("BODY"))) return true;
        if (end == ScanEnd::kEnd && scan == 0 && FileSeek(file, kAfterFormHeader, kSeekBeginning) < 0) return false;
    }
    return false;
}

int ReadILBM(qbFile* file, ILBMReadRequest* r) {
    r->key = -1;
    r->pixels.reset();
    r->paletteCopy.reset();
    Header h;
    if (!FindIFFChunk(file, "BMHD") || !ReadHeader(file, &h)) return ERR_LOADPICTURE2;
    r->width = static_cast<int32_t>(h.width);
    r->height = static_cast<int32_t>(h.height);
    if (r->probe) return 0;
    const bool deep = h.planes == static_cast<uint32_t>(kDeepPlanes);
    // Other plane counts have no defined colours; refused, another decoder
    // may know them.
    if (h.width == 0 || h.height == 0 || h.planes == 0 || (!deep && h.planes > kMaxPalettePlanes))
        return ERR_LOADPICTURE2;
    ReadDisplayMode(file, &h);
    // Each plane codes a bit of a pixel (a mask plane only adds to them).
    const qbPixelSource source =
        FilePixelSource(file, PackedCoding(h.planes, h.compression == 0 ? 1 : kByteRunExpansion));
    PixelBuffer pixels;
    if (int err = AllocImagePixels(h.width, h.height, source, &pixels)) return err;
    if (!FindIFFChunk(file, "BODY")) return ERR_LOADPICTURE2;
    uint32_t bodySize;
    if (!ReadBE(file, 4, &bodySize)) return ERR_LOADPICTURE2;

    const ILBMBodyLayout layout{r->width, r->height, static_cast<int32_t>(h.planes), static_cast<int32_t>(h.masking)};
    const size_t rowBytes = ILBMRowBytes(r->width);
    std::unique_ptr<uint8_t[]> planar = AllocateBytes(uint64_t{rowBytes} * h.height * h.planes);
    if (!planar) return ERR_MEM;
    const bool bodyRead = h.compression == 0 ? ReadILBMBodyPlain(file, planar.get(), layout)
                                             : ReadILBMBodyByteRun1(file, planar.get(), layout);
    if (!bodyRead) return ERR_LOADPICTURE2;

    if (deep) {
        PlanarToChunky(planar.get(), r->width, r->height, kDeepPlanes, rowBytes, pixels.get(),
                       static_cast<size_t>(r->width) * 4);
        r->pixels = std::move(pixels);
        return 0;
    }
    uint32_t palette[kPaletteEntries] = {};
    if (!ReadPalette(file, palette)) return ERR_LOADPICTURE2;
    if (h.halfBrite) ApplyExtraHalfBrite(palette);
    const int hamBits = !h.ham ? 0 : h.planes <= static_cast<uint32_t>(kHAM6MaxPlanes) ? 4 : 6;
    if (!hamBits) r->key = SettlePalette(r, h, palette);
    if (!PlanarToARGB(planar.get(), r->width, r->height, layout.planes, rowBytes, palette, hamBits, pixels.get()))
        return ERR_MEM;
    if (hamBits) {
        r->pixels = std::move(pixels);
        return 0;
    }
    if (r->wantPaletteCopy) {
        r->paletteCopy.reset(new (std::nothrow) uint32_t[kPaletteEntries]);
        if (!r->paletteCopy) return ERR_MEM;
        std::copy(palette, palette + kPaletteEntries, r->paletteCopy.get());
    }
    r->pixels = std::move(pixels);
    return 0;
}
