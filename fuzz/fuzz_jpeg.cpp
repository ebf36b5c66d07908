// Fuzz target of the JPEG reader, from memory and through the file layer.
#include "imagefuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzImageFile input(data, size);
    int32_t width = 0, height = 0;
    PixelBuffer pixels;
    const int fromMemory = ReadJPEGMemory(data, size, false, &width, &height, &pixels);
    FuzzNoteValue(fromMemory);
    if (fromMemory == 0) SumPixels(pixels, width, height);
    if (!input.ok()) return 0;
    qbFilePtr file = input.Open();
    PixelBuffer again;
    const int fromFile = ReadJPEG(file.get(), false, &width, &height, &again);
    FuzzNoteValue(fromFile);
    if (fromFile == 0) SumPixels(again, width, height);
    return 0;
}
