#include "media/videostream.h"

#include <new>

#include <algorithm>

#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/fileops.h"
#include "core/loadertags.h"
#include "core/memfile.h"
#include "platform/platform.h"

void NativeMovieCloser::operator()(qbNativeMovie* movie) const { CloseQuickTimeMovie(movie); }

qbTempFileOwner::~qbTempFileOwner() {
    if (!name.empty()) RemoveFile(name.c_str());
}

namespace {

bool NativeAllowed(const char* loaderTag) { return LoaderAllowedByTag(loaderTag ? loaderTag : "", "native", 0) != 0; }

// The platform's decoder reads plain files only: a part of the applet, a
// buffer in memory or a file adapter's file is copied to a temporary file
// with the same extension first.
int SettleNativePath(const char* name, const char* adapterTag, qbVideoStream* handle) {
    const bool virtualName = IsChunkName(name) || IsMemoryName(name);
    qbFilePtr file(FileOpen(name, kFileModeRead | kFileModeAdapters, adapterTag));
    if (!file && virtualName) {
        SetErrorDetail(name);
        return ERR_READFILE;
    }
    if (!file || (!virtualName && !file->adapter && !file->memory)) {
        handle->nativePath = name;
        return 0;
    }
    handle->tempCopy.name = MakeTempFileNameWithExt(name);
    if (handle->tempCopy.name.empty()) {
        SetErrorDetail(GetTempDir().c_str());
        return ERR_WRITEFILE;
    }
    if (int err = CopyFileContents(name, adapterTag, handle->tempCopy.name.c_str(), file.get())) return err;
    handle->nativePath = handle->tempCopy.name;
    return 0;
}

int OpenNativeMovie(const char* name, const char* adapterTag, qbVideoStream* handle, qbVideoStreamOpened* out) {
    if (int err = SettleNativePath(name, adapterTag, handle)) return err;
    qbMovieInfo info;
    const int err = OpenQuickTimeMovie(handle->nativePath.c_str(), &info);
    handle->movie.reset(info.movie);
    if (err || !handle->movie || info.width < 1 || info.height < 1) {
        // The script's name, not the copy's.
        SetErrorDetail(name);
        return err && err != ERR_LOADVIDEO ? err : ERR_LOADVIDEO;
    }
    handle->kind = kVideoDriverNative;
    out->width = info.width;
    out->height = info.height;
    out->duration = static_cast<uint32_t>(std::clamp<int64_t>(info.duration, 0, UINT32_MAX));
    out->seekable = info.seekable ? 1 : 0;
    out->driverKind = kVideoDriverNative;
    out->tempName = handle->tempCopy.name;
    return 0;
}

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
        SetErrorDetail(name ? name : "");
        if (!name || !NativeAllowed(loaderTag)) return ERR_LOADVIDEO;
        handle->own.reset();
        if (int err = OpenNativeMovie(name, adapterTag, handle.get(), out)) return err;
        out->handle = std::move(handle);
        return 0;
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
    if (OpenVideoSource(name, loaderTag, adapterTag, &info)) return 1;
    if (!name || !NativeAllowed(loaderTag)) return 0;
    qbVideoStream handle;
    qbVideoStreamOpened opened;
    return OpenNativeMovie(name, adapterTag, &handle, &opened) == 0 ? 1 : 0;
}
