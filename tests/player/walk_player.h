// What every walk over the registered commands does around its world: the
// player started as "quenbrookplayer -quiet walk.qba" in a process whose
// frames pass at once on a small desktop, the signatures a plausible call
// is filled up from, a scratch folder to run in, and the command being
// walked named when the walk crashes or a sanitizer reports.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "core/applet.h"
#include "core/linkeddata.h"
#include "core/pixelbuffer.h"
#include "core/runstate.h"
#include "core/settings.h"
#include "core/timerthread.h"
#include "display/displays.h"
#include "display/events.h"
#include "platform/null/null_backend.h"
#include "player/cmdline.h"
#include "player/startup.h"
#include "qbcommands/signatures.h"
#include "vm/vm.h"
#include "walk_args.h"

#if defined(__SANITIZE_ADDRESS__)
#define QB_WALK_DEATH_CALLBACK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QB_WALK_DEATH_CALLBACK 1
#endif
#endif
#ifdef QB_WALK_DEATH_CALLBACK
#include <sanitizer/common_interface_defs.h>
#endif

namespace walkworld {

// What a world keeps of the player it starts.
struct WalkPlayer {
    qbLinkMarker marker{};
    qbCommandLine cl;
    qbApplet applet;
    bool timerThread = false;
    int64_t clock = 0;  // microseconds of frame pacing
};

// Settings of the process that an earlier world's calls changed put back.
// Frames pass at once: a move or a play takes its frames without their
// sleeps, and a wait for a time passes as soon as asked. A small desktop:
// a display the desktop's size, which many options ask for, is made and
// scaled at once. Sizes the script may ask for stay below maxPixels.
inline void ResetWalkProcess(WalkPlayer* p, uint64_t maxPixels) {
    SetShuttingDown(false);
    ResetRuntimeSettings();
    SetFPSLimit(60);
    SetMaxImagePixels(maxPixels);
    SetFramePacingClock([p] { return p->clock; }, [p](int64_t ms) { p->clock += ms * 1000; });
    null_backend::Reset();
    null_backend::SetMonitors({{0, 0, 320, 240}});
    null_backend::SetURLOpener([](const char*) { return 0; });
}

// A call of a world's prelude.
using PreludeCall = std::pair<std::string, std::vector<Arg>>;

// Displays 1 and 2 (not yet open: the displays start after) and an object of
// most other kinds at id 1 (brushes, music and memory at 2 too), on the
// files the walk lays (Media).
inline std::vector<PreludeCall> ObjectsOfEveryKind() {
    return {
        {"CreateDisplay", {N(1), Table({{"width", N(64)}, {"height", N(48)}})}},
        {"CreateDisplay", {N(2), Table({{"width", N(64)}, {"height", N(48)}})}},
        {"CreateBrush", {N(1), N(16), N(16), N(0xFF8040)}},
        {"CreateBrush", {N(2), N(64), N(48), N(0x40FF80)}},
        {"CreateBGPic", {N(2), N(16), N(16), N(0x204080)}},
        {"CreateMenu", {N(1), Menu()}},
        {"CreateButton", {N(1), N(0), N(0), N(8), N(8)}},
        {"CreateKeyDown", {N(1), T("a")}},
        {"LoadSample", {N(1), T("walk.wav")}},
        {"OpenMusic", {N(1), T("walk.wav")}},
        {"OpenMusic", {N(2), T("walk.mod")}},
        {"LoadAnim", {N(1), T("walk.gif")}},
        {"OpenFont", {N(1), T(":::default_sans"), N(12)}},
        {"CreateTextObject", {N(1), T("walk")}},
        {"LoadSprite", {N(1), T("walk.gif")}},
        {"AllocMem", {N(1), N(256)}},
        {"AllocMem", {N(2), N(256)}},
        {"OpenFile", {N(1), T("walk.txt")}},
        {"OpenDirectory", {N(1), T("walkdir")}},
        {"CreateClipRegion", {N(1), N(14), N(0), N(0), N(8), N(8)}},
        {"CreatePointer", {N(1), N(3), N(1), N(0), N(0)}},
        {"OpenVideo", {N(1), T("walk.cdxl")}},
        {"StartPath", {N(1)}},
        {"AddBoxToPath", {N(1), N(0), N(0), N(8), N(8)}},
    };
}

// The player on L, as the command line starts it, with its timer thread;
// false when it did not start. The applet's identifier names its
// preferences file.
inline bool StartWalkPlayer(ScriptState* L, WalkPlayer* p, const char* identifier) {
    SetMainState(L);
    BuildLinkMarker(&p->marker);
    std::vector<std::string> args{"quenbrookplayer", "-quiet", "walk.qba"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (ParseCommandLine(L, &p->cl, &p->applet, &p->marker, static_cast<int>(args.size()), argv.data())) return false;
    std::snprintf(p->applet.identifier, sizeof p->applet.identifier, "%s", identifier);
    if (StartTimerThread()) return false;
    p->timerThread = true;
    return true;
}

inline void EndWalkPlayer(ScriptState* L, WalkPlayer* p) {
    null_backend::SetPumpObserver({});
    if (p->timerThread) StopTimerThread();
    if (L) Shutdown(0, L, &p->cl, &p->applet);
    SetShuttingDown(false);
    SetMaxImagePixels(0);
    SetFramePacingClock(nullptr, nullptr);
}

// The user of window for the next call: a requester gets its answer, a
// wait for the user ends in the quit, asked for at once, and after
// patience pumps of any call the user closes the window, which ends every
// wait. (Before the window is there, nothing is closed.)
inline void AnswerAsTheUser(const std::string& command, long patience, qbDisplay* window) {
    const auto close = [window] {
        if (window) null_backend::ScriptEvent({window, kEventCloseRequest, 0, 0, 0});
    };
    if (command.find("Request") != std::string::npos)
        null_backend::QueueRequesterAnswer({0, 1, "walk.txt", "walk.txt"});
    if (WaitsForUser(command)) close();
    null_backend::SetPumpObserver([close, patience, pumps = long{0}]() mutable {
        if (++pumps == patience) close();
    });
}

// The least number of arguments docs/signatures.txt gives the command (0
// for one it does not list).
inline int LeastArgs(const std::string& command) {
    static const std::map<std::string, SignatureEntry> entries = [] {
        std::vector<SignatureEntry> read;
        std::string error;
        ReadSignatures((std::string(QB_SOURCE_DIR) + "/docs/signatures.txt").c_str(), read, error);
        std::map<std::string, SignatureEntry> byName;
        for (SignatureEntry& e : read) byName[e.name] = std::move(e);
        return byName;
    }();
    const auto e = entries.find(command);
    return e == entries.end() ? 0 : e->second.minArgs;
}

// Commands that wait as long as the script asks, or for a line typed on
// standard input: a walk leaves them out.
inline bool WaitsForever(const std::string& command) {
    return command == "Wait" || command == "WaitTimer" || command == "DebugPrompt";
}

// The command being walked, named by a crash or a sanitizer's report, and
// the walk's own name before it. Written only from the signal handler's
// side with write(2).
inline char crashWalk[64] = "walk";
inline char crashCurrent[256] = "(none)";

inline void SayWalking(const std::string& what) {
    std::snprintf(crashCurrent, sizeof crashCurrent, "%s", what.c_str());
}

inline void SayCrashed() {
    (void)!::write(2, "\n", 1);
    (void)!::write(2, crashWalk, std::strlen(crashWalk));
    const char crashed[] = ": crashed in ";
    (void)!::write(2, crashed, sizeof crashed - 1);
    (void)!::write(2, crashCurrent, std::strlen(crashCurrent));
    (void)!::write(2, "\n", 1);
}

inline void OnFatalSignal(int sig) {
    SayCrashed();
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

inline void NameCrashes(const char* walk) {
    std::snprintf(crashWalk, sizeof crashWalk, "%s", walk);
    for (int sig : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL}) ::signal(sig, OnFatalSignal);
#ifdef QB_WALK_DEATH_CALLBACK
    __sanitizer_set_death_callback(SayCrashed);
#endif
}

// A folder of its own for one part of a walk, made anew and made the
// current one; the current folder before it comes back at the end, and
// the folder goes.
class WalkScratch {
public:
    explicit WalkScratch(const std::string& walk, int part = -1)
        : before_(std::filesystem::current_path()),
          path_(std::filesystem::temp_directory_path() /
                ("qb_" + walk + "_" + std::to_string(::getpid()) + (part < 0 ? "" : "_" + std::to_string(part)))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
        std::filesystem::current_path(path_);
    }
    ~WalkScratch() {
        std::error_code ignored;
        std::filesystem::current_path(before_, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    WalkScratch(const WalkScratch&) = delete;
    WalkScratch& operator=(const WalkScratch&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path before_;
    std::filesystem::path path_;
};

}  // namespace walkworld
