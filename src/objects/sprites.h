// The sprite record and list, and the instances of sprites shown on a BGPic
// without layers: placing, moving, removing and freeing them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "core/argapi.h"
#include "core/objects.h"
#include "imaging/bitmap.h"
#include "imaging/imagehandle.h"

struct ScriptState;
struct qbBGPic;
struct qbSpriteInstance;
struct qbClipRegionObject;

constexpr int kObjectTypeSprite = 32;

// GetSprite flags.
enum : uint32_t { kSpriteModify = 1, kSpriteStatusToo = 2, kSpriteNoDetach = 4 };

// A picture loaded before the first display opened: the frames are cut
// from it when the displays start.
struct qbPendingSpriteFrames {
    ImageHandlePtr image;
    BitmapPtr alpha;  // of the whole picture, or null
    int32_t rowLength = 0;
    int32_t keyColour = -1;
    std::vector<std::pair<int32_t, int32_t>> cells;  // the top-left corner of each frame
};

// Owned by the sprite list. A sprite made of other sprites (links) owns no
// frames and reads them from its links in order.
struct qbSprite : qbObject {
    int32_t width = 0;
    int32_t height = 0;
    int32_t frameCount = 0;
    int32_t keyColour = -1;  // of the picture the frames came from
    int32_t useCount = 0;  // set while a move uses the sprite
    int32_t status = 0;
    std::vector<qbSprite*> links;
    // How many link entries of listed sprites name this one: a sprite no
    // other is made of is freed without looking at the others.
    int32_t linkedBy = 0;
    uintptr_t loaderWord = 0;
    std::vector<BitmapPtr> bitmaps;
    std::vector<BitmapPtr> masks;
    std::vector<BitmapPtr> alphas;
    std::unique_ptr<qbPendingSpriteFrames> pending;
};

// A new empty record, or null when out of memory.
std::unique_ptr<qbSprite> NewSpriteRecord();
qbSprite* FirstSprite();
struct qbObjectList;
qbObjectList* SpriteListHead();

// Appends the record under an automatic id; 0 or ERR_MEM (the record is
// freed then).
int AddSpriteRecord(ScriptState* L, std::unique_ptr<qbSprite> sprite, qbSprite** out);
// Gives a sprite just built under an automatic id the number the script
// asked for: the sprite that had it is freed first. When that free is
// refused, the new sprite goes and the old one stays.
int AdoptSpriteID(ScriptState* L, qbSprite* made, NewObjectID id);

// ERR_FINDSPRITE (the number as the message's argument) or ERR_FINDARRAY;
// kSpriteModify refuses a sprite in use (ERR_LOCKEDOBJ).
int GetSprite(ScriptState* L, ObjectID id, qbSprite** out, uint32_t flags);
// The images of frame n (1-based), through the links of a linked sprite.
// ERR_ANIMFRAME out of range.
int GetSpriteFrameImage(const qbSprite* sprite, int32_t frame, qbBitmap** bitmap, qbBitmap** mask,
                        qbBitmap** alpha);
// Whether the sprite is made of others, or others are made of it.
bool SpriteIsLinked(const qbSprite* sprite);
// Whether an instance of the sprite is shown on any BGPic.
bool SpriteIsShown(const qbSprite* sprite);

// The sprite's instance on the current BGPic; ERR_SPRITEONSCREEN (the
// number as argument) or ERR_SPRITEONSCREEN2 for an automatic id.
int FindSpriteInstance(ObjectID id, qbSpriteInstance** out);
// Sprites go below the first video instance, everything else at the end.
int AddSpriteInstance(qbBGPic* bgpic, int32_t x, int32_t y, int32_t width, int32_t height, int32_t frame,
                      qbSprite* sprite, void* video, qbClipRegionObject* clip, ObjectID id, qbSpriteInstance** out);
// Unlinks and frees the on-display instance of the video from whichever
// BGPic holds it (none: nothing).
void RemoveVideoInstance(const void* video);
// Places or moves the sprite and shows the frame (0: the next one).
int RedrawSprite(ScriptState* L, ObjectID id, int32_t x, int32_t y, int32_t frame);
// Takes the sprite's instance off the current BGPic and refreshes where it
// was; 1 when there was one, else 0.
int RemoveSpriteInstance(ScriptState* L, const qbSprite* sprite);
// Frees the BGPic's instances without drawing.
void ClearSpriteInstances(qbBGPic* bgpic);
// Takes the sprites' instances off the BGPic, videos staying; each removed
// rectangle is handed to `removed` (may be empty).
void RemoveSpriteInstancesOnly(qbBGPic* bgpic, const std::function<void(int32_t, int32_t, int32_t, int32_t)>& removed);
// Whether a shown sprite's frame draws the point (a mask bit, an alpha byte
// above 0, or a frame with neither plane).
bool SpriteCoversPoint(const qbBGPic* bgpic, int32_t x, int32_t y);
// Detaches the region from the instances drawn through it and refreshes
// where they lie.
void RefreshSpritesOfClipRegion(ScriptState* L, const qbClipRegionObject* region);

// Frees the sprite, the sprites made of it, and their instances.
// mustExist false: a missing sprite is no error (one in use still is).
int FreeSpriteById(ScriptState* L, ObjectID id, bool mustExist);
void FreeAllSprites(ScriptState* L);
// Cuts the frames of sprites loaded before the first display. 0 or the
// first error.
int LoadPendingSprites(ScriptState* L);
