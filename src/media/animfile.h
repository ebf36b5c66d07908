// The anim-format layer: one handle over whichever reader opened an anim
// file (an anim-loader plugin, the inbuilt IFF ANIM, GIF or AVI reader),
// forwarding the requests for a frame, a frame's delay and closing.
//
//   qbAnimFile* anim = nullptr;
//   int32_t w, h, frames, transparency;
//   if (int err = OpenAnimFile(name, loaderTag, adapterTag, kAnimOpenMode, kDeinterlaceDefault, false, &anim,
//                              &w, &h, &frames, &transparency, nullptr))
//       return err;  // the error detail is set
//   AnimFramePtr pixels = LoadAnimFileFramePtr(anim, 3, 0, &transparency);  // w x h 0xAARRGGBB
//   uint32_t ms = GetAnimFileFrameDelay(anim, 3);
//   CloseAnimFile(anim);
#pragma once

#include <cstdint>
#include <memory>

#include "core/plugin.h"
#include "media/iffanim.h"

enum : uint32_t {
    kAnimFormatIFF = 1,
    kAnimFormatGIF = 2,
    kAnimFormatAVI = 3,
    kAnimFormatNative = 4,
    kAnimFormatPlugin = 5,
};

// Read, file adapters allowed.
constexpr uint32_t kAnimOpenMode = 9;

struct qbAnimFile {
    void* reader = nullptr;
    uint32_t format = 0;
    uint32_t loadTransparency = 0;
    qbPlugin* plugin = nullptr;  // kAnimFormatPlugin only
};

// adapterTag chooses the file adapters (null: any).
// 0, ERR_MEM, ERR_READFILE (the name as detail), ERR_READ (under 12 bytes),
// ERR_SEEKFILE (a file that can't seek) or ERR_OPENANIM2 (the name as
// detail). The optional outputs may be null.
int OpenAnimFile(const char* fileName, const char* loaderTag, const char* adapterTag, uint32_t openFlags, int32_t deinterlace,
                 bool loadTransparency, qbAnimFile** out, int32_t* width, int32_t* height, int32_t* frameCount,
                 int32_t* transparency, qbPlugin** plugin);
// A new buffer of width x height pixels for frame n (0-based), or null;
// give it back with FreeAnimFileFrame.
uint32_t* LoadAnimFileFrame(qbAnimFile* anim, int32_t frame, int32_t argument, int32_t* transparency);
void FreeAnimFileFrame(qbAnimFile* anim, uint32_t* pixels);
// Milliseconds; 0 when the format has none.
uint32_t GetAnimFileFrameDelay(qbAnimFile* anim, int32_t frame);
void CloseAnimFile(qbAnimFile* anim);
// Opens and closes: 1 for an anim, 0 for anything else, a GIF of at most one
// frame included.
int IsAnimFile(const char* fileName, const char* loaderTag, const char* adapterTag, uint32_t openFlags);
int IsIFFAnimFile(const qbAnimFile* anim);

struct AnimFileCloser {
    void operator()(qbAnimFile* anim) const { CloseAnimFile(anim); }
};
using AnimFilePtr = std::unique_ptr<qbAnimFile, AnimFileCloser>;

struct AnimFrameFree {
    qbAnimFile* anim = nullptr;
    void operator()(uint32_t* pixels) const { FreeAnimFileFrame(anim, pixels); }
};
using AnimFramePtr = std::unique_ptr<uint32_t[], AnimFrameFree>;
inline AnimFramePtr LoadAnimFileFramePtr(qbAnimFile* anim, int32_t frame, int32_t argument, int32_t* transparency) {
    return AnimFramePtr(LoadAnimFileFrame(anim, frame, argument, transparency), AnimFrameFree{anim});
}
