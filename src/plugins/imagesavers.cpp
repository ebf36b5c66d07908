// Saving images through plugins: the first loaded saver that registered the
// format code gets the picture, as ARGB for a true-colour format, else
// quantised to a palette.
#include "plugins/imagesavers.h"

#include <algorithm>
#include <new>
#include <vector>

#include "core/errcodes.h"
#include "core/pixelformats.h"
#include "display/imagewriter.h"
#include "imaging/quantize.h"
#include "plugins/pluginlibrary.h"

namespace {

constexpr int32_t kMaxPaletteColours = 256;

int SaveThroughPlugin(const qbPluginImageSave& r) {
    qbSaverMatch match;
    if (r.format < 0 || !FindSaverFormat(PLUGINCAPS_SAVEIMAGE, static_cast<uint64_t>(r.format), &match) ||
        !match.plugin->SaveImage)
        return ERR_UNKNOWNIMGOUT;
    if (!r.pixels || r.width < 1 || r.height < 1) return ERR_WRONGUSAGE;
    qbImageSaveRequest request{};
    request.format = static_cast<uint64_t>(r.format);
    request.fileName = r.fileName ? r.fileName : "";
    request.width = r.width;
    request.height = r.height;
    request.quality = r.options.quality;
    std::vector<uint8_t> indices;
    std::vector<uint32_t> palette;
    if (match.format->flags & QBSAVER_TRUECOLOUR) {
        request.pixels = r.pixels;
        request.rowBytes = r.width * 4;
        if (r.hasAlpha && (match.format->flags & QBSAVER_ALPHA)) request.flags |= QBSAVEIMAGE_ALPHA;
    } else {
        try {
            indices.resize(static_cast<size_t>(r.width) * static_cast<size_t>(r.height));
            palette.resize(kMaxPaletteColours);
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
        const bool keyed = r.keyColour != -1;
        int32_t count = std::clamp(r.options.colors, 1, kMaxPaletteColours);
        int32_t transparentIndex = -1;
        if (!QuantizePixels(r.pixels, kFormatARGB, 4, r.width, r.height, r.width, indices.data(), palette.data(),
                            &count, keyed ? static_cast<uint32_t>(r.keyColour) : kNoTransparentColour, false,
                            r.options.dither != 0, &transparentIndex))
            return ERR_MEM;
        request.pixels = indices.data();
        request.palette = palette.data();
        request.rowBytes = r.width;
        request.colourCount = count;
        if (keyed && transparentIndex >= 0) {
            request.flags |= QBSAVEIMAGE_TRANSPARENT;
            request.transparentIndex = transparentIndex;
        }
    }
    const auto save = reinterpret_cast<qbSaveImageFunc>(match.plugin->SaveImage);
    return save(&request) ? 0 : ERR_SAVEIMAGE;
}

}  // namespace

void InstallPluginImageSavers() { SetPluginImageSaverHook(&SaveThroughPlugin); }
