// Fuzz target of the ILBM reader: the probe, then a load with a caller
// palette, caller colour and key-colour modes the input's last byte picks.
#include <vector>

#include "imagefuzz.h"
#include "imaging/ilbm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzImageFile input(data, size);
    if (!input.ok()) return 0;
    {
        ILBMReadRequest probe;
        probe.probe = true;
        qbFilePtr file = input.Open();
        FuzzNoteValue(ReadILBM(file.get(), &probe));
        FuzzNoteValue(probe.width);
        FuzzNoteValue(probe.height);
        FuzzNoteValue(probe.key);
    }
    const uint8_t pick = data[size - 1];
    std::vector<uint32_t> palette(256, 0xFFFFFFFFu);
    for (size_t i = 0; i < (pick & 7u) && i < size; ++i) palette[i] = data[i] * 0x010101u;
    ILBMReadRequest r;
    r.palette = pick & 0x08 ? palette.data() : nullptr;
    r.callerColour = pick & 0x10 ? 0x00FF7F00u : kNoCallerColour;
    r.mode1 = pick & 0x20;
    r.mode2 = pick & 0x40;
    r.wantPaletteCopy = pick & 0x80;
    qbFilePtr file = input.Open();
    const int err = ReadILBM(file.get(), &r);
    FuzzNoteValue(err);
    FuzzNoteValue(r.key);
    if (err == 0) {
        SumPixels(r.pixels, r.width, r.height);
        FuzzNoteValue(r.paletteCopy != nullptr);
        if (r.paletteCopy) {
            fuzzPixelSink = r.paletteCopy[255];
            FuzzNote(r.paletteCopy.get(), 256 * sizeof(uint32_t));
        }
        // The caller's palette is merged and written back.
        if (r.palette) FuzzNote(palette.data(), palette.size() * sizeof(uint32_t));
    }
    return 0;
}
