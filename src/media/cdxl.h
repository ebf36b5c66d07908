// CDXL video: a file of equal-sized chunks, each a 32-byte header, a
// palette of 0x0RGB words, the picture as bit-planes and optional 8-bit
// signed mono sound, all big-endian. The reader offers the operations of a
// video source (open, next packet, decode, seek, close) so that the video
// engine drives it as it drives a plugin.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/file.h"
#include "core/ratetime.h"
#include "media/videoinfo.h"

constexpr size_t kCDXLHeaderBytes = 32;
// What every packet carries before its data (the palette and the engine's
// bookkeeping); the queues count it against their limits.
constexpr size_t kCDXLPacketHeaderBytes = 1080;

struct qbCDXLReader {
    qbFilePtr file;
    int32_t width = 0, height = 0;
    size_t rowBytes = 0;
    int32_t planes = 0;
    int64_t frameCount = 0;
    int64_t nextFrame = 0;
    uint32_t chunkSize = 0;
    size_t planarSize = 0;
    uint32_t paletteSize = 0;  // bytes, of the first chunk
    uint32_t soundSize = 0;
    uint32_t skip = 0;  // bytes after a chunk's data
    bool ham = false;
    qbRate rate;  // pictures: bytes a second over bytes a chunk
    double framesPerSecond = 0.0;  // the same, for the pictures' times
    bool soundPending = false;
    double soundPts = 0.0;  // of the picture the pending sound belongs to
};

struct CDXLReaderCloser {
    void operator()(qbCDXLReader* reader) const;
};
using qbCDXLReaderPtr = std::unique_ptr<qbCDXLReader, CDXLReaderCloser>;

enum : int32_t { kCDXLPacketVideo = 0, kCDXLPacketAudio = 1 };

struct qbCDXLPacket {
    int32_t kind = kCDXLPacketVideo;
    double pts = 0.0;  // seconds
    size_t allocSize = 0;  // header, data and, for pictures, the index buffer
    std::array<uint32_t, 256> palette{};  // 0x00RRGGBB
    bool ham = false;
    int32_t planes = 0;
    std::vector<uint8_t> data;  // planes, or signed 8-bit samples
};
using qbCDXLPacketPtr = std::unique_ptr<qbCDXLPacket>;

// Null when the file is missing, isn't CDXL, holds one chunk or less, has
// chunks of unequal size, or a first chunk whose sizes do not add up.
// `info` is filled as the video engine expects (its `reserved` untouched).
qbCDXLReader* OpenCDXL(const char* name, qbVideoStreamInfo* info);
qbCDXLReader* OpenCDXLFile(qbFile* file, qbVideoStreamInfo* info);  // takes the file
// 0, -1 at the end of the file or on a short read, -2 without memory.
int32_t CDXLNextPacket(qbCDXLReader* reader, qbCDXLPacketPtr* packet);
void CDXLFreePacket(qbCDXLPacketPtr packet);
// width x height 32-bit pixels, rows width x 4 bytes apart, each word the
// big-endian bytes 0x00 RR GG BB the engine takes for RGB frames. False for
// an audio packet or a picture that cannot be decoded.
bool CDXLDecodeVideoFrame(const qbCDXLReader* reader, const qbCDXLPacket& packet, uint32_t* frame, double* pts);
// Signed 16-bit mono samples (each byte x 256); the byte count.
size_t CDXLDecodeAudioFrame(const qbCDXLPacket& packet, std::vector<int16_t>* samples);
void CDXLSeek(qbCDXLReader* reader, uint32_t milliseconds);
void CloseCDXL(qbCDXLReader* reader);
const char* GetCDXLFormatName();
