// The "video" library's commands: opening, playing, pausing, seeking,
// stopping and closing videos.
#include "libs/videolib.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/linkedfile.h"
#include "core/runstate.h"
#include "core/settings.h"
#include "display/display.h"
#include "display/output.h"
#include "media/video.h"
#include "objects/adoptid.h"

namespace {

// In the order of the library's table; size, position, volume, frame and
// driver rows join as they are built.
const ScriptCommand kVideoCommands[] = {
    {"OpenVideo", cmdOpenVideo},
    {"CloseVideo", cmdCloseVideo},
    {"PlayVideo", cmdPlayVideo},
    {"StopVideo", cmdStopVideo},
    {"PauseVideo", cmdPauseVideo},
    {"ResumeVideo", cmdResumeVideo},
    {"SeekVideo", cmdSeekVideo},
    {"IsVideo", cmdIsVideo},
    {"IsVideoPlaying", cmdIsVideoPlaying},
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

int32_t IntArg(ScriptState* L, int idx) {
    const double v = VmCheckNumber(L, idx);
    if (std::isnan(v)) return 0;
    return static_cast<int32_t>(std::clamp(v, -2147483648.0, 2147483647.0));
}

// Commands that change a video refuse a locked one.
int VideoArg(ScriptState* L, qbVideo** out, uint32_t flags = kVideoModify) {
    return GetVideo(GetObjectIDArg(L, 1), out, flags);
}

}  // namespace

int InitVideoLibrary(ScriptState* L) {
    if (int err = InitVideoList()) return err;
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
    qbVideo* v = nullptr;
    if (int err = VideoArg(L, &v)) return err;
    if (const qbDisplay* d = GetCurrentDisplay()) {
        if (int err = CheckOutputGuard(d, OutputGuard::AsyncDraw)) return err;
    }
    int32_t x = v->x, y = v->y;
    if (Given(L, 2)) x = IntArg(L, 2);
    if (Given(L, 3)) y = IntArg(L, 3);
    int32_t channel = 0, useLayer = 0;
    if (Given(L, 4) && VmType(L, 4) == kTypeTable) {
        GetTableFieldInt(L, 4, "uselayer", &useLayer, nullptr);
        GetTableFieldInt(L, 4, "channel", &channel, nullptr);
    }
    if (useLayer && !RequireAppletVersion(6, 0)) return ERR_OLDAPPLET;
    // Videos are drawn straight onto the display only.
    if (useLayer) return ERR_NOLAYERS;
    return PlayVideoCore(L, v, x, y, channel - 1);
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
