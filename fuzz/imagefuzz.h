// Shared by the picture fuzz targets: the input lent to the file layer as a
// memory file, and a pixel limit that keeps each decode small.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/file.h"
#include "core/memfile.h"
#include "imaging/imageformats.h"
#include "fuzznote.h"

class FuzzImageFile {
public:
    FuzzImageFile(const uint8_t* data, size_t size) : bytes_(data, data + size) {
        // Pictures of up to 4 M pixels: enough for every path, and the
        // fuzzer's memory limit is never what stops a decode.
        SetMaxImagePixels(uint64_t{1} << 22);
        if (!bytes_.empty() && RegisterMemoryBuffer(bytes_.data(), bytes_.size()) == 0) {
            name_ = MakeMemoryName(bytes_.data(), bytes_.size());
            registered_ = true;
        }
    }
    ~FuzzImageFile() {
        if (registered_) UnregisterMemoryBuffer(bytes_.data());
    }
    bool ok() const { return registered_; }
    const char* name() const { return name_.c_str(); }
    qbFilePtr Open() const { return qbFilePtr(FileOpen(name_.c_str(), kFileModeRead, nullptr)); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    std::string name_;
    bool registered_ = false;
};

inline volatile uint32_t fuzzPixelSink = 0;

// Touches every pixel, so that a short buffer shows up under the sanitizers,
// and notes the picture in the input's answer.
inline void SumPixels(const uint32_t* pixels, int32_t width, int32_t height, int32_t rowLength) {
    uint32_t sum = 0;
    FuzzNoteValue(pixels ? width : -1);
    FuzzNoteValue(height);
    if (!pixels) return;
    for (int32_t y = 0; y < height; ++y) {
        const uint32_t* row = pixels + static_cast<size_t>(y) * static_cast<size_t>(rowLength);
        for (int32_t x = 0; x < width; ++x) sum += row[x];
        FuzzNote(row, static_cast<size_t>(width > 0 ? width : 0) * sizeof *row);
    }
    fuzzPixelSink = sum;
}
inline void SumPixels(const PixelBuffer& pixels, int32_t width, int32_t height) {
    SumPixels(pixels.get(), width, height, width);
}
