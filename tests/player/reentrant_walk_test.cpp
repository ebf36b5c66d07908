// The all-commands walk with script code inside the commands: every command
// (but those that wait for ever) is called with the walk's plausible
// arguments, a table at each place it takes one, on a display with layers
// and on one without, with every event handler installed. Each script-code point the call
// gives it (its tables' "__index", the functions it is given, those in its
// tables: handlers and callbacks) is the world's function, which counts its
// calls: a first run counts them, then one run for each N from 1 to that
// count makes the other display current and frees every object of every
// kind (at the world's ids, the objects it made and every id the call
// names) at the N-th call only, so the road between each look-up and its
// use is tried. A command that found its object before must find it again;
// a sanitizer report or a crash fails the run and names the command (the
// sanitizer tree runs it from ./test). The free stands: the command ends
// with results or a script error. Which points each command reaches is
// kept in a table below, so a new road into script code is seen.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "command_call.h"
#include "core/applet.h"
#include "core/eventqueue.h"
#include "core/linkeddata.h"
#include "core/runstate.h"
#include "core/settings.h"
#include "core/timerthread.h"
#include "display/displays.h"
#include "display/eventlib.h"
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

constexpr long kPatience = 16;
constexpr int kParts = 8;

// Where a command runs script code, as the walk gives it.
enum Point { kOptionField, kGivenFunction, kTableFunction, kEventHandler, kPointCount };
constexpr const char* kPointNames[kPointCount] = {"option field", "given function", "function in a table",
                                                  "event handler"};

// The plausible call, with a table at every place the command takes one,
// up to the last (Nil before it where the plausible call stops short).
std::vector<Arg> WithTables(const std::string& command) {
    std::vector<Arg> args;
    if (auto it = PlausibleArgs().find(command); it != PlausibleArgs().end()) args = it->second;
    const int least = LeastArgs(command);
    const std::vector<int>& tables = TablePlaces(command);
    auto isTable = [&](int place) { return std::find(tables.begin(), tables.end(), place) != tables.end(); };
    for (int place = static_cast<int>(args.size()) + 1; place <= least; ++place)
        args.push_back(isTable(place) ? Table({}) : N(1));
    const int last = tables.empty() ? 0 : *std::max_element(tables.begin(), tables.end());
    for (int place = static_cast<int>(args.size()) + 1; place <= last; ++place)
        args.push_back(isTable(place) ? Table({}) : Bad(kNil));
    return args;
}

// What frees: every command of the player that frees, closes, deletes or
// removes an object, each called with one id, and the ones that take none.
std::vector<std::string> Freeing() {
    std::vector<std::string> names;
    for (const CommandTableNode& node : RegisteredCommandTables())
        for (const ScriptCommand* row = node.table; row && row->name; ++row) {
            const std::string n = row->name;
            const bool frees = n.rfind("Free", 0) == 0 || n.rfind("Close", 0) == 0 || n == "DeleteAlphaChannel" ||
                               n == "DeleteMask" || n == "DeleteButton" || n == "RemoveButton" ||
                               n == "RemoveLayer" || n == "RemoveSprite" || n == "RemoveSprites" ||
                               n == "DisableLayers";
            if (frees && row->handler) names.push_back(n);
        }
    return names;
}

// The world's function at every script-code point of the call: it counts
// its calls, frees everything at the one numbered freeAt and finds nothing.
struct Freer {
    std::vector<std::string> commands;
    std::vector<double> ids;
    std::vector<int> handles;  // registry references of made values
    int other = 2;             // the display made current before the frees
    int freeAt = 0;            // counted from 1; 0: the counting run
    int calls = 0;
    bool reached[kPointCount] = {};
    bool freeing = false;
};

