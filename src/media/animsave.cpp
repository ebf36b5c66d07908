// SaveAnim and the anim stream commands: BeginAnimStream, WriteAnimFrame
// and FinishAnimStream, with the placement of brushes on stream frames.
#include "media/animsave.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "core/errcodes.h"
#include "display/positions.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/planerect.h"
#include "media/anims.h"
#include "media/animstream.h"
#include "objects/brushes.h"

namespace {

bool Given(ScriptState* L, int idx) { return VmGetTop(L) >= idx && VmType(L, idx) != kTypeNil; }

void ReadWriterOptions(ScriptState* L, int idx, qbAnimWriterOptions* o) {
    if (!Given(L, idx)) return;
    VmCheckTable(L, idx);
    GetTableFieldInt(L, idx, "quality", &o->quality, nullptr);
    GetTableFieldInt(L, idx, "fps", &o->fps, nullptr);
    o->useAlpha = GetTableFieldFlag(L, idx, "usealpha");
}

// "transparency" of -1 is none.
int ReadFrameOptions(ScriptState* L, int idx, qbAnimFrameOptions* o, int32_t* x, int32_t* y) {
    if (Given(L, idx)) {
        VmCheckTable(L, idx);
        int32_t dither = 1, delay = 0;
        GetTableFieldInt(L, idx, "dither", &dither, nullptr);
        o->dither = dither != 0;
        GetTableFieldInt(L, idx, "colors", &o->colors, nullptr);
        int32_t key = -1;
        GetTableFieldInt(L, idx, "transparency", &key, nullptr);
        o->transparency = key == -1 ? -1 : key & 0xFFFFFF;
        o->optimize = GetTableFieldFlag(L, idx, "optimize");
        GetTableFieldInt(L, idx, "delay", &delay, nullptr);
        o->delay = static_cast<uint32_t>(std::max(delay, 0));
        if (x) GetTableFieldInt(L, idx, "x", x, nullptr);
        if (y) GetTableFieldInt(L, idx, "y", y, nullptr);
    }
    return o->colors < 2 || o->colors > 256 ? ERR_WRONGUSAGE : 0;
}

struct FramePlanes {
    BitmapPtr bitmap, mask, alpha;
};

void CopyAlphaRows(qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* destination, int32_t dx, int32_t dy,
                   int32_t width, int32_t height) {
    const qbBitmapPlane* from = PlaneOf(source);
    const qbBitmapPlane* to = PlaneOf(destination);
    if (!from || !to) return;
    for (int32_t row = 0; row < height; ++row)
        std::memcpy(to->data + static_cast<size_t>(dy + row) * to->rowBytes + static_cast<size_t>(dx),
                    from->data + static_cast<size_t>(sy + row) * from->rowBytes + static_cast<size_t>(sx),
                    static_cast<size_t>(width));
}

// A frame of the stream's size: the fill colour around the brush placed at
// (x, y); where the brush has a mask or alpha, the area around it is
// transparent.
int PlaceBrush(const qbAnimStream& s, const qbBrush& brush, int32_t x, int32_t y, uint32_t fill, FramePlanes* f) {
    f->bitmap.reset(AllocBitmap(s.width, s.height, 0, nullptr));
    if (!f->bitmap) return ERR_BITMAP;
    if (brush.alpha) {
        f->alpha.reset(AllocAlphaChannel(s.width, s.height, true, nullptr, 0));
        if (!f->alpha) return ERR_ALLOCALPHA;
    } else if (brush.mask) {
        f->mask.reset(AllocMask(f->bitmap.get(), s.width, s.height, true, nullptr, 0));
        if (!f->mask) return ERR_ALLOCMASK;
    }
    FillBitmapRect(f->bitmap.get(), 0, 0, s.width, s.height, fill);
    const int64_t left = std::max<int64_t>(x, 0), top = std::max<int64_t>(y, 0);
    const int64_t right = std::min<int64_t>(int64_t{x} + brush.width, s.width);
    const int64_t bottom = std::min<int64_t>(int64_t{y} + brush.height, s.height);
    if (right <= left || bottom <= top) return 0;
    const auto dx = static_cast<int32_t>(left), dy = static_cast<int32_t>(top);
    const auto sx = static_cast<int32_t>(left - x), sy = static_cast<int32_t>(top - y);
    const auto w = static_cast<int32_t>(right - left), h = static_cast<int32_t>(bottom - top);
    CopyBitmapRect(brush.bitmap, sx, sy, f->bitmap.get(), dx, dy, w, h);
    if (f->alpha) {
        CopyAlphaRows(brush.alpha, sx, sy, f->alpha.get(), dx, dy, w, h);
    } else if (f->mask) {
        BlitMaskRect(brush.mask, sx, sy, f->mask.get(), dx, dy, w, h, kMaskVanillaCopy, nullptr, 0);
    }
    return 0;
}

int OpenWriter(const char* fileName, int32_t format, const qbAnimWriterOptions& o, qbAnimStream* s) {
    if (!fileName || !*fileName || s->width < 1 || s->height < 1) return ERR_WRONGUSAGE;
    return OpenAnimStreamWriter(fileName, format, o, s);
}

}  // namespace

