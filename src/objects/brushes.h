// The brush record and list: lookup with the copy-before-change rule for
// brushes that layers show, freeing, and the copy core.
#pragma once

#include <cstdint>
#include <vector>

#include "core/argapi.h"
#include "core/objectref.h"
#include "core/objects.h"

struct qbBitmap;
struct qbDisplay;
struct qbImageHandle;

constexpr int kObjectTypeBrush = 3;

// GetBrushRecord flags.
enum : uint32_t {
    kBrushModify = 1,
    kBrushDetachedToo = 2,
    kBrushNoCopy = 4,
    kBrushNoVector = 8,
    kBrushHardwareToo = 16,
};

enum : int32_t { kBrushPixels = 0, kBrushVector = 1 };

// The key colour that stands for a mask made by CreateBrush.
constexpr int32_t kCreatedMaskKey = 0xAFC0DE;

// Owned by the brush list; bitmap, mask, alpha and the image source are the
// record's and go with it.
struct qbBrush : qbObject {
    qbImageHandle* imageSource = nullptr;  // vector and deferred brushes only
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t rowLength = 0;
    int32_t locked = 0;
    int32_t detached = 0;  // a copy kept for layers only; lookups pass it over
    int32_t transparentColour = -1;
    int32_t transformed = 0;
    int32_t kind = kBrushPixels;
    int32_t partX = 0;
    int32_t partY = 0;
    int32_t partWidth = 0;
    int32_t partHeight = 0;
    int32_t hardware = 0;
    int32_t hardwareFlags = 0;
    ObjectID displayId;
    qbDisplay* display = nullptr;
    std::vector<uint32_t> snapshot;
    uintptr_t loaderInfo = 0;  // the loader value of the picture (inbuilt, native or the plugin)
};

qbBrush* FirstBrush();
struct qbObjectList;
// The brush list, to register.
qbObjectList* BrushList();

// Appends a new record that takes over the images; the choose flag asks for
// an automatic id. 0 or ERR_MEM (the images stay the caller's then).
int AllocBrushRecord(NewObjectID id, int32_t kind, int32_t width, int32_t height, int32_t rowLength,
                     int32_t transformed, qbImageHandle* imageSource, qbBitmap* bitmap, int32_t transparentColour,
                     qbBitmap* mask, qbBitmap* alpha, ObjectID displayId, qbBrush** out);
// A new brush under an automatic id, its colour (alpha byte dropped)
// everywhere, with a mask or an alpha plane fully set, or fully clear with
// clear. ERR_BITMAP, ERR_ALLOCMASK, ERR_ALLOCALPHA or ERR_MEM, nothing made.
int MakeFilledBrush(int32_t width, int32_t height, uint32_t colour, bool withMask, bool withAlpha, bool clear,
                    qbBrush** out);
// ERR_FINDBRUSH (the number as the message's argument), ERR_FINDARRAY,
// ERR_BRUSHTYPE, ERR_HWBRUSH, ERR_LOCKEDOBJ or the error of the copy made
// for the layers that show the brush.
int GetBrushRecord(ScriptState* L, ObjectID id, qbBrush** out, uint32_t flags);
// A command's hold on a brush it reads, a hardware one too (core/objectref.h).
inline int FindAnyBrush(ScriptState* L, ObjectID id, qbBrush** out) {
    return GetBrushRecord(L, id, out, kBrushHardwareToo);
}
using qbAnyBrushRef = qbObjectRef<qbBrush, FindAnyBrush>;
// A full copy under an automatic id; 0, ERR_BITMAP, ERR_ALLOCMASK,
// ERR_ALLOCALPHA or ERR_MEM, nothing made on an error.
int CopyBrushCore(ScriptState* L, const qbBrush* source, qbBrush** out);
// mustExist false: a missing brush is no error (a locked one still is).
int FreeBrushObject(ScriptState* L, ObjectID id, bool mustExist);
// Gives a brush just built under an automatic id the id the script asked
// for: a number frees the brush that had it first. When that free is
// refused, the new brush is freed and the old one stays.
int AdoptBrushID(ScriptState* L, qbBrush* made, NewObjectID id);
void UnlinkAndFreeBrush(ScriptState* L, qbBrush* brush);
void FreeBrushContents(ScriptState* L, qbBrush* brush);
// Frees every detached brush that no layer shows any more.
void PurgeDetachedBrushes(ScriptState* L);
void FreeAllBrushes(ScriptState* L);
// Whether the brush is the current output (its pixels, mask or alpha).
bool IsSelectedForOutput(const qbBrush* brush);
