// A process-wide cache of loaded pictures by file name: a second load of the
// same file takes the kept image handle instead of decoding again. Freed as
// a whole at shutdown (FreeImageCache in bitmapres.h).
#pragma once

#include <cstdint>

#include "display/bitmapres.h"

struct qbBitmap;
struct qbImageHandle;

// Appends an entry holding one more reference on the handle and its own copy
// of the alpha plane (may be null). 0 or ERR_MEM (nothing linked then).
int AddImageCacheEntry(const char* fileName, int32_t width, int32_t height, int32_t wordA, qbImageHandle* handle,
                       const qbBitmap* alpha, int32_t wordB);
// The oldest entry of exactly that name (file names are case-sensitive
// here). The caller gets one more reference on the handle and, with
// wantAlpha, a new copy of the alpha plane. 0, ERR_CACHEERROR (no entry, or
// alpha asked of an entry without it; nothing handed out) or ERR_MEM.
int GetImageCacheEntry(const char* fileName, bool wantAlpha, int32_t* width, int32_t* height, int32_t* wordA,
                       qbImageHandle** handle, qbBitmap** alpha, int32_t* wordB);
