// The "anim" library: its command table, constants and object lists,
// IsAnim, and LoadAnimFrame, which makes one frame of an anim file a brush.
#include "media/animlib.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/linkedfile.h"
#include "core/settings.h"
#include "imaging/bitmap.h"
#include "media/animcmds.h"
#include "media/animfile.h"
#include "media/animhooks.h"
#include "media/animload.h"
#include "media/animplay.h"
#include "media/animsave.h"
#include "media/anims.h"
#include "objects/adoptid.h"
#include "objects/brushes.h"

namespace {

const ScriptConstant kAnimConstants[] = {
    {"DEINTERLACE_DEFAULT", nullptr, kDeinterlaceDefault},
    {"DEINTERLACE_DOUBLE", nullptr, kDeinterlaceDouble},
    {nullptr, nullptr, 0},
};

// In the order of the library's table; the rows of playing anims join as
// they are built.
const ScriptCommand kAnimCommands[] = {
    {"PlayAnim", cmdPlayAnim},
    {"FreeAnim", cmdFreeAnim},
    {"ScaleAnim", cmdScaleAnim},
    {"PlayAnimDisk", cmdPlayAnimDisk},
    {"LoadAnimFrame", cmdLoadAnimFrame},
    {"LoadAnim", cmdLoadAnim},
    {"IsAnim", cmdIsAnim},
    {"CreateAnim", cmdCreateAnim},
    {"CopyAnim", cmdCopyAnim},
    {"GetAnimFrame", cmdGetAnimFrame},
    {"DisplayAnimFrame", cmdDisplayAnimFrame},
    {"ModifyAnimFrames", cmdModifyAnimFrames},
    {"SelectAnim", cmdSelectAnim},
    {"SaveAnim", cmdSaveAnim},
    {"BeginAnimStream", cmdBeginAnimStream},
    {"WriteAnimFrame", cmdWriteAnimFrame},
    {"FinishAnimStream", cmdFinishAnimStream},
    {"SetAnimFrameDelay", cmdSetAnimFrameDelay},
    {nullptr, nullptr},
};

constexpr int32_t kNoKey = -1;

struct FrameOptions {
    int32_t transparency = kNoKey;
    bool loadAlpha = false;
    bool loadTransparency = false;
    int32_t deinterlace = kDeinterlaceDefault;
    const char* loader = nullptr;
    const char* adapter = nullptr;
};

int ReadFrameOptions(ScriptState* L, int idx, FrameOptions* o) {
    if (VmGetTop(L) < idx) return 0;
    if (VmType(L, idx) == kTypeTable) {
        uint32_t colour = 0;
        if (GetTableFieldUInt(L, idx, "transparency", &colour, nullptr)) o->transparency = static_cast<int32_t>(colour & 0xFFFFFFu);
        o->loadAlpha = GetTableFieldFlag(L, idx, "loadalpha");
        o->loadTransparency = GetTableFieldFlag(L, idx, "loadtransparency");
        GetTableFieldInt(L, idx, "deinterlace", &o->deinterlace, nullptr);
        GetTableFieldString(L, idx, "loader", &o->loader, nullptr);
        GetTableFieldString(L, idx, "adapter", &o->adapter, nullptr);
    } else {
        o->transparency = static_cast<int32_t>(VmCheckInt(L, idx) & 0xFFFFFFu);
    }
    if ((o->loadAlpha && o->loadTransparency) || (o->loadTransparency && o->transparency != kNoKey))
        return ERR_WRONGUSAGE;
    return 0;
}

int LoadAnimFrameCore(ScriptState* L, NewObjectID id, double wanted, const char* fileName, const FrameOptions& o) {
    qbAnimFile* opened = nullptr;
    int32_t width = 0, height = 0, frames = 0, transparency = 0;
    if (int err = OpenAnimFile(fileName, o.loader, o.adapter, kAnimOpenMode, o.deinterlace, o.loadTransparency,
                               &opened, &width, &height, &frames, &transparency, nullptr))
        return err;
    const AnimFilePtr anim(opened);
    // None of the readers delivers an alpha channel.
    if (o.loadAlpha) {
        SetErrorDetail(fileName);
        return ERR_NOALPHA;
    }
    const double frame = wanted == -1 ? frames : wanted;
    if (!(frame >= 1 && frame <= frames)) return ERR_ANIMFRAME;
    int32_t keyed = 0;
    AnimFramePtr pixels = LoadAnimFileFramePtr(anim.get(), static_cast<int32_t>(frame) - 1, 0, &keyed);
    if (!pixels || width <= 0 || height <= 0) return ERR_LOADFRAME;
    int32_t key = o.transparency;
    if (o.loadTransparency) {
        if (!keyed) {
            SetErrorDetail(fileName);
            return ERR_NOTRANSPARENCY;
        }
        const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
        const uint32_t keyColour = FreeKeyColour(pixels.get(), count);
        for (size_t i = 0; i < count; ++i)
            if (!(pixels[i] >> 24)) pixels[i] = keyColour;
        key = static_cast<int32_t>(keyColour);
    }
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    if (int err = CreateBitmapFromARGB(pixels.get(), key, width, height, width, false, 0, 0, &bitmap,
                                       key != kNoKey ? &mask : nullptr, nullptr))
        return err;
    BitmapPtr keepBitmap(bitmap), keepMask(mask);
    qbBrush* made = nullptr;
    if (int err = AllocBrushRecord(NewObjectID{0, 1}, kBrushPixels, width, height, width, 0, nullptr, bitmap, key,
                                   mask, nullptr, ObjectID{}, &made))
        return err;
    keepBitmap.release();
    keepMask.release();
    if (int err = AdoptBrushID(L, made, id)) return err;
    return NewObjectResult(L, *made, id);
}

}  // namespace

int InitAnimLibrary(ScriptState* L) {
    // Registration raises on failure; its result only counts the tables made.
    VmRegisterCommands(L, nullptr, kAnimCommands, 0);
    VmRegisterConstants(L, kAnimConstants, 0);
    if (int err = RegisterObjectList(AnimListHead())) return err;
    if (int err = RegisterObjectList(AnimStreamListHead())) return err;
    InstallAnimHooks();
    return RegisterCommandTable(kAnimCommands, "anim", kAnimConstants);
}

int cmdIsAnim(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const char* fileName = ResolveLinkedFileArg(L, 1, 0, nullptr);
    const char *loader = nullptr, *adapter = nullptr;
    if (VmGetTop(L) >= 2 && VmType(L, 2) == kTypeTable) {
        GetTableFieldString(L, 2, "loader", &loader, nullptr);
        GetTableFieldString(L, 2, "adapter", &adapter, nullptr);
    }
    VmPushNumber(L, IsAnimFile(fileName, loader, adapter, kAnimOpenMode));
    return 1;
}

int cmdLoadAnimFrame(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const double frame = VmCheckNumber(L, 2);
    const char* fileName = ResolveLinkedFileArg(L, 3, 0, nullptr);
    FrameOptions o;
    if (int err = ReadFrameOptions(L, 4, &o)) return err;
    return LoadAnimFrameCore(L, id, std::trunc(frame), fileName, o);
}
