// Fuzz target of the AVI reader: the header walk and the index, frames in
// an order the input picks (its last bytes), once more without the index;
// and the Motion-JPEG repair (the Huffman table insertion) on the input.
#include "imagefuzz.h"
#include "media/avireader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> fixed;
    FuzzNoteValue(FixMotionJPEGFrame(data, size, &fixed));
    FuzzNote(fixed.data(), fixed.size());
    FuzzImageFile input(data, size);
    if (!input.ok()) return 0;
    int32_t width = 0, height = 0, frames = 0;
    qbAVIReaderPtr reader(OpenAVIReader(input.Open().release(), &width, &height, &frames));
    FuzzNoteValue(reader ? frames : -1);
    if (!reader || frames <= 0) return 0;
    FuzzNoteValue(width);
    FuzzNoteValue(height);
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < 6 && i < size; ++i) {
            const int32_t frame = static_cast<int32_t>(data[size - 1 - i] % (static_cast<uint32_t>(frames) + 1));
            PixelBuffer pixels = ReadAVIFrame(reader.get(), frame);
            SumPixels(pixels, width, height);
        }
        FreeAVIIndexes(reader.get());
    }
    return 0;
}
