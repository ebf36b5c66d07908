// The "video" library's commands: opening, playing, pausing, seeking,
// stopping and closing videos.
#include "libs/videolib.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/linkedfile.h"
#include "core/numbers.h"
#include "core/runstate.h"
#include "core/settings.h"
#include "core/truth.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/output.h"
#include "imaging/bitmap.h"
#include "imaging/scale.h"
#include "media/video.h"
#include "media/videodump.h"
#include "display/positions.h"
#include "objects/adoptid.h"
#include "objects/brushes.h"
#include "sound/channels.h"

namespace {

// In the order of the library's table.
const ScriptCommand kVideoCommands[] = {
    {"OpenVideo", cmdOpenVideo},
    {"CloseVideo", cmdCloseVideo},
    {"PlayVideo", cmdPlayVideo},
    {"StopVideo", cmdStopVideo},
    {"PauseVideo", cmdPauseVideo},
    {"ResumeVideo", cmdResumeVideo},
    {"SeekVideo", cmdSeekVideo},
    {"IsVideo", cmdIsVideo},
    {"SetVideoSize", cmdSetVideoSize},
    {"SetVideoPosition", cmdSetVideoPosition},
    {"SetVideoVolume", cmdSetVideoVolume},
    {"GetVideoFrame", cmdGetVideoFrame},
    {"IsVideoPlaying", cmdIsVideoPlaying},
    {"ForceVideoDriver", cmdForceVideoDriver},
    {"DumpVideo", cmdDumpVideo},
    {"DisplayVideoFrame", cmdDisplayVideoFrame},
    {nullptr, nullptr},
};

bool Given(ScriptState* L, int idx) { return VmGetTop(L) >= idx && VmType(L, idx) != kTypeNil; }

void LoaderOptions(ScriptState* L, int idx, std::string* loader, const char** adapter) {
    *adapter = nullptr;
    if (!Given(L, idx) || VmType(L, idx) != kTypeTable) return;
    const char* given = nullptr;
    if (GetTableFieldString(L, idx, "loader", &given, nullptr) && given) *loader = given;
    GetTableFieldString(L, idx, "adapter", adapter, nullptr);
}


// Commands that change a video refuse a locked one.
int VideoArg(ScriptState* L, qbVideo** out, uint32_t flags = kVideoModify) {
    return GetVideo(GetObjectIDArg(L, 1), out, flags);
}

}  // namespace

int InitVideoLibrary(ScriptState* L) {
    if (int err = InitVideoList()) return err;
    InstallVideoAttributeRows();
    VmRegisterCommands(L, nullptr, kVideoCommands, 0);
    return RegisterCommandTable(kVideoCommands, "video", nullptr);
}

int cmdOpenVideo(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const char* file = ResolveLinkedFileArg(L, 2, 0, nullptr);
    std::string loader = DefaultVideoLoader();
    const char* adapter = nullptr;
    LoaderOptions(L, 3, &loader, &adapter);
    qbVideo* v = nullptr;
    if (int err = OpenVideoCore(L, id, file, loader.c_str(), adapter, &v)) return err;
    return NewObjectResult(L, *v, id);
}

int cmdCloseVideo(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return DiscardVideo(L, GetObjectIDArg(L, 1));
}

