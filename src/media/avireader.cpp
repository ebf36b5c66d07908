#include "media/avireader.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <new>

#include "core/recordread.h"
#include "platform/imagecodecs.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kMainHeaderSize = 56, kStreamHeaderSize = 56;
constexpr uint32_t kBitmapHeaderSize = 40, kWaveFormatSize = 16;
constexpr uint32_t kIndexEntrySize = 16;
constexpr uint32_t kIndexBlockEntries = 256;
constexpr uint32_t kPCM = 1;
constexpr uint64_t kMaxPixels = uint64_t{1} << 28;
// A Motion-JPEG frame holds at most this many bytes a pixel, and a
// mebibyte of tables and markers: a larger chunk is a damaged frame.
constexpr uint64_t kMaxJPEGBytesPerPixel = 8 * 3, kMaxJPEGOverhead = uint64_t{1} << 20;

constexpr uint32_t FourCC(const char (&s)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) | static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}

uint32_t LE(const uint8_t* p, size_t bytes) {
    uint32_t v = 0;
    for (size_t i = bytes; i-- > 0;) v = v << 8 | p[i];
    return v;
}

uint32_t LowerFourCC(uint32_t v) {
    uint32_t r = 0;
    for (int i = 0; i < 4; ++i)
        r |= static_cast<uint32_t>(std::tolower(static_cast<int>((v >> (8 * i)) & 0xFF))) << (8 * i);
    return r;
}

bool ReadAt(qbFile* file, int64_t position, void* buffer, size_t count) {
    return position >= 0 && FileSeek(file, position, kSeekBeginning) >= 0 && FileRead(file, buffer, count) == count;
}

struct Chunk {
    uint32_t id = 0, size = 0;
    int64_t data = 0, next = 0;
    uint32_t most = UINT32_MAX;  // the size the index lists for it, which it may not pass
};

bool ReadChunk(qbFile* file, int64_t position, int64_t end, Chunk* c) {
    uint8_t h[8];
    if (position + 8 > end || !ReadAt(file, position, h, 8)) return false;
    c->id = LE(h, 4);
    c->size = LE(h + 4, 4);
    c->data = position + 8;
    c->next = c->data + int64_t{c->size} + (c->size & 1);
    return true;
}

// A chunk's first `used` bytes, when it lies inside [.., end): what a header
// chunk holds past the fields the reader takes is never read.
bool ReadData(qbFile* file, const Chunk& c, int64_t end, size_t used, std::vector<uint8_t>* out) {
    return ReadRecordPrefix(file, c.data, c.size, used, end, out);
}

bool IsDigit(uint32_t c) { return c >= '0' && c <= '9'; }

// "NNdb", "NNdc" or "NNwb": the stream number, or -1.
int32_t ChunkStream(uint32_t id) {
    const uint32_t a = id & 0xFF, b = (id >> 8) & 0xFF, kind = id >> 16;
    if (!IsDigit(a) || !IsDigit(b)) return -1;
    if (kind != ('d' | 'b' << 8) && kind != ('d' | 'c' << 8) && kind != ('w' | 'b' << 8)) return -1;
    return static_cast<int32_t>((a - '0') * 10 + (b - '0'));
}

bool IsVideoChunk(const qbAVIReader& r, uint32_t id) {
    const uint32_t kind = id >> 16;
    return ChunkStream(id) == r.videoStream && (kind == ('d' | 'b' << 8) || kind == ('d' | 'c' << 8));
}

