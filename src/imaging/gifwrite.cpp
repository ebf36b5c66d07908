// The GIF writer: a GIF89a file of frames with their own colour tables, the
// changed rectangle of each frame when asked, and the LZW encoder with its
// open-addressing hash of 5003 entries.
#include "imaging/gif.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/errcodes.h"
#include "core/errors.h"

namespace {

constexpr int kHashSize = 5003;
constexpr int kMaxCode = 4095;
constexpr int kMaxBits = 12;
constexpr size_t kSubBlock = 254;

// Bytes go out through one buffer; a short write marks the writer failed.
struct Output {
    qbGIFWriter* writer;
    uint8_t buffer[4096];
    size_t used = 0;
    explicit Output(qbGIFWriter* w) : writer(w) {}
    ~Output() { Flush(); }
    void Flush() {
        if (used && FileWrite(writer->output.file.get(), buffer, used) != used) writer->failed = true;
        used = 0;
    }
    void Byte(int b) {
        if (used == sizeof buffer) Flush();
        buffer[used++] = static_cast<uint8_t>(b);
    }
    void Word(uint32_t v) {
        Byte(static_cast<int>(v & 0xFF));
        Byte(static_cast<int>((v >> 8) & 0xFF));
    }
    void Bytes(const void* data, size_t count) {
        const auto* p = static_cast<const uint8_t*>(data);
        while (count > 0) {
            if (used == sizeof buffer) Flush();
            const size_t take = std::min(count, sizeof buffer - used);
            std::memcpy(buffer + used, p, take);
            used += take;
            p += take;
            count -= take;
        }
    }
};

// Codes packed least significant bit first into sub-blocks of 254 bytes.
struct CodePacker {
    Output& out;
    uint8_t block[kSubBlock];
    size_t count = 0;
    uint32_t bits = 0;
    int bitCount = 0;
    void Put(int code, int width) {
        bits |= static_cast<uint32_t>(code) << bitCount;
        bitCount += width;
        while (bitCount >= 8) {
            Char(static_cast<uint8_t>(bits));
            bits >>= 8;
            bitCount -= 8;
        }
    }
    void Char(uint8_t c) {
        block[count++] = c;
        if (count == kSubBlock) FlushBlock();
    }
    void FlushBlock() {
        if (!count) return;
        out.Byte(static_cast<int>(count));
        out.Bytes(block, count);
        count = 0;
    }
    void Finish() {
        if (bitCount > 0) Char(static_cast<uint8_t>(bits));
        bits = 0;
        bitCount = 0;
        FlushBlock();
        out.Byte(0);
    }
};

// The hash tables hold kHashSize entries: they are made before any byte of
// the frame goes out, so that a full heap leaves no partial frame.
struct LZWTables {
    std::vector<int32_t> keys;
    std::vector<uint16_t> codes;
};

void EncodeLZW(Output& out, const uint8_t* indices, size_t count, int minimumSize, LZWTables& tables) {
    out.Byte(minimumSize);
    CodePacker packer{out, {}, 0, 0, 0};
    const int clear = 1 << minimumSize, end = clear + 1;
    int width = minimumSize + 1;
    int limit = (1 << width) - 1;
    int next = clear + 2;
    bool clearing = false;
    std::vector<int32_t>& keys = tables.keys;
    std::vector<uint16_t>& codes = tables.codes;
    auto emit = [&](int code) {
        packer.Put(code, width);
        // The decoder grows one code after the encoder adds the entry that
        // passes the limit; growing after the code written keeps them in step.
        if (clearing) {
            width = minimumSize + 1;
            limit = (1 << width) - 1;
            clearing = false;
        } else if (next > limit) {
            ++width;
            limit = width == kMaxBits ? kMaxCode + 1 : (1 << width) - 1;
        }
    };
    emit(clear);
    if (count == 0) {
        emit(end);
        packer.Finish();
        return;
    }
    int prefix = indices[0];
    for (size_t i = 1; i < count; ++i) {
        const int c = indices[i];
        const int32_t key = (c << kMaxBits) + prefix;
        // c * 16 + prefix stays below twice the table size: one subtraction
        // is the modulo.
        int h = c * 16 + prefix;
        if (h >= kHashSize) h -= kHashSize;
        bool found = false;
        if (keys[static_cast<size_t>(h)] == key) {
            found = true;
        } else if (keys[static_cast<size_t>(h)] >= 0) {
            const int step = h == 0 ? 1 : kHashSize - h;
            do {
                h -= step;
                if (h < 0) h += kHashSize;
                if (keys[static_cast<size_t>(h)] == key) {
                    found = true;
                    break;
                }
            } while (keys[static_cast<size_t>(h)] >= 0);
        }
        if (found) {
            prefix = codes[static_cast<size_t>(h)];
            continue;
        }
        emit(prefix);
        prefix = c;
        if (next <= kMaxCode) {
            codes[static_cast<size_t>(h)] = static_cast<uint16_t>(next++);
            keys[static_cast<size_t>(h)] = key;
        } else {
            std::fill(keys.begin(), keys.end(), -1);
            next = clear + 2;
            clearing = true;
            emit(clear);
        }
    }
    emit(prefix);
    emit(end);
    packer.Finish();
}

int BitsFor(int32_t count) {
    int bits = 1;
    while (bits < 8 && count > (1 << bits)) ++bits;
    return bits;
}

struct Box {
    int32_t left = 0, top = 0, width = 0, height = 0;
};

// The smallest rectangle outside which every pixel shows the previous
// frame's colour; a frame without change is 2 x 1 at the corner (1 x 1 on
// a picture one pixel wide).
Box ChangedBox(const qbGIFWriter& w, const qbGIFFrame& f, const uint32_t* palette, std::vector<int16_t>& map) {
    std::fill(map.begin(), map.end(), -1);
    auto same = [&](size_t at) {
        const uint8_t before = w.previous[at];
        int16_t& m = map[before];
        if (m < 0) {
            m = 256;  // no current index of that colour
            for (int32_t i = 0; i < f.colourCount; ++i)
                if (palette[i] == w.previousPalette[before]) {
                    m = static_cast<int16_t>(i);
                    break;
                }
        }
        return m == f.indices[at];
    };
    int32_t x0 = f.width, y0 = f.height, x1 = -1, y1 = -1;
    for (int32_t y = 0; y < f.height; ++y)
        for (int32_t x = 0; x < f.width; ++x)
            if (!same(static_cast<size_t>(y) * static_cast<size_t>(f.width) + static_cast<size_t>(x))) {
                x0 = std::min(x0, x);
                x1 = std::max(x1, x);
                y0 = std::min(y0, y);
                y1 = std::max(y1, y);
            }
    if (x1 < 0) return {0, 0, std::min(2, f.width), 1};
    return {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

}  // namespace

int WriteGIF(const char* fileName, const char* adapterTag, int32_t width, int32_t height, qbGIFWriter** out) {
    if (out) *out = nullptr;
    if (!out || width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF) return ERR_WRONGUSAGE;
    std::unique_ptr<qbGIFWriter> w(new (std::nothrow) qbGIFWriter);
    if (!w) return ERR_MEM;
    qbReplaceOptions options;
    options.adapterTag = adapterTag;
    if (int err = BeginReplaceFile(fileName, options, &w->output)) return err;
    w->width = width;
    w->height = height;
    {
        Output o(w.get());
        o.Bytes("GIF89a", 6);
        o.Word(static_cast<uint32_t>(width));
        o.Word(static_cast<uint32_t>(height));
        o.Byte(0xF7);
        o.Byte(0);
        o.Byte(0);
        uint8_t table[768] = {};
        std::memcpy(table, "Amiga rules!", 13);
        o.Bytes(table, sizeof table);
    }
    *out = w.release();
    return 0;
}

int WriteAnimGIF(qbGIFWriter* w, const qbGIFFrame& f) {
    if (!w || !f.indices || !f.palette || f.width != w->width || f.height != w->height || f.colourCount < 1 ||
        f.colourCount > 256)
        return ERR_WRONGUSAGE;
    const size_t pixels = static_cast<size_t>(f.width) * static_cast<size_t>(f.height);
    uint32_t palette[256];
    for (int32_t i = 0; i < 256; ++i) palette[i] = i < f.colourCount ? f.palette[i] & 0xFFFFFFu : 0xFFFFFFFFu;
    const int bits = BitsFor(f.colourCount);
    const int32_t slot = f.colourCount - 1;

    Box box{0, 0, f.width, f.height};
    const uint8_t* data = f.indices;
    const bool differenced = f.differencing && f.transparentIndex < 0 && !w->previous.empty();
    LZWTables tables;
    try {
        tables.keys.assign(kHashSize, -1);
        tables.codes.assign(kHashSize, 0);
        if (differenced) {
            std::vector<int16_t> map(256);
            box = ChangedBox(*w, f, palette, map);
            w->work.resize(static_cast<size_t>(box.width) * static_cast<size_t>(box.height));
            for (int32_t y = 0; y < box.height; ++y)
                for (int32_t x = 0; x < box.width; ++x) {
                    const size_t at = static_cast<size_t>(box.top + y) * static_cast<size_t>(f.width) +
                                      static_cast<size_t>(box.left + x);
                    uint8_t index = f.indices[at];
                    // Unchanged pixels become the transparent slot, which
                    // shows the previous frame; without the slot they keep
                    // their own index.
                    if (f.transparentSlot && map[w->previous[at]] == index) index = static_cast<uint8_t>(slot);
                    w->work[static_cast<size_t>(y) * static_cast<size_t>(box.width) + static_cast<size_t>(x)] = index;
                }
            data = w->work.data();
        }
        if (f.differencing && f.transparentIndex < 0) {
            w->previous.assign(f.indices, f.indices + pixels);
            std::copy_n(palette, 256, w->previousPalette);
        } else {
            // A frame cleared after showing is no base for the next one.
            w->previous.clear();
        }
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }

    Output o(w);
    int flags = 4, transparent = slot;
    if (f.transparentIndex >= 0) {
        flags = 9;
        transparent = f.transparentIndex;
    } else if (f.transparentSlot) {
        flags = 5;
    }
    o.Byte(0x21);
    o.Byte(0xF9);
    o.Byte(4);
    o.Byte(flags);
    o.Word((f.delayMs + 5) / 10);
    o.Byte(transparent & 0xFF);
    o.Byte(0);
    if (w->framesWritten == 0) {
        o.Byte(0x21);
        o.Byte(0xFF);
        o.Byte(11);
        o.Bytes("NETSCAPE2.0", 11);
        o.Byte(3);
        o.Byte(1);
        o.Word(0);
        o.Byte(0);
    }
    o.Byte(0x2C);
    o.Word(static_cast<uint32_t>(box.left));
    o.Word(static_cast<uint32_t>(box.top));
    o.Word(static_cast<uint32_t>(box.width));
    o.Word(static_cast<uint32_t>(box.height));
    o.Byte(0x80 | (bits - 1));
    for (int i = 0; i < (1 << bits); ++i) {
        o.Byte(static_cast<int>((palette[i] >> 16) & 0xFF));
        o.Byte(static_cast<int>((palette[i] >> 8) & 0xFF));
        o.Byte(static_cast<int>(palette[i] & 0xFF));
    }
    if (differenced) {
        EncodeLZW(o, data, static_cast<size_t>(box.width) * static_cast<size_t>(box.height), std::max(bits, 2), tables);
    } else {
        EncodeLZW(o, data, pixels, std::max(bits, 2), tables);
    }
    o.Flush();
    ++w->framesWritten;
    return w->failed ? ERR_WRITE : 0;
}

int CloseGIFWriter(qbGIFWriter* w) {
    if (!w) return 0;
    std::unique_ptr<qbGIFWriter> owned(w);
    {
        Output o(w);
        o.Byte(0x3B);
    }
    return w->failed || CommitReplaceFile(&w->output) != 0 ? ERR_WRITE : 0;
}
