// DumpVideo: a stopped video decoded on the main thread as fast as it goes,
// every picture drawn onto the display and, with a base name, written as a
// numbered image file, the sound track as one WAVE file.
#include "media/videodump.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/replacefile.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/events.h"
#include "display/imagewriter.h"
#include "display/refresh.h"
#include "imaging/bitmap.h"
#include "media/videoplayback.h"
#include "sound/wavewriter.h"

namespace {

constexpr const char* kExtensions[] = {"bmp", "png", "jpg", "gif", "iff"};
// A source that keeps failing ends the dump as its end would.
constexpr int32_t kDumpMaxRetries = 50;
// The rate the empty track of a video without sound is said to have.
constexpr int32_t kSilentTrackRate = 44100;

// The WAVE file of the sound track: header first, sizes patched at the end.
struct WaveOut {
    qbReplaceFile out;
    qbFile* file = nullptr;
    uint64_t bytes = 0;
    bool lost = false;  // sound that did not reach the file

    int Open(const std::string& name, const qbOwnVideoStream& s) {
        qbReplaceOptions options;
        options.adapters = true;
        if (int err = BeginReplaceFile(name.c_str(), options, &out)) return err;
        file = out.file.get();
        const int32_t align = s.audioChannels == 2 ? 4 : 2;
        // A silent video's track is empty, yet its header must still name a
        // format readers accept: no reader takes 0 channels or a rate of 0.
        const bool silent = s.audioChannels < 1 || s.audioRate < 1;
        const int32_t channels = silent ? 1 : s.audioChannels;
        const int32_t rate = silent ? kSilentTrackRate : s.audioRate;
        if (!WriteWAVEHeader(file, channels, rate, 16, align, 0, 0)) return ERR_WRITE;
        return 0;
    }
    // Whatever fails here, the header stays consistent with what was written.
    bool Append(const void* data, size_t count) {
        if (!file) return true;
        if (FileWrite(file, data, count) == count) {
            bytes += count;
            return true;
        }
        lost = true;
        return false;
    }
    int Finish() {
        if (!file) return 0;
        const uint64_t padded = (bytes + 3) & ~uint64_t{3};
        const uint8_t zeros[4] = {};
        const auto pad = static_cast<size_t>(padded - bytes);
        bool ok = !pad || FileWrite(file, zeros, pad) == pad;
        const auto size32 = [](uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX)); };
        ok = ok && FileSeek(file, 4, kSeekBeginning) >= 0 && FileWriteUInt32LE(file, size32(padded + 36));
        ok = ok && FileSeek(file, 40, kSeekBeginning) >= 0 && FileWriteUInt32LE(file, size32(bytes));
        file = nullptr;
        if (!ok || lost) return ERR_WRITE;
        return CommitReplaceFile(&out);
    }
};

struct Clip {
    int32_t srcX = 0, srcY = 0, dstX = 0, dstY = 0, width = 0, height = 0;
};

Clip ClipToDisplay(int32_t x, int32_t y, int32_t frameWidth, int32_t frameHeight, const qbDisplay* d) {
    Clip c;
    if (!d || !d->bgpic) return c;
    // A negative place cuts the picture's left or top off.
    c.srcX = x < 0 ? static_cast<int32_t>(std::min<int64_t>(-int64_t{x}, frameWidth)) : 0;
    c.srcY = y < 0 ? static_cast<int32_t>(std::min<int64_t>(-int64_t{y}, frameHeight)) : 0;
    c.dstX = std::max(x, 0);
    c.dstY = std::max(y, 0);
    const int64_t w = std::min<int64_t>(int64_t{frameWidth} - c.srcX, int64_t{d->bgpic->currentWidth} - c.dstX);
    const int64_t h = std::min<int64_t>(int64_t{frameHeight} - c.srcY, int64_t{d->bgpic->currentHeight} - c.dstY);
    c.width = static_cast<int32_t>(std::max<int64_t>(w, 0));
    c.height = static_cast<int32_t>(std::max<int64_t>(h, 0));
    return c;
}

// The place a stopped stream was sought to becomes the dump's start.
int ApplyPendingSeek(qbOwnVideoStream* s) {
    qbVideoPlayback* p = s->playback.get();
    if (!p || !p->hasPendingSeek) return 0;
    p->hasPendingSeek = false;
    qbVideoSeekBasis basis;
    basis.seekByBytes = s->info.seekByBytes != 0;
    basis.fileSize = s->info.fileSize;
    basis.duration = s->duration;
    basis.byteRate = s->info.byteRate;
    return SeekVideoSource(s->source.get(), VideoPositionToSeekTarget(qbVideoSync{}, basis, p->pendingSeek));
}

}  // namespace

