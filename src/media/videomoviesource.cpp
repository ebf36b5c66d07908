// The platform's movie decoder as a video source: the native driver's
// files played by this player's own engine.
#include <algorithm>
#include <climits>
#include <new>

#include "core/errcodes.h"
#include "media/videosource.h"
#include "platform/platform_ops.h"

namespace {

qbMovieSource* Movie(void* handle) { return static_cast<qbMovieSource*>(handle); }

void MovieClose(void* handle) { CloseMovieSource(Movie(handle)); }

int32_t MovieNext(void* handle, qbVideoPacket* out) {
    qbMoviePacket packet;
    const int32_t result = NextMoviePacket(Movie(handle), &packet);
    if (result != 0) return result;
    *out = qbVideoPacket{packet.packet, packet.isAudio, packet.size, packet.pts};
    return 0;
}

void MovieFree(void* handle, void* packet) { FreeMoviePacket(Movie(handle), packet); }

int32_t MovieVideo(void* handle, void* packet, qbVideoFrame* frame) {
    qbMoviePicture picture;
    picture.rgb = frame->rgb;
    picture.rgbWords = frame->rgbWords;
    const int32_t result = DecodeMovieVideo(Movie(handle), packet, &picture);
    if (result != 1) return result;
    std::copy(std::begin(picture.planes), std::end(picture.planes), std::begin(frame->planes));
    std::copy(std::begin(picture.pitches), std::end(picture.pitches), std::begin(frame->pitches));
    frame->pts = picture.pts;
    frame->dts = picture.dts;
    frame->repeat = picture.repeat;
    return 1;
}

int32_t MovieAudio(void* handle, void* packet, void* out, int32_t capacity, int32_t* finished) {
    return DecodeMovieAudio(Movie(handle), packet, out, capacity, finished);
}

int32_t MovieSeek(void* handle, int64_t target) { return SeekMovieSource(Movie(handle), target) == 0 ? 0 : -1; }

void MovieFlushAudio(void* handle) { FlushMovieAudio(Movie(handle)); }
void MovieFlushVideo(void* handle) { FlushMovieVideo(Movie(handle)); }

const qbVideoSourceOps kMovieOps{MovieClose, MovieNext, MovieFree,       MovieVideo,
                                 MovieAudio, MovieSeek, MovieFlushAudio, MovieFlushVideo};

}  // namespace

int OpenMovieVideoSource(const char* path, int32_t threads, qbVideoStreamInfo* info, qbVideoSourcePtr* out) {
    out->reset();
    *info = qbVideoStreamInfo{};
    qbVideoSourcePtr source(new (std::nothrow) qbVideoSource);
    if (!source) return ERR_MEM;
    qbMovieSourceRequest request;
    request.threads = threads;
    qbMovieSourceInfo movie;
    qbMovieSource* handle = nullptr;
    if (int err = OpenMovieSource(path, &request, &movie, &handle)) return err;
    source->handle = handle;
    source->kind = kVideoSourceMovie;
    source->ops = &kMovieOps;
    source->timesMayJump = movie.timesMayJump != 0;
    info->frameWidth = movie.width;
    info->frameHeight = movie.height;
    info->duration = movie.duration;
    info->audioRate = movie.audioRate;
    info->audioChannels = movie.audioChannels;
    info->framesAreRGB = movie.framesAreRGB;
    info->flags = movie.seekable ? uint32_t{kVideoInfoSeekable} : 0u;
    info->frameDuration = movie.frameDuration;
    info->fileSize = kVideoFileSizeUnknown;
    *out = std::move(source);
    return 0;
}
