// AVI files read as anims: the video stream of a RIFF "AVI " file whose
// frames are uncompressed 24-bit DIBs or Motion-JPEG pictures; audio streams
// are parsed and ignored. Frames are found through the idx1 index when the
// file has a usable one, else by scanning the movi list.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/file.h"
#include "core/pixelbuffer.h"

constexpr uint32_t kAVIMaxStreams = 16;

struct qbAVIIndexEntry {
    int64_t offset = 0;
    uint32_t size = 0;
};

struct qbAVIStream {
    uint32_t type = 0, handler = 0;  // fourccs, first character in the low byte
    std::vector<qbAVIIndexEntry> index;
};

struct qbAVIReader {
    qbFilePtr file;
    bool mjpeg = false;
    int32_t width = 0, height = 0;
    uint32_t totalFrames = 0, flags = 0, declaredStreams = 0;
    std::vector<qbAVIStream> streams;
    int32_t videoStream = -1;
    int32_t bitmapWidth = 0, bitmapHeight = 0;
    uint32_t planes = 0, bitCount = 0, compression = 0;
    bool topDown = false;  // an uncompressed DIB stored top row first
    uint32_t channels = 0, sampleRate = 0, blockAlign = 0, sampleBits = 0;  // the last audio stream's
    int64_t moviData = 0;  // just after the movi list's type
    int64_t moviEnd = 0;
    int64_t end = 0;  // of the RIFF chunk
    bool indexed = false;
    // Reading on in sequence: the position of the next chunk to look at and
    // the number of the video frame found there.
    int64_t scanPos = 0;
    uint32_t scanFrame = 0;
    std::vector<uint8_t> chunk;  // the frame's bytes as read
};

struct AVIReaderCloser {
    void operator()(qbAVIReader* reader) const;
};
using qbAVIReaderPtr = std::unique_ptr<qbAVIReader, AVIReaderCloser>;

// Takes the file in every case. Null when the file isn't an AVI of a kind
// this reader decodes or is malformed.
qbAVIReader* OpenAVIReader(qbFile* file, int32_t* width, int32_t* height, int32_t* frameCount);
// width x height pixels 0x00RRGGBB, top row first, or an empty buffer.
PixelBuffer ReadAVIFrame(qbAVIReader* reader, int32_t frame);
void FreeAVIIndexes(qbAVIReader* reader);
void CloseAVIReader(qbAVIReader* reader);

// A Motion-JPEG frame made a JPEG file any decoder reads: the standard
// Huffman tables inserted before the scan when the frame has none, an
// "AVI1" APP0 renamed "JFIF". false when the frame isn't a JPEG or a marker
// segment runs past its end.
bool FixMotionJPEGFrame(const uint8_t* data, size_t size, std::vector<uint8_t>* out);