int DumpVideoStream(ScriptState* L, qbOwnVideoStream* s, int32_t x, int32_t y, const char* name, int32_t format) {
    if (format < 0 || format > 4) return ERR_WRONGUSAGE;
    if (!s || !s->source || !s->source->ops || !s->source->ops->nextPacket || !s->source->ops->decodeVideoFrame)
        return ERR_WRONGUSAGE;
    if (VideoStreamPlaying(s)) return ERR_WRONGUSAGE;
    if (!VideoFrameBufferBytes(s->frameWidth, s->frameHeight)) return ERR_BITMAP;
    qbDisplay* d = GetCurrentDisplay();
    const Clip clip = ClipToDisplay(x, y, s->frameWidth, s->frameHeight, d);

    std::unique_ptr<qbVideoPlayback> scratch(new (std::nothrow) qbVideoPlayback);
    if (!scratch) return ERR_MEM;
    scratch->stream = s;
    scratch->drawWidth = s->frameWidth;
    scratch->drawHeight = s->frameHeight;
    std::vector<uint32_t> pixels;
    std::vector<uint8_t> sound;
    try {
        const size_t count = static_cast<size_t>(s->frameWidth) * static_cast<size_t>(s->frameHeight);
        SizeSourcePicture(scratch.get());
        pixels.assign(count, 0);
        if (name) sound.assign(kVideoDecodedAudioBytes, 0);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    // Whatever the dump leaves, a later start or grab begins at the start.
    s->grabbed = -1;
    if (int err = ApplyPendingSeek(s)) return err;
    WaveOut wave;
    if (name)
        if (int err = wave.Open(std::string(name) + ".wav", *s)) return err;

    const qbVideoSource* src = s->source.get();
    qbImageSaveOptions options;
    options.quality = 90;
    options.colors = 256;
    options.dither = 1;
    // A picture or sound that cannot be written does not stop the dump; the
    // first such failure is the answer at its end.
    int firstFailure = 0;
    for (int32_t picture = 0, failures = 0;;) {
        qbVideoPacket packet;
        const int32_t got = src->ops->nextPacket(src->handle, &packet);
        if (got == -1) break;
        if (got == 0) {
            failures = 0;
            if (!packet.isAudio) {
                qbVideoFrame frame = SourceFrame(scratch.get());
                if (src->ops->decodeVideoFrame(src->handle, packet.packet, &frame) == 1) {
                    ConvertVideoPicture(scratch.get(), frame, pixels.data());
                    if (clip.width && clip.height) {
                        qbBitmap* b = nullptr;
                        if (CreateBitmapFromARGB(pixels.data(), -1, s->frameWidth, s->frameHeight, s->frameWidth,
                                                 false, 0, 0, &b, nullptr, nullptr) == 0) {
                            BitmapPtr bitmap(b);
                            BlitToDisplay(b, clip.srcX, clip.srcY, d, clip.dstX, clip.dstY, clip.width, clip.height,
                                          0, 0, 0, nullptr, nullptr);
                        }
                    }
                    if (name) {
                        const std::string file =
                            std::string(name) + std::to_string(picture) + "." + kExtensions[format];
                        const int err = WriteImageFile(format, pixels.data(), s->frameWidth, s->frameHeight,
                                                       file.c_str(), -1, false, options);
                        if (err && !firstFailure) firstFailure = err;
                    }
                    ++picture;
                }
            } else if (name && src->ops->decodeAudioFrame) {
                for (int32_t finished = 0; !finished;) {
                    const int32_t n = src->ops->decodeAudioFrame(src->handle, packet.packet, sound.data(),
                                                                 static_cast<int32_t>(sound.size()), &finished);
                    // A decoder that gives nothing and never finishes would
                    // hold the dump here.
                    if (n <= 0) break;
                    if (!wave.Append(sound.data(), static_cast<size_t>(std::min<int32_t>(n, kVideoDecodedAudioBytes))) &&
                        !firstFailure)
                        firstFailure = ERR_WRITE;
                }
            }
            if (packet.packet && src->ops->freePacket) src->ops->freePacket(src->handle, packet.packet);
        } else if (++failures >= kDumpMaxRetries) {
            break;
        }
        int err = 0;
        if (PumpEvents(L, kPumpWait, nullptr, &err)) {
            if (err) return err;
            break;
        }
    }
    const int finished = wave.Finish();
    return firstFailure ? firstFailure : finished;
}
