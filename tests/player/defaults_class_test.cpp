// Every documented default of an optional argument, read back from what the
// user gets: each command that docs/signatures.txt gives an argument
// "[name = default]" is called in a fresh world once without the argument
// and once with the default written out, the arguments before it as the
// all-commands walk gives them (an earlier optional one at its own
// default), and the two must leave the same: the error, every result, every
// attribute GetAttribute answers for the objects at ids 0 to 2, the
// window's pixels, the brushes' pixels and the files in the world's folder.
// What differs between two worlds made alike (a time, a random draw) is no
// default's doing and is left out of the comparison. A new command or
// argument joins from the signature file; the ones the walk cannot make
// are listed with why.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "attribute_table.h"
#include "command_call.h"
#include "core/eventqueue.h"
#include "display/displays.h"
#include "display/events.h"
#include "display/refresh.h"
#include "libs/network.h"
#include "platform/null/null_backend.h"
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

constexpr int kParts = 4;
// A move or play that the world's user has not let end by then is closed.
constexpr long kPatience = 1000;

// An optional argument's documented default, as a value.
struct DefaultCase {
    std::string command;
    int place = 0;  // from 1
    Arg value;
    std::string text;  // as the signature writes it
};

// The arguments of a signature's call, split at its top-level commas.
std::vector<std::string> ArgumentsOf(const std::string& call) {
    std::vector<std::string> out;
    const size_t open = call.find('('), close = call.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close <= open + 1) return out;
    int depth = 0;
    bool quoted = false;
    std::string piece;
    for (size_t i = open + 1; i < close; ++i) {
        const char c = call[i];
        if (c == '"') quoted = !quoted;
        if (!quoted && (c == '[' || c == '{' || c == '(')) ++depth;
        if (!quoted && (c == ']' || c == '}' || c == ')')) --depth;
        if (!quoted && depth == 0 && c == ',') {
            out.push_back(piece);
            piece.clear();
            continue;
        }
        if (!(piece.empty() && c == ' ')) piece += c;
    }
    out.push_back(piece);
    return out;
}

// The default an argument's text names ("[len = -1]", "[type = #X | {options}]"),
// empty when it names none or one computed from another argument.
std::optional<std::string> DefaultText(const std::string& argument) {
    if (argument.size() < 2 || argument.front() != '[' || argument.back() != ']') return std::nullopt;
    const size_t eq = argument.find(" = ");
    if (eq == std::string::npos) return std::nullopt;
    std::string text = argument.substr(eq + 3, argument.size() - 1 - (eq + 3));
    if (const size_t bar = text.find(" | "); bar != std::string::npos) text.resize(bar);
    return text;
}

// The value of a default's text: a number (decimal or $hex), True or
// False, a #constant or a quoted text; none for an expression.
std::optional<Arg> ValueOf(const std::string& text) {
    if (text == "True") return N(1);
    if (text == "False") return N(0);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return T(text.substr(1, text.size() - 2));
    if (text.size() > 1 && text.front() == '#') return C(text.substr(1));
    if (text.size() > 1 && text.front() == '$') {
        char* end = nullptr;
        const unsigned long long v = std::strtoull(text.c_str() + 1, &end, 16);
        if (*end == '\0') return N(static_cast<double>(v));
        return std::nullopt;
    }
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (!text.empty() && *end == '\0') return N(v);
    return std::nullopt;
}

const std::vector<SignatureEntry>& Signatures() {
    static const std::vector<SignatureEntry> entries = [] {
        std::vector<SignatureEntry> read;
        std::string error;
        EXPECT_TRUE(ReadSignatures((std::string(QB_SOURCE_DIR) + "/docs/signatures.txt").c_str(), read, error))
            << error;
        return read;
    }();
    return entries;
}

// Commands whose defaults the walk does not read back, and why.
const std::map<std::string, std::string>& LeftOut() {
    static const std::map<std::string, std::string> out = {
        {"Wait", "waits as long as it is asked"},
        {"WaitTimer", "waits as long as it is asked"},
        {"DebugPrompt", "waits for a line on standard input"},
        {"FillMusicBuffer", "works only inside a music's request handler"},
    };
    return out;
}