int cmdPlayVideo(ScriptState* L) {
    CheckArgCount(L, 1, 4, 0, 0);
    qbModifiableVideoRef found(L, GetObjectIDArg(L, 1));
    qbTaken<qbVideo> v = nullptr;
    if (int err = found.Take(&v)) return err;
    if (const qbDisplay* d = GetCurrentDisplay()) {
        if (int err = CheckOutputGuard(d, OutputGuard::AsyncDraw)) return err;
    }
    int32_t x = v->x, y = v->y;
    if (Given(L, 2)) x = GetIntArg(L, 2);
    if (Given(L, 3)) y = GetIntArg(L, 3);
    int32_t channel = 0, useLayer = 0;
    if (Given(L, 4) && VmType(L, 4) == kTypeTable) {
        GetTableFieldFlagInto(L, 4, "uselayer", &useLayer, nullptr);
        GetTableFieldInt(L, 4, "channel", &channel, nullptr);
        // The output the options' script code chose is guarded too.
        if (const qbDisplay* d = GetCurrentDisplay())
            if (int err = CheckOutputGuard(d, OutputGuard::AsyncDraw)) return err;
    }
    if (int err = found.Take(&v)) return err;
    if (useLayer && !RequireAppletVersion(6, 0)) return ERR_OLDAPPLET;
    if (useLayer && (!GetCurrentDisplay() || !GetCurrentDisplay()->layersEnabled)) return ERR_NOLAYERS;
    return PlayVideoCore(L, v, x, y, ChannelIndexOf(channel), useLayer != 0, useLayer && Given(L, 4) ? 4 : 0);
}

int cmdStopVideo(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbVideo* v = nullptr;
    if (int err = VideoArg(L, &v)) return err;
    return StopVideoCore(L, v, true);
}

int cmdPauseVideo(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbVideo* v = nullptr;
    if (int err = VideoArg(L, &v)) return err;
    return PauseVideoCore(v);
}

int cmdResumeVideo(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbVideo* v = nullptr;
    if (int err = VideoArg(L, &v)) return err;
    return ResumeVideoCore(v);
}

int cmdSeekVideo(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    qbVideo* v = nullptr;
    if (int err = VideoArg(L, &v)) return err;
    const double position = VmCheckNumber(L, 2);
    if (std::isnan(position)) return ERR_SEEKRANGE;
    return SeekVideoCore(v, static_cast<int64_t>(std::clamp(position, -1.0, 4294967296.0)));
}

int cmdIsVideo(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const char* file = ResolveLinkedFileArg(L, 1, 0, nullptr);
    std::string loader = DefaultVideoLoader();
    const char* adapter = nullptr;
    LoaderOptions(L, 2, &loader, &adapter);
    VmPushNumber(L, IsVideoFile(file, loader.c_str(), adapter));
    return 1;
}

int cmdIsVideoPlaying(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbVideo* v = nullptr;
    if (int err = VideoArg(L, &v, 0)) return err;
    VmPushNumber(L, v->state == kVideoPlaying ? 1 : 0);
    return 1;
}

int cmdSetVideoSize(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    qbVideo* v = nullptr;
    if (int err = VideoArg(L, &v)) return err;
    if (v->layer) return ERR_VIDLAYERFUNC;
    int32_t width = ClampToInt32(GetNumberOrPercentArg(L, 2, v->fileWidth, 1, nullptr));
    int32_t height = ClampToInt32(GetNumberOrPercentArg(L, 3, v->fileHeight, 1, nullptr));
    if (int err = KeepAspectRatio(v->fileWidth, v->fileHeight, &width, &height)) return err;
    const bool smooth = ScriptTruth(L, 4);
    return SetVideoSizeCore(L, v, width, height, smooth);
}

int cmdSetVideoPosition(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    qbVideo* v = nullptr;
    if (int err = VideoArg(L, &v)) return err;
    return SetVideoPositionCore(L, v, GetIntArg(L, 2), GetIntArg(L, 3));
}

int cmdSetVideoVolume(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    qbVideo* v = nullptr;
    if (int err = VideoArg(L, &v)) return err;
    return SetVideoVolumeCore(v, ClampToInt32(GetNumberOrPercentArg(L, 2, 64, 1, nullptr)));
}

