// The all-commands walk in a busy world: every registered command is called
// once, with the walk's plausible arguments, while each of two displays (one
// with layers, one without) has asynchronous transitions half drawn, an
// asynchronous move and an asynchronous anim playing. With layers the
// transitions play in layers of the objects the walk's 1s name (brush 1 whole
// and in part, anim 1, text object 1) and into an emulated BGPic (BGPic 2);
// the move and the anim hold other objects, so that the commands reach those
// the transitions read. After the call every drawing is stepped twice and
// cancelled. Whatever the command freed, replaced or resized under a drawing,
// nothing may read or write freed or foreign memory: a sanitizer report or a
// crash fails the run and names the command (the sanitizer tree runs it from
// ./test).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "command_call.h"
#include "core/applet.h"
#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "core/linkeddata.h"
#include "core/runstate.h"
#include "core/settings.h"
#include "core/timerthread.h"
#include "display/displays.h"
#include "display/events.h"
#include "display/refresh.h"
#include "libs/network.h"
#include "platform/null/null_backend.h"
#include "player/cmdline.h"
#include "player/startup.h"
#include "qbcommands/signatures.h"
#include "test_bmp.h"
#include "vm/vm.h"
#include "walk_args.h"
#include "walk_player.h"
#include "walk_push.h"
#include "walk_world.h"

namespace {

using namespace walkworld;

// After this many pumps in one call the user closes the window, and every
// wait ends in the quit.
constexpr long kPatience = 16;
constexpr int kParts = 6;

// The walk's plausible call: its listed arguments, else as many 1s as the
// command needs, a table where it takes one.
std::vector<Arg> Plausible(const std::string& command) {
    if (auto it = PlausibleArgs().find(command); it != PlausibleArgs().end()) return it->second;
    std::vector<Arg> args;
    const int count = LeastArgs(command);
    for (int i = 1; i <= count; ++i) {
        const std::vector<int>& tables = TablePlaces(command);
        args.push_back(std::find(tables.begin(), tables.end(), i) != tables.end() ? Table({}) : N(1));
    }
    return args;
}

// A player with two open displays, each busy with three drawings.
class BusyWorld {
public:
    struct Call {
        std::string command;
        std::vector<Arg> args;
        std::string keep;  // the first result is kept as Made(keep)
    };

    // held: brush 1 and text object 1 are shown by DisplayBrushFX and
    // DisplayTextObjectFX with layers, which hold them, instead of by
    // transitions in layers that were there before.
    BusyWorld(const std::string& picture, int port, bool held) : picture_(picture), port_(port), held_(held) {
        ResetWalkProcess(&player_, uint64_t{1} << 22);
        L = VmOpen();
        if (!L || !StartWalkPlayer(L, &player_, "qbbusywalk")) return;
        SetNetworkTimeoutValue(20);
        Prelude();
    }
    ~BusyWorld() {
        EndWalkPlayer(L, &player_);
    }
    BusyWorld(const BusyWorld&) = delete;
    BusyWorld& operator=(const BusyWorld&) = delete;

    const std::vector<std::string>& Errors() const { return errors_; }

    // The call, with the user closing the window when it waits too long.
    int Run(const Call& c) {
        VmSetTop(L, 0);
        AnswerAsTheUser(c.command, kPatience, first_);
        for (const Arg& a : c.args) Push(a);
        const int err = CallCommand(L, c.command.c_str(), static_cast<int>(c.args.size()), 1);
        if (!err && !c.keep.empty() && VmType(L, -1) != kTypeNil) made_[c.keep] = VmMakeRef(L, kRegistryIndex);
        null_backend::SetPumpObserver({});
        VmSetTop(L, 0);
        return err;
    }

    void Make(const std::vector<Making>& making) {
        for (const Making& m : making) Run({m.call.command, m.call.args, m.name});
    }

    // Every drawing of the prelude, on its display: two frames, then
    // cancelled. Errors are the script's (a drawing a command ended is no
    // longer found); only a crash counts.
    void StepAndCancelDrawings() {
        for (const auto& [display, name] : drawings_) {
            Run({"SelectDisplay", {N(display)}, ""});
            Run({"AsyncDrawFrame", {Made(name)}, ""});
            Run({"AsyncDrawFrame", {Made(name)}, ""});
            Run({"CancelAsyncDraw", {Made(name)}, ""});
        }
    }

    ScriptState* L = nullptr;

private:

    void Step(const Call& c) {
        if (int err = Run(c)) errors_.push_back(walkworld::Call{c.command, c.args}.Describe() + " -> " +
                                               std::to_string(err));
    }

