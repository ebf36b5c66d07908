// The BGPic record and list: the canvas every display shows, its lookup,
// freeing (deferred while a display still shows it), the output selection
// save and restore, and the display buffers made from it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>

#include "core/argapi.h"
#include "core/objects.h"
#include "core/preproc.h"
#include "imaging/bitmap.h"
#include "imaging/gradient.h"

struct ScriptState;
struct qbDisplay;
struct qbImageHandle;
struct qbOutputSelection;

constexpr int kObjectTypeBGPic = 1;

// GetBGPic flags.
enum : uint32_t { kBGPicModify = 1, kBGPicPendingToo = 2, kBGPicNoCopy = 4 };

struct qbBGPicFill {
    int32_t style = 0;
    uint32_t colour = 0;
    qbGradient gradient;
    ObjectID textureBrush;
    qbBitmap* textureBitmap = nullptr;  // owned, made on first use
    int32_t textureX = 0;
    int32_t textureY = 0;
    int32_t textureWidth = 0;
    int32_t textureHeight = 0;
    int32_t valid = 0;
};

// {bitmap, mask, alpha}; mask and alpha may be null.
struct qbImageTriple {
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
};

struct qbButtonList;
struct qbLayerStack;
struct qbSprite;
struct qbClipRegionObject;

// One sprite or video shown on a BGPic without layers. The sprite library
// owns the records through the BGPic's list; videos share the list and stay
// on top of the sprites.
struct qbSpriteInstance {
    std::unique_ptr<qbSpriteInstance> next;
    ObjectID id;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t frame = 1;  // 1-based
    qbSprite* sprite = nullptr;
    void* video = nullptr;
    qbClipRegionObject* clip = nullptr;  // the clip region when it was shown
    int32_t displayState = 1;            // -1: not drawn (a video not shown yet)
};

// The three triples may share bitmaps; FreeBGPicContents frees each bitmap
// once. Records are owned by the BGPic list.
struct qbBGPic : qbObject {
    qbImageHandle* source = nullptr;
    qbImageTriple current;
    qbImageTriple base;
    qbImageTriple initial;
    int32_t currentWidth = 0;
    int32_t currentHeight = 0;
    int32_t baseWidth = 0;
    int32_t baseHeight = 0;
    int32_t initialWidth = 0;
    int32_t initialHeight = 0;
    int32_t sourcePitch = 0;
    int32_t keyColour = -1;
    std::unique_ptr<uint32_t[]> palette;
    qbLayerStack* layers = nullptr;   // owned; null until the first layer, freed by FreeBGPicLayers
    std::unique_ptr<qbSpriteInstance> spriteInstances;  // drawn in list order
    int32_t locked = 0;
    int32_t pendingFree = 0;
    int32_t wrappedType = 0;
    int32_t wrappedFrame = 0;
    void* wrappedObject = nullptr;
    int32_t wrapping = 0;
    int32_t layersDirty = 0;
    qbBGPicFill fill;
    int32_t regenerate = 0;
    uintptr_t loaderWord = 0;  // the loader value of the picture (inbuilt, native or the plugin)
    int32_t madeByDisplay = 0;
    // The event library's buttons on this picture; freed with it.
    std::shared_ptr<qbButtonList> buttons;
};

// RedrawLayers flags.
enum : uint32_t {
    kRedrawNoSprites = 1,
    kRedrawSpritesOnly = 2,
    kRedrawDisplayBackground = 4,
    kRedrawOwnPicture = 8,
    kRedrawBaseSize = 16,
    kRedrawSpritesShown = 32,  // sprites only, and only instances with a non-zero state
};

// What the layers shown on BGPics do for the BGPics; the layers library
// installs it. Without it no BGPic has layers.
struct qbBGPicLayerHooks {
    // Whether a layer shows the object, and pointing the layers that show
    // from at to.
    bool (*showsObject)(int type, ObjectID id);
    void (*relinkSources)(int type, ObjectID from, ObjectID to);
    void (*freeLayers)(ScriptState* L, qbBGPic* bgpic, bool releaseSources);
    int32_t (*countLayers)(const qbBGPic* bgpic);
    // Draws the BGPic with its layers into dest (RedrawLayers flags).
    void (*redraw)(ScriptState* L, qbDisplay* display, qbBGPic* bgpic, qbBitmap* dest, int32_t x, int32_t y,
                   int32_t width, int32_t height, uint32_t flags);
};
void SetBGPicLayerHooks(const qbBGPicLayerHooks* hooks);
// Draws the BGPic with its layers and sprites into dest through the hook
// (RedrawLayers flags); nothing without it.
void ComposeBGPicRect(ScriptState* L, qbDisplay* display, qbBGPic* bgpic, qbBitmap* dest, int32_t x, int32_t y,
                      int32_t width, int32_t height, uint32_t flags);

// A brush's picture as a texture fill reads it: its bitmap, or, for a brush
// loaded before the displays started, the decoded pixels of its part
// (rowLength apart).
struct qbTexturePicture {
    qbBitmap* bitmap = nullptr;
    // The brush's planes, for callers that draw it as a picture.
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
    const uint32_t* pixels = nullptr;
    int32_t rowLength = 0;
    int32_t width = 0;
    int32_t height = 0;
};
// Installed by the brush library: 0 or the brush lookup's error.
using TextureBrushLookup = int (*)(ScriptState* L, ObjectID brush, qbTexturePicture* out);
void SetTextureBrushLookup(TextureBrushLookup lookup);
// The brush's picture through the installed lookup; ERR_FINDBRUSH without one.
int GetTexturePicture(ScriptState* L, ObjectID brush, qbTexturePicture* out);