int cmdGetVideoFrame(ScriptState* L) {
    CheckArgCount(L, 3, 5, 0, 0);
    const NewObjectID brushId = GetNewObjectIDArg(L, 1);
    const double position = VmCheckNumber(L, 2);
    qbVideo* v = nullptr;
    if (int err = GetVideo(GetObjectIDArg(L, 3), &v, kVideoModify)) return err;
    const int32_t mode = Given(L, 4) ? GetIntArg(L, 4) : 0;
    const int32_t count = Given(L, 5) ? GetIntArg(L, 5) : 15;
    const int64_t at = std::isnan(position) ? -1 : static_cast<int64_t>(std::clamp(position, -1.0, 4294967296.0));
    const std::vector<uint32_t>* pixels = nullptr;
    if (int err = GrabVideoPicture(v, at, mode, count, &pixels)) return err;
    qbBitmap* b = nullptr;
    if (int err = CreateBitmapFromARGB(pixels->data(), -1, v->fileWidth, v->fileHeight, v->fileWidth, false, 0, 0, &b,
                                       nullptr, nullptr))
        return err;
    BitmapPtr bitmap(b);
    qbBrush* made = nullptr;
    if (int err = AllocBrushRecord(NewObjectID{0, 1}, kBrushPixels, v->fileWidth, v->fileHeight, v->fileWidth, 0,
                                   nullptr, b, -1, nullptr, nullptr, ObjectID{}, &made))
        return err;
    bitmap.release();
    // The brush that had the number stays until the new one exists.
    if (int err = AdoptBrushID(L, made, brushId)) return err;
    return NewObjectResult(L, *made, brushId);
}

int cmdForceVideoDriver(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const int32_t driver = GetIntArg(L, 1);
    if (driver == 0) SetDefaultVideoLoader("native");
    if (driver == 1) SetDefaultVideoLoader("inbuilt|plugin");
    return 0;
}

int cmdDumpVideo(ScriptState* L) {
    CheckArgCount(L, 1, 5, 0, 0);
    qbVideo* v = nullptr;
    if (int err = VideoArg(L, &v, 0)) return err;
    int32_t x = Given(L, 2) ? GetIntArg(L, 2) : 0;
    int32_t y = Given(L, 3) ? GetIntArg(L, 3) : 0;
    const char* name = Given(L, 4) ? VmCheckString(L, 4, nullptr) : nullptr;
    const int32_t format = Given(L, 5) ? GetIntArg(L, 5) : 0;
    if (v->state != kVideoStopped || format < 0 || format > 4) return ERR_WRONGUSAGE;
    if (const qbDisplay* d = GetCurrentDisplay(); d && d->bgpic) {
        x = ResolveSpecialX(x, v->fileWidth, d->bgpic->currentWidth, 0.0);
        y = ResolveSpecialY(y, v->fileHeight, d->bgpic->currentHeight, 0.0);
    }
    return DumpVideoStream(L, GetVideoStreamHandle(v), x, y, name, format);
}

int cmdDisplayVideoFrame(ScriptState* L) {
    CheckArgCount(L, 4, 5, 0, 0);
    qbVideo* v = nullptr;
    if (int err = VideoArg(L, &v)) return err;
    const qbDisplay* d = GetCurrentDisplay();
    if (d)
        if (int err = CheckOutputGuard(d, OutputGuard::AsyncDraw)) return err;
    if (!d || !d->layersEnabled) return ERR_NOLAYERS;
    if (v->stream && v->stream->kind == kVideoDriverNative) return ERR_VIDEOLAYERDRV;
    const int32_t x = GetIntArg(L, 2), y = GetIntArg(L, 3);
    const double position = VmCheckNumber(L, 4);
    if (std::isnan(position)) return ERR_SEEKRANGE;
    const auto at = static_cast<int64_t>(std::clamp(position, -1.0, 4294967296.0));
    if (at != 0) {
        if (!v->seekable) return ERR_SEEKFORMAT;
        if (at < 0 || at > 4294967295 || static_cast<uint32_t>(at) > v->duration - 1u) return ERR_SEEKRANGE;
    }
    return DisplayVideoFrameCore(L, v, x, y, at, Given(L, 5) ? 5 : 0);
}
