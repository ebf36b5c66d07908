// Fuzz target of the GIF reader: the header probe, the block scan, then
// frames in an order the input picks (its last bytes), in both modes.
#include "imagefuzz.h"
#include "imaging/gif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzImageFile input(data, size);
    if (!input.ok()) return 0;
    int32_t width = 0, height = 0, frames = 0;
    int error = 0;
    const bool probed = OpenGIFReader(input.Open().release(), &width, &height, &frames, true, false, false, &error);
    FuzzNoteValue(probed);
    FuzzNoteValue(error);
    FuzzNoteValue(width);
    FuzzNoteValue(height);
    const bool keyed = size > 0 && (data[size - 1] & 1);
    error = 0;
    qbGIFReaderPtr reader(
        OpenGIFReader(input.Open().release(), &width, &height, &frames, false, keyed, keyed, &error));
    FuzzNoteValue(reader != nullptr);
    FuzzNoteValue(error);
    FuzzNoteValue(width);
    FuzzNoteValue(height);
    FuzzNoteValue(frames);
    if (!reader || frames <= 0) return 0;
    for (size_t i = 0; i < 6 && i < size; ++i) {
        const uint32_t frame = data[size - 1 - i] % static_cast<uint32_t>(frames);
        uint32_t transparency = 0;
        PixelBuffer pixels = GetGIFFrame(reader.get(), frame, &transparency);
        FuzzNoteValue(frame);
        FuzzNoteValue(pixels != nullptr);
        FuzzNoteValue(transparency);
        if (pixels) SumPixels(pixels, width, height);
        FuzzNoteValue(GetGIFFrameDelay(reader.get(), frame));
    }
    return 0;
}