// Every documented default of every registered command, and what was left
// out with why.
std::vector<DefaultCase> DefaultCases(std::vector<std::string>* leftOut) {
    std::set<std::string> registered;
    for (const CommandTableNode& node : RegisteredCommandTables())
        for (const ScriptCommand* row = node.table; row && row->name; ++row)
            if (row->handler) registered.insert(row->name);
    std::vector<DefaultCase> cases;
    for (const SignatureEntry& e : Signatures()) {
        const std::vector<std::string> arguments = ArgumentsOf(e.call);
        for (size_t i = 0; i < arguments.size(); ++i) {
            const std::optional<std::string> text = DefaultText(arguments[i]);
            if (!text) continue;
            const std::string what = e.name + " argument " + std::to_string(i + 1) + " = " + *text;
            if (!registered.count(e.name)) continue;  // a library this build leaves out
            if (auto out = LeftOut().find(e.name); out != LeftOut().end()) {
                leftOut->push_back(what + ": " + out->second);
                continue;
            }
            if (*text == "#RANDOMEFFECT") {
                leftOut->push_back(what + ": a random draw, no two calls alike");
                continue;
            }
            const std::optional<Arg> value = ValueOf(*text);
            if (!value) {
                leftOut->push_back(what + ": computed from another argument");
                continue;
            }
            cases.push_back({e.name, static_cast<int>(i) + 1, *value, *text});
        }
    }
    return cases;
}

// The arguments before place: the walk's plausible ones, then an optional
// argument's default (Nil for one without), a table where the command takes
// one, else 1. None when an optional argument before place has a default
// computed from another.
std::optional<std::vector<Arg>> ArgumentsBefore(const std::string& command, int place) {
    static const std::map<std::string, std::vector<std::string>> calls = [] {
        std::map<std::string, std::vector<std::string>> byName;
        for (const SignatureEntry& e : Signatures()) byName[e.name] = ArgumentsOf(e.call);
        return byName;
    }();
    std::vector<Arg> args;
    if (auto it = PlausibleArgs().find(command); it != PlausibleArgs().end()) args = it->second;
    if (static_cast<int>(args.size()) > place - 1) args.resize(static_cast<size_t>(place - 1));
    const std::vector<std::string>& arguments = calls.at(command);
    // An option table that may stand for a number ("[type | {options}]")
    // stands alone: the arguments after it follow the number, its type.
    for (size_t at = 0; at < args.size(); ++at) {
        if (args[at].kind != Arg::kTable || arguments[at].find("| {options}") == std::string::npos) continue;
        const auto type = std::find(args[at].keys.begin(), args[at].keys.end(), "type");
        if (type == args[at].keys.end()) return std::nullopt;
        args[at] = Arg(args[at].values[static_cast<size_t>(type - args[at].keys.begin())]);
    }
    const std::vector<int>& tables = TablePlaces(command);
    for (int at = static_cast<int>(args.size()) + 1; at < place; ++at) {
        const std::string& argument = arguments[static_cast<size_t>(at - 1)];
        if (!argument.empty() && argument.front() == '[') {
            // One with no default is left out by a Nil; one whose default
            // is computed from another argument is given no stand-in.
            const std::optional<std::string> text = DefaultText(argument);
            const std::optional<Arg> value = text ? ValueOf(*text) : std::optional<Arg>(Bad(kNil));
            if (!value) return std::nullopt;
            args.push_back(*value);
        } else {
            args.push_back(std::find(tables.begin(), tables.end(), at) != tables.end() ? Table({}) : N(1));
        }
    }
    return args;
}

// A value other than the default: a number one further (a flag the other
// way), another text; none for a constant.
std::optional<Arg> OtherThan(const Arg& value) {
    if (value.kind == Arg::kNumber) return N(value.number == 1 ? 0 : value.number + 1);
    if (value.kind == Arg::kText) return T(value.text + "x");
    return std::nullopt;
}

// What the user sees of the world after a call, each thing under its name.
using Observation = std::map<std::string, std::string>;

std::string Hashed(const std::string& bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%zu bytes #%zx", bytes.size(), std::hash<std::string>{}(bytes));
    return text;
}

