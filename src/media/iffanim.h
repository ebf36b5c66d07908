// IFF ANIM files: a FORM ANIM holding an ILBM key frame and one FORM per
// following frame with an ANHD header and a DLTA delta (operations 5, 7, 8,
// 100 and 101). Frames come out as 0xAARRGGBB pixels in any order: going
// back rewinds to the key frame and decodes forward again.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/file.h"
#include "core/pixelbuffer.h"

// How field-mode anims fill the rows of the other field.
enum : int32_t {
    kDeinterlaceDefault = 0,  // from the previous field
    kDeinterlaceDouble = 1,   // each field's rows doubled
};

struct qbIFFAnimReader {
    qbFilePtr file;
    std::vector<uint8_t> keyPlanes;
    std::vector<uint8_t> buffers[2];
    int current = 0;
    std::vector<uint8_t> savedField;  // the planes before the last field delta
    bool haveSavedField = false;
    std::vector<uint8_t> indices, fieldIndices;
    uint32_t palette[256] = {};
    uint32_t keyPalette[256] = {};
    int32_t width = 0, height = 0, planes = 0;
    int32_t compression = 0, masking = 0, transparent = 0;
    bool halfBrite = false, ham6 = false, ham8 = false;
    size_t rowBytes = 0;
    int32_t frameCount = 0;
    int32_t nextFrame = 0;   // the frame the next delta makes; 0 after a rewind
    int64_t firstDelta = 0;  // file position of the first delta FORM
    int64_t deltaPos = 0;    // the next delta FORM
    int64_t end = 0;         // end of the outer FORM
    std::vector<uint32_t> delays;  // jiffies, one per frame
    // Field mode: 0 until the first delta that changes a row settles it,
    // then 1 (the odd rows changed first) or 2 (the even rows).
    bool fieldMode = false;
    int32_t field = 0;
    int32_t fieldOrder = 0;
    int32_t deinterlace = kDeinterlaceDefault;
    bool loadTransparency = false;
};

struct IFFAnimCloser {
    void operator()(qbIFFAnimReader* reader) const;
};
using qbIFFAnimReaderPtr = std::unique_ptr<qbIFFAnimReader, IFFAnimCloser>;

// Takes the file in every case. Null when the file is no ANIM this reader
// decodes, is malformed or memory runs out.
qbIFFAnimReader* OpenIFFAnim(qbFile* file, int32_t deinterlace, int32_t* width, int32_t* height,
                             int32_t* frameCount, bool loadTransparency);
// width x height pixels, or an empty buffer when the frame can't be
// decoded. *transparency: 1 when the frame was keyed.
PixelBuffer GetIFFAnimFrame(qbIFFAnimReader* reader, int32_t frame, uint32_t* transparency);
// Milliseconds, rounded to the nearest.
uint32_t GetIFFAnimFrameDelay(const qbIFFAnimReader* reader, int32_t frame);
void CloseIFFAnim(qbIFFAnimReader* reader);
