// Anims: the anim record and list, lookup with the copy-before-change rule
// for anims that layers show, freeing (deferred while layers show the
// anim), copying and the delivery of single frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/argapi.h"
#include "core/objectref.h"
#include "core/objects.h"
#include "imaging/bitmap.h"
#include "media/animfile.h"

struct ScriptState;

constexpr int kObjectTypeAnim = 4;

// A delay of this value is the file's own (or none for anims held in
// memory that came from no file).
constexpr uint32_t kDelayFromFile = 0xFFFFFFFFu;

// FindAnim flags.
enum : uint32_t { kAnimModify = 1, kAnimPendingToo = 2, kAnimNoCopy = 4 };

// One frame held in memory: its pictures, or before the first display
// opens the frame's pixels (0xAARRGGBB at the anim's source size) that
// become them then. The alpha plane is made at load time either way.
struct qbAnimFrame {
    BitmapPtr bitmap;
    BitmapPtr mask;
    BitmapPtr alpha;
    std::vector<uint32_t> raw;
    int32_t rawKey = -1;  // the key colour of the pixels
};

// Owned by the anim list.
struct qbAnim : qbObject {
    int32_t width = 0;   // the size frames are delivered at
    int32_t height = 0;
    int32_t frameCount = 0;
    int32_t fromDisk = 0;
    int32_t sourceWidth = 0;  // the size of the frames as stored
    int32_t sourceHeight = 0;
    int32_t smooth = 0;
    int32_t lockCount = 0;  // running playbacks
    int32_t freePending = 0;  // freed by the script, kept for layers
    int32_t transparentColour = -1;
    int32_t loadAlpha = 0;
    int32_t loadTransparency = 0;
    int32_t deinterlace = kDeinterlaceDefault;
    AnimFilePtr file;  // disk anims only
    std::string fileName, loader, adapter;  // disk anims: how to open the file again
    std::string loaderName;  // who read the frames: "inbuilt", "native" or a plugin's name
    std::vector<qbAnimFrame> frames;  // frameCount entries unless from disk
    std::vector<uint32_t> delays;     // frameCount entries, milliseconds or kDelayFromFile
    // Disk anims: the frame fetched last for showing, at the size it was
    // fetched at, so that layers can borrow it between fetches.
    qbAnimFrame shown;
    int32_t shownIndex = -1, shownWidth = 0, shownHeight = 0;
};

// What a new record takes over.
struct qbAnimContents {
    int32_t width = 0, height = 0, frameCount = 0;
    int32_t transparentColour = -1;
    int32_t loadAlpha = 0, fromDisk = 0, loadTransparency = 0;
    int32_t deinterlace = kDeinterlaceDefault;
    AnimFilePtr file;
    std::string fileName, loader, adapter, loaderName;
    std::vector<qbAnimFrame> frames;
    std::vector<uint32_t> delays;
};

// A colour that no visible pixel (alpha byte above 0) of the buffer has,
// for the pixels a file keyed out.
uint32_t FreeKeyColour(const uint32_t* pixels, size_t count);

qbAnim* FirstAnim();
struct qbObjectList;
qbObjectList* AnimListHead();
// The anim streams' list: records join it with the streams themselves.
qbObjectList* AnimStreamListHead();

// Appends a record holding the contents; the choose flag asks for an
// automatic id. 0 or ERR_MEM (the contents stay the caller's then).
int AllocAnimRecord(NewObjectID id, qbAnimContents* contents, qbAnim** out);
// ERR_FINDANIM (the number as the message's argument), ERR_FINDARRAY,
// ERR_LOCKEDOBJ (kAnimModify on a playing anim) or the error of the copy
// made for the layers that show the anim (kAnimModify without kAnimNoCopy).
int FindAnim(ScriptState* L, ObjectID id, qbAnim** out, uint32_t flags);
// A command's hold on an anim (core/objectref.h).
inline int FindAnimByID(ScriptState* L, ObjectID id, qbAnim** out) { return FindAnim(L, id, out, 0); }
using qbAnimRef = qbObjectRef<qbAnim, FindAnimByID>;
void FreeAnimRecord(ScriptState* L, qbAnim* anim);
int UnlinkAndFreeAnim(ScriptState* L, ObjectID id);
// Frees the anim of the id, or leaves it to the layers that show it (the
// id is free at once). reportMissing false: only ERR_LOCKEDOBJ and
// ERR_MODIFYAANIM come back.
int DiscardAnim(ScriptState* L, ObjectID id, bool reportMissing);
// Frees every anim freed by the script that no layer shows any more.
void FreeUnusedPendingAnims(ScriptState* L);
void FreeAllAnims(ScriptState* L);
// Gives an anim just built under an automatic id the number the script
// asked for: the anim that had it goes first; when that is refused, the new
// anim goes and the old one stays.
int AdoptAnimID(ScriptState* L, qbAnim* made, NewObjectID id);

// Whether count new frames of width x height stay within what one anim may
// take at once (a few GiB): far larger counts cannot be meant, and their
// allocation would fail late or bring the machine to a crawl first.
bool NewFramesFit(int32_t width, int32_t height, int64_t count);

// Milliseconds of frame index (0-based).
uint32_t GetAnimFrameDelay(const qbAnim* anim, int32_t index);
// Whether the anim is the current output (SelectAnim).
bool IsAnimSelectedForOutput(const qbAnim* anim);

// Frame index (0-based). From disk: new pictures at the anim's size (the
// source size with noScale), the caller's. In memory: the anim's own
// pictures, or new clones with copy. 0, ERR_LOADFRAME, ERR_NOTRANSPARENCY
// (the file name as detail), ERR_BITMAP, ERR_ALLOCMASK, ERR_ALLOCALPHA,
// ERR_ANIMFRAME.
int FetchAnimFrame(qbAnim* anim, int32_t index, bool copy, bool noScale, qbBitmap** bitmap, qbBitmap** mask,
                   qbBitmap** alpha);
// Frame index (0-based) to show, still the anim's: its own pictures, or for
// a disk anim the frame fetched last, which stays until another is fetched.
// The errors of FetchAnimFrame.
int ShowAnimFrame(qbAnim* anim, int32_t index, qbBitmap** bitmap, qbBitmap** mask, qbBitmap** alpha);
// A full copy under an automatic id; nothing made on an error.
int CopyAnimRecord(ScriptState* L, const qbAnim* source, qbAnim** out);
// The frames loaded before the first display become pictures.
int LoadPendingAnims(ScriptState* L);

// Gives the pixels that the file keys out (alpha 0) a colour no visible
// pixel has, and returns it.
int32_t KeyOutTransparentPixels(uint32_t* pixels, size_t count);
// Turns the ARGB pixels of a frame into a bitmap and a mask (by the key
// colour, or with loadTransparency by the pixels the file keys out).
// ERR_NOTRANSPARENCY (fileName as detail) when loadTransparency finds none.
int FramePixelsToBitmaps(uint32_t* pixels, int32_t width, int32_t height, int32_t key, bool loadTransparency,
                         bool keyed, const char* fileName, qbAnimFrame* out);
