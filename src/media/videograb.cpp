// Single pictures of a stream that is not playing: the source (or the
// platform's movie) is walked on the caller's thread, and the picture stays
// with the stream.
#include <algorithm>
#include <climits>
#include <memory>
#include <new>

#include "core/errcodes.h"
#include "media/videoplayback.h"
#include "platform/platform.h"

namespace {

bool Rewind(qbOwnVideoStream* s) {
    if (SeekVideoSource(s->source.get(), 0) != 0) return false;
    s->grabbed = 0;
    return true;
}

// The converter works on a playback record; a still one does, at the
// frame's own size. The grab buffer is made ready for the picture too.
int PrepareGrab(qbOwnVideoStream* s, std::unique_ptr<qbVideoPlayback>* out) {
    std::unique_ptr<qbVideoPlayback> scratch(new (std::nothrow) qbVideoPlayback);
    if (!scratch) return ERR_MEM;
    scratch->stream = s;
    scratch->drawWidth = s->frameWidth;
    scratch->drawHeight = s->frameHeight;
    const size_t pixels = static_cast<size_t>(s->frameWidth) * static_cast<size_t>(s->frameHeight);
    try {
        SizeSourcePicture(scratch.get());
        s->grab.assign(pixels, 0);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    *out = std::move(scratch);
    return 0;
}

// The source's next picture; `convert` says from its time whether it goes
// into the grab buffer (YUV planes live only as long as their packet).
// 1 with a picture, 0 at the end of the source, or an error code below 0.
template <class Convert>
int NextGrabPicture(qbOwnVideoStream* s, qbVideoPlayback* scratch, Convert convert) {
    const qbVideoSource* src = s->source.get();
    for (int32_t errors = 0;;) {
        qbVideoPacket packet;
        const int32_t got = src->ops->nextPacket(src->handle, &packet);
        if (got == -1) return 0;
        if (got < 0) {
            if (++errors >= kVideoReaderMaxErrors) return 0;
            continue;
        }
        qbVideoFrame frame = SourceFrame(scratch);
        const bool picture = !packet.isAudio && src->ops->decodeVideoFrame(src->handle, packet.packet, &frame) == 1;
        if (picture && convert(frame)) ConvertVideoPicture(scratch, frame, s->grab.data());
        if (packet.packet && src->ops->freePacket) src->ops->freePacket(src->handle, packet.packet);
        if (picture) return 1;
    }
}

// Decodes pictures until `wanted` more came out; the last one is converted
// into the stream's grab buffer.
int DecodePictures(qbOwnVideoStream* s, int32_t wanted) {
    std::unique_ptr<qbVideoPlayback> scratch;
    if (int err = PrepareGrab(s, &scratch)) return err;
    while (wanted > 0) {
        const int32_t last = wanted;
        if (NextGrabPicture(s, scratch.get(), [last](const qbVideoFrame&) { return last == 1; }) != 1)
            return ERR_VIDEOFRAME;
        ++s->grabbed;
        --wanted;
    }
    return 0;
}

// Times of pictures this close count as the same.
constexpr double kTimeSlack = 1e-6;

// From where the source was sought to: the picture whose time span holds
// `seconds`, at most `most` pictures on. Each picture lasts until the next
// one starts, or its frame duration when the source gives one; a picture
// without a time follows the one before. The source's end keeps the last
// picture before it, and a seek that landed past the time keeps the first.
int DecodePictureAt(qbOwnVideoStream* s, double seconds, int32_t most) {
    std::unique_ptr<qbVideoPlayback> scratch;
    if (int err = PrepareGrab(s, &scratch)) return err;
    const double duration = s->info.frameDuration > 0.0 ? s->info.frameDuration : 0.0;
    bool held = false;
    double previous = -1.0;
    for (int32_t decoded = 0; decoded < most; ++decoded) {
        double start = 0.0;
        bool take = false;
        const int got = NextGrabPicture(s, scratch.get(), [&](const qbVideoFrame& f) {
            start = f.pts >= 0.0 ? f.pts : previous >= 0.0 ? previous + duration : 0.0;
            take = !held || start <= seconds + kTimeSlack;
            return take;
        });
        if (got != 1 || !take) break;
        held = true;
        previous = start;
        if (duration > 0.0 && seconds + kTimeSlack < start + duration) break;
    }
    return held ? 0 : ERR_VIDEOFRAME;
}

}  // namespace

int GrabVideoFrame(qbOwnVideoStream* s, uint32_t position, int32_t mode, int32_t count) {
    if (!s || !s->source || !s->source->ops || !s->source->ops->nextPacket || !s->source->ops->decodeVideoFrame)
        return ERR_WRONGUSAGE;
    if (VideoStreamPlaying(s)) return ERR_FGRABVIDSTATE;
    if (!VideoFrameBufferBytes(s->frameWidth, s->frameHeight)) return ERR_VIDEOFRAME;
    if (mode == kVideoGrabFrame) {
        if (position < 1) return ERR_VIDEOFRAME;
        const auto frame = static_cast<int32_t>(std::min<uint32_t>(position, INT32_MAX));
        // The walk only goes forward: an earlier (or the same) picture starts
        // it again.
        if ((s->grabbed < 0 || frame <= s->grabbed) && !Rewind(s)) return ERR_VIDEOFRAME;
        return DecodePictures(s, frame - s->grabbed);
    }
    qbVideoSeekBasis basis;
    basis.seekByBytes = s->info.seekByBytes != 0;
    basis.fileSize = s->info.fileSize;
    basis.duration = s->duration;
    basis.byteRate = s->info.byteRate;
    const uint32_t target = VideoPositionToSeekTarget(qbVideoSync{}, basis, position);
    if (int err = SeekVideoSource(s->source.get(), target)) return err;
    s->grabbed = 0;
    const int err = DecodePictureAt(s, position / 1000.0, std::max(count, 1));
    // The counted walk no longer knows where the source stands.
    s->grabbed = -1;
    return err;
}

int GrabNativeVideoFrame(qbVideoStream* handle, uint32_t position, int32_t mode) {
    if (!handle || !handle->movie) return ERR_WRONGUSAGE;
    if (mode == kVideoGrabFrame && position < 1) return ERR_VIDEOFRAME;
    // The movie counts frames from 0.
    const int64_t at = mode == kVideoGrabFrame ? int64_t{position} - 1 : int64_t{position};
    qbMovieFrame frame;
    if (int err = DecodeQuickTimeFrame(handle->movie.get(), at, mode == kVideoGrabTime ? 1 : 0, &frame)) return err;
    if (!frame.pixels || frame.width < 1 || frame.height < 1 || frame.modulo < frame.width) return ERR_VIDEOFRAME;
    try {
        handle->grab.resize(static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    for (int32_t y = 0; y < frame.height; ++y)
        std::copy_n(frame.pixels + static_cast<size_t>(y) * static_cast<size_t>(frame.modulo), frame.width,
                    handle->grab.begin() + static_cast<ptrdiff_t>(y) * frame.width);
    return 0;
}