// A value as the script sees it: numbers exactly, texts, tables by their
// fields in order (a few levels deep), other kinds by their kind.
std::string Describe(ScriptState* L, int at, int depth = 0) {
    char number[40];
    switch (VmType(L, at)) {
        case kTypeNumber: std::snprintf(number, sizeof number, "%.17g", VmToNumber(L, at)); return number;
        case kTypeString: return "\"" + std::string(VmToCString(L, at), VmStrLen(L, at)) + "\"";
        case kTypeTable: {
            if (depth > 3) return "{...}";
            std::map<std::string, std::string> fields;
            const int table = at < 0 ? VmGetTop(L) + at + 1 : at;
            VmPushNil(L);
            while (VmNext(L, table)) {
                fields[Describe(L, -2, depth + 1)] = Describe(L, -1, depth + 1);
                VmSetTop(L, -2);
            }
            std::string s = "{";
            for (const auto& [k, v] : fields) s += k + "=" + v + ",";
            return s + "}";
        }
        default: return VmTypeName(L, VmType(L, at));
    }
}

// A player with display 1 open and current (layers on, brush 1 shown) and
// display 2 open without layers, and an object of most kinds at id 1.
class World {
public:
    World(const std::string& picture, int port) : picture_(picture), port_(port) {
        ResetWalkProcess(&player_, uint64_t{1} << 22);
        L = VmOpen();
        if (!L || !StartWalkPlayer(L, &player_, "qbdefaultswalk")) {
            errors_.push_back("start");
            return;
        }
        SetNetworkTimeoutValue(20);
        Prelude();
    }
    ~World() { EndWalkPlayer(L, &player_); }
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    const std::vector<std::string>& Errors() const { return errors_; }

    // The call's error; its results are left on the stack.
    int Run(const std::string& command, const std::vector<Arg>& args, const std::string& keep = "") {
        VmSetTop(L, 0);
        AnswerAsTheUser(command, kPatience, first_);
        const PushPlace place{L,
                              picture_,
                              port_,
                              made_,
                              [this] {
                                  PushWalkMenu(L, [this] {
                                      VmPushString(L, "Item");
                                      VmRawSetIndex(L, -2, 0);
                                  });
                              },
                              [this](const Arg&) { VmPushNil(L); },
                              {}};
        for (const Arg& a : args) PushWalkArg(place, a);
        const int err = CallCommand(L, command.c_str(), static_cast<int>(args.size()), kMultRet);
        null_backend::SetPumpObserver({});
        if (!err && !keep.empty() && VmGetTop(L) > 0 && VmType(L, 1) != kTypeNil) {
            VmPushValue(L, 1);
            made_[keep] = VmMakeRef(L, kRegistryIndex);
        }
        return err;
    }

    void Make(const std::vector<Making>& making) {
        for (const Making& m : making) Run(m.call.command, m.call.args, m.name);
        VmSetTop(L, 0);
    }

    // The call, and what the user then sees.
    Observation Observe(const std::string& command, const std::vector<Arg>& args, const std::filesystem::path& folder) {
        Observation seen;
        const int err = Run(command, args);
        seen["error"] = std::to_string(err);
        const int results = err ? 0 : VmGetTop(L);
        for (int i = 1; i <= results; ++i) seen["result " + std::to_string(i)] = Describe(L, i);
        VmSetTop(L, 0);
        for (const auto& [type, attributes] : attribute_table::kPairs)
            for (int id = 0; id <= 2; ++id)
                for (int32_t attribute : attributes) {
                    VmPushNumber(L, type);
                    VmPushNumber(L, id);
                    VmPushNumber(L, attribute);
                    const int got = CallCommand(L, "GetAttribute", 3, 1);
                    seen["attribute " + std::to_string(type) + "/" + std::to_string(id) + "/" +
                         std::to_string(attribute)] = got ? "error " + std::to_string(got) : Describe(L, -1);
                    VmSetTop(L, 0);
                }
        for (int brush = 1; brush <= 2; ++brush) {
            VmPushNumber(L, brush);
            const int got = CallCommand(L, "BrushToRGBArray", 1, 1);
            seen["brush " + std::to_string(brush)] = got ? "error " + std::to_string(got) : Hashed(Describe(L, -1));
            VmSetTop(L, 0);
        }
        for (int id = 1; id <= 2; ++id) {
            qbDisplay* d = nullptr;
            if (GetDisplayRecord(ObjectID{id, nullptr}, &d) != 0 || !d) continue;
            // What the display holds, shown: a change waits for the next
            // refresh otherwise.
            RefreshDisplay(L, d);
            if (const null_backend::Surface* s = null_backend::GetSurface(d))
                seen["window " + std::to_string(id)] =
                    std::to_string(s->width) + "x" + std::to_string(s->height) + " " + s->title + " " +
                    Hashed(std::string(reinterpret_cast<const char*>(s->pixels.data()), s->pixels.size() * 4));
        }
        namespace fs = std::filesystem;
        std::error_code ec;
        for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            // A temporary name's numbers (a process id, a count) differ
            // from world to world.
            std::string name;
            for (char c : fs::relative(it->path(), folder, ec).string()) {
                const bool digit = c >= '0' && c <= '9';
                if (!digit || name.empty() || name.back() != '#') name += digit ? '#' : c;
            }
            seen["file " + name] = it->is_regular_file(ec) ? Hashed(ReadWhole(it->path())) : "folder";
        }
        return seen;
    }

    ScriptState* L = nullptr;

