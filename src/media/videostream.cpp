#include "media/videostream.h"

#include <new>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"

namespace {

// Sources that seek by bytes need the file's size; the others leave it
// unknown rather than open the file a second time.
int64_t SettleFileSize(const qbVideoStreamInfo& info, const char* name, const char* adapterTag) {
    if (info.fileSize != kVideoFileSizeNotGiven) return info.fileSize;
    if (!info.seekByBytes) return kVideoFileSizeUnknown;
    qbFilePtr file(FileOpen(name, kFileModeRead | kFileModeAdapters, adapterTag));
    const int64_t size = file ? GetFileSize(file.get()) : -1;
    return size >= 0 ? size : kVideoFileSizeUnknown;
}

}  // namespace

uint64_t VideoFrameBufferBytes(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return 0;
    const uint64_t bytes = (static_cast<uint64_t>(width) * 4 + 256) * static_cast<uint64_t>(height);
    return bytes > kMaxVideoFrameBytes ? 0 : bytes;
}

int SettleOwnVideoStream(qbOwnVideoStream* stream) {
    qbOwnVideoStream& s = *stream;
    s.frameWidth = s.info.frameWidth;
    s.frameHeight = s.info.frameHeight;
    s.duration = s.info.duration;
    s.audioChannels = s.info.audioChannels > 0 ? s.info.audioChannels : 0;
    s.audioRate = s.audioChannels ? s.info.audioRate : 0;
    s.flags = s.info.flags;
    if (s.info.framesAreRGB) {
        const uint64_t bytes = VideoFrameBufferBytes(s.frameWidth, s.frameHeight);
        if (!bytes) return ERR_MEM;
        try {
            s.rgbFrame.resize(bytes);
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
    }
    return 0;
}

int OpenVideoStream(const char* name, const char* loaderTag, const char* adapterTag, qbVideoStreamOpened* out) {
    *out = qbVideoStreamOpened{};
    qbVideoStreamPtr handle(new (std::nothrow) qbVideoStream);
    if (!handle) return ERR_MEM;
    handle->own.reset(new (std::nothrow) qbOwnVideoStream);
    if (!handle->own) return ERR_MEM;
    qbOwnVideoStream& s = *handle->own;
    s.source = OpenVideoSource(name, loaderTag, adapterTag, &s.info);
    if (!s.source) {
        // The platform movie backend would be the next to try; until it
        // takes files this error stands.
        SetErrorDetail(name ? name : "");
        return ERR_LOADVIDEO;
    }
    s.info.fileSize = SettleFileSize(s.info, name, adapterTag);
    if (int err = SettleOwnVideoStream(&s)) return err;
    out->width = s.frameWidth;
    out->height = s.frameHeight;
    out->duration = s.duration;
    out->seekable = (s.flags & kVideoInfoSeekable) ? 1 : 0;
    out->driverKind = kVideoDriverOwn;
    out->handle = std::move(handle);
    return 0;
}

void CloseVideoStream(qbVideoStreamPtr handle) { handle.reset(); }

int IsVideoFile(const char* name, const char* loaderTag, const char* adapterTag) {
    qbVideoStreamInfo info;
    return OpenVideoSource(name, loaderTag, adapterTag, &info) ? 1 : 0;
}
