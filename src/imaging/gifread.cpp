// The GIF reader: the block scan that finds every frame, the LZW decoder
// and the canvas every frame is drawn on, with the disposal methods.
#include "imaging/gif.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t kNoFrame = UINT32_MAX;
constexpr size_t kFrameTableStep = 4096;
constexpr int kMaxCodes = 4096;
constexpr int kMaxCodeBits = 12;
constexpr uint32_t kOpaque = 0xFF000000u;

enum : int { kExtension = 0x21, kImage = 0x2C, kTrailer = 0x3B, kGraphicControl = 0xF9 };

uint32_t ReadLE16(qbFile* f, bool* ok) {
    const int lo = FileGetC(f), hi = FileGetC(f);
    if (lo < 0 || hi < 0) *ok = false;
    return static_cast<uint32_t>(std::max(lo, 0) | std::max(hi, 0) << 8);
}

int64_t Tell(qbFile* f) { return FileSeek(f, 0, kSeekCurrent); }

// Skips sub-blocks up to and including the terminator; false at the end of
// the file.
bool SkipSubBlocks(qbFile* f) {
    for (;;) {
        const int size = FileGetC(f);
        if (size < 0) return false;
        if (size == 0) return true;
        if (FileSeek(f, size, kSeekCurrent) < 0) return false;
    }
}

bool ReadColourTable(qbFile* f, uint32_t* table, int entries) {
    for (int i = 0; i < entries; ++i) {
        const int r = FileGetC(f), g = FileGetC(f), b = FileGetC(f);
        if (b < 0) return false;
        table[i] = static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b);
    }
    return true;
}

// The variable-width code stream of one image, read from its sub-blocks,
// and the strings its codes stand for.
struct LZWDecoder {
    qbFile* file = nullptr;
    int blockLeft = 0;
    bool blocksEnded = false;  // the terminator was read (or the file ended)
    uint32_t bits = 0;
    int bitCount = 0;
    int rootBits = 0, clear = 0, end = 0, nextFree = 0, codeSize = 0, limit = 0;
    int previous = -1;
    uint8_t first = 0;
    uint16_t prefix[kMaxCodes] = {};
    uint8_t suffix[kMaxCodes] = {};
    uint8_t stack[kMaxCodes + 1] = {};
    int stackTop = 0;
    bool finished = false;  // the end code came

    void Start(qbFile* f, int minimumSize) {
        file = f;
        rootBits = minimumSize;
        clear = 1 << minimumSize;
        end = clear + 1;
        for (int i = 0; i < clear; ++i) suffix[i] = static_cast<uint8_t>(i);
        Reset();
    }
    void Reset() {
        codeSize = rootBits + 1;
        nextFree = clear + 2;
        limit = 1 << codeSize;
        previous = -1;
    }
    int NextByte() {
        while (blockLeft == 0) {
            if (blocksEnded) return -1;
            const int size = FileGetC(file);
            if (size <= 0) {
                blocksEnded = true;
                return -1;
            }
            blockLeft = size;
        }
        const int c = FileGetC(file);
        if (c < 0) {
            blocksEnded = true;
            blockLeft = 0;
            return -1;
        }
        --blockLeft;
        return c;
    }
    // The next code, least significant bit first; -1 when the data ran out.
    int ReadCode() {
        while (bitCount < codeSize) {
            const int c = NextByte();
            if (c < 0) return -1;
            bits |= static_cast<uint32_t>(c) << bitCount;
            bitCount += 8;
        }
        const int code = static_cast<int>(bits & ((1u << codeSize) - 1));
        bits >>= codeSize;
        bitCount -= codeSize;
        return code;
    }
    // Pushes the next string onto the stack (last byte first). 1 done, 0 the
    // stream ended (end code or no data), -1 a bad code.
    int Fill() {
        for (;;) {
            const int code = ReadCode();
            if (code < 0) return 0;
            if (code == clear) {
                Reset();
                continue;
            }
            if (code == end) {
                finished = true;
                return 0;
            }
            if (code > nextFree) return -1;
            if (previous < 0) {
                if (code >= clear) return -1;
                stack[stackTop++] = static_cast<uint8_t>(code);
                first = static_cast<uint8_t>(code);
                previous = code;
                return 1;
            }
            int walk = code;
            if (code == nextFree) {
                // Only possible below the full table: the previous string
                // and its own first byte.
                stack[stackTop++] = first;
                walk = previous;
            }
            while (walk >= clear) {
                if (stackTop >= kMaxCodes) return -1;
                stack[stackTop++] = suffix[walk];
                walk = prefix[walk];
            }
            stack[stackTop++] = static_cast<uint8_t>(walk);
            first = static_cast<uint8_t>(walk);
            // A full table waits for the clear code, which an encoder may
            // send late: the codes stay as they are until then.
            if (nextFree < kMaxCodes) {
                prefix[nextFree] = static_cast<uint16_t>(previous);
                suffix[nextFree] = first;
                ++nextFree;
                if (nextFree >= limit && codeSize < kMaxCodeBits) {
                    ++codeSize;
                    limit <<= 1;
                }
            }
            previous = code;
            return 1;
        }
    }
    // One row of count indices; false when the stream ends first or breaks.
    bool Row(uint8_t* row, int32_t count) {
        int32_t filled = 0;
        while (filled < count) {
            if (stackTop == 0 && Fill() <= 0) return false;
            while (stackTop > 0 && filled < count) row[filled++] = stack[--stackTop];
        }
        return true;
    }
    // Leaves the file after the image's terminator.
    void SkipRest() {
        if (blocksEnded) return;
        if (blockLeft > 0) FileSeek(file, blockLeft, kSeekCurrent);
        blockLeft = 0;
        SkipSubBlocks(file);
        blocksEnded = true;
    }
};

