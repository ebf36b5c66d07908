#include "media/iffanim.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/recordread.h"
#include "imaging/ilbm.h"
#include "media/iffdelta.h"

namespace {

constexpr int64_t kKeyFormStart = 12;
constexpr int64_t kKeyChunksStart = 24;
constexpr int32_t kMaxPlanes = 8;
constexpr int32_t kHAM6MaxPlanes = 6;
constexpr uint32_t kCamgExtraHalfBrite = 0x80;
constexpr uint32_t kCamgHAM = 0x800;
constexpr uint32_t kMaskingTransparentIndex = 2;
constexpr uint64_t kMaxPixels = uint64_t{1} << 28;
constexpr size_t kPaletteEntries = 256;
constexpr size_t kAnhdRelTime = 14, kAnhdInterleave = 18, kAnhdBits = 20, kAnhdMinSize = 24;
constexpr size_t kBmhdUsedSize = 20;

uint32_t Id(const char* id) {
    return static_cast<uint32_t>(static_cast<uint8_t>(id[0])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(id[1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(id[2])) << 8 | static_cast<uint8_t>(id[3]);
}

uint32_t BE(const uint8_t* p, size_t bytes) {
    uint32_t v = 0;
    for (size_t i = 0; i < bytes; ++i) v = v << 8 | p[i];
    return v;
}

bool ReadAt(qbFile* file, int64_t position, void* buffer, size_t count) {
    return FileSeek(file, position, kSeekBeginning) >= 0 && FileRead(file, buffer, count) == count;
}

struct ChunkHeader {
    uint32_t id = 0;
    uint32_t size = 0;
    int64_t data = 0;  // position of the chunk's data
    int64_t next = 0;  // position of the following chunk (sizes padded to even)
};

bool ReadChunkHeader(qbFile* file, int64_t position, int64_t end, ChunkHeader* c) {
    uint8_t h[8];
    if (position + 8 > end || !ReadAt(file, position, h, 8)) return false;
    c->id = BE(h, 4);
    c->size = BE(h + 4, 4);
    c->data = position + 8;
    c->next = c->data + int64_t{c->size} + (c->size & 1);
    return true;
}

// What the reader uses of each chunk it reads: BMHD's fields up to the
// transparent colour, ANHD's up to its bits, 256 CMAP entries, DPAN's frame
// count, CAMG's mode word; a DLTA whole (`ReadDelta`).
size_t UsedBytes(uint32_t id) {
    if (id == Id("BMHD")) return kBmhdUsedSize;
    if (id == Id("ANHD")) return kAnhdMinSize;
    if (id == Id("CMAP")) return 3 * kPaletteEntries;
    if (id == Id("DPAN") || id == Id("CAMG")) return 4;
    return SIZE_MAX;
}

// The bytes of a chunk the reader uses, when the chunk lies inside [.., end)
// (`end` is never past the file's end): a size field is whatever the file
// says, and memory follows what is used.
bool ReadChunkData(qbFile* file, const ChunkHeader& c, int64_t end, std::vector<uint8_t>* data) {
    return ReadRecordPrefix(file, c.data, c.size, UsedBytes(c.id), end, data);
}

template <typename T>
bool Assign(std::vector<T>* v, size_t count, T value = T{}) {
    try {
        v->assign(count, value);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void ReadPalette(const std::vector<uint8_t>& cmap, bool halfBrite, uint32_t* palette) {
    const size_t entries = std::min(cmap.size() / 3, kPaletteEntries);
    for (size_t i = 0; i < entries; ++i) palette[i] = BE(&cmap[3 * i], 3);
    if (halfBrite) ApplyExtraHalfBrite(palette);
}

struct DeltaHeader {
    bool present = false;
    int32_t operation = 0;
    uint32_t relTime = 0;
    uint8_t interleave = 0;
    uint32_t bits = 0;
};

bool ParseAnhd(const std::vector<uint8_t>& d, DeltaHeader* h) {
    if (d.size() < kAnhdMinSize) return false;
    h->present = true;
    h->operation = d[0];
    h->relTime = BE(&d[kAnhdRelTime], 4);
    h->interleave = d[kAnhdInterleave];
    h->bits = BE(&d[kAnhdBits], 4);
    return true;
}

// The ANHD of the delta FORM at `position`, without decoding it. `parentEnd`
// bounds the FORM: its size field may claim more than the file holds.
bool PeekDeltaHeader(qbFile* file, const ChunkHeader& form, int64_t parentEnd, DeltaHeader* h) {
    const int64_t end = std::min(form.data + int64_t{form.size}, parentEnd);
    for (int64_t pos = form.data + 4;;) {
        ChunkHeader c;
        if (!ReadChunkHeader(file, pos, end, &c)) return true;
        if (c.id == Id("ANHD")) {
            std::vector<uint8_t> d;
            return ReadChunkData(file, c, end, &d) && ParseAnhd(d, h);
        }
        pos = c.next;
    }
}

size_t PlaneBytes(const qbIFFAnimReader& r) { return r.rowBytes * static_cast<size_t>(r.height); }

// What a DLTA can use is bounded by the planes it covers: every operation
// writes a byte of a plane with at most 4 bytes of its own (an entry of one
// 16-bit item takes 8), and what writes nothing (a column's count, its
// empty runs) is allowed a kilobyte a column beside the pointer tables. A
// larger DLTA is a damaged frame, refused unread: its size field alone
// never buys memory.
constexpr uint64_t kDeltaTables = 1024, kDeltaColumnSlack = 1024;
bool ReadDelta(const qbIFFAnimReader& r, const ChunkHeader& c, int64_t end, std::vector<uint8_t>* delta) {
    const uint64_t columns = uint64_t{r.rowBytes} * static_cast<uint64_t>(r.planes);
    const uint64_t limit = kDeltaTables + columns * (4 * static_cast<uint64_t>(r.height) + kDeltaColumnSlack);
    return ReadWholeRecord(r.file.get(), c.data, c.size, limit, end, delta);
}

void Rewind(qbIFFAnimReader* r) {
    r->buffers[0] = r->keyPlanes;
    r->buffers[1] = r->keyPlanes;
    r->current = 0;
    std::copy(r->keyPalette, r->keyPalette + kPaletteEntries, r->palette);
    r->deltaPos = r->firstDelta;
    r->nextFrame = 1;
    r->haveSavedField = false;
}

// The first row in which the planes differ from the saved ones, or -1.
int32_t FirstChangedRow(const qbIFFAnimReader& r, const std::vector<uint8_t>& planes) {
    const size_t planeBytes = PlaneBytes(r);
    for (int32_t y = 0; y < r.height; ++y)
        for (int32_t p = 0; p < r.planes; ++p) {
            const size_t at = static_cast<size_t>(p) * planeBytes + static_cast<size_t>(y) * r.rowBytes;
            if (std::memcmp(&planes[at], &r.savedField[at], r.rowBytes) != 0) return y;
        }
    return -1;
}

// Decodes the delta FORM at deltaPos into the frame buffer in turn.
bool DecodeDelta(qbIFFAnimReader* r) {
    qbFile* file = r->file.get();
    ChunkHeader form;
    uint8_t type[4];
    if (!ReadChunkHeader(file, r->deltaPos, r->end, &form) || form.id != Id("FORM") ||
        !ReadAt(file, form.data, type, 4))
        return false;
    const int64_t formEnd = std::min(form.data + int64_t{form.size}, r->end);
    DeltaHeader h;
    std::vector<uint8_t> delta, data;
    bool haveDelta = false;
    for (int64_t pos = form.data + 4; !haveDelta;) {
        ChunkHeader c;
        if (!ReadChunkHeader(file, pos, formEnd, &c)) return false;
        if (c.id == Id("ANHD")) {
            if (!ReadChunkData(file, c, formEnd, &data) || !ParseAnhd(data, &h)) return false;
        } else if (c.id == Id("CMAP")) {
            if (!ReadChunkData(file, c, formEnd, &data)) return false;
            ReadPalette(data, r->halfBrite, r->palette);
        } else if (c.id == Id("DLTA")) {
            if (!ReadDelta(*r, c, formEnd, &delta)) return false;
            haveDelta = true;
        }
        pos = c.next;
    }
    r->deltaPos = form.next;
    if (!h.present || !IsSupportedIFFDelta(h.operation)) return false;
    const bool fieldDelta =
        (h.operation == kIFFDeltaLong || h.operation == kIFFDeltaShort) && (h.bits & kIFFDeltaFields);
    if (fieldDelta && r->fieldMode && (r->deinterlace == kDeinterlaceDefault || r->field == 0)) {
        r->savedField = r->buffers[r->current];
        r->haveSavedField = true;
    }
    if (h.interleave == 0) r->current ^= 1;
    std::vector<uint8_t>& target = r->buffers[r->current];
    IFFDeltaTarget t;
    t.planes = target.data();
    t.planeCount = r->planes;
    t.width = r->width;
    t.height = r->height;
    t.rowBytes = r->rowBytes;
    t.fields = fieldDelta;
    if (!ApplyIFFDelta(h.operation, h.bits, h.interleave, delta.data(), delta.size(), t)) return false;
    if (fieldDelta && r->fieldMode && r->field == 0) {
        const int32_t row = FirstChangedRow(*r, target);
        if (row >= 0) r->field = (row & 1) ? 1 : 2;
    }
    return true;
}

void ToIndices(const qbIFFAnimReader& r, const std::vector<uint8_t>& planes, std::vector<uint8_t>* out) {
    std::fill(out->begin(), out->end(), 0);
    PlanarToChunky(planes.data(), r.width, r.height, r.planes, r.rowBytes, out->data(), 0);
}

// Replaces the rows of the field that this frame did not bring.
void Deinterlace(qbIFFAnimReader* r, int32_t frame) {
    const bool oddRows = ((frame & 1) != 0) != (r->fieldOrder == 0);
    const size_t w = static_cast<size_t>(r->width);
    const bool fromPrevious = r->deinterlace == kDeinterlaceDefault;
    if (fromPrevious) {
        if (!r->haveSavedField) return;
        ToIndices(*r, r->savedField, &r->fieldIndices);
    }
    uint8_t* rows = r->indices.data();
    for (int32_t y = oddRows ? 1 : 0; y < r->height; y += 2) {
        uint8_t* row = rows + static_cast<size_t>(y) * w;
        if (fromPrevious) {
            std::memcpy(row, r->fieldIndices.data() + static_cast<size_t>(y) * w, w);
            continue;
        }
        // With an odd height the last even row has no row below: it takes
        // the one above.
        const int32_t source = oddRows ? y - 1 : (y + 1 < r->height ? y + 1 : y - 1);
        if (source >= 0) std::memcpy(row, rows + static_cast<size_t>(source) * w, w);
    }
}

// Allocates and reads everything up to the key frame's planes.
bool ReadKeyFrame(qbIFFAnimReader* r, int32_t* dpanFrames, DeltaHeader* keyHeader, int64_t* keyEnd) {
    qbFile* file = r->file.get();
    ChunkHeader keyForm;
    uint8_t type[4];
    if (!ReadChunkHeader(file, kKeyFormStart, r->end, &keyForm) || keyForm.id != Id("FORM") ||
        !ReadAt(file, keyForm.data, type, 4) || BE(type, 4) != Id("ILBM"))
        return false;
    *keyEnd = keyForm.next;
    const int64_t formEnd = std::min(keyForm.data + int64_t{keyForm.size}, r->end);
    std::vector<uint8_t> d;
    uint32_t camg = 0;
    ChunkHeader body;
    for (int64_t pos = kKeyChunksStart;; pos = body.next) {
        if (!ReadChunkHeader(file, pos, formEnd, &body)) return false;
        if (body.id == Id("BODY")) break;
        if (body.id == Id("BMHD") || body.id == Id("ANHD") || body.id == Id("CMAP") || body.id == Id("DPAN") ||
            body.id == Id("CAMG")) {
            if (!ReadChunkData(file, body, formEnd, &d)) return false;
        }
        if (body.id == Id("BMHD")) {
            if (d.size() < kBmhdUsedSize) return false;
            r->width = static_cast<int32_t>(BE(&d[0], 2));
            r->height = static_cast<int32_t>(BE(&d[2], 2));
            r->planes = d[8];
            r->masking = d[9];
            r->compression = d[10];
            r->transparent = static_cast<int32_t>(BE(&d[12], 2));
        } else if (body.id == Id("ANHD")) {
            ParseAnhd(d, keyHeader);
        } else if (body.id == Id("CMAP")) {
            ReadPalette(d, false, r->palette);
        } else if (body.id == Id("DPAN")) {
            if (d.size() >= 4) *dpanFrames = static_cast<int32_t>(BE(&d[2], 2));
        } else if (body.id == Id("CAMG")) {
            if (d.size() >= 4) camg = BE(&d[0], 4);
        }
    }
    if (r->width <= 0 || r->height <= 0 || r->planes <= 0 || r->planes > kMaxPlanes) return false;
    if (static_cast<uint64_t>(r->width) * static_cast<uint64_t>(r->height) > std::min(kMaxPixels, GetMaxImagePixels()))
        return false;
    const qbPixelCoding coding = PackedCoding(static_cast<uint32_t>(r->planes), r->compression == 0 ? 1 : kByteRunExpansion);
    if (!SourceCanHold(r->width, r->height, FilePixelSource(file, coding))) return false;
    r->halfBrite = camg & kCamgExtraHalfBrite;
    if (camg & kCamgHAM) (r->planes > kHAM6MaxPlanes ? r->ham8 : r->ham6) = true;
    if (r->halfBrite) ApplyExtraHalfBrite(r->palette);
    std::copy(r->palette, r->palette + kPaletteEntries, r->keyPalette);

    r->rowBytes = ILBMRowBytes(r->width);
    const size_t pixels = static_cast<size_t>(r->width) * static_cast<size_t>(r->height);
    if (!Assign(&r->keyPlanes, PlaneBytes(*r) * static_cast<size_t>(r->planes)) || !Assign(&r->indices, pixels))
        return false;
    if (FileSeek(file, body.data, kSeekBeginning) < 0) return false;
    const ILBMBodyLayout layout{r->width, r->height, r->planes, r->masking};
    if (r->compression == 0) return ReadILBMBodyPlain(file, r->keyPlanes.data(), layout);
    if (r->compression == 1) return ReadILBMBodyByteRun1(file, r->keyPlanes.data(), layout);
    return false;
}

// Counts the delta FORMs and takes their delays; false when a chunk other
// than a FORM stands among them.
bool ScanDeltas(qbIFFAnimReader* r, std::vector<uint32_t>* delays, DeltaHeader* first) {
    for (int64_t pos = r->firstDelta; pos + 8 <= r->end;) {
        ChunkHeader form;
        if (!ReadChunkHeader(r->file.get(), pos, r->end, &form) || form.id != Id("FORM")) return false;
        DeltaHeader h;
        if (!PeekDeltaHeader(r->file.get(), form, r->end, &h)) return false;
        if (delays->empty()) *first = h;
        try {
            delays->push_back(h.relTime);
        } catch (const std::bad_alloc&) {
            return false;
        }
        pos = form.next;
    }
    return true;
}

bool Open(qbIFFAnimReader* r) {
    qbFile* file = r->file.get();
    uint8_t header[12];
    if (!ReadAt(file, 0, header, 12) || BE(header, 4) != Id("FORM") || BE(header + 8, 4) != Id("ANIM")) return false;
    const int64_t size = GetFileSize(file);
    r->end = std::min<int64_t>(8 + int64_t{BE(header + 4, 4)}, size >= 0 ? size : INT64_MAX);
    int32_t dpanFrames = 0;
    DeltaHeader keyHeader, first;
    if (!ReadKeyFrame(r, &dpanFrames, &keyHeader, &r->firstDelta)) return false;
    std::vector<uint32_t> deltaDelays;
    if (!ScanDeltas(r, &deltaDelays, &first) || deltaDelays.empty()) return false;
    if (!first.present || !IsSupportedIFFDelta(first.operation)) return false;
    const bool entryLists = first.operation == kIFFDeltaLong || first.operation == kIFFDeltaShort;
    // A DPAN of no frames says nothing: the FORMs are counted then.
    int64_t frames = dpanFrames;
    if (frames <= 0) {
        frames = 1 + static_cast<int64_t>(deltaDelays.size());
        if (entryLists) frames -= 2;
    }
    if (frames < 1) frames = 1;
    r->frameCount = static_cast<int32_t>(frames);
    if (!Assign(&r->delays, static_cast<size_t>(frames), 0u)) return false;
    r->delays[0] = keyHeader.relTime;
    for (size_t i = 1; i < r->delays.size() && i - 1 < deltaDelays.size(); ++i) r->delays[i] = deltaDelays[i - 1];

    Rewind(r);
    if (entryLists && (first.bits & kIFFDeltaFields)) {
        r->fieldMode = true;
        int32_t count = 0;
        while (r->field == 0 && count < r->frameCount && r->deltaPos + 8 <= r->end) {
            if (!DecodeDelta(r)) break;
            ++count;
        }
        r->fieldOrder = (count & 1) ^ (r->field == 1 ? 1 : 0);
        if (r->deinterlace == kDeinterlaceDefault &&
            !Assign(&r->fieldIndices, static_cast<size_t>(r->width) * static_cast<size_t>(r->height)))
            return false;
        Rewind(r);
    }
    return true;
}

}  // namespace

void IFFAnimCloser::operator()(qbIFFAnimReader* reader) const { CloseIFFAnim(reader); }

qbIFFAnimReader* OpenIFFAnim(qbFile* file, int32_t deinterlace, int32_t* width, int32_t* height,
                             int32_t* frameCount, bool loadTransparency) {
    qbFilePtr owned(file);
    if (!file) return nullptr;
    qbIFFAnimReaderPtr r(new (std::nothrow) qbIFFAnimReader);
    if (!r) return nullptr;
    r->file = std::move(owned);
    r->deinterlace = deinterlace == kDeinterlaceDouble ? kDeinterlaceDouble : kDeinterlaceDefault;
    r->loadTransparency = loadTransparency;
    if (!Open(r.get())) return nullptr;
    if (width) *width = r->width;
    if (height) *height = r->height;
    if (frameCount) *frameCount = r->frameCount;
    return r.release();
}

PixelBuffer GetIFFAnimFrame(qbIFFAnimReader* r, int32_t frame, uint32_t* transparency) {
    if (transparency) *transparency = 0;
    if (!r || frame < 0 || frame >= r->frameCount) return {};
    const std::vector<uint8_t>* planes = &r->keyPlanes;
    if (frame == 0) {
        Rewind(r);
    } else {
        if (frame < r->nextFrame) Rewind(r);
        while (r->nextFrame <= frame) {
            if (!DecodeDelta(r)) {
                Rewind(r);
                return {};
            }
            ++r->nextFrame;
        }
        planes = &r->buffers[r->current];
    }
    PixelBuffer out;
    // The key frame's size was checked against the file at the open.
    if (AllocImagePixels(r->width, r->height, kPixelsNotRead, &out)) return {};
    ToIndices(*r, *planes, &r->indices);
    if (frame > 0 && r->fieldMode && r->field != 0) Deinterlace(r, frame);
    const bool ham = r->ham6 || r->ham8;
    if (r->ham6)
        ConvertHAM6(r->indices.data(), out.get(), r->palette, r->width, r->height);
    else if (r->ham8)
        ConvertHAM8(r->indices.data(), out.get(), r->palette, r->width, r->height);
    else
        ChunkyToARGB(r->indices.data(), out.get(), frame == 0 ? r->keyPalette : r->palette, r->width, r->height);
    if (r->loadTransparency && static_cast<uint32_t>(r->masking) == kMaskingTransparentIndex) {
        const size_t n = static_cast<size_t>(r->width) * static_cast<size_t>(r->height);
        const uint32_t t = static_cast<uint32_t>(r->transparent);
        const uint32_t key = (t << 12) | t;
        for (size_t i = 0; i < n; ++i) {
            const uint32_t rgb = out[i] & 0xFFFFFFu;
            const bool keyed = ham ? rgb == key : r->indices[i] == t;
            out[i] = keyed ? (ham ? key : rgb) : rgb | 0xFF000000u;
        }
        if (transparency) *transparency = 1;
    }
    if (frame == r->frameCount - 1) Rewind(r);
    return out;
}

uint32_t GetIFFAnimFrameDelay(const qbIFFAnimReader* r, int32_t frame) {
    if (!r || frame < 0 || static_cast<size_t>(frame) >= r->delays.size()) return 0;
    return static_cast<uint32_t>((uint64_t{r->delays[static_cast<size_t>(frame)]} * 1000 + 30) / 60);
}

void CloseIFFAnim(qbIFFAnimReader* reader) { delete reader; }
