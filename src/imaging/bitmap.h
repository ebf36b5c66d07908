// Bitmaps: colour bitmaps over platform offscreen pixels, and their 8-bit
// alpha and 1-bit mask planes; locking, the attribute query, mask drawing
// and ARGB buffers.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/bitmaplock.h"
#include "core/nativebitmap.h"

enum : int32_t {
    kBitmapKindColour = 0,
    kBitmapKindAlpha = 1,
    kBitmapKindMask = 2,
};

enum : int32_t {
    kPlaneTypeAlpha = 1,
    kPlaneTypeMask = 2,
};

// AllocBitmap flags.
inline constexpr uint32_t kAllocVideoBitmap = 8;
// LockBitmap flags.
inline constexpr uint32_t kLockReadOnly = 1;
inline constexpr uint32_t kLockPlaneRecord = 2;

// GetBitmapAttr codes.
enum : int {
    kBitmapAttrWidth = 0,
    kBitmapAttrAlphaRowBytes = 1,
    kBitmapAttrMaskRowBytes = 2,
    kBitmapAttrAlphaData = 3,
    kBitmapAttrMaskData = 4,
    kBitmapAttrRowLength = 13,
    kBitmapAttrHeight = 14,
    kBitmapAttrVideoFlag = 18,
    kBitmapAttrVideoState = 19,
    kBitmapAttrNative = 20,
    kBitmapAttrPixelFormat = 21,
    kBitmapAttrOrphanVideo = 22,
    kBitmapAttrPixels = 23,
};

// The brush mask constants.
enum : int {
    kMaskVisible = 0,
    kMaskInvisible = 1,
    kMaskVanillaCopy = 2,
    kMaskXor = 3,
    kMaskAnd = 4,
    kMaskOr = 5,
};

inline constexpr int32_t kNoKeyColour = -1;

struct qbBitmapPlane {
    int32_t type = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint8_t* data = nullptr;
    uint32_t rowBytes = 0;
    uint32_t reserved[2] = {0, 0};
    uint32_t external = 0;
    std::vector<uint8_t> storage;  // the rows, unless external
};

// Colour pixels come from the platform backend and go back to it.
struct PlatformBitmapDeleter {
    void operator()(qbNativeBitmap* bitmap) const;
};

struct qbBitmap {
    int32_t kind = kBitmapKindColour;
    void* native = nullptr;  // colour: the qbNativeBitmap; planes: the qbBitmapPlane
    int32_t width = 0;
    int32_t height = 0;
    uint32_t videoFlag = 0;
    uint32_t videoState = 0;
    std::unique_ptr<qbNativeBitmap, PlatformBitmapDeleter> colour;  // owner of native for kind 0
    std::unique_ptr<qbBitmapPlane> plane;  // owner of native for kinds 1 and 2
    // Set at allocation when the backend locks these pixels by reading the
    // record (plain memory of ours, an unlock that does nothing), so that a
    // blit may read the record itself instead of calling through the backend.
    bool plainPixels = false;
};

// Where a colour bitmap's pixels are, as its lock reports them.
struct qbPixelView {
    void* pixels = nullptr;
    int32_t rowLength = 0;  // in pixels
    uint32_t bytesPerPixel = 0;
    uint32_t pixelFormat = 0;
};

// The view of a plain-memory colour bitmap, equal to what its lock would
// give; false for every other bitmap (planes, video bitmaps, pixels of a
// backend that locks for real), which must be locked.
inline bool PeekPlainPixels(const qbBitmap* bitmap, qbPixelView* view) {
    if (!bitmap->plainPixels || bitmap->videoFlag != 0) return false;
    const qbNativeBitmap& n = *bitmap->colour;
    const int32_t bytes = n.bytesPerPixel;
    view->pixels = n.pixels.get();
    // Four bytes is the working format; the shift spares a division.
    view->rowLength = bytes == 4 ? n.bytesPerRow >> 2 : n.bytesPerRow / bytes;
    view->bytesPerPixel = static_cast<uint32_t>(bytes);
    view->pixelFormat = static_cast<uint32_t>(n.pixelFormat);
    return true;
}

// Row bytes of the planes: alpha rows rounded up to 4 bytes, mask rows to
// 2 bytes per started 16 pixels.
uint32_t AlphaRowBytes(int32_t width);
uint32_t MaskRowBytes(int32_t rowPixels);

