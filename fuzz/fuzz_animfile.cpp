// Fuzz target of the anim-format layer: the choice of reader by the first
// bytes over a ":::memory" name, then a few frames and delays through it.
#include "imagefuzz.h"
#include "media/animfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzImageFile input(data, size);
    if (!input.ok()) return 0;
    FuzzNoteValue(IsAnimFile(input.name(), nullptr, nullptr, kAnimOpenMode));
    qbAnimFile* opened = nullptr;
    int32_t width = 0, height = 0, frames = 0, transparency = 0;
    const bool keyed = data[size - 1] & 1;
    const int opens = OpenAnimFile(input.name(), nullptr, nullptr, kAnimOpenMode, data[size - 1] >> 1 & 1, keyed, &opened, &width,
                                   &height, &frames, &transparency, nullptr);
    FuzzNoteValue(opens);
    if (opens != 0) return 0;
    FuzzNoteValue(width);
    FuzzNoteValue(height);
    FuzzNoteValue(frames);
    FuzzNoteValue(transparency);
    AnimFilePtr anim(opened);
    for (size_t i = 0; i < 4 && i < size && frames > 0; ++i) {
        const int32_t frame = static_cast<int32_t>(data[i] % static_cast<uint32_t>(frames));
        AnimFramePtr pixels = LoadAnimFileFramePtr(anim.get(), frame, 0, &transparency);
        SumPixels(pixels.get(), width, height, width);
        FuzzNoteValue(transparency);
        FuzzNoteValue(GetAnimFileFrameDelay(anim.get(), frame));
    }
    return 0;
}
