// The values the all-commands walk calls commands with, and what it knows
// of the commands: the arguments and objects that take each past its first
// checks, and which of its results are flags.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace walkworld {

enum Hostile {
    kNaN,
    kPlusInf,
    kMinusInf,
    kHuge,
    kMinusHuge,
    kMinusOne,
    kZero,
    kPow31,
    kPow32Plus1,
    kLongText,
    kNil,
    kTable,
    kMinusPow31Minus1,  // one below the least 32-bit integer
    kHalf,              // a flag read by the script's truth: true
    kMinusZero,
    kEmptyText,
    kMegaText,  // 1 MB of letters
    kFunction,
    kHostileCount
};
constexpr int kListLength = 8;
inline const char* const kHostileNames[kHostileCount] = {
    "NaN", "+inf",           "-inf", "1e300", "-1e300", "-1",      "0",        "2^31",
    "2^32+1", "100000 letters", "Nil",  "{}",    "-2^31-1", "0.5", "-0", "\"\"", "1 MB of letters", "function"};

// An argument, or a field of a table argument.
struct Arg {
    enum Kind { kNumber, kText, kTable, kFunction, kPicture, kMenu, kHostile, kUrl, kPort, kMade, kConstant } kind = kNumber;
    double number = 1;
    std::string text;  // kText; kMade: the name the world made the value under; kConstant: its name
    std::vector<std::string> keys;  // a table's fields
    std::vector<Arg> values;
    std::vector<Arg> items;  // a table's list, from index first
    int first = 1;
    Hostile hostile = kNil;
    bool list = false;  // kHostile: a list of kListLength of the value
    // A table that collects the keys looked up in it that it does not have.
    std::set<std::string>* reads = nullptr;

    void Set(const std::string& key, Arg value) {
        for (size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] == key) {
                values[i] = std::move(value);
                return;
            }
        }
        keys.push_back(key);
        values.push_back(std::move(value));
    }

    std::string Describe() const {
        switch (kind) {
            case kNumber: {
                char text[32];
                std::snprintf(text, sizeof text, "%.17g", number);
                return text;
            }
            case kText: return "\"" + text + "\"";
            case kFunction: return "function";
            case kPicture: return "picture";
            case kMenu: return "menu";
            case kUrl: return "url";
            case kPort: return "port";
            case kMade: return text;
            case kConstant: return "#" + text;
            case kHostile: return list ? std::string("{") + kHostileNames[hostile] + ", ...}" : kHostileNames[hostile];
            case kTable: break;
        }
        std::string s;
        for (const Arg& item : items) s += (s.empty() ? "" : ", ") + item.Describe();
        for (size_t i = 0; i < keys.size(); ++i) s += (s.empty() ? "" : ", ") + keys[i] + " = " + values[i].Describe();
        return "{" + s + "}";
    }
};
inline Arg Of(Arg::Kind kind) {
    Arg a;
    a.kind = kind;
    return a;
}
inline Arg N(double v) {
    Arg a;
    a.number = v;
    return a;
}
inline Arg T(std::string s) {
    Arg a = Of(Arg::kText);
    a.text = std::move(s);
    return a;
}
inline Arg Fn() { return Of(Arg::kFunction); }
inline Arg Picture() { return Of(Arg::kPicture); }
// {{"Walk", {{"Toggle", id = "toggle", flags = 1}}}}
inline Arg Menu() { return Of(Arg::kMenu); }
inline Arg Bad(Hostile h) {
    Arg a = Of(Arg::kHostile);
    a.hostile = h;
    return a;
}
inline Arg BadList(Hostile h) {
    Arg a = Bad(h);
    a.list = true;
    return a;
}
inline Arg Table(std::initializer_list<std::pair<const char*, Arg>> fields) {
    Arg a = Of(Arg::kTable);
    for (const auto& [key, value] : fields) a.Set(key, value);
    return a;
}
// {item, ...}: a table of a list.
inline Arg List(std::initializer_list<Arg> items) {
    Arg a = Of(Arg::kTable);
    a.items = items;
    return a;
}
// {[0] = item, ...}: a list from index 0, as the player's own lists are.
inline Arg List0(std::initializer_list<Arg> items) {
    Arg a = List(items);
    a.first = 0;
    return a;
}
// The world's web page, and the port of its server.
inline Arg Url() { return Of(Arg::kUrl); }
inline Arg Port() { return Of(Arg::kPort); }
// The value the world made under the name before the command's calls (see
// MadeBefore).
inline Arg Made(std::string name) {
    Arg a = Of(Arg::kMade);
    a.text = std::move(name);
    return a;
}
// The value of the player's constant #name.
inline Arg C(std::string name) {
    Arg a = Of(Arg::kConstant);
    a.text = std::move(name);
    return a;
}
inline Arg Handlers() { return Table({{"onmouseup", Fn()}}); }
// Display options that take the layer through its anchor, border, shadow
// and rotation.
inline Arg Styled() {
    return Table({{"anchorx", N(1)},
                  {"anchory", N(1)},
                  {"border", N(1)},
                  {"bordersize", N(3)},
                  {"shadow", N(1)},
                  {"shadowsize", N(4)},
                  {"shadowdir", N(3)},
                  {"rotate", N(30)}});
}

struct Call {
    std::string command;
    std::vector<Arg> args;

