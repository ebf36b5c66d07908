// The system library's clipboard commands (text as it is, pictures as
// brushes, their alpha or mask travelling with them) and OpenURL.
#include <cstdint>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "imaging/bitmap.h"
#include "libs/systemcommands.h"
#include "objects/brushes.h"
#include "platform/platform_ops.h"

namespace {

// Reads the picture on the clipboard into a new brush under an automatic id,
// which it pushes.
int PushClipboardBrush(ScriptState* L, qbClipboardData& data) {
    BitmapPtr bitmap(data.bitmap);
    data.bitmap = nullptr;
    if (!bitmap || data.width <= 0 || data.height <= 0) return ERR_CLIPREAD;
    const size_t count = size_t{static_cast<uint32_t>(data.width)} * static_cast<uint32_t>(data.height);
    BitmapPtr alpha;
    const bool hasAlpha = data.alpha.size() == count;
    if (hasAlpha || data.mask.size() == count) {
        std::vector<uint32_t> argb(count);
        for (size_t i = 0; i < count; ++i) {
            const uint32_t a = hasAlpha ? data.alpha[i] : (data.mask[i] ? 255u : 0u);
            argb[i] = a << 24;
        }
        alpha.reset(CreateAlphaFromARGB(argb.data(), data.width, data.height, data.width));
        if (!alpha) return ERR_ALLOCALPHA;
    }
    const NewObjectID id{0, 1};
    qbBrush* made = nullptr;
    if (int err = AllocBrushRecord(id, kBrushPixels, data.width, data.height, data.width, 0, nullptr, bitmap.get(),
                                   -1, nullptr, alpha.get(), ObjectID{}, &made))
        return err;
    bitmap.release();
    alpha.release();
    PushObjectID(L, IDOf(*made));
    return 0;
}

// The brush's pixels go out with its alpha plane, or its mask as alpha.
int WriteBrushToClipboard(ScriptState* L, ObjectID id) {
    qbBrush* brush = nullptr;
    if (int err = GetBrushRecord(L, id, &brush, kBrushNoVector)) return err;
    if (!brush->bitmap) return ERR_BRUSHTYPE;
    qbClipboardData data;
    data.bitmap = brush->bitmap;
    data.width = brush->width;
    data.height = brush->height;
    if (brush->alpha || brush->mask) {
        const std::vector<uint32_t> argb = GetBitmapARGB(brush->bitmap, 0, 0, brush->width, brush->height,
                                                         brush->mask, brush->alpha, kNoKeyColour, true,
                                                         kLockReadOnly);
        if (argb.empty()) return ERR_MEM;
        data.alpha.resize(argb.size());
        for (size_t i = 0; i < argb.size(); ++i) data.alpha[i] = static_cast<uint8_t>(argb[i] >> 24);
    }
    return WriteClipboard(kClipboardImage, &data);
}

}  // namespace

int cmdClearClipboard(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    return EmptyClipboard();
}

int cmdPeekClipboard(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    int type = kClipboardEmpty;
    if (int err = GetClipboardType(&type)) return err;
    VmPushNumber(L, type);
    return 1;
}

int cmdGetClipboard(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    qbClipboardData data;
    int type = kClipboardEmpty;
    const int err = ReadClipboardContents(&data, &type);
    // A picture read before the failure is not the script's.
    if (err) {
        FreeBitmap(data.bitmap);
        return err;
    }
    VmPushNumber(L, type);
    if (type == kClipboardText) {
        VmPushLString(L, data.text.data(), data.text.size());
        return 2;
    }
    if (type == kClipboardImage) {
        if (int e = PushClipboardBrush(L, data)) return e;
        return 2;
    }
    FreeBitmap(data.bitmap);
    return 1;
}

int cmdSetClipboard(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const int type = ClampToInt32(VmCheckNumber(L, 1));
    if (type == kClipboardText) {
        size_t length = 0;
        const char* text = VmCheckString(L, 2, &length);
        qbClipboardData data;
        data.text.assign(text, length);
        return WriteClipboard(kClipboardText, &data);
    }
    if (type == kClipboardImage) return WriteBrushToClipboard(L, GetObjectIDArg(L, 2));
    return ERR_WRONGUSAGE;
}

int cmdOpenURL(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return OpenURLNative(VmCheckString(L, 1, nullptr));
}
