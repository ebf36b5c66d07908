// Every command of every library the player opens, called with each argument
// in turn replaced by a hostile value (NaN, infinities, huge numbers, the
// integers just outside 32 bits, -1, 0, -0, 0.5, an empty text, texts of
// 100000 letters and of 1 MB, Nil, a table, a function) and the others
// plausible, and with each field it reads of an option table made hostile
// the same way. Each call has to end with results or a script error; a
// sanitizer report, a crash or a hang fails the run, and so does a result
// that is a VM boolean (the script's True and False are the numbers 1 and
// 0), or a flag result that is another number. Libraries join the walk by
// registering their tables; the world holds an object of every kind at id
// 1, so that a row of 1s finds what a command works on, and makes the
// objects that only have automatic ids, the plugins, handlers, fonts and
// peers, for the commands that need them (walk_commands.cpp). Where
// docs/signatures.txt writes an argument in braces, the walk gives a table
// there and walks each field it reads.
// Each command's plausible call must reach its main road: return, or end
// in the error its road ends in in this world (RoadEnd), not in one of the
// checks before it; the few the world cannot take there are listed with
// why (ShortOfRoad), and each command must read the option fields it read
// when they were recorded (walk_fields.txt), no fewer and no more. On the
// unscaled display each plausible call, made once more in a new world, must
// give its user what it gave when recorded (walk_answers.txt): its results
// or its error, and the pixels it drew; QB_WALK_ANSWERS=1 prints each
// command's line, and the file's head says how to record it anew.
// Nothing quits a call before it starts: a plausible call must end on its
// own within a pump budget (a move arrives, and where it should; a wait is
// answered by the world's user), and a hostile one that asks for longer is
// quit by the user after a few pumps and must then end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "command_call.h"
#include "core/applet.h"
#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "core/linkeddata.h"
#include "core/pixelbuffer.h"
#include "core/runstate.h"
#include "core/settings.h"
#include "core/timerthread.h"
#include "core/errors.h"
#include "display/displays.h"
#include "display/events.h"
#include "display/refresh.h"
#include "libs/network.h"
#include "media/video.h"
#include "libs/socket.h"
#include "platform/null/null_backend.h"
#include "player/cmdline.h"
#include "player/startup.h"
#include "test_bmp.h"
#include "walk_answers.h"
#include "walk_args.h"
#include "walk_player.h"
#include "walk_push.h"
#include "walk_world.h"
#include "vm/object.h"
#include "vm/vm.h"

