#include "platform/clipimage.h"

#include "core/errcodes.h"

namespace {

qbClipboardBitmapHooks& Hooks() {
    static qbClipboardBitmapHooks hooks;
    return hooks;
}

}  // namespace

void SetClipboardBitmapHooks(const qbClipboardBitmapHooks& hooks) { Hooks() = hooks; }

int ClipboardPictureFromRecord(const qbClipboardData& data, ClipboardPicture* out) {
    if (!data.bitmap || data.width <= 0 || data.height <= 0 || !Hooks().readPixels) return ERR_CLIPWRITE;
    const size_t count = size_t{static_cast<uint32_t>(data.width)} * static_cast<uint32_t>(data.height);
    std::vector<uint32_t> pixels = Hooks().readPixels(data.bitmap, data.width, data.height);
    if (pixels.size() < count) return ERR_MEM;
    // A plane of the wrong size belongs to another picture: none is better
    // than reading past it.
    const bool alpha = data.alpha.size() == count;
    const bool mask = !alpha && data.mask.size() == count;
    for (size_t i = 0; i < count; ++i) {
        uint32_t a = 255;
        if (alpha) a = data.alpha[i];
        if (mask) a = data.mask[i] ? 255 : 0;
        pixels[i] = (pixels[i] & 0xFFFFFF) | (a << 24);
    }
    out->width = data.width;
    out->height = data.height;
    out->hasAlpha = alpha || mask;
    out->argb = std::move(pixels);
    out->argb.resize(count);
    return 0;
}

int ClipboardPictureToRecord(const ClipboardPicture& picture, qbClipboardData* data) {
    const size_t count = size_t{static_cast<uint32_t>(picture.width)} * static_cast<uint32_t>(picture.height);
    if (picture.width <= 0 || picture.height <= 0 || picture.argb.size() < count || !Hooks().makeBitmap)
        return ERR_CLIPREAD;
    std::vector<uint32_t> colours(count);
    for (size_t i = 0; i < count; ++i) colours[i] = picture.argb[i] & 0xFFFFFF;
    qbBitmap* bitmap = nullptr;
    if (const int err = Hooks().makeBitmap(colours.data(), picture.width, picture.height, &bitmap)) return err;
    data->bitmap = bitmap;
    data->width = picture.width;
    data->height = picture.height;
    data->mask.clear();
    data->alpha.clear();
    if (picture.hasAlpha) {
        data->alpha.resize(count);
        for (size_t i = 0; i < count; ++i) data->alpha[i] = static_cast<uint8_t>(picture.argb[i] >> 24);
    }
    return 0;
}