struct Rect {
    int64_t x0, y0, x1, y1;  // clipped to the screen, exclusive ends
};

Rect ClipToScreen(const qbGIFReader& r, int64_t left, int64_t top, int64_t width, int64_t height) {
    return {std::min<int64_t>(left, r.width), std::min<int64_t>(top, r.height),
            std::min<int64_t>(left + width, r.width), std::min<int64_t>(top + height, r.height)};
}

void FillRect(qbGIFReader* r, const Rect& c, uint32_t colour) {
    for (int64_t y = c.y0; y < c.y1; ++y)
        std::fill_n(r->canvas.get() + y * r->width + c.x0, c.x1 - c.x0, colour);
}

// The canvas under the rectangle, into savedArea (false when memory ran
// out), and back.
bool SaveRect(qbGIFReader* r, const Rect& c) {
    const int64_t w = std::max<int64_t>(0, c.x1 - c.x0), h = std::max<int64_t>(0, c.y1 - c.y0);
    try {
        r->savedArea.resize(static_cast<size_t>(w * h));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int64_t y = 0; y < h; ++y)
        std::copy_n(r->canvas.get() + (c.y0 + y) * r->width + c.x0, w, r->savedArea.data() + y * w);
    return true;
}

void RestoreRect(qbGIFReader* r, const Rect& c) {
    const int64_t w = std::max<int64_t>(0, c.x1 - c.x0), h = std::max<int64_t>(0, c.y1 - c.y0);
    if (r->savedArea.size() != static_cast<size_t>(w * h)) return;
    for (int64_t y = 0; y < h; ++y)
        std::copy_n(r->savedArea.data() + y * w, w, r->canvas.get() + (c.y0 + y) * r->width + c.x0);
}

// The background the canvas starts as (transparent black for a single
// key-coloured picture, so that uncovered pixels can't pass for colour).
void FillCanvas(qbGIFReader* r) {
    const uint32_t colour = r->singleFrame && r->keyColourMode ? 0 : r->globalTable[r->background & 0xFF];
    std::fill_n(r->canvas.get(), size_t{r->width} * r->height, colour);
}

void DisposeLast(qbGIFReader* r) {
    const Rect c = ClipToScreen(*r, r->lastLeft, r->lastTop, r->lastWidth, r->lastHeight);
    if (r->lastDisposal == 2) {
        FillRect(r, c, r->lastFill);
    } else if (r->lastDisposal == 3) {
        RestoreRect(r, c);
    }
    r->lastDisposal = 0;
}

void ResetGraphicControl(qbGIFReader* r) {
    r->transparent = -1;
    r->disposal = 0;
    r->delay = 0;
    r->table = r->globalTable;
}

enum class Outcome { Frame, Finished, Failed };