// What a video bitmap of the display adapter is made from: AllocBitmap's
// tags with kAllocVideoBitmap point at one (or are null).
struct qbVideoBitmapRequest {
    void* displayHandle = nullptr;    // the adapter handle of the display it is for
    const uint32_t* argb = nullptr;   // width x height ARGB words, or null
    qbBitmap* source = nullptr;       // else this bitmap's pixels
    qbBitmap* sourceMask = nullptr;   // and the alpha of its mask
    qbBitmap* sourceAlpha = nullptr;  // or of its alpha plane
    intptr_t values[3] = {};          // handed on as they are
    const double* transform = nullptr;  // four matrix entries, or null
    int32_t hasAlpha = 0;             // set when the bitmap got alpha
};
// The display layer makes and frees the adapter's video bitmaps. alloc
// answers false when no adapter keeps video bitmaps (a platform bitmap is
// made instead); true with the adapter's bitmap, or null when it failed.
struct qbVideoBitmapHooks {
    bool (*alloc)(int32_t width, int32_t height, uint32_t flags, uint32_t* state, qbVideoBitmapRequest* request,
                  void** out);
    void (*free)(void* native);
    // The adapter's bitmap of width x height ARGB pixels (rowPixels apart),
    // alpha from *alpha when given (the plane is then taken and cleared),
    // else 0 for the key colour. 0 with *out; ERR_BITMAP or ERR_MEM; 0 with
    // *fallback when a plain bitmap is to be made instead.
    int (*fromPixels)(const uint32_t* pixels, int32_t keyColour, int32_t width, int32_t height, int32_t rowPixels,
                      qbBitmap** alpha, void** out, bool* fallback);
};
void SetVideoBitmapHooks(const qbVideoBitmapHooks* hooks);

// Null for sizes of 0 or less, sizes over the cap, or no memory. Rows are
// not cleared.
qbBitmap* AllocBitmap(int32_t width, int32_t height, uint32_t flags, const void* tags);
// Whether a colour bitmap of that size is within what AllocBitmap makes
// (sizes in 64 bits, so that sums of sizes can be asked).
bool BitmapFits(int64_t width, int64_t height);
void FreeBitmap(qbBitmap* bitmap);

// data non-null: an external plane over the caller's rows (never freed here).
qbBitmap* AllocAlphaChannel(int32_t width, int32_t height, bool clear, uint8_t* data, uint32_t rowBytes);
// A reference colour bitmap widens the rows to at least its row length.
qbBitmap* AllocMask(const qbBitmap* reference, int32_t width, int32_t height, bool clear, uint8_t* data,
                    uint32_t rowBytes);
void FreeAlphaChannel(qbBitmap* plane);
void FreeMask(qbBitmap* plane);
int32_t GetPlaneAttr(const qbBitmapPlane* plane, int code);

// The token, 0 when the lock failed.
uint32_t LockBitmap(qbBitmap* bitmap, uint32_t flags, qbBitmapLock* lock);
uint32_t LockBitmap(qbBitmapPlane* plane, uint32_t flags, qbBitmapLock* lock);
void UnlockBitmap(qbBitmapLock* lock);

intptr_t GetBitmapAttr(const qbBitmap* bitmap, int code);

// Masks: 1/0 for the bit; colour bitmaps: 0xRRGGBB.
uint32_t ReadBitmapPixel(qbBitmap* bitmap, int32_t x, int32_t y, bool isMask);
// For a mask the colour is a mask mode.
void WriteBitmapPixel(qbBitmap* bitmap, int32_t x, int32_t y, uint32_t colour, bool isMask);
void FillMaskRect(qbBitmap* mask, int32_t x, int32_t y, int32_t width, int32_t height, int mode);
// sourceData non-null replaces the source handle's rows.
void BlitMaskRect(const qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* destination, int32_t dx, int32_t dy,
                  int32_t width, int32_t height, int mode, const uint8_t* sourceData, uint32_t sourceRowBytes);

// ARGB buffers in format 10; empty on a failed lock or allocation.
std::vector<uint32_t> CopyBitmapRectToARGB(qbBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
                                           uint32_t lockFlags);
std::vector<uint32_t> GetBitmapARGB(qbBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
                                    qbBitmap* mask, qbBitmap* alpha, int32_t keyColour, bool maskToAlpha,
                                    uint32_t lockFlags);
// 0 or ERR_BITMAP, ERR_ALLOCMASK, ERR_ALLOCALPHA; outputs the caller does
// not want may be null (the planes are then not made).
int CreateBitmapFromARGB(const uint32_t* pixels, int32_t keyColour, int32_t width, int32_t height,
                         int32_t rowPixels, bool hardware, int planeMode, uint32_t adapterFlags,
                         qbBitmap** outBitmap, qbBitmap** outMask, qbBitmap** outAlpha);
qbBitmap* CreateAlphaFromARGB(const uint32_t* pixels, int32_t width, int32_t height, int32_t rowPixels);
// A new alpha plane of width x height with the bytes of the given one.
qbBitmap* CopyAlphaChannel(const qbBitmap* alpha, int32_t width, int32_t height);
void FillAlphaRect(qbBitmap* alpha, int32_t x, int32_t y, int32_t width, int32_t height, uint8_t value);
// Marks an adapter video bitmap as handed over once; others are left alone.
void FlagVideoBitmap(qbBitmap* bitmap);

struct BitmapDeleter {
    void operator()(qbBitmap* bitmap) const { FreeBitmap(bitmap); }
};
using BitmapPtr = std::unique_ptr<qbBitmap, BitmapDeleter>;
