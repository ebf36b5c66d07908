// Fuzz target of the PNG reader: any bytes decode or give an error code,
// never a crash, a leak or a library message.
#include "imagefuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzImageFile input(data, size);
    if (!input.ok()) return 0;
    for (bool probe : {true, false}) {
        qbFilePtr file = input.Open();
        int32_t width = 0, height = 0, alpha = 0;
        PixelBuffer pixels;
        const int err = ReadPNG(file.get(), probe, &width, &height, &pixels, &alpha);
        FuzzNoteValue(err);
        FuzzNoteValue(width);
        FuzzNoteValue(height);
        FuzzNoteValue(alpha);
        if (err == 0 && !probe) SumPixels(pixels, width, height);
    }
    return 0;
}
