// What the brush, selection and layer code needs of anims, which live in a
// library above them: the anim library installs these when it opens; a
// part not installed leaves anims not found.
#pragma once

#include <cstdint>

#include "core/argapi.h"

struct ScriptState;
struct qbImageTriple;
struct qbSprite;

// How LoadSprite asks for the frames of an anim file.
struct qbSpriteAnimRequest {
    const char* loader = nullptr;
    const char* adapter = nullptr;
    int32_t transparency = -1;
    bool loadTransparency = false;
    bool loadAlpha = false;
    bool grid = false;  // a frame size was given
};

struct qbAnimObjectHooks {
    // New pictures of frame (1-based) that the caller owns, with the
    // anim's size and key colour. The lookup's error or ERR_ANIMFRAME.
    int (*frameImage)(ScriptState* L, ObjectID id, int32_t frame, qbImageTriple* out, int32_t* width,
                      int32_t* height, int32_t* keyColour);
    // The pictures of frame (1-based) that drawing goes into, owned by the
    // anim. kind 0 only finds them; kind 28 or 30 (first drawing into the
    // mask or alpha channel) also gives layers that show the anim their
    // copy, makes the plane when missing (fully visible or opaque) and drops
    // the other one. The lookup's error, ERR_ANIMDISK, ERR_ANIMFRAME,
    // ERR_ALLOCMASK or ERR_ALLOCALPHA.
    int (*frameTarget)(ScriptState* L, ObjectID id, int32_t frame, int32_t kind, void** record, qbImageTriple* out,
                       int32_t* width, int32_t* height);
    // Frees the anims that the script freed while layers showed them, once
    // no layer does.
    void (*sweepPending)(ScriptState* L);
    // CreateSprite from an anim: clones of all its frames into the sprite
    // (size, frame count and key colour set). The lookup's error or an
    // allocation error; the sprite gets nothing then.
    int (*intoSprite)(ScriptState* L, ObjectID id, qbSprite* into);
    // LoadSprite of an anim file: its frames into the sprite. ERR_OPENANIM2
    // for a file in no anim format (read as a picture then), ERR_NOALPHA,
    // ERR_TOOMANYARGS (a grid), ERR_LOADFRAME or the open's error.
    int (*fileIntoSprite)(ScriptState* L, const char* fileName, const qbSpriteAnimRequest& request, qbSprite* into);
    // The pictures of frame index (0-based) to show, still the anim's: its
    // own frame, or for an anim played from disk the frame it fetched last,
    // kept until it fetches another. pendingToo also finds anims freed
    // while layers show them. The anim's size and frame count come back.
    // The lookup's error, ERR_ANIMFRAME or the fetch's error.
    int (*showFrame)(ScriptState* L, ObjectID id, int32_t index, bool pendingToo, qbImageTriple* out,
                     int32_t* width, int32_t* height, int32_t* count);
    // The delay of frame index (0-based) in milliseconds, anims freed while
    // layers show them included. The lookup's error or ERR_ANIMFRAME.
    int (*frameDelay)(ScriptState* L, ObjectID id, int32_t index, uint32_t* out);
    // What a move of the anim holds while it travels: its lock count, and
    // its size, frame count and the id it is found by. The lookup's error.
    int (*moveSource)(ScriptState* L, ObjectID id, int32_t** lockCount, int32_t* width, int32_t* height,
                      int32_t* count, ObjectID* found);
    // The anim a layer may change alone: the anim itself when the script
    // freed it, at most one layer shows it and nothing plays it, else a
    // copy under an automatic id that goes with the last layer showing it.
    // The layer is not relinked here. The lookup's error or the copy's.
    int (*privateAnim)(ScriptState* L, ObjectID id, ObjectID* out);
    // Inserts (count > 0) or removes frames of an anim freed while layers
    // show it, at the 1-based position (0: the end); *at is the 0-based
    // index the change starts at, *frameCount the new count. The anim code's
    // errors; the anim is unchanged then.
    int (*modifyFrames)(ScriptState* L, ObjectID id, int32_t count, int32_t position, int32_t* at,
                        int32_t* frameCount);
    // An anim under an automatic id of count frames of width x height
    // filled with colour, with masks or alpha planes, set or (clear)
    // cleared; its key word is $AFC0DE with masks. ERR_MEM, ERR_BITMAP,
    // ERR_ALLOCMASK or ERR_ALLOCALPHA, nothing made then.
    int (*makeBlank)(int32_t width, int32_t height, int32_t count, uint32_t colour, bool mask, bool alpha, bool clear,
                     ObjectID* out);
    // The anim goes with the last layer showing it (at once when none does).
    void (*leaveToLayers)(ScriptState* L, ObjectID id);
};

// frameTarget's kind may carry this: the frames of an anim that a layer
// made its own (freed by the script, shown by that layer alone).
constexpr int32_t kFrameTargetLayerOwn = 0x100;
void SetAnimObjectHooks(const qbAnimObjectHooks* hooks);
const qbAnimObjectHooks& AnimObjectHooks();
