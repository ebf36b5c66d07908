#include "imaging/clipboardbitmaps.h"

#include "imaging/bitmap.h"
#include "platform/clipimage.h"

namespace {

std::vector<uint32_t> ReadPixels(qbBitmap* bitmap, int32_t width, int32_t height) {
    return GetBitmapARGB(bitmap, 0, 0, width, height, nullptr, nullptr, kNoKeyColour, false, kLockReadOnly);
}

int MakeBitmap(const uint32_t* pixels, int32_t width, int32_t height, qbBitmap** out) {
    return CreateBitmapFromARGB(pixels, kNoKeyColour, width, height, width, false, 0, 0, out, nullptr, nullptr);
}

}  // namespace

void InstallClipboardBitmapHooks() {
    qbClipboardBitmapHooks hooks;
    hooks.readPixels = &ReadPixels;
    hooks.makeBitmap = &MakeBitmap;
    SetClipboardBitmapHooks(hooks);
}