    // Transitions half drawn in layers 2 to 6 of display 1: brush 1 whole
    // and in part, anim 1 and text object 1, each shown before (or, held,
    // by the transition itself), and brush 2 showing BGPic 2 emulated.
    std::vector<Call> LayerTransitions(const Arg& effect) const {
        Arg emulated = effect;
        emulated.Set("bgpicemu", N(1));
        emulated.Set("bgpic", N(2));
        std::vector<Call> calls;
        // A showing transition draws from the layer's picture at every frame.
        auto show = [&](const Call& display, int layer, const Arg& options, const std::string& name) {
            calls.push_back(display);
            calls.push_back({"HideLayer", {N(layer)}, ""});
            calls.push_back({"ShowLayerFX", {N(layer), options}, name});
        };
        if (held_) calls.push_back({"DisplayBrushFX", {N(1), N(4), N(4), effect}, "fxbrush"});
        else show({"DisplayBrush", {N(1), N(4), N(4)}, ""}, 2, effect, "fxbrush");
        // The whole brush, as a part: the transition reads the brush itself.
        show({"DisplayBrushPart", {N(1), N(0), N(0), N(40), N(4), N(16), N(16)}, ""}, 3, effect, "fxpart");
        show({"DisplayAnimFrame", {N(1), N(20), N(24), N(1)}, ""}, 4, effect, "fxanim");
        if (held_) calls.push_back({"DisplayTextObjectFX", {N(1), N(30), N(30), effect}, "fxtext"});
        else show({"DisplayTextObject", {N(1), N(30), N(30)}, ""}, 5, effect, "fxtext");
        show({"DisplayBrush", {N(2), N(0), N(0)}, ""}, 6, emulated, "fxemu");
        for (const char* fx : {"fxbrush", "fxpart", "fxanim", "fxtext", "fxemu"})
            calls.push_back({"AsyncDrawFrame", {Made(fx)}, ""});
        return calls;
    }

    // Display 1 with layers, display 2 without; on each transitions drawn
    // halfway (in layers of display 1), a move and an anim, asynchronous.
    void Prelude() {
        const Arg async = Table({{"async", N(1)}});
        const Arg effect = Table({{"type", C("HSTRIPES16")}, {"async", N(1)}});
        const std::vector<Call> objects = {
            {"CreateDisplay", {N(1), Table({{"width", N(64)}, {"height", N(48)}})}, ""},
            {"CreateDisplay", {N(2), Table({{"width", N(64)}, {"height", N(48)}})}, ""},
            {"CreateBrush", {N(1), N(16), N(16), N(0xFF8040)}, ""},
            // Masked, so that the changes of its mask free one a transition reads.
            {"SetBrushTransparency", {N(1), N(0)}, ""},
            {"CreateBrush", {N(2), N(64), N(48), N(0x40FF80)}, ""},
            {"CreateBrush", {N(3), N(12), N(12), N(0x8040FF)}, ""},
            {"CreateBGPic", {N(2), N(16), N(16), N(0x204080)}, ""},
            {"CreateMenu", {N(1), Menu()}, ""},
            {"CreateButton", {N(1), N(0), N(0), N(8), N(8)}, ""},
            {"LoadSample", {N(1), T("walk.wav")}, ""},
            {"OpenMusic", {N(1), T("walk.wav")}, ""},
            {"LoadAnim", {N(1), T("walk.gif")}, ""},
            {"LoadAnim", {N(2), T("walk.gif")}, ""},
            {"OpenFont", {N(1), T(":::default_sans"), N(12)}, ""},
            {"CreateTextObject", {N(1), T("walk")}, ""},
            {"LoadSprite", {N(1), T("walk.gif")}, ""},
            {"AllocMem", {N(1), N(256)}, ""},
            {"OpenFile", {N(1), T("walk.txt")}, ""},
            {"CreateClipRegion", {N(1), N(14), N(0), N(0), N(8), N(8)}, ""},
            {"OpenVideo", {N(1), T("walk.cdxl")}, ""},
        };
        for (const Call& c : objects) Step(c);
        if (!errors_.empty()) return;
        if (StartDisplays(L)) {
            errors_.push_back("StartDisplays");
            return;
        }
        qbDisplay* d = nullptr;
        GetDisplayRecord(ObjectID{1, nullptr}, &d);
        first_ = d;
        for (int display : {2, 1}) {
            const std::string n = std::to_string(display);
            std::vector<Call> busy = {{"SelectDisplay", {N(display)}, ""}};
            // With layers the transition plays in layer 1, which the walk's
            // row of 1s names: a text layer, whose picture is its own.
            if (display == 1) {
                busy.push_back({"EnableLayers", {}, ""});
                busy.push_back({"TextOut", {N(0), N(0), T("busy walk text")}, ""});
                busy.push_back({"HideLayerFX", {N(1), effect}, "fx" + n});
            } else {
                busy.push_back({"DisplayBrushFX", {N(2), N(0), N(0), effect}, "fx" + n});
            }
            busy.push_back({"AsyncDrawFrame", {Made("fx" + n)}, ""});
            if (display == 1) {
                for (Call& c : LayerTransitions(effect)) busy.push_back(std::move(c));
                busy.push_back({"MakeButton", {N(1), N(0), N(0), N(0), N(8), N(8), Handlers()}, ""});
            }
            busy.push_back({"MoveBrush", {N(3), N(0), N(0), N(40), N(30), async}, "move" + n});
            busy.push_back({"AsyncDrawFrame", {Made("move" + n)}, ""});
            busy.push_back({"PlayAnim", {N(2), N(20), N(20), async}, "anim" + n});
            busy.push_back({"AsyncDrawFrame", {Made("anim" + n)}, ""});
            for (const Call& c : busy) Step(c);
            std::vector<std::string> kinds = {"fx" + n, "move" + n, "anim" + n};
            if (display == 1)
                for (const char* fx : {"fxbrush", "fxpart", "fxanim", "fxtext", "fxemu"}) kinds.push_back(fx);
            for (const std::string& kind : kinds) {
                drawings_.emplace_back(display, kind);
                if (!made_.count(kind)) errors_.push_back(kind + " was not made");
            }
        }
    }