qbBGPic* FirstBGPic();
struct qbObjectList;
qbObjectList* BGPicListHead();

// Appends a new record over the given images (all three triples, all three
// sizes); the choose flag asks for an automatic id. 0 or ERR_MEM.
int AllocBGPicRecord(NewObjectID id, int32_t regenerate, int32_t width, int32_t height, int32_t sourcePitch,
                     qbImageHandle* source, qbBitmap* bitmap, const uint32_t* palette, int32_t keyColour,
                     qbBitmap* mask, qbBitmap* alpha, const qbBGPicFill* fill, qbBGPic** out);
void InitBGPicRecord(qbBGPic* record, int32_t wrappedType, int32_t wrappedFrame, void* wrappedObject,
                     const ObjectID* id, qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t width,
                     int32_t height, bool clear);
// ERR_FINDBGPIC (with the number as the message's argument), ERR_FINDARRAY,
// ERR_LOCKEDOBJ (modify on a locked record).
int GetBGPic(ScriptState* L, ObjectID id, qbBGPic** out, uint32_t flags);
// Layers that show the BGPic are given a copy of it as it is now, before
// it changes. 0 or the copy's error.
int DetachBGPicFromLayers(ScriptState* L, qbBGPic* record);
// strict 0: a missing BGPic is no error. A BGPic a display still shows stays
// as pending free under {0, its address}.
int FreeBGPicCore(ScriptState* L, ObjectID id, bool strict);
int UnlinkAndFreeBGPic(ScriptState* L, qbBGPic* record);
void FreeBGPicContents(ScriptState* L, qbBGPic* record, bool releaseSources);
void FreeDerivedBGPicImages(qbBGPic* record);
// Frees the images of a replaced triple that none of the kept ones uses.
void FreeReplacedImages(const qbImageTriple& gone, std::initializer_list<const qbImageTriple*> kept);
void FreeUnusedPendingBGPics(ScriptState* L);
void FreeAllBGPics(ScriptState* L);
bool IsBGPicShown(const qbBGPic* record);
// True while drawing of the current display goes into the BGPic.
bool IsBGPicSelectedForOutput(ObjectID id);

// The BGPic of the current output; null when none is shown.
qbBGPic* GetCurrentBGPic();

// Saves the display's output selection (when saved is given) and points the
// output at the display itself.
void SaveAndResetOutput(qbDisplay* display, qbOutputSelection* saved);
void RestoreOutput(qbDisplay* display, const qbOutputSelection& saved);

// Reallocates the display's two back buffers at the BGPic's current size and
// copies the picture into them. 0, ERR_BITMAP or the adapter's answer.
int ResetDisplayBuffers(qbDisplay* display, qbBGPic* record);
// Fills a display's backdrop (a bitmap, or the pending ARGB buffer when
// bitmap is null) by its fill style: one colour, its gradient, or its
// texture brush tiled from the texture offset. The brush's error,
// ERR_BITMAP, ERR_WRONGUSAGE for a stop list that cannot be drawn.
int FillDisplayBackdrop(const qbDisplay* display, qbBitmap* bitmap, uint32_t* pending, int32_t width,
                        int32_t height);
// Builds the bitmaps of BGPics whose conversion waited for the first display.
int LoadPendingBGPics(ScriptState* L);

// The picture of a BGPic from decoded pixels (or none) and its fill. The
// fill is painted when there are no pixels, or under a picture with a mask
// or alpha plane (the picture drawn over it, the result opaque). alpha is
// in-out: the picture's plane comes in, and what goes with the result comes
// out (null after a fill); on an error it is still the caller's. A texture
// fill keeps its copy of the brush's picture in the fill.
int BuildBGPicImage(ScriptState* L, const uint32_t* pixels, qbBGPicFill& fill, int32_t keyColour, int32_t width,
                    int32_t height, int32_t pitch, qbBitmap** outBitmap, qbBitmap** outMask, qbBitmap** alpha);
// The BGPic's picture at another size: its initial picture scaled, or, for
// pictures made from a fill or a scalable source, made anew at that size.
int RenderBGPicAtSize(ScriptState* L, qbBGPic* record, int32_t width, int32_t height, bool smooth,
                      qbImageTriple* out);
// Gives the BGPic a new base (and current) size; a side of kKeepAspectRatio
// follows the other. Nothing happens at the base size.
int ScaleBGPicCore(ScriptState* L, qbBGPic* record, int32_t width, int32_t height, bool smooth);
// A full copy under the given id (the choose flag asks for an automatic
// one): pictures, palette, fill, data list; not its layers, sprites, lock
// or pending state. ERR_MEM, ERR_BITMAP and the plane codes.
int CopyBGPicCore(ScriptState* L, const qbBGPic* source, NewObjectID id, qbBGPic** out);
// The bitmap that shows the BGPic on the display: the display's picture, or
// with layers the second back buffer composed anew.
qbBitmap* GetComposedBGPicBitmap(ScriptState* L, qbDisplay* display, qbBGPic* record);
// A rectangle of the BGPic with its layers: in the display's second back
// buffer when the display shows it unscaled, else in a new bitmap of the
// base size (*owned, the caller frees it). 0 or ERR_BITMAP.
int RenderBGPicLayersToBitmap(ScriptState* L, qbBGPic* record, int32_t x, int32_t y, int32_t width, int32_t height,
                              qbBitmap** out, bool* owned);
// Non-zero when a sprite or video shown on the BGPic overlaps the rectangle.
int RectOverlapsSprites(const qbBGPic* record, int32_t x, int32_t y, int32_t width, int32_t height);