namespace {

using namespace walkworld;

constexpr int kMaxArgs = 8;
#if defined(__SANITIZE_ADDRESS__)
#define QB_WALK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QB_WALK_UNDER_ASAN 1
#endif
#endif

// One call taking longer than this is a hang. The sanitizer build at -O0
// takes some 15 s to print the longest text into a layer and scale it for a
// scaled display, more on a loaded machine.
#ifdef QB_WALK_UNDER_ASAN
constexpr auto kCallLimit = std::chrono::seconds(90);
#else
constexpr auto kCallLimit = std::chrono::seconds(20);
#endif
constexpr uint64_t kMaxWalkPixels = uint64_t{1} << 22;
constexpr int32_t kNetworkWaitMs = 20;
// The network tests' own time-out (tests/libs/net_fixture.h).
constexpr int32_t kPlausibleNetworkWaitMs = 1000;
constexpr double kWalkStereo16 = 3;
// A plausible call that pumps more often than this is a move or a wait that
// does not end: the longest plausible move, play or effect takes a few
// hundred frames, and a wait is answered within a few pumps.
constexpr long kPumpBudget = 1000;
// A hostile value may ask for a move of 2^31 pixels or a play of forever,
// as the script may: after this many pumps the user closes the window.
constexpr long kHostilePatience = 16;
// A call that goes on pumping this long after the quit ignores it: a hang.
constexpr long kPumpsAfterQuit = 100;

// The collector's stress run looks for objects a command leaves unreachable
// while it allocates, which depends on the kind of value it is given, not on
// which number: there one value of each kind stands for all of them.
// Print and NPrint lay out and draw every letter, wrapped at the display's
// width: a megabyte is a hundred thousand lines of drawing (half a minute
// of the walk), which tells nothing the 100000 letters do not.
bool WalkedWith(const std::string& command, int h) {
    static const bool stress = std::getenv("QB_GC_STRESS") != nullptr;
    if (h == kMegaText && (command == "Print" || command == "NPrint")) return false;
    return !stress || h == kNaN || h == kMinusOne || h == kLongText || h == kNil || h == kTable || h == kFunction;
}

// Print and NPrint draw their values one after another: a long text is
// laid out and drawn as the same lines wherever it stands among them (a
// second of the sanitizer build at each place), and is given at the first.
bool WalkedAt(const std::string& command, int h, int at) {
    if (at > 1 && h == kLongText && (command == "Print" || command == "NPrint")) return false;
    return WalkedWith(command, h);
}

int Nothing(ScriptState*) { return 0; }

// The library each registered command comes from.
const std::string& LibraryOf(const std::string& command) {
    static const std::map<std::string, std::string> libraries = [] {
        std::map<std::string, std::string> of;
        for (const CommandTableNode& node : RegisteredCommandTables())
            for (const ScriptCommand* row = node.table; row && row->name; ++row) of.emplace(row->name, node.name);
        return of;
    }();
    static const std::string none;
    const auto it = libraries.find(command);
    return it == libraries.end() ? none : it->second;
}

// Commands that compute their results from their arguments alone: a call
// of theirs leaves the world as it found it.
bool OnlyComputes(const std::string& command) {
    const std::string& library = LibraryOf(command);
    return library == "string" || library == "math";
}

// Commands that can draw, refresh, wait on or read the display; the others
// (texts, numbers, files, memory and peers) run the same code on a scaled
// one.
bool MeetsTheDisplay(const std::string& command) {
    const std::string& library = LibraryOf(command);
    return !(OnlyComputes(command) || library == "dos" || library == "memblock" || library == "network");
}

bool NamesServer(const Arg& a) {
    if (a.kind == Arg::kUrl || a.kind == Arg::kPort) return true;
    return std::any_of(a.values.begin(), a.values.end(), NamesServer) ||
           std::any_of(a.items.begin(), a.items.end(), NamesServer);
}

// A call that may talk to the world's server: a command of the network
// library (the world's connection 1 is to the server), or one given its
// address.
bool TalksToServer(const Call& c) {
    static const std::set<std::string> network = [] {
        std::set<std::string> names;
        for (const CommandTableNode& node : RegisteredCommandTables())
            if (std::string(node.name) == "network")
                for (const ScriptCommand* row = node.table; row->name; ++row) names.insert(row->name);
        return names;
    }();
    return network.count(c.command) || std::any_of(c.args.begin(), c.args.end(), NamesServer);
}

int RecordRead(ScriptState* L) {
    auto* reads = static_cast<std::set<std::string>*>(VmToUserdata(L, VmUpvalueIndex(1)));
    if (VmType(L, 2) == kTypeString) reads->insert(VmToCString(L, 2));
    VmPushNil(L);
    return 1;
}

// Ends the process with the call's name when one call does not return.
class Watchdog {
public:
    Watchdog()
        : thread_([this] {
              std::unique_lock lock(mutex_);
              while (!stop_) {
                  if (running_ && std::chrono::steady_clock::now() - started_ > kCallLimit) {
                      std::fprintf(stderr, "hang: %s did not return\n", current_.c_str());
                      std::_Exit(1);
                  }
                  wake_.wait_for(lock, std::chrono::milliseconds(200));
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void Start(std::string what) {
        std::lock_guard lock(mutex_);
        current_ = std::move(what);
        started_ = std::chrono::steady_clock::now();
        running_ = true;
    }
    void Stop() {
        std::lock_guard lock(mutex_);
        running_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    bool running_ = false;
    std::string current_;
    std::chrono::steady_clock::time_point started_;
    std::thread thread_;
};

// The player as start-up leaves it: the libraries opened by the command-line
// parse, display 1 open on the in-memory backend, and a few objects for the
// commands to find. Shutdown frees it all again.
class PlayerWorld {
public:
    // display1 holds the options of display 1.
    PlayerWorld(const std::string& picture, const Arg& display1, int port) : picture_(picture), port_(port) {
        // Sizes the script may ask for stay cheap: a picture of a few million
        // pixels is made or scaled at once, a bigger one is refused.
        ResetWalkProcess(&player_, kMaxWalkPixels);
        SetDefaultVideoLoader("");
        L = VmOpen();
        if (!L) return;
        // Under the collector's stress every world would register the
        // libraries and run the prelude with a collection at each of their
        // allocations, four fifths of the stress run for the same calls each
        // time: the first world of the process makes them under the stress,
        // later ones without it, which the walked calls get back.
        static bool builtUnderStress = false;
        const bool stress = L->g->gcStress;
        if (builtUnderStress) L->g->gcStress = false;
        builtUnderStress = builtUnderStress || stress;
        if (!StartWalkPlayer(L, &player_, "qbwalk")) return;
        // A wait for a peer ends soon: the world's server answers at once
        // or not at all.
        SetNetworkTimeoutValue(kNetworkWaitMs);
        Prelude(display1);
        L->g->gcStress = stress;
    }
    ~PlayerWorld() {
        EndWalkPlayer(L, &player_);
    }
    PlayerWorld(const PlayerWorld&) = delete;
    PlayerWorld& operator=(const PlayerWorld&) = delete;

    bool Ready() const { return L && player_.timerThread && preludeErrors_.empty(); }
    // How many results the last call gave.
    int Results() const { return results_; }
    const std::vector<std::string>& PreludeErrors() const { return preludeErrors_; }

    // The command's error code; *wrong tells what result was a VM boolean
    // (or held one in a field of a table) or a flag other than 1 and 0.
    // *answer, where asked for, gets what the call gave its user: its
    // results or its error, and the hash of the pixels it changed.
    int Run(const Call& c, std::string* wrong = nullptr, std::string* answer = nullptr) {
        VmSetTop(L, 0);
        // A requester gets its answer, as a user would give it.
        if (c.command.find("Request") != std::string::npos)
            null_backend::QueueRequesterAnswer({0, 1, "walk.txt", "walk.txt"});
        const uint64_t before = answer ? SeenPixels(L) : 0;
        const int err = RunsInHandler(c.command) ? RunInHandler(c, answer) : RunHere(c, wrong, answer);
        if (answer) {
            if (err) *answer = "error " + std::to_string(err);
            else if (answer->empty()) *answer = "()";
            if (const uint64_t after = SeenPixels(L); after != before) {
                char hex[20];
                std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(after));
                *answer += std::string(" drew ") + hex;
            }
        }
        VmSetTop(L, 0);
        return err;
    }

    // The user closes the window: every wait ends with the quit.
    void AskToClose() {
        if (first_) null_backend::ScriptEvent({first_, kEventCloseRequest, 0, 0, 0});
    }
    void Gesture(const walkworld::Gesture& g) {
        if (first_) null_backend::ScriptEvent({first_, g.type, g.data1, g.data2, g.data3});
    }

    // The call's first result as a number, NaN when it failed or gave
    // another kind.
    double Number(const Call& c) {
        VmSetTop(L, 0);
        for (const Arg& a : c.args) Push(a);
        const int err = CallCommand(L, c.command.c_str(), static_cast<int>(c.args.size()), 1);
        const double v = !err && VmType(L, -1) == kTypeNumber ? VmToNumber(L, -1)
                                                               : std::numeric_limits<double>::quiet_NaN();
        VmSetTop(L, 0);
        return v;
    }

    // Whether the moved object stands at (x, y): a sprite on screen there,
    // or a layer of the kind (any kind for 0).
    bool Arrived(int kind, double x, double y) {
        auto attr = [&](const char* type, const Arg& id, const char* attribute) {
            return Number({"GetAttribute", {C(type), id, C(attribute)}});
        };
        if (kind == 32) return attr("SPRITE", N(1), "ATTRXPOS") == x && attr("SPRITE", N(1), "ATTRYPOS") == y;
        const double layers = attr("DISPLAY", N(0), "ATTRLAYERS");
        for (int i = 0; i <= layers; ++i) {
            if (kind != 0 && attr("LAYER", N(i), "ATTRTYPE") != kind) continue;
            if (attr("LAYER", N(i), "ATTRRAWXPOS") == x && attr("LAYER", N(i), "ATTRRAWYPOS") == y) return true;
        }
        return false;
    }

    // Runs the call and keeps its first result as the value of Made(name);
    // the call's error code.
    int Make(const Making& m) {
        VmSetTop(L, 0);
        for (const Arg& a : m.call.args) Push(a);
        int err = CallCommand(L, m.call.command.c_str(), static_cast<int>(m.call.args.size()), 1);
        if (!err && !m.name.empty()) {
            if (VmType(L, -1) == kTypeNil) err = ERR_INTERNAL;
            else made_[m.name] = VmMakeRef(L, kRegistryIndex);
        }
        VmSetTop(L, 0);
        return err;
    }

    ScriptState* L = nullptr;

private:
    int RunHere(const Call& c, std::string* wrong, std::string* answer = nullptr) {
        const int base = VmGetTop(L);
        for (const Arg& a : c.args) Push(a);
        const int err = CallCommand(L, c.command.c_str(), static_cast<int>(c.args.size()), kMultRet);
        results_ = err ? 0 : VmGetTop(L);
        if (wrong && !err) *wrong = WrongResult(c.command);
        if (answer && !err) {
            const LeftOut* out = LeftOutOf(c.command);
            *answer = DescribeResults(L, base, VmGetTop(L) - base,
                                      {std::filesystem::current_path().string(), null_backend::TemporaryHome(), port_,
                                       out && out->what == Unsteady::kKeys ? &out->keys : nullptr});
        }
        return err;
    }

    // The call made by the FillMusicBuffer handler of a new script-fed music
    // (whose first request comes at once); the call's error.
    struct InHandler {
        PlayerWorld* world;
        const Call* call;
        int err;
        std::string* answer;
    };
    static int CallFromHandler(ScriptState* L) {
        auto* in = static_cast<InHandler*>(VmToUserdata(L, VmUpvalueIndex(1)));
        const int top = VmGetTop(L);
        in->err = in->world->RunHere(*in->call, nullptr, in->answer);
        VmSetTop(L, top);
        return 0;
    }
    int RunInHandler(const Call& c, std::string* answer) {
        InHandler in{this, &c, ERR_INTERNAL, answer};
        VmPushNewTable(L);
        VmPushString(L, "fillmusicbuffer");
        VmPushLightUserdata(L, &in);
        VmPushCClosure(L, CallFromHandler, 1);
        VmRawSet(L, -3);
        if (int err = CallCommand(L, "InstallEventHandler", 1, 0)) return err;
        VmSetTop(L, 0);
        VmPushNumber(L, 1);
        VmPushNumber(L, 22050);
        VmPushNumber(L, kWalkStereo16);
        const int made = CallCommand(L, "CreateMusic", 3, 0);
        VmSetTop(L, 0);
        VmPushNewTable(L);
        CallCommand(L, "InstallEventHandler", 1, 0);
        return in.err != ERR_INTERNAL || !made ? in.err : made;
    }

    std::string WrongResult(const std::string& command) {
        if (HoldsBoolean()) return "a VM boolean";
        for (int at : FlagResults(command)) {
            if (at > VmGetTop(L) || VmType(L, at) == kTypeNil) continue;
            const double v = VmType(L, at) == kTypeNumber ? VmToNumber(L, at) : -1;
            if (v != 0 && v != 1)
                return "flag result " + std::to_string(at) + " " + VmTypeName(L, VmType(L, at)) + " " +
                       (VmIsString(L, at) ? VmToCString(L, at) : "");
        }
        return {};
    }

    bool HoldsBoolean() {
        for (int i = 1; i <= VmGetTop(L); ++i) {
            if (VmType(L, i) == kTypeBoolean) return true;
            if (VmType(L, i) != kTypeTable) continue;
            VmPushNil(L);
            while (VmNext(L, i)) {
                const bool found = VmType(L, -1) == kTypeBoolean;
                VmSetTop(L, -2);
                if (found) {
                    VmSetTop(L, -2);
                    return true;
                }
            }
        }
        return false;
    }

    void Push(const Arg& a) {
        const PushPlace place{L,
                              picture_,
                              port_,
                              made_,
                              [this] { PushMenu(); },
                              [this](const Arg& h) {
                                  if (!h.list) {
                                      PushHostile(h.hostile);
                                      return;
                                  }
                                  VmPushNewTable(L);
                                  for (int i = 0; i < kListLength; ++i) {
                                      PushHostile(h.hostile);
                                      VmRawSetIndex(L, -2, i);
                                  }
                              },
                              [this](const Arg& t) {
                                  if (!t.reads) return;
                                  VmPushNewTable(L);
                                  VmPushString(L, "__index");
                                  VmPushLightUserdata(L, t.reads);
                                  VmPushCClosure(L, RecordRead, 1);
                                  VmRawSet(L, -3);
                                  VmSetMetatable(L, -2);
                              }};
        PushWalkArg(place, a);
    }

    void PushMenu() {
        PushWalkMenu(L, [this] {
            VmPushString(L, "Toggle");
            VmRawSetIndex(L, -2, 0);
            VmPushString(L, "id");
            VmPushString(L, "toggle");
            VmRawSet(L, -3);
            VmPushString(L, "flags");
            VmPushNumber(L, 1);
            VmRawSet(L, -3);
        });
    }

    void PushHostile(Hostile h) {
        switch (h) {
            case kNaN: VmPushNumber(L, std::numeric_limits<double>::quiet_NaN()); break;
            case kPlusInf: VmPushNumber(L, std::numeric_limits<double>::infinity()); break;
            case kMinusInf: VmPushNumber(L, -std::numeric_limits<double>::infinity()); break;
            case kHuge: VmPushNumber(L, 1e300); break;
            case kMinusHuge: VmPushNumber(L, -1e300); break;
            case kMinusOne: VmPushNumber(L, -1); break;
            case kZero: VmPushNumber(L, 0); break;
            case kLongText: PushKept(LongText(), &longText_); break;
            case kNil: VmPushNil(L); break;
            case kTable: VmPushNewTable(L); break;
            case kPow31: VmPushNumber(L, 2147483648.0); break;
            case kPow32Plus1: VmPushNumber(L, 4294967297.0); break;
            case kMinusPow31Minus1: VmPushNumber(L, -2147483649.0); break;
            case kHalf: VmPushNumber(L, 0.5); break;
            case kMinusZero: VmPushNumber(L, -0.0); break;
            case kEmptyText: VmPushString(L, ""); break;
            case kMegaText: PushKept(MegaText(), &megaText_); break;
            case kFunction: VmPushCClosure(L, Nothing, 0); break;
            case kHostileCount: break;
        }
    }

    // A long text is made once per world and kept: a script's texts are
    // values, and making a megabyte anew for each call is most of a call's
    // time.
    void PushKept(const std::string& text, int* ref) {
        if (*ref == 0) {
            VmPushLString(L, text.data(), text.size());
            *ref = VmMakeRef(L, kRegistryIndex);
        }
        VmRawGetIndex(L, kRegistryIndex, *ref);
    }

    static const std::string& LongText() {
        static const std::string text(100000, 'q');
        return text;
    }
    static const std::string& MegaText() {
        static const std::string text(size_t{1} << 20, 'm');
        return text;
    }

    void Prelude(const Arg& display1) {
        const std::vector<Call> steps = {
            {"CreateDisplay", {N(1), display1}},
            {"CreateDisplay", {N(2), Table({{"width", N(32)}, {"height", N(24)}})}},
            {"CreateBrush", {N(1), N(16), N(16), N(0xFF8040)}},
            {"CreateBGPic", {N(2), N(16), N(16), N(0x204080)}},
            {"CreateMenu", {N(1), Menu()}},
            {"CreateButton", {N(1), N(0), N(0), N(8), N(8)}},
            {"CreateKeyDown", {N(1), T("a")}},
            {"SetInterval", {N(1), Fn(), N(100000)}},
            {"SetTimeout", {N(1), Fn(), N(100000)}},
            // An object of every other kind at id 1 (the music object 2 is
            // a module), on the files the walk made.
            {"LoadSample", {N(1), T("walk.wav")}},
            {"OpenMusic", {N(1), T("walk.wav")}},
            {"OpenMusic", {N(2), T("walk.mod")}},
            {"LoadAnim", {N(1), T("walk.gif")}},
            {"OpenFont", {N(1), T(":::default_sans"), N(12)}},
            {"CreateTextObject", {N(1), T("walk")}},
            {"LoadSprite", {N(1), T("walk.gif")}},
            {"StartPath", {N(1)}},
            {"MoveTo", {N(1), N(0), N(0)}},
            {"LineTo", {N(1), N(10), N(8)}},
            {"AllocMem", {N(1), N(256)}},
            {"AllocMem", {N(2), N(256)}},
            // A new block's bytes are whatever the memory held: the world
            // sets them, so that what a command reads of them is the same
            // in every run, and differs at each offset.
            {"FillMem", {N(1), N(0x5A), N(256)}},
            {"FillMem", {N(2), N(0xA5), N(256)}},
            {"Poke", {N(1), N(0), N(0x04030201)}},
            {"Poke", {N(1), N(4), N(0x08070605)}},
            {"OpenFile", {N(1), T("walk.txt")}},
            {"OpenDirectory", {N(1), T("walkdir")}},
            {"CreateServer", {N(1), N(0), T("127.0.0.1")}},
            {"OpenConnection", {N(1), T("127.0.0.1"), Port()}},
            {"CreateUDPObject", {N(1), N(0), T("127.0.0.1")}},
            {"StartTimer", {N(1)}},
            {"AddMove", {N(1), N(3), N(1), N(2), N(2)}},
            {"CreateClipRegion", {N(1), N(14), N(0), N(0), N(8), N(8)}},
            {"CreatePointer", {N(1), N(3), N(1), N(0), N(0)}},
            {"SetObjectData", {N(3), N(1), T("walk"), N(1)}},
        };
        for (const Call& c : steps) Step(c);
        Step({"OpenVideo", {N(1), T("walk.cdxl")}});
        if (!preludeErrors_.empty()) return;
        if (StartDisplays(L)) {
            preludeErrors_.push_back("StartDisplays");
            return;
        }
        qbDisplay* d = nullptr;
        GetDisplayRecord(ObjectID{1, nullptr}, &d);
        first_ = d;
        const std::vector<Call> shown = {
            {"SetDisplayAttributes", {Table({{"menu", N(1)}})}},
            {"EnableLayers", {}},
            {"DisplayBrush", {N(1), N(4), N(4)}},
            {"MakeButton", {N(1), N(0), N(0), N(0), N(8), N(8), Handlers()}},
            {"CloseDisplay", {N(2)}},
            {"SelectDisplay", {N(1)}},
        };
        for (const Call& c : shown) Step(c);
    }

    void Step(const Call& c) {
        if (int err = Run(c)) preludeErrors_.push_back(c.Describe() + " -> " + std::to_string(err));
    }

    std::string picture_;
    int port_ = 0;
    WalkPlayer player_;
    qbDisplay* first_ = nullptr;
    std::vector<std::string> preludeErrors_;
    std::map<std::string, int> made_;  // registry references
    int longText_ = 0, megaText_ = 0;
    int results_ = 0;
};

std::vector<std::string> RegisteredCommands(std::set<std::string>* libraries) {
    std::vector<std::string> names;
    for (const CommandTableNode& node : RegisteredCommandTables()) {
        libraries->insert(node.name);
        for (const ScriptCommand* row = node.table; row && row->name; ++row)
            if (row->handler && !WaitsForever(row->name)) names.push_back(row->name);
    }
    return names;
}

// Calls commands in fresh worlds, counting the calls and collecting any that
// went around the protected call.
class Walker {
public:
    Walker(std::string picture, Arg display1, int port, const walkworld::Media& media,
           std::filesystem::path scratch)
        : picture_(std::move(picture)),
          display1_(std::move(display1)),
          port_(port),
          media_(media),
          scratch_(std::move(scratch)) {}

    // What each new world makes for the command walked next.
    void MakeFor(const std::vector<Making>& making) { making_ = &making; }

    // A new world in the walk's folder, on fresh copies of its files. The
    // world the last calls were made in is as good as new when each of them
    // ended in an error without pumping (its checks refused it before it
    // did anything) for the same makings: it is kept, which saves a start
    // and a shutdown of the player, most of a walk's time, for some of them.
    void Fresh() {
        std::filesystem::current_path(scratch_);
        if (world_ && world_->Ready() && !changed_ && madeFor_ == making_) {
            media_.Lay(scratch_);
            return;
        }
        world_.reset();
        std::filesystem::current_path(scratch_);
        media_.Lay(scratch_);
        world_ = std::make_unique<PlayerWorld>(picture_, display1_, port_);
        madeFor_ = making_;
        // (Reported with the other failures: the walk's output is captured.)
        if (!world_->Ready()) {
            failures_.push_back("no world: " + ::testing::PrintToString(world_->PreludeErrors()));
            return;
        }
        // What failed to be made leaves the command short of its road,
        // which the walk reports when it is not known.
        madeWrong_.clear();
        for (const Making& m : *making_) {
            if (int err = world_->Make(m); err && madeWrong_.empty())
                madeWrong_ = " after making " + m.call.Describe() + " -> " + std::to_string(err);
        }
        changed_ = false;
    }

    // A plausible call must end within the pump budget: as a move that
    // arrives, or a wait that the world's user answers. A hostile one may
    // ask for more (a play of forever): the user quits it after a few
    // pumps. A wait's hostile calls are made with the quit already asked
    // for. Past either, a call that goes on pumping is a hang.
    enum class Mode { kPlausible, kHostile };
    int Run(const Call& c, Mode mode = Mode::kHostile) {
        argIndex_ = 0;
        if (!world_->Ready()) return ERR_INTERNAL;
        if (std::getenv("QB_WALK_TRACE")) std::fprintf(stderr, "CALL %s\n", c.Describe().substr(0, 300).c_str());
        const std::string what = c.Describe();
        SayWalking(what);
        watchdog_.Start(what);
        const bool plausible = mode == Mode::kPlausible;
        const std::vector<Gesture>& hand = plausible ? Answers(c.command) : Answers("");
        if (!plausible && WaitsForUser(c.command)) world_->AskToClose();
        long pumps = 0;
        size_t gestures = 0;
        const long patience = plausible ? kPumpBudget : kHostilePatience;
        PlayerWorld* world = world_.get();
        null_backend::SetPumpObserver([&] {
            ++pumps;
            // The user acts between the wait's looks, one gesture every
            // other pump, so that the wait sees each state.
            if (pumps % 2 == 0 && gestures < hand.size()) world->Gesture(hand[gestures++]);
            if (pumps == patience) {
                if (plausible) overBudget_.push_back(what.substr(0, 300));
                else ++quitCalls_;
                world->AskToClose();
            }
            if (pumps <= patience + kPumpsAfterQuit) return;
            std::fprintf(stderr, "hang: %s pumped %ld times, %ld of them after the quit\n", what.substr(0, 300).c_str(),
                         pumps, pumps - patience);
            std::_Exit(1);
        });
        SetErrorArgIndex(0);
        std::string wrong;
        // A plausible call of the network commands talks to the world's
        // own server, which answers at once, but a loaded machine may run
        // it late: such a call waits as long as the network tests' own
        // peers are given. A hostile one keeps the short wait.
        if (plausible && TalksToServer(c)) SetNetworkTimeoutValue(kPlausibleNetworkWaitMs);
        const int err = world_->Run(c, &wrong, answer_);
        SetNetworkTimeoutValue(kNetworkWaitMs);
        // What may have changed the world: a call that went through (but
        // for one that only computes) or around the protected call, pumped, found the quit asked for, or
        // had a requester's answer queued for it; a plausible call, or one
        // made from a handler.
        changed_ = changed_ || err < 0 || pumps > 0 || plausible || WaitsForUser(c.command) ||
                   c.command.find("Request") != std::string::npos || RunsInHandler(c.command) ||
                   (err == 0 && !OnlyComputes(c.command));
        results_ = world_->Results();
        lastError_ = err;
        argIndex_ = GetErrorArgIndex();
        null_backend::SetPumpObserver({});
        if (plausible && pumps < kPumpBudget) maxPumps_ = std::max(maxPumps_, pumps);
        watchdog_.Stop();
        ++calls_;
        // A handler's own failure is a positive code; anything else went
        // around the protected call.
        if (err < 0) failures_.push_back(what + " -> " + std::to_string(err));
        if (!wrong.empty()) failures_.push_back(what + " gave " + wrong);
        return err;
    }

    // What the plausible call gives its user (walk_answers.h) in a new
    // world, in a folder of its own that holds the world's files alone:
    // what the commands walked before left in the walk's folder is no part
    // of it.
    std::string Answer(const Call& c, const std::filesystem::path& folder) {
        // (What the world lays is kept where it is as laid.)
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
            if (!media_.Lays(entry.path().filename().string())) std::filesystem::remove_all(entry.path(), ignored);
        const std::filesystem::path walkFolder = scratch_;
        scratch_ = folder;
        Renew();
        std::string answer;
        const auto filesBefore = walkworld::FilesIn(folder.string());
        answer_ = &answer;
        Run(c, Mode::kPlausible);
        answer_ = nullptr;
        answer += walkworld::Wrote(filesBefore, walkworld::FilesIn(folder.string()));
        // The next world is made in the walk's folder again.
        scratch_ = walkFolder;
        return answer;
    }

    // Whether the object of the move just made stands at the end of it.
    bool Arrived(int kind, double x, double y) { return world_->Ready() && world_->Arrived(kind, x, y); }
    void NotArrived(std::string move) { notArrived_.push_back(std::move(move)); }
    const std::vector<std::string>& NotArrivedMoves() const { return notArrived_; }

    void End() { world_.reset(); }
    // A new world, whatever the last calls did to the old one.
    void Renew() {
        changed_ = true;
        Fresh();
    }

    long Calls() const { return calls_; }
    long MostPumps() const { return maxPumps_; }
    // How many results the last call gave, and its error.
    int Results() const { return results_; }
    int LastError() const { return lastError_; }
    // The argument the last call's error named, 0 for none.
    int ArgIndex() const { return argIndex_; }
    const std::vector<std::string>& Failures() const { return failures_; }
    const std::string& MadeWrong() const { return madeWrong_; }
    // Plausible calls that outlasted the budget; how many hostile ones the
    // user quit.
    const std::vector<std::string>& OverBudget() const { return overBudget_; }
    long QuitCalls() const { return quitCalls_; }

private:
    std::string picture_;
    Arg display1_;
    int port_ = 0;
    const walkworld::Media& media_;
    std::filesystem::path scratch_;
    int argIndex_ = 0;
    int results_ = 0;
    int lastError_ = 0;
    std::string* answer_ = nullptr;
    const std::vector<Making>* making_ = &MadeBefore("");
    // What the world was made with, and whether a call may have changed it
    // since.
    const std::vector<Making>* madeFor_ = nullptr;
    bool changed_ = true;
    Watchdog watchdog_;
    std::unique_ptr<PlayerWorld> world_;
    long calls_ = 0;
    long maxPumps_ = 0;
    std::vector<std::string> failures_;
    std::vector<std::string> overBudget_;
    long quitCalls_ = 0;
    std::vector<std::string> notArrived_;
    std::string madeWrong_;
};

std::vector<Arg> PaddedTo(std::vector<Arg> args, int count) {
    while (static_cast<int>(args.size()) < count) args.push_back(N(1));
    return args;
}

// Errors that say an argument was of the wrong kind; the argument they
// name is the one at fault.
bool KindError(int err) {
    static const std::set<int> codes = {ERR_MISSINGPARAMTR, ERR_TOOMANYARGS, ERR_NUMEXPECTED, ERR_STRINGEXPECTED,
                                        ERR_STREXPECTED,    ERR_TABEXPECTED, ERR_TABEXPECTED2, ERR_FUNCEXPECTED,
                                        ERR_INTEXPECTED,    ERR_UDEXPECTED,  ERR_STRORNUM,    ERR_TABLEORNIL};
    return codes.count(err) != 0;
}

// Errors that say an argument named no object (their number is the id).
bool LookupError(int err) {
    static const std::set<int> codes = {
        ERR_FINDACTIVITY,  ERR_FINDANIM,       ERR_FINDANIMSTREAM,
        ERR_FINDAPPLICATION, ERR_FINDARRAY,   ERR_FINDASYNCDRAW, ERR_FINDBGPIC,      ERR_FINDBRUSH,
        ERR_FINDBUTTON,     ERR_FINDCLIENT,   ERR_FINDCLIPREGION, ERR_FINDCST,       ERR_FINDDIR,
        ERR_FINDDISPLAY,    ERR_FINDFILE,     ERR_FINDFONT,      ERR_FINDFONT2,      ERR_FINDINTERVAL,
        ERR_FINDLAYER,      ERR_FINDLAYERDATA, ERR_FINDMEMBLK,   ERR_FINDMENU,       ERR_FINDMENUITEM,
        ERR_FINDMONITOR,    ERR_FINDMOVE,     ERR_FINDMUSIC,     ERR_FINDOBJECTDATA, ERR_FINDPATH,
        ERR_FINDPLUGIN,     ERR_FINDPOINTER,  ERR_FINDPORT,      ERR_FINDSAMPLE,     ERR_FINDSERVER,
        ERR_FINDSPRITE,     ERR_FINDTEXTOBJECT, ERR_FINDTIMEOUT, ERR_FINDTIMER,      ERR_FINDUDPOBJECT,
        ERR_FINDVIDEO};
    return codes.count(err) != 0;
}

// How far a call got: all the way, past its argument checks, or to the
// argument its error names (0 when the error names none).
constexpr int kReachedAll = 1000;
constexpr int kReachedPastArguments = 100;
int Reach(const Walker& walker, const std::string& command, int err) {
    // A call that ends without error but without the results it gives has
    // not been all the way: a handler that stops short must not pass.
    if (err == 0 && walker.Results() < LeastResults(command)) return kReachedPastArguments;
    if (err == 0 || err == RoadEnd(command)) return kReachedAll;
    if (LookupError(err) || err == ERR_INTERNAL) return 0;
    if (KindError(err)) return walker.ArgIndex() > 0 && walker.ArgIndex() <= kMaxArgs ? walker.ArgIndex() : 0;
    return kReachedPastArguments;
}

// What an argument may plausibly be: an id (every kind has an object 1), a
// number, one of the world's files, folders and addresses, a table or a
// function.
const std::vector<Arg>& Candidates() {
    static const std::vector<Arg> candidates = {
        N(1),          T("walk.txt"),  Picture(), T("walk.wav"), T("walk.mod"), T("walk.cdxl"),
        T("walk.gif"), T("walkdir"),   T("walk"), Url(),         T("127.0.0.1"), Table({}),
        Fn(),          N(2),           N(16),     N(0),          Port()};
    return candidates;
}

// The plausible arguments of a command: those listed, or as many as it
// needs at least, each the candidate that takes the call furthest (two
// rounds over the arguments, one at a time). *reach tells how far the
// chosen arguments got.
std::vector<Arg> PlausibleFor(Walker& walker, const std::string& command, int* reach, int* error) {
    walker.Fresh();
    if (auto it = PlausibleArgs().find(command); it != PlausibleArgs().end()) {
        const std::vector<Arg>& args = it->second;
        *error = walker.Run(Call{command, args}, Walker::Mode::kPlausible);
        *reach = Reach(walker, command, *error);
        // A move that returns has arrived.
        if (*reach == kReachedAll && MovedKind(command) >= 0 &&
            !walker.Arrived(MovedKind(command), args[3].number, args[4].number))
            walker.NotArrived(Call{command, args}.Describe());
        return args;
    }
    std::vector<Arg> args;
    int err = 0;
    while ((err = walker.Run(Call{command, args}, Walker::Mode::kPlausible)) == ERR_MISSINGPARAMTR &&
           static_cast<int>(args.size()) < kMaxArgs)
        args.push_back(N(1));
    int best = Reach(walker, command, err);
    *error = err;
    if (best == kReachedAll) walker.Fresh();
    for (int round = 0; round < 2 && best < kReachedAll; ++round) {
        for (size_t at = 0; at < args.size() && best < kReachedAll; ++at) {
            for (const Arg& candidate : Candidates()) {
                std::vector<Arg> trial = args;
                trial[at] = candidate;
                const int err = walker.Run(Call{command, trial}, Walker::Mode::kPlausible);
                const int reached = Reach(walker, command, err);
                // A call that went through may have changed the world.
                if (reached == kReachedAll) walker.Fresh();
                if (reached > best) {
                    best = reached;
                    *error = err;
                    args = std::move(trial);
                    if (best == kReachedAll) break;
                }
            }
        }
    }
    *reach = best;
    return args;
}

// What the plausible call with its numbers told apart (DistinctArgs) gives
// its user, after the call itself; empty when it has no number to tell
// apart. Of the schemes, the first whose call reaches the main road where
// the plausible call does, else the first scheme's answer (a refusal is
// an answer too).
std::string DistinctAnswer(Walker& walker, const std::string& command, const std::vector<Arg>& plausible,
                           bool plausibleReached, const std::filesystem::path& folder) {
    std::string first;
    std::set<std::string> tried = {Call{command, plausible}.Describe()};
    for (int scheme = 0; scheme < kDistinctSchemes; ++scheme) {
        const Call c{command, DistinctArgs(command, plausible, scheme)};
        std::string call = c.Describe();
        if (!tried.insert(call).second) continue;
        // (The tree's plugins are where the tree is.)
        const std::string plugins = QB_TEST_PLUGIN_DIR;
        if (const size_t at = call.find(plugins); at != std::string::npos)
            call.replace(at, plugins.size(), "<plugins>");
        const std::string answer = call.substr(0, 200) + " -> " + walker.Answer(c, folder);
        if (!plausibleReached || Reach(walker, command, walker.LastError()) == kReachedAll) return answer;
        if (first.empty()) first = answer;
    }
    return first;
}

// A value for an option field other than its default: of the kind the
// key asks for where a generic number would only be refused (colours),
// else a different number or text than the plausible table holds, else 3,
// which turns a flag on and differs from the usual defaults.
Arg OptionValue(const std::string& key, const Arg& table) {
    static const std::set<std::string> colours = {
        "transparency", "tintcolor", "shadowcolor", "bordercolor", "color", "fillcolor",
        "edgecolor",    "gradientstartcolor", "gradientendcolor", "backfill"};
    static const std::map<std::string, Arg> byKey = {
        {"rotate", N(30)}, {"width", N(7)}, {"height", N(5)}, {"name", T("walkoption")},
        {"title", T("walkoption")}, {"scalex", N(2)}, {"scaley", N(0.5)}, {"anchorx", N(0.5)},
        {"anchory", N(0.25)}, {"speed", N(2)}, {"volume", N(32)}, {"pitch", N(22050)}};
    if (colours.count(key)) return N(0x336699);
    if (const auto it = byKey.find(key); it != byKey.end()) return it->second;
    for (size_t i = 0; i < table.keys.size(); ++i) {
        const Arg& was = table.values[i];
        if (table.keys[i] != key) continue;
        if (was.kind == Arg::kNumber) return N(was.number + 2);
        if (was.kind == Arg::kText) return T(was.text + "2");
    }
    return N(3);
}

// What the plausible call with one option field ("place.key" as
// walk_fields.txt lists it) set otherwise gives its user.
std::string OptionAnswer(Walker& walker, const std::string& command, const std::vector<Arg>& plausible,
                         const std::string& field, const std::filesystem::path& folder) {
    const size_t dot = field.find('.');
    const int at = std::atoi(field.substr(0, dot).c_str());
    const std::string key = field.substr(dot + 1);
    std::vector<Arg> args = PaddedTo(plausible, at);
    Arg table = at <= static_cast<int>(plausible.size()) && plausible[at - 1].kind == Arg::kTable
                    ? plausible[at - 1]
                    : Table({});
    table.Set(key, OptionValue(key, table));
    args[at - 1] = table;
    return walker.Answer(Call{command, std::move(args)}, folder);
}

// Each argument position in turn holds each hostile value, up to one past
// the most the command takes (beyond that each call ends at the same count
// check). A wait's calls are made with the quit already asked for: at each
// place its plausible call fills, and one past the most it takes, some
// hostile value must end in the argument's error, not in the quit, or the
// wait quits before it checks its arguments. Returns those places.
std::vector<int> WalkArguments(Walker& walker, const std::string& command, const std::vector<Arg>& plausible) {
    const int most = MostArgs(command);
    const int last = most < 0 ? kMaxArgs : std::min(kMaxArgs, std::max(most + 1, static_cast<int>(plausible.size())));
    std::vector<int> unchecked;
    for (int at = 1; at <= last; ++at) {
        walker.Fresh();
        Call c{command, PaddedTo(plausible, at)};
        bool checked = false;
        for (int h = 0; h < kHostileCount; ++h) {
            if (!WalkedAt(command, h, at)) continue;
            c.args[at - 1] = Bad(static_cast<Hostile>(h));
            const int err = walker.Run(c);
            checked = checked || (err != 0 && err != ERR_USERABORT);
        }
        const bool filled = at <= static_cast<int>(plausible.size()) || at == most + 1;
        if (WaitsForUser(command) && filled && !checked) unchecked.push_back(at);
    }
    return unchecked;
}

// Where a command takes a table (an argument its signature writes in
// braces, or one its plausible arguments give), each field it looks up
// holds each hostile value. Fields read only once another has a certain
// value (the shadow's once "shadow" is on, a gradient's once the fill style
// says so) are found by setting each field found to 1, 2 and 3 in turn,
// two levels deep. Each field is tried in the table it was found in and
// beside as many others as the command accepts. Adds the fields found to
// *found, each as its argument's place and its key ("6.speed").
void WalkTableFields(Walker& walker, const std::string& command, const std::vector<Arg>& plausible,
                     std::set<std::string>* found) {
    constexpr int kDepth = 3;
    const int count = static_cast<int>(plausible.size());
    const std::vector<int>& places = TablePlaces(command);
    for (int at = 1; at <= kMaxArgs; ++at) {
        const bool given = at <= count && plausible[at - 1].kind == Arg::kTable;
        if (!given && std::find(places.begin(), places.end(), at) == places.end()) continue;
        const std::vector<Arg> args = PaddedTo(plausible, at);
        const Arg base = given ? plausible[at - 1] : Table({});
        auto with = [&](const Arg& table) {
            std::vector<Arg> a = args;
            a[at - 1] = table;
            return Call{command, std::move(a)};
        };
        // Each field with the table it was found in.
        std::map<std::string, Arg> fields;
        std::vector<std::pair<std::string, Arg>> frontier;
        walker.Fresh();
        Arg probe = base;
        std::set<std::string> reads;
        probe.reads = &reads;
        walker.Run(with(probe));
        // A table the command walks with its own iteration shows no look-ups:
        // the fields given in it count as read.
        for (const std::string& key : base.keys) reads.insert(key);
        for (const std::string& key : reads)
            if (fields.emplace(key, base).second) frontier.emplace_back(key, base);
        for (int depth = 1; depth < kDepth && !frontier.empty(); ++depth) {
            std::vector<std::pair<std::string, Arg>> next;
            for (const auto& [key, context] : frontier) {
                for (double value : {1.0, 2.0, 3.0}) {
                    Arg on = context;
                    on.Set(key, N(value));
                    std::set<std::string> more;
                    on.reads = &more;
                    walker.Run(with(on));
                    on.reads = nullptr;
                    for (const std::string& m : more)
                        if (fields.emplace(m, on).second) next.emplace_back(m, on);
                }
            }
            frontier = std::move(next);
        }
        for (const auto& [key, context] : fields) found->insert(std::to_string(at) + "." + key);
        // A field that is read anyway may matter only beside others (a
        // border's size once there is a border): as many fields set to 1 as
        // the command still accepts.
        Arg rich = base;
        walker.Fresh();
        for (const auto& [key, context] : fields) {
            Arg more = rich;
            more.Set(key, N(1));
            if (walker.Run(with(more)) == 0) rich = std::move(more);
        }
        for (const auto& [key, context] : fields) {
            // One world serves the field in both tables, unless the calls
            // in the first no longer find what they work on (the command
            // removed it).
            walker.Fresh();
            for (const Arg* around : {&context, static_cast<const Arg*>(&rich)}) {
                if (around == &rich && LookupError(walker.LastError())) walker.Fresh();
                for (int h = 0; h < kHostileCount; ++h) {
                    if (!WalkedWith(command, h)) continue;
                    Arg table = *around;
                    table.Set(key, Bad(static_cast<Hostile>(h)));
                    walker.Run(with(table));
                }
                // As elements of a list, one number of each kind stands for
                // its like (the other infinity, the huge ones, 2^31).
                for (Hostile h : {kNaN, kMinusInf, kMinusOne, kZero, kPow32Plus1}) {
                    if (!WalkedWith(command, h)) continue;
                    Arg table = *around;
                    table.Set(key, BadList(h));
                    walker.Run(with(table));
                }
            }
        }
    }
}

// With QB_WALK_ONLY set to a comma-separated list of commands, the walk
// calls those alone; with QB_WALK_TRACE set, it prints each call before it
// makes it (the call a sanitizer stops at).
bool Chosen(const std::string& command) {
    const char* only = std::getenv("QB_WALK_ONLY");
    return !only || ("," + std::string(only) + ",").find("," + command + ",") != std::string::npos;
}

// The walk gives the network commands texts and numbers as host names: none
// may reach a name server or leave this machine. The loopback address
// alone is known, as itself.
int NoNameLookups(const char* name, hostent* out, std::vector<char>& buffer) {
    if (std::string(name) != "127.0.0.1") return HOST_NOT_FOUND;
    // The lists of addresses and (no) aliases first, where their pointers
    // are aligned, then the address and the name.
    char* lists[3] = {nullptr, nullptr, nullptr};
    buffer.assign(sizeof lists + 4 + 10, 0);
    char* address = buffer.data() + sizeof lists;
    const in_addr loopback{htonl(INADDR_LOOPBACK)};
    std::memcpy(address, &loopback, 4);
    std::memcpy(address + 4, name, 10);
    lists[0] = address;
    std::memcpy(buffer.data(), lists, sizeof lists);
    *out = hostent{};
    out->h_name = address + 4;
    out->h_aliases = reinterpret_cast<char**>(buffer.data()) + 2;
    out->h_addrtype = AF_INET;
    out->h_length = 4;
    out->h_addr_list = reinterpret_cast<char**>(buffer.data());
    return 0;
}

// Walks every registered command whose place in the list is part modulo
// parts, with display 1 opened with the options given; prints what it did.
// (In parts so that a parallel run, and the collector's stress run in
// shards, spread the walk over all the cores.)
void WalkAllCommands(const Arg& display1, int part, int parts) {
    const bool scaled = std::find(display1.keys.begin(), display1.keys.end(), "scalemode") != display1.keys.end();
    SetHostByNameFunction(NoNameLookups);
    const std::string picture = test_bmp::WriteBmp(12, 10);
    // The dos library's commands make, copy and delete what the walk names
    // ("1", "nan" ...): they do it in a folder of the walk's own.
    const WalkScratch scratchFolder("walk");
    const std::filesystem::path& scratch = scratchFolder.path();
    const walkworld::Media media;
    walkworld::PageServer server;
    ASSERT_GT(server.port(), 0);
    const WalkScratch answerFolder("walkanswers");
    Walker walker(picture, display1, server.port(), media, scratch);
    walker.Fresh();
    std::set<std::string> libraries;
    const std::vector<std::string> commands = RegisteredCommands(&libraries);
    for (const char* lib : {"graphics", "event", "display", "brush", "bgpic", "layers", "system"})
        EXPECT_TRUE(libraries.count(lib)) << lib;
    EXPECT_FALSE(FlagResults("Exists").empty()) << "the flag results are read from docs/signatures.txt";

    // Debug and dump commands print; their output is no part of the result.
    ::testing::internal::CaptureStdout();
    int walked = 0, reached = 0, fields = 0;
    // Commands that miss their main road, or read no field of their options.
    std::vector<std::string> shortOf, listedButReached, noFields;
    // Waits that quit before they checked an argument.
    std::vector<std::string> quitUnchecked;
    // Option fields the command no longer reads, or reads and the record
    // lacks.
    std::vector<std::string> fieldsDropped, fieldsNew;
    // What the plausible calls now give their users that walk_answers.txt
    // does not record; only the unscaled display's walk records it, and the
    // collector's stress run, which walks for other faults, does not.
    const bool answers = !scaled && !std::getenv("QB_GC_STRESS");
    std::vector<std::string> answersChanged;
    // With QB_WALK_REPORT set, each command's plausible call and how far it got.
    std::string report;
    for (size_t i = static_cast<size_t>(part); i < commands.size(); i += static_cast<size_t>(parts)) {
        const std::string& command = commands[i];
        if (!Chosen(command) || (scaled && !MeetsTheDisplay(command))) continue;
        walker.MakeFor(MadeBefore(command));
        const auto started = std::chrono::steady_clock::now();
        int reach = 0, error = 0;
        const std::vector<Arg> plausible = PlausibleFor(walker, command, &reach, &error);
        ++walked;
        for (int at : WalkArguments(walker, command, plausible))
            quitUnchecked.push_back(command + " argument " + std::to_string(at));
        if (answers) {
            const LeftOut* out = LeftOutOf(command);
            std::string answer = "left out";
            if (!out || out->what != Unsteady::kAll) answer = walker.Answer({command, plausible}, answerFolder.path());
            if (out && out->what == Unsteady::kPixels) answer = answer.substr(0, answer.find(" drew "));
            const bool filesOut = out && out->what == Unsteady::kFiles;
            if (filesOut) answer = answer.substr(0, answer.find(" wrote "));
            std::vector<std::pair<std::string, std::string>> lines = {{command, answer}};
            if (LeftOutOf(command + "#distinct")) {
                lines.emplace_back(command + "#distinct", "left out");
            } else if (!out || out->what != Unsteady::kAll) {
                std::string distinct =
                    DistinctAnswer(walker, command, plausible, reach == kReachedAll, answerFolder.path());
                if (out && out->what == Unsteady::kPixels) distinct = distinct.substr(0, distinct.find(" drew "));
                if (filesOut) distinct = distinct.substr(0, distinct.find(" wrote "));
                if (!distinct.empty()) lines.emplace_back(command + "#distinct", distinct);
            }
            if (!out || out->what != Unsteady::kAll) {
                for (const std::string& field : ReadFields(command)) {
                    const std::string name = command + "@" + field;
                    const LeftOut* fieldOut = LeftOutOf(name);
                    std::string said = "left out";
                    if (!fieldOut || fieldOut->what != Unsteady::kAll)
                        said = OptionAnswer(walker, command, plausible, field, answerFolder.path());
                    // An async effect or move runs on by the clock after the call
                    // returns, so what it has drawn by then depends on the machine's
                    // pace.
                    const bool async = field.size() > 6 && field.compare(field.size() - 6, 6, ".async") == 0;
                    if (async || (out && out->what == Unsteady::kPixels) ||
                        (fieldOut && fieldOut->what == Unsteady::kPixels))
                        said = said.substr(0, said.find(" drew "));
                    if (filesOut || (fieldOut && fieldOut->what == Unsteady::kFiles))
                        said = said.substr(0, said.find(" wrote "));
                    lines.emplace_back(name, said);
                }
            }
            for (const auto& [name, said] : lines) {
                if (std::getenv("QB_WALK_ANSWERS"))
                    std::fprintf(stderr, "walk_answers: %s %s\n", name.c_str(), said.c_str());
                const auto recorded = RecordedAnswers().find(name);
                if (recorded == RecordedAnswers().end())
                    answersChanged.push_back(name + ": not recorded, now " + said);
                else if (recorded->second != said)
                    answersChanged.push_back(name + ": recorded " + recorded->second + ", now " + said);
            }
        }
        std::set<std::string> found;
        WalkTableFields(walker, command, plausible, &found);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
        report += Call{command, plausible}.Describe().substr(0, 200) + " -> " + std::to_string(error) + " in " +
                  std::to_string(ms) + " ms, " + std::to_string(found.size()) + " fields\n";
        bool all = reach == kReachedAll;
        for (const Variant& v : MoreWalks(command)) {
            walker.MakeFor(v.made);
            walker.Fresh();
            const int err = walker.Run(Call{command, v.args}, Walker::Mode::kPlausible);
            all = all && Reach(walker, command, err) == kReachedAll;
            report += "  and " + Call{command, v.args}.Describe() + " -> " + std::to_string(err) + "\n";
            for (int at : WalkArguments(walker, command, v.args))
                quitUnchecked.push_back(command + " argument " + std::to_string(at));
            WalkTableFields(walker, command, v.args, &found);
        }
        reached += all;
        fields += static_cast<int>(found.size());
        if (std::getenv("QB_WALK_FIELDS") && !found.empty()) {
            std::string line = command;
            for (const std::string& f : found) line += " " + f;
            std::fprintf(stderr, "%s\n", line.c_str());
        }
        for (const std::string& f : ReadFields(command))
            if (!found.count(f)) fieldsDropped.push_back(command + " " + f);
        for (const std::string& f : found)
            if (!ReadFields(command).count(f)) fieldsNew.push_back(command + " " + f);
        const bool listed = ShortOfRoad(scaled).count(command) != 0;
        if (!all && !listed)
            shortOf.push_back(Call{command, plausible}.Describe() + " -> " + std::to_string(error) + walker.MadeWrong());
        if (all && listed) listedButReached.push_back(command);
        if (TakesOptions(command) && found.empty()) noFields.push_back(command);
    }
    walker.End();
    ::testing::internal::GetCapturedStdout();
    if (std::getenv("QB_WALK_REPORT")) std::printf("%s", report.c_str());
    std::printf("%ld calls of %d of %zu commands in %zu libraries; %d reached their main road, %zu are known "
                "to stop short; %d option fields; at most %ld pumps in a plausible call; %ld hostile calls quit "
                "by the user\n",
                walker.Calls(), walked, commands.size(), libraries.size(), reached, walked - reached - shortOf.size(),
                fields, walker.MostPumps(), walker.QuitCalls());
    EXPECT_TRUE(walker.Failures().empty()) << ::testing::PrintToString(walker.Failures());
    EXPECT_TRUE(walker.NotArrivedMoves().empty())
        << "returned with the object elsewhere than their end: " << ::testing::PrintToString(walker.NotArrivedMoves());
    EXPECT_TRUE(walker.OverBudget().empty())
        << "moves or waits that did not end within " << kPumpBudget
        << " pumps: " << ::testing::PrintToString(walker.OverBudget());
    // The floor: every command reaches its main road but those the world is
    // known not to take there, and every option table is read.
    EXPECT_TRUE(shortOf.empty()) << "stop before their main road: " << ::testing::PrintToString(shortOf);
    EXPECT_TRUE(listedButReached.empty()) << "reach their main road, no longer short of it: "
                                          << ::testing::PrintToString(listedButReached);
    EXPECT_TRUE(noFields.empty()) << "read no field of their options: " << ::testing::PrintToString(noFields);
    EXPECT_TRUE(fieldsDropped.empty()) << "no longer read these option fields (place.key): "
                                       << ::testing::PrintToString(fieldsDropped);
    EXPECT_TRUE(fieldsNew.empty()) << "read option fields that walk_fields.txt does not list (QB_WALK_FIELDS=1 "
                                      "prints each command's line): "
                                   << ::testing::PrintToString(fieldsNew);
    EXPECT_TRUE(answersChanged.empty()) << "give their users another answer than walk_answers.txt records "
                                           "(QB_WALK_ANSWERS=1 prints each command's line): "
                                        << ::testing::PrintToString(answersChanged);
    EXPECT_TRUE(quitUnchecked.empty()) << "quit before they checked (the quit asked for, every hostile value "
                                          "ended in it): "
                                       << ::testing::PrintToString(quitUnchecked);
    std::remove(picture.c_str());
}

// The coordinate walk (src/README.md, "Numbers"): each command that takes
// a coordinate, offset or size is called on every picture a script draws
// into (DrawTargets) with each number at the edges of 32 bits (EdgeValues)
// in one of those places, the others plausible. The place turns with the
// value and the target, so that each place meets each value on some target
// and each target each value, and then all the argument places take each
// value at once; the calls on one target share a world. A command that
// works from a place the world keeps (a layer's, the text cursor, a path's
// points) is called once more with those places at each value. Every call must end in results or a script error; under the
// sanitizers no sum made from a coordinate may overflow.
void WalkCoordinates(const Arg& display1, int part, int parts) {
    const bool scaled = std::find(display1.keys.begin(), display1.keys.end(), "scalemode") != display1.keys.end();
    // The optimised build has no sanitizer to name the call a wild write
    // crashes in.
    NameCrashes("coordinate walk");
    SetHostByNameFunction(NoNameLookups);
    const std::string picture = test_bmp::WriteBmp(12, 10);
    const WalkScratch scratchFolder("coordwalk", part);
    const walkworld::Media media;
    walkworld::PageServer server;
    ASSERT_GT(server.port(), 0);
    Walker walker(picture, display1, server.port(), media, scratchFolder.path());
    // The first world registers the libraries.
    walker.Fresh();
    std::set<std::string> libraries;
    const std::vector<std::string> commands = RegisteredCommands(&libraries);
    const std::vector<EdgeValue>& values = EdgeValues();
    const std::vector<DrawTarget>& targets = DrawTargets();
    ::testing::internal::CaptureStdout();
    // Targets the world could not make for a command that needs nothing
    // made first: the walk would miss that picture. (A scaled display keeps
    // its layers on: its window and double buffer are not to be had.)
    std::vector<std::string> notMade;
    int walked = 0;
    for (size_t i = static_cast<size_t>(part); i < commands.size(); i += static_cast<size_t>(parts)) {
        const std::string& command = commands[i];
        const CoordinatePlaces& places = CoordinatesOf(command);
        const bool kept = WorksFromAKeptPlace(command);
        if (!Chosen(command) || !MeetsTheDisplay(command) || (places.Count() == 0 && !kept)) continue;
        ++walked;
        walker.MakeFor(MadeBefore(command));
        int reach = 0, error = 0;
        const std::vector<Arg> plausible = PlausibleFor(walker, command, &reach, &error);
        auto madeWith = [&](const std::vector<Making>& more) {
            std::vector<Making> made = MadeBefore(command);
            made.insert(made.end(), more.begin(), more.end());
            return made;
        };
        for (size_t t = 0; t < targets.size() && places.Count() > 0; ++t) {
            const std::vector<Making> made = madeWith(targets[t].made);
            walker.MakeFor(made);
            walker.Renew();
            if (!scaled && MadeBefore(command).empty() && !walker.MadeWrong().empty())
                notMade.push_back(std::string(targets[t].name) + " for " + command + walker.MadeWrong());
            for (size_t v = 0; v < values.size(); ++v) {
                const size_t at = (v + t) % places.Count();
                std::vector<Arg> args = plausible;
                if (at < places.args.size()) {
                    args = PaddedTo(args, places.args[at]);
                    args[places.args[at] - 1] = N(values[v].value);
                } else {
                    const auto& [place, key] = places.fields[at - places.args.size()];
                    args = PaddedTo(args, place);
                    if (args[place - 1].kind != Arg::kTable) args[place - 1] = Table({});
                    args[place - 1].Set(key, N(values[v].value));
                }
                walker.Run(Call{command, args});
            }
            // Every argument place at once: a far place plus a far size.
            for (size_t v = 0; v < values.size() && places.args.size() > 1; ++v) {
                std::vector<Arg> args = PaddedTo(plausible, places.args.back());
                for (int at : places.args) args[at - 1] = N(values[v].value);
                walker.Run(Call{command, args});
            }
        }
        for (size_t v = 0; v < values.size() && kept; ++v) {
            const std::vector<Making> made = madeWith(FarPlaces(values[v].value));
            walker.MakeFor(made);
            walker.Renew();
            walker.Run(Call{command, plausible});
        }
        walker.MakeFor(MadeBefore(""));
    }
    walker.End();
    ::testing::internal::GetCapturedStdout();
    std::printf("%ld calls of %d commands on %zu targets\n", walker.Calls(), walked, targets.size());
    EXPECT_TRUE(walker.Failures().empty()) << ::testing::PrintToString(walker.Failures());
    EXPECT_TRUE(notMade.empty()) << "targets not made: " << ::testing::PrintToString(notMade);
    std::remove(picture.c_str());
}

constexpr int kWalkParts = 8;

class CommandWalkTest : public ::testing::TestWithParam<int> {};

TEST_P(CommandWalkTest, HostileArgumentsEndInResultsOrScriptErrors) {
    WalkAllCommands(Table({{"width", N(64)}, {"height", N(48)}}), GetParam(), kWalkParts);
}

// The picture shown at twice its size: sizes, positions and refreshes go
// through the scale factors (for the commands that meet the display).
TEST_P(CommandWalkTest, HostileArgumentsOnAScaledDisplay) {
    WalkAllCommands(Table({{"width", N(64)},
                           {"height", N(48)},
                           {"scalemode", N(2)},
                           {"scalewidth", N(128)},
                           {"scaleheight", N(96)}}),
                    GetParam(), kWalkParts);
}

INSTANTIATE_TEST_SUITE_P(Part, CommandWalkTest, ::testing::Range(0, kWalkParts));

class CoordinateWalkTest : public ::testing::TestWithParam<int> {};

TEST_P(CoordinateWalkTest, EdgeCoordinatesOnEveryTargetEndInResultsOrScriptErrors) {
    WalkCoordinates(Table({{"width", N(64)}, {"height", N(48)}}), GetParam(), kWalkParts);
}

// Through the scale factors of a display shown at twice its size.
TEST_P(CoordinateWalkTest, EdgeCoordinatesOnAScaledDisplay) {
    WalkCoordinates(Table({{"width", N(64)},
                           {"height", N(48)},
                           {"scalemode", N(2)},
                           {"scalewidth", N(128)},
                           {"scaleheight", N(96)}}),
                    GetParam(), kWalkParts);
}

INSTANTIATE_TEST_SUITE_P(Part, CoordinateWalkTest, ::testing::Range(0, kWalkParts));

}  // namespace
