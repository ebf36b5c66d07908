// Fuzz target of the GIF writer: sizes, colour counts, indices, delays and
// the differencing choice from the input, written to a scratch file and
// read back; every frame's canvas must show exactly its indices' colours
// (unchanged pixels of a differenced frame go through the transparent
// slot and still show them). With giflib at hand it reads the file too.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/file.h"
#include "fuzznote.h"
#include "imaging/gif.h"
#ifdef QB_FUZZ_HAVE_GIFLIB
#include <gif_lib.h>
#endif

namespace {

struct Bytes {
    const uint8_t* data;
    size_t size, at = 0;
    uint8_t Next() { return at < size ? data[at++] : static_cast<uint8_t>(at++ * 31); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    Bytes in{data, size};
    const int32_t width = 1 + in.Next() % 48, height = 1 + in.Next() % 32;
    const int frameCount = 1 + in.Next() % 4;
    static const std::string path = "/tmp/qb-fuzz-gif-" + std::to_string(getpid()) + ".gif";
    qbGIFWriter* writer = nullptr;
    if (WriteGIF(path.c_str(), nullptr, width, height, &writer)) std::abort();
    std::vector<std::vector<uint32_t>> expected;
    for (int k = 0; k < frameCount; ++k) {
        qbGIFFrame f;
        f.width = width;
        f.height = height;
        f.differencing = in.Next() & 1;
        f.transparentSlot = f.differencing;
        f.colourCount = 2 + in.Next() % 255;
        f.delayMs = in.Next() * 7u;
        std::vector<uint32_t> palette(static_cast<size_t>(f.colourCount));
        for (auto& p : palette) p = static_cast<uint32_t>(in.Next()) << 16 | in.Next() << 8 | in.Next();
        // The slot is the caller's: no pixel uses it.
        const int usable = f.colourCount - (f.transparentSlot ? 1 : 0);
        std::vector<uint8_t> indices(static_cast<size_t>(width) * static_cast<size_t>(height));
        const uint8_t pattern = in.Next();
        for (size_t i = 0; i < indices.size(); ++i)
            indices[i] = static_cast<uint8_t>((pattern & 1 ? in.Next() : (i * pattern) >> 3) % static_cast<unsigned>(usable));
        f.indices = indices.data();
        f.palette = palette.data();
        if (WriteAnimGIF(writer, f)) std::abort();
        std::vector<uint32_t> colours(indices.size());
        for (size_t i = 0; i < indices.size(); ++i) colours[i] = 0xFF000000u | (palette[indices[i]] & 0xFFFFFF);
        expected.push_back(colours);
    }
    if (CloseGIFWriter(writer)) std::abort();
    {
        // The written file itself: its bytes are what a user keeps.
        std::vector<uint8_t> written;
        if (FILE* f = std::fopen(path.c_str(), "rb")) {
            uint8_t chunk[4096];
            for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
                written.insert(written.end(), chunk, chunk + n);
            std::fclose(f);
        }
        FuzzNoteValue(static_cast<int64_t>(written.size()));
        FuzzNote(written.data(), written.size());
    }

    int32_t w = 0, h = 0, frames = 0;
    qbGIFReaderPtr reader(OpenGIFReader(FileOpen(path.c_str(), kFileModeRead, nullptr), &w, &h, &frames, false,
                                        false, false));
    if (!reader || w != width || h != height || frames != frameCount) std::abort();
    for (int k = 0; k < frameCount; ++k) {
        PixelBuffer canvas = GetGIFFrame(reader.get(), static_cast<uint32_t>(k), nullptr);
        if (!canvas) std::abort();
        FuzzNoteValue(GetGIFFrameDelay(reader.get(), static_cast<uint32_t>(k)));
        for (size_t i = 0; i < expected[static_cast<size_t>(k)].size(); ++i)
            if (canvas[i] != expected[static_cast<size_t>(k)][i]) std::abort();
    }
#ifdef QB_FUZZ_HAVE_GIFLIB
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (!gif || DGifSlurp(gif) != GIF_OK || gif->ImageCount != frameCount) std::abort();
    DGifCloseFile(gif, &error);
#endif
    std::remove(path.c_str());
    return 0;
}
