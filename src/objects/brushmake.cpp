// SaveBrush, and the brushes made from gradients, textures and the screen.
// Every maker builds the new brush in full under an automatic id before it
// takes a numbered id over, so a failure keeps the brush that had it.
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/adapter.h"
#include "display/display.h"
#include "display/gradientopts.h"
#include "display/imagewriter.h"
#include "imaging/bitmap.h"
#include "objects/adoptid.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/brushpixelcmds.h"
#include "objects/fillcreators.h"
#include "vm/vm.h"

namespace {

bool Given(ScriptState* L, int idx) { return VmGetTop(L) >= idx && VmType(L, idx) != kTypeNil; }

}  // namespace

int cmdSaveBrush(ScriptState* L) {
    CheckArgCount(L, 2, 5, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    const char* fileName = VmCheckString(L, 2, nullptr);
    int32_t keyColour = 0, format = kImageFormatBMP;
    if (Given(L, 3)) keyColour = ColourBits(VmCheckNumber(L, 3));
    if (Given(L, 4))
        if (int err = BrushIntArg(L, 4, &format)) return err;
    qbImageSaveOptions options;
    if (Given(L, 5)) {
        if (VmType(L, 5) == kTypeTable) {
            GetTableFieldInt(L, 5, "quality", &options.quality, nullptr);
            GetTableFieldInt(L, 5, "colors", &options.colors, nullptr);
            GetTableFieldInt(L, 5, "dither", &options.dither, nullptr);
        } else if (int err = BrushIntArg(L, 5, &options.quality)) {
            return err;
        }
    }
    qbBrush* brush = nullptr;
    if (int err = GetBrushRecord(L, id, &brush, kBrushHardwareToo)) return err;
    if (!brush->bitmap) return ERR_LOCKBMAP;
    const std::vector<uint32_t> pixels = GetBitmapARGB(brush->bitmap, 0, 0, brush->width, brush->height,
                                                       brush->mask, brush->alpha, keyColour, true, kLockReadOnly);
    if (pixels.empty()) return ERR_MEM;
    return WriteImageFile(format, pixels.data(), brush->width, brush->height, fileName, keyColour,
                          brush->mask != nullptr || brush->alpha != nullptr, options);
}

int cmdCreateGradientBrush(ScriptState* L) {
    CheckArgCount(L, 6, 8, 0, 0);
    return CreateGradientObject(L, true, {4, 5, 6, 2, 3, 7});
}

int cmdCreateTexturedBrush(ScriptState* L) {
    CheckArgCount(L, 4, 6, 0, 0);
    return CreateTexturedObject(L, true);
}

int cmdGrabDesktop(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    if (Given(L, 2)) VmCheckTable(L, 2);
    qbDisplay* display = GetCurrentDisplay();
    if (!display) return ERR_FINDDISPLAY;
    int32_t monitorX = 0, monitorY = 0, monitorWidth = 0, monitorHeight = 0;
    if (int err = GetDisplayMonitorInfo(display, &monitorX, &monitorY, &monitorWidth, &monitorHeight)) return err;
    int32_t x = monitorX, y = monitorY, width = monitorWidth, height = monitorHeight;
    if (Given(L, 2)) {
        GetTableFieldInt(L, 2, "x", &x, nullptr);
        GetTableFieldInt(L, 2, "y", &y, nullptr);
        GetTableFieldInt(L, 2, "width", &width, nullptr);
        GetTableFieldInt(L, 2, "height", &height, nullptr);
        if (x < 0 || y < 0) return ERR_WRONGUSAGE;
        // Clipped to the monitor's right and bottom edges.
        width = static_cast<int32_t>(std::min<int64_t>(width, int64_t{monitorX} + monitorWidth - x));
        height = static_cast<int32_t>(std::min<int64_t>(height, int64_t{monitorY} + monitorHeight - y));
        if (width < 1 || height < 1) return ERR_WRONGUSAGE;
    }
    qbBitmap* bitmap = GrabDisplayScreen(display, x, y, width, height);
    if (!bitmap) return ERR_MEM;
    qbBrush* made = nullptr;
    if (int err = AllocBrushRecord(NewObjectID{0, 1}, kBrushPixels, width, height, width, 0, nullptr, bitmap,
                                   kNoKeyColour, nullptr, nullptr, ObjectID{}, &made)) {
        FreeBitmap(bitmap);
        return err;
    }
    if (int err = AdoptBrushID(L, made, id)) return err;
    return NewObjectResult(L, *made, id);
}
