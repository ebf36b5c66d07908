// Shared by the anim reader tests: files written into a scratch folder and
// opened through the anim-format layer, frames taken as vectors.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "imaging/imagefixtures.h"
#include "media/animfile.h"

namespace animtest {

struct Opened {
    AnimFilePtr anim;
    int err = 0;
    int32_t width = 0, height = 0, frames = 0, transparency = 0;
};

inline Opened Open(const std::string& path, int32_t deinterlace = kDeinterlaceDefault, bool transparency = false,
                   const char* tag = nullptr) {
    Opened o;
    qbAnimFile* anim = nullptr;
    o.err = OpenAnimFile(path.c_str(), tag, nullptr, kAnimOpenMode, deinterlace, transparency, &anim, &o.width, &o.height,
                         &o.frames, &o.transparency, nullptr);
    o.anim.reset(anim);
    return o;
}

inline std::vector<uint32_t> Frame(Opened& o, int32_t frame, int32_t* transparency = nullptr) {
    AnimFramePtr p = LoadAnimFileFramePtr(o.anim.get(), frame, 0, transparency);
    if (!p) return {};
    return std::vector<uint32_t>(p.get(), p.get() + static_cast<size_t>(o.width) * static_cast<size_t>(o.height));
}

inline std::vector<uint32_t> Colours(const std::vector<uint8_t>& indices, const std::vector<uint32_t>& palette) {
    std::vector<uint32_t> out;
    for (uint8_t i : indices) out.push_back(i < palette.size() ? palette[i] : 0);
    return out;
}

}  // namespace animtest
