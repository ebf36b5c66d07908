// The picture that frames are cut from, for sprites and anims loaded from a
// picture file: through the loader chain, or from the image cache before the
// first display opens.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/bitmap.h"
#include "imaging/imagehandle.h"

struct qbFramePicture {
    ImageHandlePtr handle;
    BitmapPtr alpha;
    int32_t transparency = -1;
    int32_t width = 0, height = 0, rowLength = 0;
    uintptr_t loader = 0;
};

struct qbFramePictureOptions {
    const std::string* loader = nullptr;
    const std::string* adapter = nullptr;
    const std::string* cache = nullptr;       // kept under this name when deferred
    const std::string* cachedLoad = nullptr;  // taken from the cache when deferred
    bool loadAlpha = false;
    bool cacheAlpha = false;
    bool loadTransparency = false;
};

// The fields of a load's own options that have these names.
template <class Options>
qbFramePictureOptions FramePictureOptionsOf(const Options& o) {
    qbFramePictureOptions f;
    f.loader = &o.loader;
    f.adapter = &o.adapter;
    f.cache = &o.cache;
    f.cachedLoad = &o.cachedLoad;
    f.loadAlpha = o.loadAlpha;
    f.cacheAlpha = o.cacheAlpha;
    f.loadTransparency = o.loadTransparency;
    return f;
}

// 0 or the chain's error, with ERR_LOADPICTURE2 reported as ERR_OPENANIM2.
int LoadFramePicture(const char* fileName, const qbFramePictureOptions& o, bool deferred, qbFramePicture* p);
