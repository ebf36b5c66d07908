// The CDXL reader. Every chunk is taken to have the first chunk's layout:
// the open checks that the chunks are the same size and that the first
// one's parts fit into it, so no later header can make a read overrun.
#include "media/cdxl.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "core/pixelbuffer.h"
#include "core/ratetime.h"
#include "imaging/ilbm.h"

namespace {

uint32_t BE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}
uint32_t BE16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }

// The rate the chunk size implies, in bytes a second: the drives these
// files were made for read at single, double or quadruple CD speed.
uint32_t DataRate(uint32_t chunkSize) {
    if (chunkSize < 13001) return 153600;
    if (chunkSize <= 40000) return 307200;
    return 614400;
}

bool ReadExact(qbFile* file, void* buffer, size_t count) { return count == 0 || FileRead(file, buffer, count) == count; }

bool Skip(qbFile* file, uint32_t bytes) { return bytes == 0 || FileSeek(file, bytes, kSeekCurrent) >= 0; }

// Hold and modify as the display hardware shows these 12-bit pictures: each
// row starts from colour 0, and a 4-bit HAM6 modify widens like a palette
// entry (x 0x11) so that it matches the colour a palette entry of the same
// value gives; HAM8's 6-bit modifies keep the held colour's two low bits.
void DecodeHAM(const uint8_t* indices, const uint32_t* palette, int32_t width, int32_t height, bool ham8,
               uint32_t* out) {
    const int shift = ham8 ? 6 : 4;
    const uint32_t valueMask = (1u << shift) - 1;
    for (int32_t y = 0; y < height; ++y) {
        uint32_t r = palette[0] & 0xFF0000, g = palette[0] & 0xFF00, b = palette[0] & 0xFF;
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t index = *indices++;
            const uint32_t v = index & valueMask;
            switch (index >> shift) {
                case 0:
                    r = palette[v] & 0xFF0000, g = palette[v] & 0xFF00, b = palette[v] & 0xFF;
                    break;
                case 1: b = ham8 ? (v << 2) | (b & 3) : v * 0x11; break;
                case 2: r = ham8 ? (v << 18) | (r & 0x30000) : v * 0x110000; break;
                default: g = ham8 ? (v << 10) | (g & 0x300) : v * 0x1100; break;
            }
            *out++ = r | g | b;
        }
    }
}

}  // namespace

void CDXLReaderCloser::operator()(qbCDXLReader* reader) const { CloseCDXL(reader); }

qbCDXLReader* OpenCDXL(const char* name, qbVideoStreamInfo* info) {
    if (!name) return nullptr;
    return OpenCDXLFile(FileOpen(name, kFileModeRead, nullptr), info);
}

qbCDXLReader* OpenCDXLFile(qbFile* file, qbVideoStreamInfo* info) {
    qbFilePtr owned(file);
    if (!owned) return nullptr;
    uint8_t header[kCDXLHeaderBytes];
    if (!ReadExact(file, header, sizeof header) || header[0] != 1) return nullptr;
    const uint32_t chunkSize = BE32(header + 2);
    const int64_t fileSize = GetFileSize(file);
    // A size of 0 would divide below; the file must hold more than one chunk.
    if (chunkSize == 0 || fileSize <= static_cast<int64_t>(chunkSize)) return nullptr;
    uint8_t next[4];
    if (FileSeek(file, static_cast<int64_t>(chunkSize) + 2, kSeekBeginning) < 0 || !ReadExact(file, next, 4) ||
        BE32(next) != chunkSize || FileSeek(file, 0, kSeekBeginning) < 0)
        return nullptr;

    qbCDXLReaderPtr reader(new (std::nothrow) qbCDXLReader);
    if (!reader) return nullptr;
    reader->width = static_cast<int32_t>(BE16(header + 14));
    reader->height = static_cast<int32_t>(BE16(header + 16));
    reader->planes = header[19];
    reader->paletteSize = BE16(header + 20);
    reader->soundSize = BE16(header + 22);
    reader->ham = (header[1] & 0x0F) == 1;
    // Pictures of no pixels or of planes the bit-plane code does not know
    // would be left undefined: refused here.
    if (reader->width == 0 || reader->height == 0 || reader->planes < 1 || reader->planes > 8) return nullptr;
    if (static_cast<uint64_t>(reader->width) * static_cast<uint64_t>(reader->height) > GetMaxImagePixels()) return nullptr;
    reader->rowBytes = static_cast<size_t>(((reader->width + 15) >> 3) & ~1);
    reader->planarSize = static_cast<size_t>(reader->planes) * static_cast<size_t>(reader->height) * reader->rowBytes;
    const uint64_t used = kCDXLHeaderBytes + uint64_t{reader->paletteSize} + reader->soundSize + reader->planarSize;
    if (used > chunkSize) return nullptr;  // the skip after the data would be negative
    reader->skip = static_cast<uint32_t>(chunkSize - used);
    reader->chunkSize = chunkSize;
    reader->frameCount = fileSize / chunkSize;
    reader->rate = {DataRate(chunkSize), chunkSize};
    reader->framesPerSecond = static_cast<double>(reader->rate.count) / chunkSize;

    if (info) {
        const int64_t ms = MsAtCount(reader->frameCount, reader->rate);
        info->frameWidth = reader->width;
        info->frameHeight = reader->height;
        info->duration = static_cast<uint32_t>(std::min<int64_t>(ms, 0xFFFFFFFF));
        info->audioRate = static_cast<int32_t>(std::lround(reader->soundSize * reader->framesPerSecond));
        info->audioChannels = reader->soundSize ? 1 : 0;
        info->seekByBytes = 0;
        info->byteRate = 0;
        info->framesAreRGB = 1;
        info->flags = IsFileNoSeek(file) ? 0u : kVideoInfoSeekable;
        // Every picture lasts one chunk's time: without it the player took a
        // picture shown alone as already over and skipped the one after it.
        info->frameDuration = reader->framesPerSecond > 0.0 ? 1.0 / reader->framesPerSecond : 0.0;
    }
    reader->file = std::move(owned);
    return reader.release();
}

