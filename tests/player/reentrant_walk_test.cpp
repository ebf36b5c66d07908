// The all-commands walk with script code inside the commands: every command
// that takes a table is called with the walk's plausible arguments, on a
// display with layers and on one without, each of its tables given a
// metatable whose "__index" frees every object of every kind (at the world's
// ids, the objects it made and every id the call names) at every field
// looked up. A command that found its object before reading its options
// must find it again; a sanitizer report or a crash fails the run and names
// the command (the sanitizer tree runs it from ./test). The free stands: the
// command ends with results or a script error.
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
constexpr int kParts = 2;

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

// The "__index" of every table of the call: each look-up frees everything
// and finds nothing.
struct Freer {
    std::vector<std::string> commands;
    std::vector<double> ids;
    std::vector<int> handles;  // registry references of made values
    bool done = false;
    bool freeing = false;
};

int FreeEverything(ScriptState* L) {
    auto* f = static_cast<Freer*>(VmToUserdata(L, VmUpvalueIndex(1)));
    // Every look-up frees again: what the command made or found between
    // two reads goes too. (A free's own look-ups free nothing.)
    if (f->freeing) return 0;
    f->freeing = true;
    f->done = true;
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

    // The call; with freer given, every table it pushes frees everything
    // at its first look-up. The user closes the window when it waits.
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
                              [this, freer](const Arg&) {
                                  if (!freer) return;
                                  VmPushNewTable(L);
                                  VmPushString(L, "__index");
                                  VmPushLightUserdata(L, freer);
                                  VmPushCClosure(L, FreeEverything, 1);
                                  VmRawSet(L, -3);
                                  VmSetMetatable(L, -2);
                              }};
        for (const Arg& a : args) PushWalkArg(place, a);
        const int err = CallCommand(L, command.c_str(), static_cast<int>(args.size()), 1);
        if (!err && !keep.empty() && VmType(L, -1) != kTypeNil) made_[keep] = VmMakeRef(L, kRegistryIndex);
        null_backend::SetPumpObserver({});
        VmSetTop(L, 0);
        return err;
    }

    void Make(const std::vector<Making>& making) {
        for (const Making& m : making) Run(m.call.command, m.call.args, m.name);
    }

    ScriptState* L = nullptr;

private:
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
                if (row->handler && !WaitsForever(row->name) && !TablePlaces(row->name).empty())
                    commands.push_back(row->name);
        freeing = Freeing();
    }
    ASSERT_GT(commands.size(), 100u);
    ASSERT_GT(freeing.size(), 20u);
    ::testing::internal::CaptureStdout();
    std::vector<std::string> noWorld;
    int walked = 0, freed = 0;
    for (size_t i = static_cast<size_t>(part); i < commands.size(); i += kParts) {
        const std::string& command = commands[i];
        // On display 1, with layers, and on display 2, without.
        for (const int display : {1, 2}) {
            std::filesystem::current_path(scratch);
            media.Lay(scratch);
            World world(picture, server.port());
            if (!world.Errors().empty()) {
                noWorld.push_back(command + ": " + world.Errors().front());
                continue;
            }
            world.Run("SelectDisplay", {N(display)});
            world.Make(MadeBefore(command));
            Freer freer;
            freer.commands = freeing;
            const std::string on = command + " on display " + std::to_string(display);
            SayWalking(on);
            world.Run(command, WithTables(command), "", &freer);
            freed += freer.done ? 1 : 0;
            SayWalking(on + ", then the shutdown");
            ++walked;
        }
    }
    SayWalking("(none)");
    ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(noWorld.empty()) << ::testing::PrintToString(noWorld);
    // Most commands look a field up: the walk reaches their reads.
    EXPECT_GT(freed, walked / 2) << walked << " commands walked";
    std::fprintf(stderr, "reentrant walk: %d commands, %d of them freed everything\n", walked, freed);
    std::remove(picture.c_str());
}

class ReentrantWalkTest : public ::testing::TestWithParam<int> {};

TEST_P(ReentrantWalkTest, CommandsWhoseOptionsFreeEverythingNeverCrash) { WalkReentrant(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Part, ReentrantWalkTest, ::testing::Range(0, kParts));

}  // namespace