// Draws one image whose descriptor comes next. counting: only its place
// and table entry are taken.
Outcome ReadImage(qbGIFReader* r, bool counting, int64_t blockStart) {
    qbFile* f = r->file.get();
    bool ok = true;
    const int64_t left = ReadLE16(f, &ok), top = ReadLE16(f, &ok);
    const int32_t width = static_cast<int32_t>(ReadLE16(f, &ok)), height = static_cast<int32_t>(ReadLE16(f, &ok));
    const int flags = FileGetC(f);
    if (!ok || flags < 0) return Outcome::Failed;
    if (flags & 0x80) {
        if (!ReadColourTable(f, r->localTable, 1 << ((flags & 7) + 1))) return Outcome::Failed;
        r->table = r->localTable;
    }
    if (counting) {
        qbGIFFrameEntry e;
        e.delay = r->delay;
        e.position = blockStart;
        e.restart = left == 0 && top == 0 && static_cast<uint32_t>(width) >= r->width &&
                    static_cast<uint32_t>(height) >= r->height && r->transparent < 0 && r->disposal != 3;
        try {
            if (r->frames.size() == r->frames.capacity()) r->frames.reserve(r->frames.size() + kFrameTableStep);
            r->frames.push_back(e);
        } catch (const std::bad_alloc&) {
            return Outcome::Failed;
        }
        const int minimum = FileGetC(f);
        if (minimum < 0 || minimum > 8) return Outcome::Failed;
        if (!SkipSubBlocks(f)) return Outcome::Failed;
        return Outcome::Frame;
    }

    if (r->nextFrame == 0 && r->transparent >= 0 && r->disposal == 2)
        std::fill_n(r->canvas.get(), size_t{r->width} * r->height, r->table[r->transparent & 0xFF] & ~kOpaque);
    const Rect area = ClipToScreen(*r, left, top, width, height);
    if (r->disposal == 3 && !SaveRect(r, area)) return Outcome::Failed;

    const int minimum = FileGetC(f);
    if (minimum < 0 || minimum > 8) return Outcome::Failed;
    auto decoder = std::make_unique<LZWDecoder>();
    // A minimum of 0 would leave no room for the two control codes.
    decoder->Start(f, std::max(minimum, 1));
    std::vector<uint8_t> row(static_cast<size_t>(std::max(width, 1)));
    const bool interlaced = flags & 0x40;
    static constexpr int kPassStart[4] = {0, 4, 2, 1}, kPassStep[4] = {8, 8, 4, 2};
    int pass = 0;
    int64_t y = 0;
    const uint32_t* table = r->table;
    const int32_t transparent = r->transparent;
    for (int32_t n = 0; n < height; ++n) {
        if (!decoder->Row(row.data(), width)) return Outcome::Failed;
        const int64_t cy = top + y;
        if (cy < r->height && left < r->width) {
            uint32_t* out = r->canvas.get() + cy * r->width + left;
            const int32_t shown = static_cast<int32_t>(std::min<int64_t>(width, r->width - left));
            for (int32_t x = 0; x < shown; ++x)
                if (row[static_cast<size_t>(x)] != transparent) out[x] = table[row[static_cast<size_t>(x)]] | kOpaque;
        }
        if (interlaced) {
            y += kPassStep[pass];
            while (pass < 3 && y >= height) y = kPassStart[++pass];
        } else {
            ++y;
        }
    }
    decoder->SkipRest();
    r->lastDisposal = r->disposal;
    r->lastLeft = static_cast<int32_t>(left);
    r->lastTop = static_cast<int32_t>(top);
    r->lastWidth = width;
    r->lastHeight = height;
    r->lastTransparent = transparent;
    r->lastFill = table[(transparent >= 0 ? static_cast<uint32_t>(transparent) : r->background) & 0xFF] & ~kOpaque;
    return Outcome::Frame;
}

bool ReadGraphicControl(qbGIFReader* r) {
    qbFile* f = r->file.get();
    uint8_t block[256];
    size_t got = 0;
    for (;;) {
        const int size = FileGetC(f);
        if (size < 0) return false;
        if (size == 0) break;
        const size_t room = sizeof block - got;
        const size_t take = std::min<size_t>(static_cast<size_t>(size), room);
        if (FileRead(f, block + got, take) != take) return false;
        got += take;
        if (take < static_cast<size_t>(size) && FileSeek(f, size - static_cast<int64_t>(take), kSeekCurrent) < 0)
            return false;
    }
    if (got < 4) return true;
    r->transparent = (block[0] & 1) ? block[3] : -1;
    r->disposal = (block[0] >> 2) & 7;
    r->delay = static_cast<uint32_t>(block[1] | block[2] << 8);
    return true;
}

