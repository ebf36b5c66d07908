// Writing ILBM pictures: 24 planes, every plane row ByteRun1-packed. The
// body is packed in memory first, so the chunk sizes are known before the
// first byte goes out and the file never needs a seek back.
#include <cstring>
#include <new>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/replacefile.h"
#include "imaging/ilbm.h"

namespace {

constexpr int32_t kMaxSide = 0xFFFF;
constexpr uint32_t kPlanes = 24;
constexpr uint32_t kHeaderBytes = 20;
// "ILBM", the BMHD chunk, "BODY" and its size.
constexpr uint32_t kFormOverhead = 4 + 8 + kHeaderBytes + 8;

void PutBE(std::vector<uint8_t>* v, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) v->push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void PutId(std::vector<uint8_t>* v, const char* id) { v->insert(v->end(), id, id + 4); }

// Row y's 24 plane rows, each packed, appended to body.
void PackRow(const uint32_t* pixels, size_t width, size_t rowBytes, std::vector<uint8_t>* planes,
             std::vector<uint8_t>* packed, std::vector<uint8_t>* body) {
    std::fill(planes->begin(), planes->end(), 0);
    for (size_t x = 0; x < width; ++x) {
        const uint32_t p = pixels[x];
        const uint32_t rgb[3] = {(p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF};
        const uint8_t bit = static_cast<uint8_t>(0x80u >> (x & 7));
        for (uint32_t c = 0; c < 3; ++c)
            for (uint32_t b = 0; b < 8; ++b)
                if (rgb[c] & (1u << b)) (*planes)[(c * 8 + b) * rowBytes + (x >> 3)] |= bit;
    }
    for (uint32_t plane = 0; plane < kPlanes; ++plane) {
        const size_t n = PackByteRun1Row(planes->data() + plane * rowBytes, rowBytes, packed->data());
        body->insert(body->end(), packed->begin(), packed->begin() + static_cast<std::ptrdiff_t>(n));
    }
}

}  // namespace

int WriteILBM(const char* fileName, const char* adapterTag, const uint32_t* pixels, int32_t width, int32_t height,
              int32_t strideBytes) {
    if (!pixels || width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return ERR_WRONGUSAGE;
    const size_t rowBytes = ILBMRowBytes(width);
    std::vector<uint8_t> out;
    try {
        std::vector<uint8_t> planes(rowBytes * kPlanes), packed(ByteRun1WorstCase(rowBytes));
        const size_t headerEnd = 12 + 8 + kHeaderBytes + 8;
        out.reserve(headerEnd);
        out.resize(headerEnd);
        for (int32_t y = 0; y < height; ++y) {
            const auto* row = reinterpret_cast<const uint32_t*>(reinterpret_cast<const uint8_t*>(pixels) +
                                                                static_cast<ptrdiff_t>(y) * strideBytes);
            PackRow(row, static_cast<size_t>(width), rowBytes, &planes, &packed, &out);
        }
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    const uint64_t total = out.size() - (12 + 8 + kHeaderBytes + 8);
    if (total > UINT32_MAX - kFormOverhead - 1) return ERR_MEM;
    const bool padded = total & 1;
    if (padded) out.push_back(0);
    std::vector<uint8_t> header;
    PutId(&header, "FORM");
    PutBE(&header, static_cast<uint32_t>(kFormOverhead + total + (padded ? 1 : 0)), 4);
    PutId(&header, "ILBM");
    PutId(&header, "BMHD");
    PutBE(&header, kHeaderBytes, 4);
    PutBE(&header, static_cast<uint32_t>(width), 2);
    PutBE(&header, static_cast<uint32_t>(height), 2);
    PutBE(&header, 0, 4);        // x, y
    header.push_back(kPlanes);
    header.push_back(0);         // no mask
    header.push_back(1);         // ByteRun1
    header.push_back(0);         // pad
    PutBE(&header, 0, 2);        // transparent colour
    header.push_back(1);         // aspect 1:1
    header.push_back(1);
    PutBE(&header, static_cast<uint32_t>(width), 2);
    PutBE(&header, static_cast<uint32_t>(height), 2);
    PutId(&header, "BODY");
    PutBE(&header, static_cast<uint32_t>(total), 4);
    std::memcpy(out.data(), header.data(), header.size());

    qbReplaceOptions options;
    options.adapters = true;
    options.adapterTag = adapterTag;
    qbReplaceFile file;
    if (int err = BeginReplaceFile(fileName, options, &file)) return err;
    if (FileWrite(file.file.get(), out.data(), out.size()) != out.size()) return ERR_WRITE;
    return CommitReplaceFile(&file);
}
