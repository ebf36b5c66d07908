// The icon pictures loaded from the applet's icon slots.
#include "display/icons.h"

#include <cstdio>
#include <utility>

#include "core/errcodes.h"
#include "core/errors.h"
#include "imaging/loaderchain.h"

namespace {

int LoadSlot(const qbIconSlot& slot, bool secondKind, qbIconImage* out) {
    qbImageLoadParams params;
    params.fileName = slot.source.c_str();
    // No alpha plane is asked for: the icon reads alpha from the pixels'
    // top bytes, so a plane would be built only to be dropped.
    qbLoadedImage image;
    if (int err = LoadImageThroughLoaders(params, &image)) return err;
    if (image.width != slot.width || image.height != slot.height) {
        char size[32];
        std::snprintf(size, sizeof size, "%dx%d", slot.width, slot.height);
        SetErrorDetail(size);
        return ERR_ICONDIMS;
    }
    const uint32_t* pixels = GetImageHandlePixels(image.handle.get());
    if (!pixels) return ERR_MEM;
    out->width = image.width;
    out->height = image.height;
    out->flags = (slot.option ? kIconImageMarked : 0) | (secondKind ? kIconImageSecondKind : 0);
    out->pixels.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
    // The handle's pixels carry the picture's alpha in their top bytes; a
    // picture without alpha has nothing meaningful there.
    const uint32_t opaque = image.hasAlpha ? 0 : 0xFF000000u;
    for (int32_t y = 0; y < image.height; ++y) {
        const uint32_t* row = pixels + static_cast<size_t>(y) * static_cast<size_t>(image.rowLength);
        uint32_t* to = out->pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(image.width);
        for (int32_t x = 0; x < image.width; ++x) to[x] = row[x] | opaque;
    }
    return 0;
}

}  // namespace

int LoadIconImages(int verbose) {
    SetIconImageList({});
    std::vector<qbIconImage> list;
    const auto& slots = GetIconSlots();
    for (int i = 0; i < kIconSlotCount; ++i) {
        const qbIconSlot& slot = slots[static_cast<size_t>(i)];
        if (slot.source.empty()) continue;
        if (verbose) PrintMessage(GetMessageText(MSG_LOADINGICON), slot.source.c_str(), 1);
        qbIconImage image;
        const int err = LoadSlot(slot, i >= kIconPlainSlots, &image);
        if (verbose) err ? PrintFailedMessage() : PrintDoneMessage();
        if (err) return err;
        list.push_back(std::move(image));
    }
    SetIconImageList(std::move(list));
    return 0;
}