bool ParseHeaders(qbAVIReader* r) {
    qbFile* file = r->file.get();
    std::vector<uint8_t> d;
    int32_t lastStream = -1;
    for (int64_t pos = 12;;) {
        Chunk c;
        if (!ReadChunk(file, pos, r->end, &c)) return false;
        if (c.id == FourCC("LIST")) {
            uint8_t type[4];
            if (c.size < 4 || !ReadAt(file, c.data, type, 4)) return false;
            if (LE(type, 4) == FourCC("movi")) {
                r->moviData = c.data + 4;
                r->moviEnd = std::min(c.data + int64_t{c.size}, r->end);
                return true;
            }
            pos = c.data + 4;
            continue;
        }
        if (c.id == FourCC("avih")) {
            if (c.size != kMainHeaderSize || !ReadData(file, c, r->end, kMainHeaderSize, &d)) return false;
            r->flags = LE(&d[12], 4);
            r->totalFrames = LE(&d[16], 4);
            r->declaredStreams = LE(&d[24], 4);
            r->width = static_cast<int32_t>(LE(&d[32], 4));
            r->height = static_cast<int32_t>(LE(&d[36], 4));
            if (r->totalFrames == 0 || r->declaredStreams > kAVIMaxStreams) return false;
        } else if (c.id == FourCC("strh")) {
            if (c.size != kStreamHeaderSize || !ReadData(file, c, r->end, kStreamHeaderSize, &d)) return false;
            if (r->streams.size() >= kAVIMaxStreams) return false;
            qbAVIStream s;
            s.type = LE(&d[0], 4);
            s.handler = LE(&d[4], 4);
            r->streams.push_back(s);
            lastStream = static_cast<int32_t>(r->streams.size()) - 1;
        } else if (c.id == FourCC("strf")) {
            // A BITMAPINFOHEADER or WAVEFORMAT, and whatever a writer put
            // after it (palettes, codec data) the reader has no use for.
            if (lastStream < 0 || !ReadData(file, c, r->end, std::max(kBitmapHeaderSize, kWaveFormatSize), &d))
                return false;
            const uint32_t type = r->streams[static_cast<size_t>(lastStream)].type;
            if (type == FourCC("vids")) {
                if (d.size() < kBitmapHeaderSize) return false;
                r->bitmapWidth = static_cast<int32_t>(LE(&d[4], 4));
                r->bitmapHeight = static_cast<int32_t>(LE(&d[8], 4));
                // A negative height is a DIB stored top row first (ffmpeg
                // writes its raw frames so).
                r->topDown = r->bitmapHeight < 0 && r->bitmapHeight != INT32_MIN;
                const int32_t rows = r->topDown ? -r->bitmapHeight : r->bitmapHeight;
                if (r->bitmapWidth != r->width || rows != r->height) return false;
                r->planes = LE(&d[12], 2);
                r->bitCount = LE(&d[14], 2);
                r->compression = LE(&d[16], 4);
                r->videoStream = lastStream;
            } else if (type == FourCC("auds")) {
                if (d.size() < kWaveFormatSize || LE(&d[0], 2) != kPCM) return false;
                r->channels = LE(&d[2], 2);
                r->sampleRate = LE(&d[4], 4);
                r->blockAlign = LE(&d[12], 2);
                r->sampleBits = LE(&d[14], 2);
            }
        }
        pos = c.next;
    }
}

// The idx1 entries; a broken entry drops the whole index. The chunk is read
// a block at a time, so that the index grows with the entries read, not
// with the size the chunk claims (a sparse file has gigabytes of zeros).
void ReadIndex(qbAVIReader* r) {
    qbFile* file = r->file.get();
    Chunk c;
    int64_t pos = r->moviEnd + ((r->moviEnd - r->moviData) & 1);
    for (;; pos = c.next) {
        if (!ReadChunk(file, pos, r->end, &c)) return;
        if (c.id == FourCC("idx1")) break;
    }
    if (c.data + int64_t{c.size} > r->end) return;
    uint8_t block[kIndexEntrySize * kIndexBlockEntries];
    for (uint32_t done = 0, count = c.size / kIndexEntrySize; done < count;) {
        const uint32_t n = std::min(count - done, kIndexBlockEntries);
        if (!ReadAt(file, c.data + int64_t{done} * kIndexEntrySize, block, size_t{n} * kIndexEntrySize)) {
            FreeAVIIndexes(r);
            return;
        }
        done += n;
        for (const uint8_t* e = block; e < block + size_t{n} * kIndexEntrySize; e += kIndexEntrySize) {
            const uint32_t id = LE(e, 4);
            if (id == FourCC("rec ")) continue;
            const int32_t stream = ChunkStream(id);
            // Stream numbers reach 99; only those of the streams the file
            // has have an index.
            if (stream < 0 || static_cast<size_t>(stream) >= r->streams.size()) {
                FreeAVIIndexes(r);
                return;
            }
            auto& index = r->streams[static_cast<size_t>(stream)].index;
            if (index.size() >= r->totalFrames) continue;
            const qbAVIIndexEntry entry{static_cast<int64_t>(LE(e + 8, 4)), LE(e + 12, 4)};
            // The video chunks follow one another, each past the end of the
            // one before: an index that points two frames into one chunk
            // would make its bytes cost once per frame (`FromIndex` holds a
            // chunk to the size listed here).
            if (stream == r->videoStream && !index.empty() &&
                entry.offset < index.back().offset + 8 + int64_t{index.back().size}) {
                FreeAVIIndexes(r);
                return;
            }
            try {
                index.push_back(entry);
            } catch (const std::bad_alloc&) {
                FreeAVIIndexes(r);
                return;
            }
        }
    }
    r->indexed = true;
}

