// Fuzz target of the loader chain: the header probe and a full load with a
// wanted size and an alpha plane, from any bytes.
#include "imagefuzz.h"
#include "imaging/loaderchain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzImageFile input(data, size);
    if (!input.ok()) return 0;
    qbImageProbe probe;
    FuzzNoteValue(ProbeImageFile(input.name(), nullptr, nullptr, kImageOpenMode, &probe));
    FuzzNoteValue(probe.isVector);
    FuzzNoteValue(probe.width);
    FuzzNoteValue(probe.height);
    FuzzNoteValue(probe.hasAlpha);
    FuzzNoteValue(probe.transparency);
    qbImageLoadParams params;
    params.fileName = input.name();
    params.alphaMode = kAlphaIfPresent;
    // The last byte picks a wanted size: own, half, or a small fixed one.
    const uint8_t pick = data[size - 1];
    params.wantedWidth = pick % 3 == 0 ? 0 : pick % 3 == 1 ? -50 : 17;
    params.wantedHeight = pick % 3 == 2 ? 5 : 0;
    params.smooth = pick & 4;
    qbLoadedImage image;
    const int err = LoadImageThroughLoaders(params, &image);
    FuzzNoteValue(err);
    if (err != 0) return 0;
    SumPixels(GetImageHandlePixels(image.handle.get()), image.width, image.height, image.rowLength);
    FuzzNoteValue(image.transparency);
    FuzzNoteValue(image.hasAlpha);
    FuzzNoteValue(image.isVector);
    // Which loader took the file (the inbuilt one, since the chain has no
    // plugins here); a plugin's value would be an address.
    FuzzNoteValue(image.loader == kLoaderInbuilt);
    FuzzNoteValue(image.paletteCopy != nullptr);
    if (image.paletteCopy) FuzzNote(image.paletteCopy.get(), 256 * sizeof(uint32_t));
    FuzzNoteValue(image.alpha != nullptr);
    return 0;
}