int cmdBeginAnimStream(ScriptState* L) {
    CheckArgCount(L, 4, 6, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const char* fileName = VmCheckString(L, 2, nullptr);
    const auto width = static_cast<int32_t>(VmCheckInt(L, 3));
    const auto height = static_cast<int32_t>(VmCheckInt(L, 4));
    int32_t format = kAnimSaveGIF;
    if (Given(L, 5)) format = static_cast<int32_t>(VmCheckInt(L, 5));
    qbAnimWriterOptions o;
    ReadWriterOptions(L, 6, &o);
    if (!*fileName || width < 1 || height < 1) return ERR_WRONGUSAGE;
    if (!id.chooseFlag) {
        const int freed = FreeAnimStream(ObjectID{id.id, nullptr});
        if (freed != ERR_FINDANIMSTREAM && freed) return freed;
    }
    std::unique_ptr<qbAnimStream> s(new (std::nothrow) qbAnimStream);
    if (!s) return ERR_MEM;
    s->width = width;
    s->height = height;
    if (int err = OpenWriter(fileName, format, o, s.get())) return err;
    qbAnimStream* made = nullptr;
    if (int err = LinkAnimStream(id, std::move(s), &made)) return err;
    if (!id.chooseFlag) return 0;
    PushObjectID(L, IDOf(*made));
    return 1;
}

int cmdWriteAnimFrame(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    const ObjectID streamId = GetObjectIDArg(L, 1);
    const ObjectID brushId = GetObjectIDArg(L, 2);
    qbAnimFrameOptions o;
    int32_t x = 0, y = 0;
    if (int err = ReadFrameOptions(L, 3, &o, &x, &y)) return err;
    qbAnimStream* s = nullptr;
    if (int err = FindAnimStream(streamId, &s)) return err;
    if (o.transparency != -1 && s->useAlpha) return ERR_MASKNALPHA;
    qbBrush* brush = nullptr;
    if (int err = GetBrushRecord(L, brushId, &brush, 0)) return err;
    if (!brush->bitmap) return ERR_LOCKBMAP;
    x = ResolveSpecialX(x, brush->width, s->width, 0.0);
    y = ResolveSpecialY(y, brush->height, s->height, 0.0);
    if (x == 0 && y == 0 && brush->width == s->width && brush->height == s->height)
        return WriteAnimStreamFrame(s, brush->bitmap, brush->mask, brush->alpha, o);
    FramePlanes f;
    const uint32_t fill = o.transparency == -1 ? 0 : static_cast<uint32_t>(o.transparency);
    if (int err = PlaceBrush(*s, *brush, x, y, fill, &f)) return err;
    return WriteAnimStreamFrame(s, f.bitmap.get(), f.mask.get(), f.alpha.get(), o);
}

int cmdFinishAnimStream(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return FreeAnimStream(GetObjectIDArg(L, 1));
}

int cmdSaveAnim(ScriptState* L) {
    CheckArgCount(L, 2, 4, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    const char* fileName = VmCheckString(L, 2, nullptr);
    int32_t format = kAnimSaveGIF;
    if (Given(L, 3)) format = static_cast<int32_t>(VmCheckInt(L, 3));
    qbAnimWriterOptions wo;
    qbAnimFrameOptions fo;
    ReadWriterOptions(L, 4, &wo);
    const int optionsErr = ReadFrameOptions(L, 4, &fo, nullptr, nullptr);
    if (wo.useAlpha && fo.transparency != -1) return ERR_MASKNALPHA;
    if (optionsErr) return optionsErr;
    qbAnim* anim = nullptr;
    if (int err = FindAnim(L, id, &anim, 0)) return err;
    qbAnimStream s;
    s.width = anim->width;
    s.height = anim->height;
    if (int err = OpenWriter(fileName, format, wo, &s)) return err;
    int err = 0;
    for (int32_t i = 0; i < anim->frameCount && !err; ++i) {
        qbBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
        err = FetchAnimFrame(anim, i, false, false, &bitmap, &mask, &alpha);
        if (err) break;
        // Frames read from disk are new pictures, the caller's.
        BitmapPtr ownBitmap(anim->fromDisk ? bitmap : nullptr), ownMask(anim->fromDisk ? mask : nullptr),
            ownAlpha(anim->fromDisk ? alpha : nullptr);
        fo.delay = GetAnimFrameDelay(anim, i);
        err = WriteAnimStreamFrame(&s, bitmap, mask, alpha, fo);
    }
    const int closed = CloseAnimStreamWriter(&s);
    return err ? err : closed;
}
