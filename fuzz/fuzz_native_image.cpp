// Fuzz target of the Linux backend's image decoder: the input decoded from
// memory (and probed) under a lowered pixel cap, and once more through the
// file layer.
#include "imagefuzz.h"
#include "platform/platform.h"

namespace {

void DecodeAndTouch(qbNativeImageRequest* request, int err) {
    FuzzNoteValue(err);
    FuzzNoteValue(request->width);
    FuzzNoteValue(request->height);
    FuzzNoteValue(request->hasAlpha);
    FuzzNoteValue(request->transparency);
    FuzzNoteValue(request->image != nullptr);
    FuzzNoteValue(request->paletteCopy != nullptr);
    if (request->paletteCopy) FuzzNote(request->paletteCopy.get(), 256 * sizeof(uint32_t));
    if (err || !request->image) return;
    SumPixels(GetNativeImageData(request->image), request->width, request->height, request->width);
    FreeNativeImage(request->image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool installed = [] {
        SetPlatformBackend(&LinuxPlatformOps());
        return true;
    }();
    (void)installed;
    FuzzImageFile input(data, size);
    qbNativeImageRequest probe;
    probe.probeOnly = 1;
    DecodeAndTouch(&probe, DecodeNativeImageFromMemory(data, size, &probe));
    qbNativeImageRequest request;
    DecodeAndTouch(&request, DecodeNativeImageFromMemory(data, size, &request));
    if (!input.ok()) return 0;
    qbFilePtr file = input.Open();
    qbNativeImageRequest fromFile;
    fromFile.file = file.get();
    DecodeAndTouch(&fromFile, DecodeNativeImage(&fromFile));
    return 0;
}
