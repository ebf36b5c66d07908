// GetAttribute's rows for videos: sizes, length and place, what the source
// is and can do, and whether the video plays.
#include <algorithm>
#include <climits>
#include <cmath>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "draw/attributes.h"
#include "media/video.h"
#include "media/videoplayback.h"
#include "platform/platform.h"

namespace {

enum : int32_t {
    kAttrWidth = 0, kAttrHeight = 1, kAttrNumFrames = 11, kAttrDuration = 14, kAttrPosition = 18, kAttrFormat = 19,
    kAttrScaleMode = 43, kAttrScaleWidth = 44, kAttrScaleHeight = 45, kAttrCanSeek = 72, kAttrDriver = 75,
    kAttrPlaying = 83, kAttrPaused = 84, kAttrLoader = 91,
};

int FindVideoForAttribute(ScriptState* L, int32_t, int idx, void** out) {
    qbVideo* v = nullptr;
    if (int err = GetVideo(GetObjectIDArg(L, idx), &v)) return err;
    *out = v;
    return 0;
}

int VideoAttribute(const qbAttributeQuery& q) {
    auto* v = static_cast<qbVideo*>(q.object);
    double n = 0;
    switch (q.attribute) {
    case kAttrWidth: n = v->fileWidth; break;
    case kAttrHeight: n = v->fileHeight; break;
    case kAttrScaleWidth: n = v->width; break;
    case kAttrScaleHeight: n = v->height; break;
    case kAttrScaleMode: n = v->smooth ? 1 : 0; break;
    case kAttrDuration: n = v->duration; break;
    case kAttrCanSeek: n = v->seekable ? 1 : 0; break;
    case kAttrDriver: n = v->stream && v->stream->kind == kVideoDriverNative ? 0 : 1; break;
    case kAttrPlaying: n = v->state == kVideoPlaying ? 1 : 0; break;
    case kAttrPaused: n = v->state == kVideoPaused ? 1 : 0; break;
    case kAttrNumFrames: n = VideoFrameCount(v); break;
    case kAttrPosition: n = VideoPosition(v); break;
    case kAttrFormat: VmPushString(q.L, VideoFormatName(v)); return 1;
    case kAttrLoader: VmPushString(q.L, VideoLoaderName(v)); return 1;
    default: return ERR_UNKNOWNATTR;
    }
    VmPushNumber(q.L, n);
    return 1;
}

}  // namespace

int32_t VideoFrameCount(const qbVideo* v) {
    if (v->stream && v->stream->movie) return MovieFrameCount(v->stream->movie.get());
    const qbOwnVideoStream* s = GetVideoStreamHandle(v);
    if (!s) return -1;
    const int64_t known = VideoSourceFrameCount(s->source.get());
    if (known >= 0) return static_cast<int32_t>(std::min<int64_t>(known, INT32_MAX));
    if (!(s->info.frameDuration > 0.0)) return -1;
    return static_cast<int32_t>(std::lround(s->duration / 1000.0 / s->info.frameDuration));
}

int64_t VideoPosition(const qbVideo* v) {
    qbOwnVideoStream* s = GetVideoStreamHandle(v);
    return s ? GetVideoStreamPosition(s) : -1;
}

const char* VideoFormatName(const qbVideo* v) {
    if (v->stream && v->stream->movie) {
        const char* name = MovieFormatName(v->stream->movie.get());
        return name ? name : "";
    }
    const qbOwnVideoStream* s = GetVideoStreamHandle(v);
    return s && s->source && s->source->kind == kVideoSourceCDXL ? "CDXL" : "";
}

// The loader that opened the video, as anims and brushes name theirs.
const char* VideoLoaderName(const qbVideo* v) {
    if (v->stream && v->stream->kind == kVideoDriverNative) return "native";
    const qbOwnVideoStream* s = v->stream ? v->stream->own.get() : nullptr;
    if (s && s->source && s->source->kind == kVideoSourcePlugin && s->source->plugin) return s->source->plugin->name;
    return "inbuilt";
}

void InstallVideoAttributeRows() {
    SetAttributeLookup(kObjectTypeVideo, &FindVideoForAttribute);
    for (int32_t attribute : {kAttrWidth, kAttrHeight, kAttrNumFrames, kAttrDuration, kAttrPosition, kAttrFormat,
                              kAttrScaleMode, kAttrScaleWidth, kAttrScaleHeight, kAttrCanSeek, kAttrDriver,
                              kAttrPlaying, kAttrPaused, kAttrLoader}) {
        const qbAttributeRow row{kObjectTypeVideo, attribute, &VideoAttribute};
        AddAttributeRows(&row, 1);
    }
}