    void Push(const Arg& a) {
        const PushPlace place{L, picture_, port_, made_, [this] { PushMenu(); }, [this](const Arg&) { VmPushNil(L); },
                              nullptr};
        PushWalkArg(place, a);
    }

    void PushMenu() {
        PushWalkMenu(L, [this] {
            VmPushString(L, "Item");
            VmRawSetIndex(L, -2, 0);
        });
    }

    std::string picture_;
    int port_ = 0;
    WalkPlayer player_;
    qbDisplay* first_ = nullptr;
    bool held_ = false;
    std::vector<std::string> errors_;
    std::map<std::string, int> made_;
    std::vector<std::pair<int, std::string>> drawings_;
};

// The calls of a command beyond the plausible one, made one after another in
// the same world: SetLayerStyle restyles each layer a transition plays in,
// by size, turn, transparency and what each kind of layer shows.
std::vector<std::vector<Arg>> BusyCalls(const std::string& command) {
    if (command != "SetLayerStyle") return {Plausible(command)};
    const std::vector<Arg> tables = {
        Table({{"width", N(24)}, {"height", N(20)}}),
        Table({{"rotate", N(30)}, {"scalex", N(2)}}),
        Table({{"transparency", N(128)}, {"x", N(8)}}),
        Table({{"partx", N(1)}, {"party", N(1)}, {"partwidth", N(6)}, {"partheight", N(6)}}),
        Table({{"frame", N(2)}}),
        Table({{"text", T("restyled")}}),
    };
    std::vector<std::vector<Arg>> calls;
    for (int layer = 1; layer <= 6; ++layer)
        for (const Arg& t : tables) calls.push_back({N(layer), t});
    return calls;
}

void WalkBusy(int part) {
    // The collector's stress run looks for what a command leaves unreachable,
    // which the all-commands walk covers; a world per call under it would
    // take hours.
    if (std::getenv("QB_GC_STRESS")) GTEST_SKIP() << "covered by the all-commands walk";
    NameCrashes("busy walk");
    const std::string picture = test_bmp::WriteBmp(12, 10);
    const WalkScratch scratchFolder("busywalk", part);
    const std::filesystem::path& scratch = scratchFolder.path();
    const Media media;
    PageServer server;
    ASSERT_GT(server.port(), 0);
    std::vector<std::string> commands;
    SayWalking("the busy world alone");
    for (const bool held : {true, false}) {
        media.Lay(scratch);
        BusyWorld first(picture, server.port(), held);
        ASSERT_TRUE(first.Errors().empty()) << ::testing::PrintToString(first.Errors());
        if (held) continue;
        for (const CommandTableNode& node : RegisteredCommandTables())
            for (const ScriptCommand* row = node.table; row && row->name; ++row)
                if (row->handler && !WaitsForever(row->name)) commands.push_back(row->name);
    }
    ASSERT_GT(commands.size(), 600u);
    ::testing::internal::CaptureStdout();
    std::vector<std::string> noWorld;
    int walked = 0;
    for (size_t i = static_cast<size_t>(part); i < commands.size(); i += kParts) {
        const std::string& command = commands[i];
        // Once on each display: what a command works on is mostly the
        // current display's. The run on display 2 has brush 1 and text
        // object 1 held by their transitions.
        for (const int display : {1, 2}) {
            std::filesystem::current_path(scratch);
            media.Lay(scratch);
            BusyWorld world(picture, server.port(), display == 2);
            if (!world.Errors().empty()) {
                noWorld.push_back(command + ": " + world.Errors().front());
                continue;
            }
            world.Run({"SelectDisplay", {N(display)}, ""});
            const std::string on = command + " on display " + std::to_string(display);
            SayWalking(on);
            world.Make(MadeBefore(command));
            for (const std::vector<Arg>& args : BusyCalls(command)) world.Run({command, args, ""});
            SayWalking(on + ", then the drawings' frames");
            world.StepAndCancelDrawings();
            SayWalking(on + ", then the shutdown");
        }
        ++walked;
    }
    SayWalking("(none)");
    ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(noWorld.empty()) << ::testing::PrintToString(noWorld);
    EXPECT_GT(walked, 0);
    std::remove(picture.c_str());
}

class BusyWalkTest : public ::testing::TestWithParam<int> {};

TEST_P(BusyWalkTest, CommandsBesideRunningDrawingsNeverCrash) { WalkBusy(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Part, BusyWalkTest, ::testing::Range(0, kParts));

}  // namespace