int32_t CDXLNextPacket(qbCDXLReader* reader, qbCDXLPacketPtr* out) {
    out->reset();
    qbFile* file = reader->file.get();
    auto packet = qbCDXLPacketPtr(new (std::nothrow) qbCDXLPacket);
    if (!packet) return -2;
    if (reader->soundPending) {
        reader->soundPending = false;
        try {
            packet->data.resize(reader->soundSize);
        } catch (const std::bad_alloc&) {
            return -2;
        }
        if (!ReadExact(file, packet->data.data(), reader->soundSize)) return -1;
        // A chunk whose padding cannot be passed is the last one read.
        if (!Skip(file, reader->skip)) reader->nextFrame = reader->frameCount;
        packet->kind = kCDXLPacketAudio;
        packet->pts = reader->soundPts;
        packet->allocSize = kCDXLPacketHeaderBytes + reader->soundSize;
        *out = std::move(packet);
        return 0;
    }
    if (reader->nextFrame >= reader->frameCount) return -1;
    uint8_t header[kCDXLHeaderBytes];
    if (!ReadExact(file, header, sizeof header)) return -1;
    try {
        packet->data.resize(reader->planarSize);
    } catch (const std::bad_alloc&) {
        return -2;
    }
    const uint32_t entries = std::min<uint32_t>(reader->paletteSize / 2, 256);
    uint8_t word[2];
    for (uint32_t i = 0; i < entries; ++i) {
        if (!ReadExact(file, word, 2)) return -1;
        const uint32_t rgb = BE16(word);
        packet->palette[i] = ((rgb >> 8) & 0xF) * 0x110000u + ((rgb >> 4) & 0xF) * 0x1100u + (rgb & 0xF) * 0x11u;
    }
    if (!Skip(file, reader->paletteSize - entries * 2)) return -1;
    if (!ReadExact(file, packet->data.data(), reader->planarSize)) return -1;
    packet->kind = kCDXLPacketVideo;
    packet->ham = reader->ham;
    packet->planes = reader->planes;
    packet->pts = static_cast<double>(reader->nextFrame) / reader->framesPerSecond;
    packet->allocSize = kCDXLPacketHeaderBytes + reader->planarSize +
                        static_cast<size_t>(reader->width) * static_cast<size_t>(reader->height);
    ++reader->nextFrame;
    if (reader->soundSize) {
        reader->soundPending = true;  // the sound is the next packet; the skip follows it
        reader->soundPts = packet->pts;
    } else if (!Skip(file, reader->skip)) {
        reader->nextFrame = reader->frameCount;
    }
    *out = std::move(packet);
    return 0;
}

void CDXLFreePacket(qbCDXLPacketPtr) {}

bool CDXLDecodeVideoFrame(const qbCDXLReader* reader, const qbCDXLPacket& packet, uint32_t* frame, double* pts) {
    if (packet.kind != kCDXLPacketVideo || packet.data.size() < reader->planarSize || !frame) return false;
    if (packet.ham) {
        std::vector<uint8_t> indices;
        try {
            indices.resize(static_cast<size_t>(reader->width) * static_cast<size_t>(reader->height));
        } catch (const std::bad_alloc&) {
            return false;
        }
        PlanarToChunky(packet.data.data(), reader->width, reader->height, packet.planes, reader->rowBytes,
                       indices.data(), static_cast<size_t>(reader->width));
        DecodeHAM(indices.data(), packet.palette.data(), reader->width, reader->height, packet.planes > 6, frame);
    } else if (!PlanarToARGB(packet.data.data(), reader->width, reader->height, packet.planes, reader->rowBytes,
                             packet.palette.data(), 0, frame)) {
        return false;
    }
    const size_t count = static_cast<size_t>(reader->width) * static_cast<size_t>(reader->height);
    for (size_t i = 0; i < count; ++i) frame[i] = __builtin_bswap32(frame[i] & 0xFFFFFFu);
    if (pts) *pts = packet.pts;
    return true;
}

size_t CDXLDecodeAudioFrame(const qbCDXLPacket& packet, std::vector<int16_t>* samples) {
    if (packet.kind != kCDXLPacketAudio) return 0;
    samples->resize(packet.data.size());
    for (size_t i = 0; i < packet.data.size(); ++i)
        (*samples)[i] = static_cast<int16_t>(static_cast<int8_t>(packet.data[i]) * 256);
    return packet.data.size() * 2;
}

void CDXLSeek(qbCDXLReader* reader, uint32_t milliseconds) {
    const int64_t frame = std::clamp<int64_t>(CountAtMs(milliseconds, reader->rate), 0, reader->frameCount - 1);
    // A failed seek leaves the file where it was, and the reader with it.
    if (FileSeek(reader->file.get(), frame * reader->chunkSize, kSeekBeginning) < 0) return;
    reader->nextFrame = frame;
    reader->soundPending = false;
}

void CloseCDXL(qbCDXLReader* reader) { delete reader; }

const char* GetCDXLFormatName() { return "CDXL"; }