// Reads blocks until frame `wanted` is drawn (wanted = kNoFrame: counts
// every frame).
bool DecodeGIFFrames(qbGIFReader* r, uint32_t wanted) {
    qbFile* f = r->file.get();
    const bool counting = wanted == kNoFrame;
    int64_t blockStart = Tell(f);
    for (;;) {
        const int c = FileGetC(f);
        if (c < 0 || c == kTrailer) {
            r->transparency = 0;
            return counting;
        }
        if (c == kExtension) {
            const int label = FileGetC(f);
            if (label < 0) return counting;
            if (label == kGraphicControl) {
                if (!ReadGraphicControl(r)) return counting;
            } else if (!SkipSubBlocks(f)) {
                return counting;
            }
            continue;
        }
        if (c != kImage) continue;
        if (!counting && r->lastDisposal) DisposeLast(r);
        const Outcome o = ReadImage(r, counting, blockStart);
        if (o == Outcome::Failed) return false;
        const uint32_t done = r->nextFrame++;
        if (!counting && done == wanted) {
            r->transparency = r->transparent >= 0 && r->keyColourMode ? 1 : 0;
            ResetGraphicControl(r);
            return true;
        }
        ResetGraphicControl(r);
        blockStart = Tell(f);
    }
}

}  // namespace

void GIFReaderCloser::operator()(qbGIFReader* reader) const { CloseGIFReader(reader); }

qbGIFReader* OpenGIFReader(qbFile* file, int32_t* width, int32_t* height, int32_t* frameCount, bool probe,
                           bool singleFrame, bool keyColourMode, int* error) {
    qbFilePtr owned(file);
    if (!file) return nullptr;
    uint8_t signature[6];
    if (FileRead(file, signature, 6) != 6 ||
        (std::memcmp(signature, "GIF87", 5) != 0 && std::memcmp(signature, "GIF89", 5) != 0))
        return nullptr;
    bool ok = true;
    const uint32_t w = ReadLE16(file, &ok), h = ReadLE16(file, &ok);
    const int flags = FileGetC(file), background = FileGetC(file), aspect = FileGetC(file);
    if (!ok || aspect < 0) return nullptr;
    if (width) *width = static_cast<int32_t>(w);
    if (height) *height = static_cast<int32_t>(h);
    if (probe) return nullptr;
    qbGIFReaderPtr r(new (std::nothrow) qbGIFReader);
    if (!r) return nullptr;
    r->file = std::move(owned);
    r->width = w;
    r->height = h;
    r->background = static_cast<uint32_t>(background);
    r->singleFrame = singleFrame;
    r->keyColourMode = keyColourMode;
    try {
        r->frames.reserve(kFrameTableStep);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (int err = AllocImagePixels(w, h, FilePixelSource(file, kLzwCoding), &r->canvas)) {
        if (error) *error = err;
        return nullptr;
    }
    if ((flags & 0x80) && !ReadColourTable(file, r->globalTable, 1 << ((flags & 7) + 1))) return nullptr;
    FillCanvas(r.get());
    r->firstFrame = Tell(file);
    if (!DecodeGIFFrames(r.get(), kNoFrame)) return nullptr;
    r->frameCount = r->nextFrame;
    r->nextFrame = kNoFrame;
    ResetGraphicControl(r.get());
    if (frameCount) *frameCount = static_cast<int32_t>(std::min<uint32_t>(r->frameCount, INT32_MAX));
    return r.release();
}

PixelBuffer GetGIFFrame(qbGIFReader* r, uint32_t frame, uint32_t* transparency) {
    if (!r || frame >= r->frameCount) return nullptr;
    if (frame != r->nextFrame) {
        uint32_t start = frame + 1;
        while (start > 0 && !r->frames[start - 1].restart) --start;
        r->lastDisposal = 0;
        ResetGraphicControl(r);
        if (start > 0) {
            r->nextFrame = start - 1;
            if (FileSeek(r->file.get(), r->frames[start - 1].position, kSeekBeginning) < 0) return nullptr;
        } else {
            FillCanvas(r);
            r->nextFrame = 0;
            if (FileSeek(r->file.get(), r->firstFrame, kSeekBeginning) < 0) return nullptr;
        }
    }
    if (!DecodeGIFFrames(r, frame) || r->nextFrame != frame + 1) {
        // The file is somewhere inside a frame: the next request starts over.
        r->nextFrame = kNoFrame;
        return nullptr;
    }
    PixelBuffer copy;
    // A copy of the canvas, whose size its file was checked for.
    if (AllocImagePixels(r->width, r->height, kPixelsNotRead, &copy)) return nullptr;
    std::copy_n(r->canvas.get(), size_t{r->width} * r->height, copy.get());
    if (r->lastDisposal) DisposeLast(r);
    if (transparency) *transparency = r->transparency;
    return copy;
}

uint32_t GetGIFFrameDelay(const qbGIFReader* r, uint32_t frame) {
    if (!r || frame >= r->frames.size()) return 0;
    return r->frames[frame].delay * 10;
}

void CloseGIFReader(qbGIFReader* reader) { std::unique_ptr<qbGIFReader> owned(reader); }
