// Hand-built ILBM files for the reader tests: chunks, a header, and bodies
// made from index pictures with our own plane split (independent of the
// reader's).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ilbmfixtures {

using Bytes = std::vector<uint8_t>;

inline void PutBE(Bytes* b, uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline Bytes Chunk(const std::string& id, const Bytes& data) {
    Bytes b(id.begin(), id.end());
    PutBE(&b, static_cast<uint32_t>(data.size()), 4);
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() & 1) b.push_back(0);
    return b;
}

inline Bytes Form(const std::vector<Bytes>& chunks) {
    Bytes inner{'I', 'L', 'B', 'M'};
    for (const Bytes& c : chunks) inner.insert(inner.end(), c.begin(), c.end());
    Bytes b{'F', 'O', 'R', 'M'};
    PutBE(&b, static_cast<uint32_t>(inner.size()), 4);
    b.insert(b.end(), inner.begin(), inner.end());
    return b;
}

struct Header {
    uint32_t width = 0, height = 0, planes = 0, masking = 0, compression = 0, transparent = 0;
};

inline Bytes Bmhd(const Header& h) {
    Bytes d;
    PutBE(&d, h.width, 2);
    PutBE(&d, h.height, 2);
    PutBE(&d, 0, 4);
    d.push_back(static_cast<uint8_t>(h.planes));
    d.push_back(static_cast<uint8_t>(h.masking));
    d.push_back(static_cast<uint8_t>(h.compression));
    d.push_back(0);
    PutBE(&d, h.transparent, 2);
    d.push_back(10);
    d.push_back(11);
    PutBE(&d, h.width, 2);
    PutBE(&d, h.height, 2);
    return Chunk("BMHD", d);
}

inline Bytes Cmap(const std::vector<uint32_t>& colours) {
    Bytes d;
    for (uint32_t c : colours) PutBE(&d, c, 3);
    return Chunk("CMAP", d);
}

inline Bytes Camg(uint32_t mode) {
    Bytes d;
    PutBE(&d, mode, 4);
    return Chunk("CAMG", d);
}

// Uncompressed rows: per row the planes' rows (bit p of each value), then
// with a mask the row of `maskFill`.
inline Bytes PlainBody(const std::vector<uint32_t>& values, uint32_t width, uint32_t height, uint32_t planes,
                       bool mask = false, uint8_t maskFill = 0xA5) {
    const size_t rowBytes = ((width + 15) >> 4) * 2;
    Bytes body;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t p = 0; p < planes; ++p) {
            Bytes row(rowBytes, 0);
            for (uint32_t x = 0; x < width; ++x)
                if (values[y * width + x] >> p & 1) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
            body.insert(body.end(), row.begin(), row.end());
        }
        if (mask) body.insert(body.end(), rowBytes, maskFill);
    }
    return body;
}

// Every row of a plain body as a ByteRun1 literal run, with a -128 control
// byte before each (a no-op the reader must skip).
inline Bytes LiteralRuns(const Bytes& plain, size_t rowBytes) {
    Bytes out;
    for (size_t at = 0; at < plain.size(); at += rowBytes) {
        out.push_back(0x80);
        out.push_back(static_cast<uint8_t>(rowBytes - 1));
        out.insert(out.end(), plain.begin() + static_cast<std::ptrdiff_t>(at),
                   plain.begin() + static_cast<std::ptrdiff_t>(at + rowBytes));
    }
    return out;
}

}  // namespace ilbmfixtures
