// Fuzz target of the BMP reader.
#include "imagefuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzImageFile input(data, size);
    if (!input.ok()) return 0;
    for (bool probe : {true, false}) {
        qbFilePtr file = input.Open();
        int32_t width = 0, height = 0;
        PixelBuffer pixels;
        const int err = ReadBMP(file.get(), probe, &width, &height, &pixels);
        FuzzNoteValue(err);
        FuzzNoteValue(width);
        FuzzNoteValue(height);
        if (err == 0 && !probe) SumPixels(pixels, width, height);
    }
    return 0;
}