private:
    static std::string ReadWhole(const std::filesystem::path& p) {
        std::string bytes;
        if (FILE* f = std::fopen(p.c_str(), "rb")) {
            char buffer[4096];
            for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
            std::fclose(f);
        }
        return bytes;
    }

    void Step(const std::string& command, const std::vector<Arg>& args) {
        if (int err = Run(command, args))
            errors_.push_back(walkworld::Call{command, args}.Describe() + " -> " + std::to_string(err));
        VmSetTop(L, 0);
    }

    void Prelude() {
        for (const auto& [command, args] : ObjectsOfEveryKind()) Step(command, args);
        if (!errors_.empty()) return;
        if (StartDisplays(L)) {
            errors_.push_back("StartDisplays");
            return;
        }
        GetDisplayRecord(ObjectID{1, nullptr}, &first_);
        for (const auto& [command, args] : std::vector<PreludeCall>{
                 {"SelectDisplay", {N(1)}},
                 {"SetDisplayAttributes", {Table({{"menu", N(1)}})}},
                 {"EnableLayers", {}},
                 {"DisplayBrush", {N(1), N(4), N(4)}},
                 {"MakeButton", {N(1), N(0), N(0), N(0), N(8), N(8), Handlers()}},
                 // Memory comes uncleared: the same bytes in every world.
                 {"FillMem", {N(1), N(0x5A), N(256)}},
                 {"FillMem", {N(2), N(0xA5), N(256)}},
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

// The things two observations name differently.
std::set<std::string> Differing(const Observation& a, const Observation& b) {
    std::set<std::string> keys;
    for (const auto& [k, v] : a)
        if (auto it = b.find(k); it == b.end() || it->second != v) keys.insert(k);
    for (const auto& [k, v] : b)
        if (!a.count(k)) keys.insert(k);
    return keys;
}

std::string Show(const Observation& o, const std::string& key) {
    const auto it = o.find(key);
    return it == o.end() ? "(none)" : it->second.substr(0, 200);
}

void WalkDefaults(int part) {
    if (std::getenv("QB_GC_STRESS")) GTEST_SKIP() << "covered by the all-commands walk";
    NameCrashes("defaults walk");
    const std::string picture = test_bmp::WriteBmp(12, 10);
    const WalkScratch scratchFolder("defaultswalk", part);
    const std::filesystem::path& scratch = scratchFolder.path();
    const Media media;
    PageServer server;
    ASSERT_GT(server.port(), 0);
    std::vector<std::string> leftOut;
    std::vector<DefaultCase> cases;
    {
        // The libraries register their commands as the player starts.
        media.Lay(scratch);
        World first(picture, server.port());
        ASSERT_TRUE(first.Errors().empty()) << ::testing::PrintToString(first.Errors());
        cases = DefaultCases(&leftOut);
    }
    // The signature file documents some 200 defaults; a parse that finds
    // few has lost them.
    ASSERT_GT(cases.size(), 150u);
    ::testing::internal::CaptureStdout();
    // The world's folder holds the walk's files laid anew and nothing else.
    const auto observe = [&](const std::string& command, const std::vector<Arg>& args,
                             std::vector<std::string>* noWorld) -> std::optional<Observation> {
        std::filesystem::current_path(scratch);
        for (const auto& entry : std::filesystem::directory_iterator(scratch))
            std::filesystem::remove_all(entry.path());
        media.Lay(scratch);
        World world(picture, server.port());
        if (!world.Errors().empty()) {
            noWorld->push_back(command + ": " + world.Errors().front());
            return std::nullopt;
        }
        world.Make(MadeBefore(command));
        SayWalking(walkworld::Call{command, args}.Describe());
        return world.Observe(command, args, scratch);
    };
    std::vector<std::string> noWorld, differ, unreachable;
    int walked = 0, noisy = 0, observed = 0;
    for (size_t i = static_cast<size_t>(part); i < cases.size(); i += kParts) {
        const DefaultCase& c = cases[i];
        const std::optional<std::vector<Arg>> before = ArgumentsBefore(c.command, c.place);
        if (!before) {
            unreachable.push_back(c.command + " argument " + std::to_string(c.place));
            continue;
        }
        std::vector<Arg> given = *before;
        given.push_back(c.value);
        const std::optional<Observation> left = observe(c.command, *before, &noWorld);
        const std::optional<Observation> written = observe(c.command, given, &noWorld);
        if (!left || !written) continue;
        ++walked;
        // What two alike calls tell apart is the world's own noise.
        const std::optional<Observation> again = observe(c.command, *before, &noWorld);
        if (!again) continue;
        const std::set<std::string> noise = Differing(*left, *again);
        noisy += noise.empty() ? 0 : 1;
        if (!noise.empty() && std::getenv("QB_DEFAULTS_TRACE"))
            std::fprintf(stderr, "noise in %s: %s\n", c.command.c_str(), noise.begin()->c_str());
        std::set<std::string> keys = Differing(*left, *written);
        for (const std::string& k : noise) keys.erase(k);
        // Whether the walk sees the argument at all: another value than
        // the default changes what the user gets.
        if (const std::optional<Arg> other = OtherThan(c.value)) {
            std::vector<Arg> changed = *before;
            changed.push_back(*other);
            if (const std::optional<Observation> seen = observe(c.command, changed, &noWorld)) {
                std::set<std::string> shown = Differing(*left, *seen);
                for (const std::string& k : noise) shown.erase(k);
                observed += shown.empty() ? 0 : 1;
                if (std::getenv("QB_DEFAULTS_TRACE"))
                    std::fprintf(stderr, "%s: %s\n", walkworld::Call{c.command, changed}.Describe().c_str(),
                                 shown.empty() ? "unseen" : shown.begin()->c_str());
            }
        }
        if (keys.empty()) continue;
        const std::string& key = *keys.begin();
        differ.push_back(walkworld::Call{c.command, given}.Describe() + " (default " + c.text + ") differs from " +
                         walkworld::Call{c.command, *before}.Describe() + " in " + std::to_string(keys.size()) +
                         " things, first " + key + ": " + Show(*written, key) + " against " + Show(*left, key));
    }
    SayWalking("(none)");
    ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(noWorld.empty()) << ::testing::PrintToString(noWorld);
    EXPECT_TRUE(differ.empty()) << ::testing::PrintToString(differ);
    std::fprintf(stderr,
                 "defaults walk part %d: %d defaults read back (%d with noise left out), %d of them where another "
                 "value shows; %zu left out:\n",
                 part, walked, noisy, observed, leftOut.size() + unreachable.size());
    // The walk sees what the arguments do: in most of its calls another
    // value than the default changes what the user gets.
    EXPECT_GT(observed, walked / 5);
    if (part == 0)
        for (const std::string& s : leftOut) std::fprintf(stderr, "  %s\n", s.c_str());
    for (const std::string& s : unreachable)
        std::fprintf(stderr, "  %s: an optional argument before it has a computed default\n", s.c_str());
    std::remove(picture.c_str());
}

class DefaultsClassTest : public ::testing::TestWithParam<int> {};

TEST_P(DefaultsClassTest, EveryDocumentedDefaultActsAsLeavingItOut) { WalkDefaults(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Part, DefaultsClassTest, ::testing::Range(0, kParts));

}  // namespace
