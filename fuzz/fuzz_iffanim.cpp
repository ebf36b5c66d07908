// Fuzz target of the IFF ANIM reader: the open (with its delta count and
// field pass), then frames in an order the input picks (its last bytes), in
// both deinterlace modes.
#include "imagefuzz.h"
#include "media/iffanim.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzImageFile input(data, size);
    if (!input.ok()) return 0;
    for (int32_t mode : {kDeinterlaceDefault, kDeinterlaceDouble}) {
        int32_t width = 0, height = 0, frames = 0;
        const bool keyed = size > 0 && (data[size - 1] & 1);
        qbIFFAnimReaderPtr reader(OpenIFFAnim(input.Open().release(), mode, &width, &height, &frames, keyed));
        FuzzNoteValue(reader ? frames : -1);
        if (!reader || frames <= 0) return 0;
        FuzzNoteValue(width);
        FuzzNoteValue(height);
        for (size_t i = 0; i < 8 && i < size; ++i) {
            const int32_t frame = static_cast<int32_t>(data[size - 1 - i] % (static_cast<uint32_t>(frames) + 1));
            uint32_t transparency = 0;
            PixelBuffer pixels = GetIFFAnimFrame(reader.get(), frame, &transparency);
            SumPixels(pixels, width, height);
            FuzzNoteValue(transparency);
            FuzzNoteValue(GetIFFAnimFrameDelay(reader.get(), frame));
        }
    }
    return 0;
}
