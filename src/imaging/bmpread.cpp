// Windows BMP reader: a 14-byte file header and a 40-byte information
// header, little-endian, rows stored bottom-up and padded to 4 bytes;
// 1, 4 and 8 bits through a palette (8 bits also RLE8), 16 bits as 5-6-5,
// 24 bits as B, G, R. Top-down and 32-bit pictures are refused here so
// that the loader chain can hand them to the platform decoder.
#include <algorithm>
#include <cstring>
#include <new>

#include "core/errcodes.h"
#include "core/file.h"
#include "imaging/imageformats.h"

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderSize = 40;
constexpr size_t kHeadersSize = kFileHeaderSize + kInfoHeaderSize;
constexpr uint32_t kCompressionRLE8 = 1;
constexpr int kPaletteEntries = 256;

// RLE8 escapes after a 0 count byte.
constexpr int kRleEndOfLine = 0;
constexpr int kRleEndOfBitmap = 1;
constexpr int kRleDelta = 2;

uint32_t LE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
uint16_t LE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

struct BmpHeader {
    uint32_t fileSize = 0;
    uint32_t dataOffset = 0;
    uint32_t headerSize = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t coloursUsed = 0;
};

// The rows of the picture from the bottom up, mapped through the palette
// where there is one.
struct BmpDecoder {
    qbFile* file;
    const BmpHeader& h;
    uint32_t* pixels;
    const uint32_t* palette;

    uint32_t* Row(int32_t fromBottom) const {
        return pixels + static_cast<size_t>(h.height - 1 - fromBottom) * static_cast<size_t>(h.width);
    }

    int Plain(size_t rowBytes) {
        std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[rowBytes]);
        if (!row) return ERR_MEM;
        const int32_t width = h.width;
        for (int32_t y = 0; y < h.height; ++y) {
            if (FileRead(file, row.get(), rowBytes) != rowBytes) return ERR_LOADPICTURE2;
            uint32_t* out = Row(y);
            const uint8_t* in = row.get();
            switch (h.bitCount) {
            case 1:
                for (int32_t x = 0; x < width; ++x) out[x] = palette[(in[x >> 3] >> (7 - (x & 7))) & 1];
                break;
            case 4:
                for (int32_t x = 0; x < width; ++x) out[x] = palette[(in[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
                break;
            case 8:
                for (int32_t x = 0; x < width; ++x) out[x] = palette[in[x]];
                break;
            case 16:
                for (int32_t x = 0; x < width; ++x) {
                    const uint32_t v = LE16(in + 2 * static_cast<size_t>(x));
                    out[x] = ((v >> 11) * 8) << 16 | (((v >> 5) & 63) * 4) << 8 | (v & 31) * 8;
                }
                break;
            case 24:
                for (int32_t x = 0; x < width; ++x, in += 3)
                    out[x] = static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[1]) << 8 | in[0];
                break;
            }
        }
        return 0;
    }

    // RLE8 into a line buffer of the padded row width, stored row by row;
    // rows the data doesn't reach are index 0. The file ending before the data
    // does is an error (a truncated file).
    int RLE8() {
        const size_t lineWidth = (static_cast<size_t>(h.width) + 3) & ~size_t{3};
        std::unique_ptr<uint8_t[]> line(new (std::nothrow) uint8_t[lineWidth]());
        if (!line) return ERR_MEM;
        // Rows the data doesn't reach hold index 0.
        std::fill_n(pixels, static_cast<size_t>(h.width) * static_cast<size_t>(h.height), palette[0]);
        const uint64_t dataSize = h.fileSize > h.dataOffset ? h.fileSize - h.dataOffset : 0;
        uint64_t consumed = 0;
        int32_t y = 0;
        size_t x = 0;
        auto next = [&]() {
            ++consumed;
            return FileGetC(file);
        };
        auto store = [&]() {
            uint32_t* out = Row(y);
            for (int32_t i = 0; i < h.width; ++i) out[i] = palette[line[static_cast<size_t>(i)]];
            std::memset(line.get(), 0, lineWidth);
        };
        while (consumed < dataSize && y < h.height) {
            const int count = next();
            const int value = next();
            if (count < 0 || value < 0) return ERR_LOADPICTURE2;
            if (count > 0) {
                for (int i = 0; i < count && x < lineWidth; ++i) line[x++] = static_cast<uint8_t>(value);
                continue;
            }
            if (value == kRleEndOfLine) {
                store();
                ++y;
                x = 0;
            } else if (value == kRleEndOfBitmap) {
                store();
                return 0;
            } else if (value == kRleDelta) {
                const int dx = next();
                const int dy = next();
                if (dx < 0 || dy < 0) return ERR_LOADPICTURE2;
                x += static_cast<size_t>(dx);
                if (dy != 0) {
                    store();  // the rows passed over stay index 0
                    y += dy;
                }
            } else {
                for (int i = 0; i < value; ++i) {
                    if (x >= lineWidth) {
                        // Literal bytes beyond the line are not read.
                        break;
                    }
                    const int b = next();
                    if (b < 0) return ERR_LOADPICTURE2;
                    line[x++] = static_cast<uint8_t>(b);
                }
                if (value & 1) {
                    if (next() < 0) return ERR_LOADPICTURE2;
                }
            }
        }
        // The data ended inside a line: what it drew there is kept.
        if (y < h.height) store();
        return 0;
    }
};

}  // namespace