// A chunk id is four printable characters ("00dc", "JUNK", "LIST"); zeros
// are no chunk, but a hole in a sparse file or the end of what was written.
bool PlausibleId(uint32_t id) {
    for (int i = 0; i < 4; ++i) {
        const uint32_t c = (id >> (8 * i)) & 0xFF;
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

// The frames the file holds, up to the count its header claims: the index's
// entries when it lists them all, else the video chunks found by reading
// the movi list's chunk headers. Callers size their per-frame tables by it,
// so it counts only what was read, never the claim alone.
uint32_t FramesHeld(qbAVIReader* r) {
    if (r->indexed && r->streams[static_cast<size_t>(r->videoStream)].index.size() >= r->totalFrames)
        return r->totalFrames;
    uint32_t found = 0;
    for (int64_t pos = r->moviData; found < r->totalFrames;) {
        Chunk c;
        if (!ReadChunk(r->file.get(), pos, r->end, &c) || !PlausibleId(c.id)) break;
        if (c.id == FourCC("LIST")) {
            pos = c.data + 4;
            continue;
        }
        pos = c.next;
        if (IsVideoChunk(*r, c.id)) ++found;
    }
    return found;
}

bool Open(qbAVIReader* r) {
    qbFile* file = r->file.get();
    uint8_t header[12];
    if (!ReadAt(file, 0, header, 12) || LE(header, 4) != FourCC("RIFF") || LE(header + 8, 4) != FourCC("AVI "))
        return false;
    const int64_t size = GetFileSize(file);
    r->end = std::min<int64_t>(8 + int64_t{LE(header + 4, 4)}, size >= 0 ? size : INT64_MAX);
    if (!ParseHeaders(r) || r->videoStream < 0) return false;
    // Every frame is a chunk of 8 bytes at least after the movi list's start
    // (continuation RIFFs included): a count the file cannot hold is a broken
    // header, and callers size their per-frame tables by it.
    const int64_t room = (size >= 0 ? size : r->end) - r->moviData;
    if (room < 0 || uint64_t{r->totalFrames} > static_cast<uint64_t>(room) / 8) return false;
    if (r->width <= 0 || r->height <= 0 ||
        static_cast<uint64_t>(r->width) * static_cast<uint64_t>(r->height) > std::min(kMaxPixels, GetMaxImagePixels()))
        return false;
    // ffmpeg and others write "MJPG": the handler's letter case says nothing.
    const uint32_t handler = LowerFourCC(r->streams[static_cast<size_t>(r->videoStream)].handler);
    if (handler == FourCC("dib ") || handler == FourCC("raw ") || handler == 0) {
        if (r->bitCount != 24) return false;
    } else if (handler == FourCC("mjpg")) {
        r->mjpeg = true;
    } else {
        return false;
    }
    ReadIndex(r);
    r->totalFrames = FramesHeld(r);
    if (r->totalFrames == 0) return false;
    r->scanPos = r->moviData;
    r->scanFrame = 0;
    return true;
}

// Finds video chunk `frame` by reading chunk headers from the scan position.
bool Scan(qbAVIReader* r, uint32_t frame, Chunk* found) {
    if (frame < r->scanFrame) {
        r->scanPos = r->moviData;
        r->scanFrame = 0;
    }
    for (;;) {
        Chunk c;
        if (!ReadChunk(r->file.get(), r->scanPos, r->end, &c)) return false;
        if (c.id == FourCC("LIST")) {
            r->scanPos = c.data + 4;
            continue;
        }
        r->scanPos = c.next;
        if (!IsVideoChunk(*r, c.id)) continue;
        if (r->scanFrame++ == frame) {
            *found = c;
            return true;
        }
    }
}

bool FromIndex(qbAVIReader* r, uint32_t frame, Chunk* found) {
    if (!r->indexed) return false;
    const auto& index = r->streams[static_cast<size_t>(r->videoStream)].index;
    if (frame >= index.size()) return false;
    const int64_t offset = index[frame].offset;
    const uint32_t listed = index[frame].size;
    uint8_t id[4];
    // Absolute offsets point at the chunk itself; others count from the
    // movi list's type.
    int64_t at = offset;
    if (!ReadAt(r->file.get(), offset, id, 4) || ChunkStream(LE(id, 4)) < 0) at = r->moviData + offset - 4;
    Chunk c;
    if (!ReadChunk(r->file.get(), at, r->end, &c) || !IsVideoChunk(*r, c.id)) return false;
    c.most = listed;
    *found = c;
    r->scanPos = c.next;
    r->scanFrame = frame + 1;
    return true;
}

PixelBuffer DecodeUncompressed(const qbAVIReader& r) {
    const size_t w = static_cast<size_t>(r.width), h = static_cast<size_t>(r.height);
    const size_t packed = w * 3, padded = (packed + 3) & ~size_t{3};
    size_t stride;
    if (r.chunk.size() == packed * h)
        stride = packed;
    else if (r.chunk.size() == padded * h)
        stride = padded;
    else
        return {};
    PixelBuffer out;
    if (AllocImagePixels(r.width, r.height, qbPixelSource{r.chunk.size(), PackedCoding(24)}, &out)) return {};
    for (size_t y = 0; y < h; ++y) {
        const uint8_t* src = r.chunk.data() + (r.topDown ? y : h - 1 - y) * stride;
        uint32_t* dst = out.get() + y * w;
        for (size_t x = 0; x < w; ++x, src += 3)
            dst[x] = static_cast<uint32_t>(src[2]) << 16 | static_cast<uint32_t>(src[1]) << 8 | src[0];
    }
    return out;
}

PixelBuffer DecodeMotionJPEG(const qbAVIReader& r) {
    std::vector<uint8_t> jpeg;
    try {
        if (!FixMotionJPEGFrame(r.chunk.data(), r.chunk.size(), &jpeg)) return {};
    } catch (const std::bad_alloc&) {
        return {};
    }
    // The platform decoder hands JPEG data to the picture layer's reader when
    // it has one; asked directly, that reader's buffer is the frame, with no
    // copy out of the decoder's picture (a fifth of the time at 1080p).
    if (const qbImageCodecHooks* hooks = GetImageCodecHooks(); hooks && hooks->readJPEG) {
        int32_t width = 0, height = 0;
        PixelBuffer pixels;
        if (hooks->readJPEG(jpeg.data(), jpeg.size(), false, &width, &height, &pixels) != 0 || width != r.width ||
            height != r.height)
            return {};
        return pixels;
    }
    qbNativeImageRequest request;
    if (DecodeNativeImageFromMemory(jpeg.data(), jpeg.size(), &request) != 0 || !request.image) return {};
    PixelBuffer out;
    const uint32_t* pixels = GetNativeImageData(request.image);
    // A copy of the frame the platform decoder made.
    if (pixels && request.width == r.width && request.height == r.height &&
        !AllocImagePixels(r.width, r.height, kPixelsNotRead, &out)) {
        const size_t n = static_cast<size_t>(r.width) * static_cast<size_t>(r.height);
        for (size_t i = 0; i < n; ++i) out[i] = pixels[i] & 0xFFFFFFu;
    }
    FreeNativeImage(request.image);
    return out;
}

}  // namespace

void AVIReaderCloser::operator()(qbAVIReader* reader) const { CloseAVIReader(reader); }

qbAVIReader* OpenAVIReader(qbFile* file, int32_t* width, int32_t* height, int32_t* frameCount) {
    qbFilePtr owned(file);
    if (!file) return nullptr;
    qbAVIReaderPtr r(new (std::nothrow) qbAVIReader);
    if (!r) return nullptr;
    r->file = std::move(owned);
    try {
        if (!Open(r.get())) return nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (width) *width = r->width;
    if (height) *height = r->height;
    if (frameCount) *frameCount = static_cast<int32_t>(std::min<uint32_t>(r->totalFrames, INT32_MAX));
    return r.release();
}

PixelBuffer ReadAVIFrame(qbAVIReader* r, int32_t frame) {
    if (!r || frame < 0 || static_cast<uint32_t>(frame) >= r->totalFrames) return {};
    const auto n = static_cast<uint32_t>(frame);
    Chunk c;
    if (!FromIndex(r, n, &c) && !Scan(r, n, &c)) return {};
    // A raw frame is its rows, padded to four bytes or not, and nothing more.
    const uint64_t limit =
        r->mjpeg ? kMaxJPEGBytesPerPixel * static_cast<uint64_t>(r->width) * static_cast<uint64_t>(r->height) +
                       kMaxJPEGOverhead
                 : ((uint64_t{3} * static_cast<uint64_t>(r->width) + 3) & ~uint64_t{3}) * r->height;
    const uint64_t most = std::min<uint64_t>(limit, c.most);
    PixelBuffer out;
    if (ReadWholeRecord(r->file.get(), c.data, c.size, most, r->end, &r->chunk))
        out = r->mjpeg ? DecodeMotionJPEG(*r) : DecodeUncompressed(*r);
    if (n + 1 >= r->totalFrames) {
        r->scanPos = r->moviData;
        r->scanFrame = 0;
    }
    return out;
}

void FreeAVIIndexes(qbAVIReader* r) {
    if (!r) return;
    for (qbAVIStream& s : r->streams) s.index = {};
    r->indexed = false;
}

void CloseAVIReader(qbAVIReader* reader) { delete reader; }