int AtScriptPoint(ScriptState* L) {
    auto* f = static_cast<Freer*>(VmToUserdata(L, VmUpvalueIndex(1)));
    // A free's own look-ups count nothing.
    if (f->freeing) return 0;
    f->reached[static_cast<int>(VmToNumber(L, VmUpvalueIndex(2)))] = true;
    if (++f->calls != f->freeAt) return 0;
    f->freeing = true;
    // The command's display can be freed only once another is current.
    const int top = VmGetTop(L);
    VmPushNumber(L, f->other);
    CallCommand(L, "SelectDisplay", 1, 0);
    VmSetTop(L, top);
    for (const std::string& c : f->commands) {
        const int top = VmGetTop(L);
        CallCommand(L, c.c_str(), 0, 0);
        VmSetTop(L, top);
        for (double id : f->ids) {
            VmPushNumber(L, id);
            CallCommand(L, c.c_str(), 1, 0);
            VmSetTop(L, top);
        }
        for (int ref : f->handles) {
            VmRawGetIndex(L, kRegistryIndex, ref);
            CallCommand(L, c.c_str(), 1, 0);
            VmSetTop(L, top);
        }
    }
    f->freeing = false;
    return 0;
}

// Every number the call names, as an id.
void NamedIds(const Arg& a, std::set<double>* ids) {
    if (a.kind == Arg::kNumber && std::isfinite(a.number) && std::fabs(a.number) < 1e6) ids->insert(a.number);
    for (const Arg& v : a.values) NamedIds(v, ids);
    for (const Arg& v : a.items) NamedIds(v, ids);
}

// A player with displays 1 (layers on, a brush and a text shown) and 2
// (layers off) open, and an object of every kind at id 1.
class World {
public:
    World(const std::string& picture, int port) : picture_(picture), port_(port) {
        ResetWalkProcess(&player_, uint64_t{1} << 22);
        L = VmOpen();
        if (!L || !StartWalkPlayer(L, &player_, "qbreentrantwalk")) return;
        SetNetworkTimeoutValue(20);
        Prelude();
    }
    ~World() {
        EndWalkPlayer(L, &player_);
    }
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    const std::vector<std::string>& Errors() const { return errors_; }

    // The call; with freer given, its tables' look-ups and the functions it
    // is given are the freer's. The user closes the window when it waits.
    int Run(const std::string& command, const std::vector<Arg>& args, const std::string& keep = "",
            Freer* freer = nullptr) {
        VmSetTop(L, 0);
        AnswerAsTheUser(command, kPatience, first_);
        if (freer) {
            std::set<double> ids{1, 2};
            for (const Arg& a : args) NamedIds(a, &ids);
            freer->ids.assign(ids.begin(), ids.end());
            for (const auto& [name, ref] : made_) freer->handles.push_back(ref);
        }
        const PushPlace place{L,
                              picture_,
                              port_,
                              made_,
                              [this] { PushWalkMenu(L, [this] {
                                  VmPushString(L, "Item");
                                  VmRawSetIndex(L, -2, 0);
                              }); },
                              [this](const Arg&) { VmPushNil(L); },
                              [this, freer](const Arg& table) {
                                  if (!freer) return;
                                  for (size_t i = 0; i < table.keys.size(); ++i) {
                                      if (table.values[i].kind != Arg::kFunction) continue;
                                      VmPushString(L, table.keys[i].c_str());
                                      PushPoint(freer, kTableFunction);
                                      VmRawSet(L, -3);
                                  }
                                  VmPushNewTable(L);
                                  VmPushString(L, "__index");
                                  PushPoint(freer, kOptionField);
                                  VmRawSet(L, -3);
                                  VmSetMetatable(L, -2);
                              }};
        for (const Arg& a : args) {
            if (freer && a.kind == Arg::kFunction)
                PushPoint(freer, kGivenFunction);
            else
                PushWalkArg(place, a);
        }
        const int err = CallCommand(L, command.c_str(), static_cast<int>(args.size()), 1);
        if (!err && !keep.empty() && VmType(L, -1) != kTypeNil) made_[keep] = VmMakeRef(L, kRegistryIndex);
        null_backend::SetPumpObserver({});
        VmSetTop(L, 0);
        return err;
    }

    void Make(const std::vector<Making>& making) {
        for (const Making& m : making) Run(m.call.command, m.call.args, m.name);
    }

    // Every event handler a script can install, but the one for closing
    // the window, by which the user ends a wait.
    void InstallHandlers(Freer* freer) {
        const int top = VmGetTop(L);
        VmPushNewTable(L);
        auto add = [&](const char* name) {
            if (std::strcmp(name, "closewindow") == 0) return;
            VmPushString(L, name);
            PushPoint(freer, kEventHandler);
            VmRawSet(L, -3);
        };
        for (const char* name : kDisplayHandlerNames) add(name);
        for (const char* name : kObjectHandlerNames) add(name);
        CallCommand(L, "InstallEventHandler", 1, 0);
        VmSetTop(L, top);
    }

