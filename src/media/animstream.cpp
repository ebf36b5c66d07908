// The anim stream list and the three writer kinds behind it.
#include "media/animstream.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "core/chars.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/objectlist.h"
#include "core/replacefile.h"
#include "imaging/bitmap.h"
#include "imaging/gif.h"
#include "imaging/quantize.h"
#include "media/anims.h"
#include "media/aviwriter.h"

namespace {

AnimSaverLookup saverLookup = nullptr;

constexpr int32_t kMaxColours = 256;

qbAnimStream* AsStream(qbObject* o) { return static_cast<qbAnimStream*>(o); }

// A palette picture of the frame. With a key colour the key is the last
// entry; with slot (and no key) the last entry is left to no pixel, for the
// GIF writer's unchanged pixels.
struct PaletteFrame {
    std::vector<uint8_t> indices;
    uint32_t palette[kMaxColours] = {};
    int32_t count = 0;
    int32_t transparentIndex = -1;
};

int Quantize(qbBitmap* bitmap, int32_t width, int32_t height, const qbAnimFrameOptions& o, bool slot,
             PaletteFrame* out) {
    try {
        out->indices.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    qbBitmapLock lock;
    if (!LockBitmap(bitmap, kLockReadOnly, &lock)) return ERR_LOCKBMAP;
    const bool keyed = o.transparency != -1;
    const uint32_t key = keyed ? static_cast<uint32_t>(o.transparency) & 0xFFFFFFu : kNoTransparentColour;
    // Room for a key or a free slot even when every colour is exact.
    int32_t count = keyed || slot ? std::min(o.colors, kMaxColours - 1) : o.colors;
    int32_t ti = -1;
    const int ok = QuantizePixels(lock.pixels, static_cast<int>(lock.pixelFormat), static_cast<int>(lock.bytesPerPixel),
                                  width, height, lock.rowLength, out->indices.data(), out->palette, &count, key,
                                  slot && !keyed, o.dither, &ti);
    UnlockBitmap(&lock);
    if (!ok || count < 1) return ERR_MEM;
    if (keyed) {
        if (ti < 0) {
            out->palette[count] = key;
            ti = count++;
        } else if (ti != count - 1) {
            const auto a = static_cast<uint8_t>(ti), b = static_cast<uint8_t>(count - 1);
            std::swap(out->palette[ti], out->palette[count - 1]);
            for (uint8_t& i : out->indices) i = i == a ? b : i == b ? a : i;
        }
        out->transparentIndex = count - 1;
    } else if (slot) {
        const auto last = static_cast<uint8_t>(count - 1);
        if (std::find(out->indices.begin(), out->indices.end(), last) != out->indices.end()) out->palette[count++] = 0;
    }
    out->count = count;
    return 0;
}

int PluginWriteAnimFrame(qbAnimStream* s, qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha,
                         const qbAnimFrameOptions& o, const PaletteFrame* pal) {
    qbAnimFrameRecord r{};
    std::vector<uint32_t> argb;
    if (pal) {
        r.pixels = pal->indices.data();
        r.palette = pal->palette;
        r.rowBytes = s->width;
        r.colourCount = pal->count;
        if (pal->transparentIndex >= 0) {
            r.transparentIndex = pal->transparentIndex;
            r.flags |= QBANIMFRAME_TRANSPARENT;
        }
    } else {
        argb = GetBitmapARGB(bitmap, 0, 0, s->width, s->height, mask, alpha, kNoKeyColour, true, kLockReadOnly);
        if (argb.empty()) return ERR_MEM;
        r.pixels = argb.data();
        r.rowBytes = static_cast<int64_t>(s->width) * 4;
        if (s->useAlpha && (s->saver.flags & QBSAVER_ALPHA)) r.flags |= QBANIMFRAME_ALPHA;
    }
    r.delay = o.delay;
    r.format = static_cast<uint64_t>(static_cast<uint32_t>(s->format));
    return s->saver.write(s->pluginHandle, &r) ? 0 : ERR_SAVEANIM;
}

int OpenWriter(const char* fileName, int32_t format, const qbAnimWriterOptions& o, qbAnimStream* s) {
    s->format = format;
    s->useAlpha = o.useAlpha;
    if (format == kAnimSaveGIF) {
        s->palette = true;
        return WriteGIF(fileName, nullptr, s->width, s->height, &s->gif);
    }
    if (format == kAnimSaveAVI)
        return BeginAVIWriter(fileName, o.fps, s->width, s->height, o.quality, FilePartEx(fileName), &s->avi);
    if (int err = CheckWriteTarget(fileName, nullptr)) return err;
    return FindAnimSaver(format, fileName, s->width, s->height, o.quality, o.fps, o.useAlpha, &s->pluginHandle,
                         &s->saver, &s->palette);
}

int WriteFrame(qbAnimStream* s, qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, const qbAnimFrameOptions& o) {
    PaletteFrame pal;
    if (s->palette) {
        if (int err = Quantize(bitmap, s->width, s->height, o, s->format == kAnimSaveGIF, &pal)) return err;
    }
    if (s->format == kAnimSaveGIF) {
        qbGIFFrame f;
        f.indices = pal.indices.data();
        f.width = s->width;
        f.height = s->height;
        f.delayMs = o.delay;
        f.palette = pal.palette;
        f.colourCount = pal.count;
        f.transparentIndex = pal.transparentIndex;
        f.differencing = o.optimize;
        f.transparentSlot = true;
        return WriteAnimGIF(s->gif, f);
    }
    if (s->format == kAnimSaveAVI) return WriteAVIFrame(s->avi, bitmap);
    return PluginWriteAnimFrame(s, bitmap, mask, alpha, o, s->palette ? &pal : nullptr);
}

}  // namespace

void SetAnimSaverLookup(AnimSaverLookup lookup) { saverLookup = lookup; }

int FindAnimSaver(int32_t format, const char* fileName, int32_t width, int32_t height, int32_t quality, int32_t fps,
                  bool useAlpha, void** handle, qbAnimSaver* saver, bool* palette) {
    *handle = nullptr;
    qbAnimSaver found;
    if (format < 0 || !saverLookup || !saverLookup(static_cast<uint64_t>(format), &found)) return ERR_UNKNOWNANMOUT;
    if (useAlpha && !(found.flags & QBSAVER_ALPHA)) return ERR_SAVERALPHA;
    uint32_t mode = useAlpha ? QBANIMSTREAM_ALPHA : 0;
    *palette = !(found.flags & QBSAVER_TRUECOLOUR);
    if (*palette) mode |= QBANIMSTREAM_PALETTE;
    if (!found.begin || !found.write || !found.finish) return ERR_SAVEANIM;
    void* made = found.begin(fileName, width, height, mode, quality, fps);
    if (!made) return ERR_SAVEANIM;
    *handle = made;
    *saver = found;
    return 0;
}

// The file layer's records and the writers' buffers may throw on a full
// heap; commands answer ERR_MEM instead.
int OpenAnimStreamWriter(const char* fileName, int32_t format, const qbAnimWriterOptions& o, qbAnimStream* s) {
    try {
        return OpenWriter(fileName, format, o, s);
    } catch (const std::bad_alloc&) {
        CloseAnimStreamWriter(s);
        return ERR_MEM;
    }
}

int WriteAnimStreamFrame(qbAnimStream* s, qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha,
                         const qbAnimFrameOptions& o) {
    try {
        return WriteFrame(s, bitmap, mask, alpha, o);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
}

int CloseAnimStreamWriter(qbAnimStream* s) {
    int err = 0;
    if (s->gif) err = CloseGIFWriter(s->gif);
    if (s->avi) err = FinishAVIWriter(s->avi);
    if (s->pluginHandle && s->saver.finish) s->saver.finish(s->pluginHandle);
    s->gif = nullptr;
    s->avi = nullptr;
    s->pluginHandle = nullptr;
    return err;
}

int FindAnimStream(ObjectID id, qbAnimStream** out) {
    if (qbObject* o = FindListedObject(*AnimStreamListHead(), id)) {
        *out = AsStream(o);
        return 0;
    }
    *out = nullptr;
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDANIMSTREAM;
}

int LinkAnimStream(NewObjectID id, std::unique_ptr<qbAnimStream> s, qbAnimStream** out) {
    s->type = kObjectTypeAnimStream;
    s->id = id.chooseFlag ? 0 : id.id;
    s->handle = id.chooseFlag ? s.get() : nullptr;
    if (AppendObject(AnimStreamListHead(), s.get())) {
        // The file written so far is completed all the same.
        CloseAnimStreamWriter(s.get());
        return ERR_MEM;
    }
    *out = s.release();
    return 0;
}

int FreeAnimStream(ObjectID id) {
    qbAnimStream* s = nullptr;
    if (int err = FindAnimStream(id, &s)) return err;
    UnlinkObject(AnimStreamListHead(), s);
    std::unique_ptr<qbAnimStream> owned(s);
    return CloseAnimStreamWriter(s);
}

void FreeAllAnimStreams() {
    while (qbObject* first = TakeFirstObject(AnimStreamListHead())) {
        std::unique_ptr<qbAnimStream> s(AsStream(first));
        CloseAnimStreamWriter(s.get());
    }
}