    std::string Describe() const {
        std::string s = command + "(";
        for (size_t i = 0; i < args.size(); ++i) s += (i ? ", " : "") + args[i].Describe();
        return s + ")";
    }
};

// A value the world makes before a command's calls: the first result of the
// call, known to the arguments as Made(name).
struct Making {
    std::string name;
    Call call;
};

// What the world's user does while a wait waits: one scripted event of the
// window.
struct Gesture {
    uint32_t type = 0;
    int32_t data1 = 0;
    int32_t data2 = 0;
    int32_t data3 = 0;
};
// The user's answer to the command's plausible call, for the commands that
// wait for one (none for the others).
const std::vector<Gesture>& Answers(const std::string& command);
// The commands that wait for the user or a peer: their hostile calls are
// made with the quit asked for, which a wait must not see before it has
// checked its arguments.
bool WaitsForUser(const std::string& command);

// The option fields the command read when the walk last recorded them
// (walk_fields.txt), each as its argument's place and its key ("6.speed").
const std::set<std::string>& ReadFields(const std::string& command);

// The moves: the type of the object the command moves (0 a layer of any
// kind, 32 a sprite), -1 for the other commands. Its plausible call goes
// from (x1, y1) to a different (x2, y2), its arguments 2 to 5, where the
// walk looks for the object afterwards.
int MovedKind(const std::string& command);

// Arguments that reach further than a row of 1s.
const std::map<std::string, std::vector<Arg>>& PlausibleArgs();
// What the world makes before the command's calls, for the commands that
// work on objects with automatic ids only, or on plugins.
const std::vector<Making>& MadeBefore(const std::string& command);
// Further walks of the command, each with other objects made first (another
// kind of async draw).
struct Variant {
    std::vector<Making> made;
    std::vector<Arg> args;
};
const std::vector<Variant>& MoreWalks(const std::string& command);
// The places (from 1) of the command's results that are True or False,
// which the script sees as the numbers 1 and 0.
const std::vector<int>& FlagResults(const std::string& command);
// How many results the command gives at least: 1 when its signature names
// a first result that is neither optional nor repeated, else 0.
int LeastResults(const std::string& command);
// The places (from 1) of the command's arguments that take a table, and
// whether one of them is an option table ({options} in the signature).
const std::vector<int>& TablePlaces(const std::string& command);
bool TakesOptions(const std::string& command);
// The most arguments the command takes (-1: no limit, or no entry).
int MostArgs(const std::string& command);

// The plausible arguments with their numbers told apart, so that a swap of
// two of them, or of x and y, changes the answer: each number that is 1 or
// shares its value with another (in the arguments, a table's list or its
// fields) takes the next of a row of distinct values, skipping the numbers
// kept: object ids and types (by the names docs/signatures.txt gives the
// argument) and the other single values. Scheme 0 tells apart all of them
// with the primes from 2; for a command that takes off its main road,
// scheme 1 leaves the fields alone and counts 2, 3, 4 ..., and scheme 2
// tells apart only the coordinates and sizes and the lists.
constexpr int kDistinctSchemes = 3;
std::vector<Arg> DistinctArgs(const std::string& command, const std::vector<Arg>& plausible, int scheme);

// A call reaches its main road when it returns, or ends in the error that
// its road ends in in this world (RoadEnd: a wait ends in the quit that
// the world posts before every call; a requester nobody can answer). Any
// other error is a check that came first.
int RoadEnd(const std::string& command);
// The commands the world cannot take to their main road, each with why;
// on a scaled display, which keeps its layers on, more.
const std::map<std::string, std::string>& ShortOfRoad(bool scaled);
// The commands that work only inside the handler of another's request (a
// music's FillMusicBuffer): the world calls them from there.
bool RunsInHandler(const std::string& command);

// The coordinate walk: the numbers at and past the edges of 32 bits that a
// coordinate, offset or size may be given, each with its name.
struct EdgeValue {
    const char* name;
    double value;
};
const std::vector<EdgeValue>& EdgeValues();
// Where the command takes a coordinate, offset or size, by the names
// docs/signatures.txt gives its arguments, and the option fields that hold
// one (each as its argument's place and its key, "4.x").
struct CoordinatePlaces {
    std::vector<int> args;
    std::vector<std::pair<int, std::string>> fields;
    size_t Count() const { return args.size() + fields.size(); }
};
const CoordinatePlaces& CoordinatesOf(const std::string& command);
// Whether the command works from a place the world keeps: on a layer it is
// given (an argument named layer), a transition, a path command, Print and
// NPrint at the text cursor. The walk calls it with those places far off
// (FarPlaces).
bool WorksFromAKeptPlace(const std::string& command);
// What puts the kept places at (v, v): layer 1, the text cursor, and a
// line of path 1 from there.
std::vector<Making> FarPlaces(double v);
// Every picture a script draws into, each as what the world makes to
// select it: the window without and with layers, a double buffer, a brush
// plain and with a mask or an alpha channel, an anim frame, a layer, a
// BGPic, a mask, an alpha channel, and the window and a brush inside a clip
// region (there drawing outlined and smoothed).
struct DrawTarget {
    const char* name;
    std::vector<Making> made;
};
const std::vector<DrawTarget>& DrawTargets();

}  // namespace walkworld