    ScriptState* L = nullptr;

private:
    void PushPoint(Freer* freer, Point point) {
        VmPushLightUserdata(L, freer);
        VmPushNumber(L, point);
        VmPushCClosure(L, AtScriptPoint, 2);
    }

    void Step(const std::string& command, const std::vector<Arg>& args) {
        if (int err = Run(command, args))
            errors_.push_back(walkworld::Call{command, args}.Describe() + " -> " + std::to_string(err));
    }

    void Prelude() {
        for (const auto& [command, args] : ObjectsOfEveryKind()) Step(command, args);
        if (!errors_.empty()) return;
        if (StartDisplays(L)) {
            errors_.push_back("StartDisplays");
            return;
        }
        qbDisplay* d = nullptr;
        GetDisplayRecord(ObjectID{1, nullptr}, &d);
        first_ = d;
        for (const auto& [command, args] : std::vector<std::pair<std::string, std::vector<Arg>>>{
                 {"SelectDisplay", {N(1)}},
                 {"EnableLayers", {}},
                 {"TextOut", {N(0), N(0), T("reentrant walk")}},
                 {"DisplayBrush", {N(1), N(4), N(4)}},
                 {"MakeButton", {N(1), N(0), N(0), N(0), N(8), N(8), Handlers()}},
             })
            Step(command, args);
    }

    std::string picture_;
    int port_ = 0;
    WalkPlayer player_;
    qbDisplay* first_ = nullptr;
    std::vector<std::string> errors_;
    std::map<std::string, int> made_;
};

// The script-code points each command reaches with the walk's plausible
// arguments, on either display: a command that comes to reach another (or
// no longer reaches one) fails the walk until it is listed here.
const std::map<Point, std::set<std::string>>& PointTable() {
    static const std::map<Point, std::set<std::string>> table = {
        {kOptionField,
         {
             "AddBoxToPath", "AddTextToPath", "Arc", "BeginAnimStream", "Box", "ChangeDisplayMode",
             "ChangeDisplaySize", "Circle", "ClearScreen", "CopyBrush", "CreateBrush", "CreateDisplay",
             "CreateGradientBGPic", "CreateGradientBrush", "CreateLayer", "CreateRainbowBGPic", "CreateTextObject",
             "DisplayAnimFrame", "DisplayBGPic", "DisplayBGPicPart", "DisplayBGPicPartFX", "DisplayBrush",
             "DisplayBrushFX", "DisplayBrushPart", "DisplayTextObject", "DisplayTextObjectFX", "DisplayTransitionFX",
             "DisplayVideoFrame", "DrawPath", "Ellipse", "Eval", "GrabDesktop", "HideLayerFX", "InsertSample",
             "IsAnim", "IsModule", "IsMusic", "IsPicture", "IsSample", "IsVideo", "Line", "LoadAnim",
             "LoadAnimFrame", "LoadBGPic", "LoadBrush", "LoadModule", "LoadSample", "LoadSprite", "MemToTable",
             "MoveAnim", "MoveBrush", "MoveLayer", "MoveSprite", "MoveTextObject", "OpenDirectory", "OpenDisplay",
             "OpenFile", "OpenFont", "OpenMusic", "OpenVideo", "PlayAnim", "PlayModule", "PlayMusic", "PlaySample",
             "PlayVideo", "Polygon", "RemoveLayerFX", "SaveAnim", "SaveBrush", "SaveSnapshot",
             "SetDisplayAttributes", "SetDrawTagsDefault", "SetFont", "SetLayerStyle", "ShowLayerFX", "TableToMem",
             "TextOut", "UndoFX", "UploadFile", "WriteAnimFrame"
         }},
        {kGivenFunction, {"ForEach"}},
        // The walk's handlers and callbacks in tables (MakeButton's) wait
        // for events no walked command makes.
        {kTableFunction, {}},
        // The fill request of a script-fed music, from inside the command.
        {kEventHandler, {"CreateMusic", "FlushMusicBuffer"}},
    };
    return table;
}

bool Reaches(Point point, const std::string& command) { return PointTable().at(point).count(command) != 0; }

