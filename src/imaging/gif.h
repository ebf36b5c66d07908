// GIF pictures and animations (GIF87a and GIF89a) with the player's own LZW
// coder. The reader serves the picture loader (frame 0) and anims (any
// frame, in any order); the writer serves saved pictures (one frame) and
// saved anims (many). Colours are 0x00RRGGBB, canvases 0xAARRGGBB.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/file.h"
#include "core/pixelbuffer.h"
#include "core/replacefile.h"

struct qbGIFFrameEntry {
    uint32_t delay = 0;     // 1/100 s
    uint8_t restart = 0;    // covers the screen opaquely: decoding may start here
    int64_t position = 0;   // the frame's first block (its extensions)
};

struct qbGIFReader {
    qbFilePtr file;
    uint32_t width = 0, height = 0;
    uint32_t globalTable[256] = {};
    uint32_t localTable[256] = {};
    const uint32_t* table = globalTable;
    PixelBuffer canvas;
    // Disposal 3: what lay under the last frame's rectangle, row by row.
    std::vector<uint32_t> savedArea;
    uint32_t background = 0;
    uint32_t nextFrame = 0;  // kNoFrame: the next GetGIFFrame restarts
    uint32_t frameCount = 0;
    int64_t firstFrame = 0;
    std::vector<qbGIFFrameEntry> frames;
    // The frame decoded last, disposed of before the next one.
    int32_t lastDisposal = 0, lastLeft = 0, lastTop = 0, lastWidth = 0, lastHeight = 0, lastTransparent = -1;
    uint32_t lastFill = 0;  // what disposal 2 fills its rectangle with
    // The graphic control values in force for the next image.
    int32_t disposal = 0, transparent = -1;
    uint32_t delay = 0;
    uint32_t transparency = 0;
    bool keyColourMode = false, singleFrame = false;
};

struct GIFReaderCloser {
    void operator()(qbGIFReader* reader) const;
};
using qbGIFReaderPtr = std::unique_ptr<qbGIFReader, GIFReaderCloser>;

// Takes the file in every case (a reader closes it when it closes). Null
// when the file is no GIF, memory runs out or the block scan fails; a probe
// stores width and height and returns null as well. *error (when given):
// ERR_MEM when the screen is more than the file's bytes can fill or memory
// ran out for it, else untouched.
qbGIFReader* OpenGIFReader(qbFile* file, int32_t* width, int32_t* height, int32_t* frameCount, bool probe,
                           bool singleFrame, bool keyColourMode, int* error = nullptr);
// The whole canvas after frame `frame` (width x height 0xAARRGGBB), or an
// empty buffer when the frame can't be decoded. *transparency: 1 when the
// frame has a transparent colour and the reader is in key-colour mode.
PixelBuffer GetGIFFrame(qbGIFReader* reader, uint32_t frame, uint32_t* transparency);
// Milliseconds.
uint32_t GetGIFFrameDelay(const qbGIFReader* reader, uint32_t frame);
void CloseGIFReader(qbGIFReader* reader);

struct qbGIFWriter {
    qbReplaceFile output;
    int32_t width = 0, height = 0;
    uint32_t framesWritten = 0;
    std::vector<uint8_t> previous;  // the last differenced frame's indices
    std::vector<uint8_t> work;      // the changed rectangle being written
    uint32_t previousPalette[256] = {};
    bool failed = false;            // a write came up short
};

// Creates the file with the header and the global table. 0, ERR_MEM,
// ERR_WRONGUSAGE (a side outside 1..65535, or a file being read: see
// BeginReplaceFile) or ERR_WRITEFILE (the name as detail). The file takes
// the name's place when the writer closes cleanly.
int WriteGIF(const char* fileName, const char* adapterTag, int32_t width, int32_t height, qbGIFWriter** out);

struct qbGIFFrame {
    const uint8_t* indices = nullptr;  // width x height, rows packed
    int32_t width = 0, height = 0;
    uint32_t delayMs = 0;
    const uint32_t* palette = nullptr;  // colourCount entries used
    int32_t colourCount = 256;
    int32_t transparentIndex = -1;
    bool differencing = false;
    // The caller keeps index colourCount - 1 free: unchanged pixels and the
    // graphic control's transparent index use it.
    bool transparentSlot = false;
};
// Appends one frame. 0, ERR_MEM, ERR_WRONGUSAGE (a size other than the
// screen's, no palette) or ERR_WRITE (the file took less than it was given).
int WriteAnimGIF(qbGIFWriter* writer, const qbGIFFrame& frame);
// Writes the trailer, closes the file and frees the writer. 0 or ERR_WRITE
// (this or an earlier write came up short, or the close failed).
int CloseGIFWriter(qbGIFWriter* writer);
