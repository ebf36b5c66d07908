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
    const qbVideoSource* src = s->source.get();
    if (!src->ops->seek || src->ops->seek(src->handle, 0) != 0) return false;
    if (src->ops->flushAudio) src->ops->flushAudio(src->handle);
    if (src->ops->flushVideo) src->ops->flushVideo(src->handle);
    s->grabbed = 0;
    return true;
}

// Decodes pictures until `wanted` more came out; the last one is converted
// into the stream's grab buffer.
int DecodePictures(qbOwnVideoStream* s, int32_t wanted) {
    const qbVideoSource* src = s->source.get();
    // The converter works on a playback record; a still one does, at the
    // frame's own size.
    std::unique_ptr<qbVideoPlayback> scratch(new (std::nothrow) qbVideoPlayback);
    if (!scratch) return ERR_MEM;
    scratch->stream = s;
    scratch->drawWidth = s->frameWidth;
    scratch->drawHeight = s->frameHeight;
    const size_t pixels = static_cast<size_t>(s->frameWidth) * static_cast<size_t>(s->frameHeight);
    try {
        if (s->info.framesAreRGB) scratch->frame.assign(pixels, 0);
        s->grab.assign(pixels, 0);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    for (int32_t errors = 0; wanted > 0;) {
        qbVideoPacket packet;
        const int32_t got = src->ops->nextPacket(src->handle, &packet);
        if (got == -1) return ERR_VIDEOFRAME;
        if (got < 0) {
            if (++errors >= kVideoReaderMaxErrors) return ERR_VIDEOFRAME;
            continue;
        }
        qbVideoFrame frame;
        frame.rgb = scratch->frame.empty() ? nullptr : scratch->frame.data();
        const bool picture = !packet.isAudio && src->ops->decodeVideoFrame(src->handle, packet.packet, &frame) == 1;
        // YUV planes live as long as their packet: only the last one counts.
        if (picture && wanted == 1) ConvertVideoPicture(scratch.get(), frame, s->grab.data());
        if (packet.packet && src->ops->freePacket) src->ops->freePacket(src->handle, packet.packet);
        if (!picture) continue;
        ++s->grabbed;
        --wanted;
    }
    return 0;
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
    const qbVideoSource* src = s->source.get();
    qbVideoSeekBasis basis;
    basis.seekByBytes = s->info.seekByBytes != 0;
    basis.fileSize = s->info.fileSize;
    basis.duration = s->duration;
    basis.byteRate = s->info.byteRate;
    const uint32_t target = VideoPositionToSeekTarget(qbVideoSync{}, basis, position);
    if (!src->ops->seek || src->ops->seek(src->handle, target) != 0) return ERR_SEEKRANGE;
    if (src->ops->flushAudio) src->ops->flushAudio(src->handle);
    if (src->ops->flushVideo) src->ops->flushVideo(src->handle);
    s->grabbed = 0;
    const int err = DecodePictures(s, position == 0 ? 1 : std::max(count, 1));
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
