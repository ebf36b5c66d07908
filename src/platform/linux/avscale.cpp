// The one place the player calls libswscale's sws_scale.
#include "platform/linux/avscale.h"

#include <new>

#include "platform/platform_media.h"

namespace av_common {

ScaleTarget WordsTarget(uint32_t* words, size_t capacity, int width, int height) {
    ScaleTarget t;
    if (!words || width < 1 || height < 1) return t;
    t.planes[0] = reinterpret_cast<uint8_t*>(words);
    t.pitches[0] = width * 4;
    t.bytes[0] = capacity * 4;
    t.rows[0] = height;
    return t;
}

bool PlanarTarget(std::vector<uint8_t>& buffer, int width, int height, ScaleTarget* out) {
    *out = ScaleTarget{};
    if (width < 1 || height < 1) return false;
    const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
    const int pitches[3] = {width, chromaWidth, chromaWidth};
    const int rows[3] = {height, chromaHeight, chromaHeight};
    size_t bytes[3], total = 0;
    for (int i = 0; i < 3; ++i) {
        bytes[i] = ConvertedPlaneBytes(static_cast<size_t>(pitches[i]), static_cast<size_t>(rows[i]));
        total += bytes[i];
    }
    try {
        buffer.resize(total);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (size_t i = 0, at = 0; i < 3; at += bytes[i], ++i) {
        out->planes[i] = buffer.data() + at;
        out->pitches[i] = pitches[i];
        out->bytes[i] = bytes[i];
        out->rows[i] = rows[i];
    }
    return true;
}

int ScalePicture(SwsContext* sws, const uint8_t* const planes[], const int pitches[], int rows,
                 const ScaleTarget& to) {
    if (!sws || !to.planes[0]) return -1;
    for (int i = 0; i < 4 && to.planes[i]; ++i)
        if (to.pitches[i] < 1 || to.rows[i] < 1 ||
            to.bytes[i] < ConvertedPlaneBytes(static_cast<size_t>(to.pitches[i]), static_cast<size_t>(to.rows[i])))
            return -1;
    return sws_scale(sws, planes, pitches, 0, rows, to.planes, to.pitches);
}

}  // namespace av_common