// One world for one run of the command on the display; false (noted in
// noWorld) when the world could not be made.
bool RunInWorld(const std::string& command, int display, const std::string& picture, int port, const Media& media,
                const std::filesystem::path& scratch, Freer* freer, std::vector<std::string>* noWorld) {
    std::filesystem::current_path(scratch);
    media.Lay(scratch);
    World world(picture, port);
    if (!world.Errors().empty()) {
        noWorld->push_back(command + ": " + world.Errors().front());
        return false;
    }
    world.Run("SelectDisplay", {N(display)});
    world.Make(MadeBefore(command));
    // A display to open: the world's are open.
    if (command == "OpenDisplay") world.Run("CloseDisplay", {N(2)});
    world.InstallHandlers(freer);
    const std::string on = command + " on display " + std::to_string(display) +
                           (freer->freeAt ? ", freeing at call " + std::to_string(freer->freeAt) : ", counting");
    SayWalking(on);
    world.Run(command, WithTables(command), "", freer);
    SayWalking(on + ", then the shutdown");
    return true;
}

void WalkReentrant(int part) {
    // The collector's stress run looks for what a command leaves
    // unreachable, which the all-commands walk covers.
    if (std::getenv("QB_GC_STRESS")) GTEST_SKIP() << "covered by the all-commands walk";
    NameCrashes("reentrant walk");
    const std::string picture = test_bmp::WriteBmp(12, 10);
    const WalkScratch scratchFolder("reentrantwalk", part);
    const std::filesystem::path& scratch = scratchFolder.path();
    const Media media;
    PageServer server;
    ASSERT_GT(server.port(), 0);
    std::vector<std::string> commands;
    std::vector<std::string> freeing;
    {
        media.Lay(scratch);
        World first(picture, server.port());
        ASSERT_TRUE(first.Errors().empty()) << ::testing::PrintToString(first.Errors());
        for (const CommandTableNode& node : RegisteredCommandTables())
            for (const ScriptCommand* row = node.table; row && row->name; ++row)
                if (row->handler && !WaitsForever(row->name)) commands.push_back(row->name);
        freeing = Freeing();
    }
    ASSERT_GT(commands.size(), 100u);
    ASSERT_GT(freeing.size(), 20u);
    ::testing::internal::CaptureStdout();
    std::vector<std::string> noWorld, unlisted;
    int walked = 0, reading = 0, runs = 0;
    for (size_t i = static_cast<size_t>(part); i < commands.size(); i += kParts) {
        const std::string& command = commands[i];
        bool reached[kPointCount] = {};
        // On display 1, with layers, and on display 2, without.
        for (const int display : {1, 2}) {
            Freer counting;
            counting.commands = freeing;
            counting.other = 3 - display;
            if (!RunInWorld(command, display, picture, server.port(), media, scratch, &counting, &noWorld)) continue;
            for (int p = 0; p < kPointCount; ++p) reached[p] = reached[p] || counting.reached[p];
            reading += counting.calls > 0 ? 1 : 0;
            ++walked;
            for (int at = 1; at <= counting.calls; ++at) {
                Freer freer;
                freer.commands = freeing;
                freer.other = 3 - display;
                freer.freeAt = at;
                RunInWorld(command, display, picture, server.port(), media, scratch, &freer, &noWorld);
                ++runs;
            }
        }
        for (int p = 0; p < kPointCount; ++p)
            if (reached[p] != Reaches(static_cast<Point>(p), command))
                unlisted.push_back(std::string(kPointNames[p]) + (reached[p] ? " reached by " : " not reached by ") +
                                   command);
    }
    SayWalking("(none)");
    ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(noWorld.empty()) << ::testing::PrintToString(noWorld);
    // The table of script-code points names every command that reaches one.
    EXPECT_TRUE(unlisted.empty()) << ::testing::PrintToString(unlisted);
    std::fprintf(stderr, "reentrant walk: %d command runs, %d of them reached script code, %d freeing runs\n", walked,
                 reading, runs);
    std::remove(picture.c_str());
}

class ReentrantWalkTest : public ::testing::TestWithParam<int> {};

TEST_P(ReentrantWalkTest, CommandsWhoseScriptCodeFreesEverythingNeverCrash) { WalkReentrant(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Part, ReentrantWalkTest, ::testing::Range(0, kParts));

}  // namespace