int ReadBMP(qbFile* file, bool probe, int32_t* width, int32_t* height, PixelBuffer* pixels) {
    uint8_t raw[kHeadersSize];
    if (FileRead(file, raw, 2) != 2) return ERR_READ;
    if (FileRead(file, raw + 2, kHeadersSize - 2) != kHeadersSize - 2) return ERR_LOADPICTURE2;
    if (raw[0] != 'B' || raw[1] != 'M') return ERR_LOADPICTURE2;
    BmpHeader h;
    h.fileSize = LE32(raw + 2);
    h.dataOffset = LE32(raw + 10);
    h.headerSize = LE32(raw + 14);
    h.width = static_cast<int32_t>(LE32(raw + 18));
    h.height = static_cast<int32_t>(LE32(raw + 22));
    h.bitCount = LE16(raw + 28);
    h.compression = LE32(raw + 30);
    h.coloursUsed = LE32(raw + 46);
    if (probe) {
        if (width) *width = h.width;
        if (height) *height = h.height;
        return 0;
    }
    // Top-down pictures (negative height) are left to the platform decoder.
    if (h.height <= 0 || h.width <= 0) return ERR_LOADPICTURE2;
    switch (h.bitCount) {
    case 1: case 4: case 8: case 16: case 24: break;
    default: return ERR_LOADPICTURE2;  // 32 bits and others: the platform decoder's
    }

    const bool rle8 = h.bitCount == 8 && h.compression == kCompressionRLE8;
    const qbPixelSource source = FilePixelSource(file, rle8 ? kRunLengthCoding : PackedCoding(h.bitCount));
    PixelBuffer picture;
    if (int err = AllocImagePixels(h.width, h.height, source, &picture)) return err;

    uint32_t palette[kPaletteEntries] = {};
    if (h.bitCount <= 8) {
        const uint32_t entries = h.coloursUsed ? h.coloursUsed : 1u << h.bitCount;
        const uint32_t stored = entries < kPaletteEntries ? entries : kPaletteEntries;
        // The palette follows the information header; headers larger than
        // 40 bytes (V4, V5) push it further.
        uint64_t paletteOffset = kHeadersSize;
        if (h.headerSize > kInfoHeaderSize && kFileHeaderSize + uint64_t{h.headerSize} <= h.dataOffset)
            paletteOffset = kFileHeaderSize + h.headerSize;
        if (FileSeek(file, static_cast<int64_t>(paletteOffset), kSeekBeginning) < 0) return ERR_LOADPICTURE2;
        uint8_t quads[kPaletteEntries * 4];
        const size_t got = FileRead(file, quads, stored * 4);
        for (uint32_t i = 0; i < got / 4; ++i)
            palette[i] = static_cast<uint32_t>(quads[4 * i + 2]) << 16 | static_cast<uint32_t>(quads[4 * i + 1]) << 8 |
                         quads[4 * i];
    }
    if (FileSeek(file, h.dataOffset, kSeekBeginning) < 0) return ERR_LOADPICTURE2;

    BmpDecoder decoder{file, h, picture.get(), palette};
    int err;
    if (rle8) {
        err = decoder.RLE8();
    } else {
        const uint64_t rowBytes = ((static_cast<uint64_t>(h.width) * h.bitCount + 31) / 32) * 4;
        err = decoder.Plain(static_cast<size_t>(rowBytes));
    }
    if (err) return err;
    if (width) *width = h.width;
    if (height) *height = h.height;
    if (pixels) *pixels = std::move(picture);
    return 0;
}
