// What the walk knows of the commands: the arguments and objects that take
// them past their first checks, and which of their results are flags.
#include <fstream>
#include <string>

#include "walk_args.h"

namespace walkworld {

namespace {

constexpr double kBrushType = 3;
constexpr double kCrossfade = 115;
constexpr double kReadWrite = 1004;

std::string TestPlugin(const char* name) { return std::string(QB_TEST_PLUGIN_DIR) + "/" + name + ".qbp"; }

}  // namespace

// Arguments that reach further than a row of 1s. The walk's world holds brush
// 1, BGPic 2, display 1 (open, current, with menu 1 and layers on, brush 1
// shown), display 2 (closed), label button and key 1, BGPic button 1,
// interval and timeout 1, and an object of every other kind at 1. New ids
// are 5. Commands not listed get as many 1s as they need at least.
const std::map<std::string, std::vector<Arg>>& PlausibleArgs() {
    static const std::map<std::string, std::vector<Arg>> args = {
        // system
        {"Error", {T("walk")}},
        {"RaiseOnError", {Fn()}},
        // graphics
        {"RGB", {N(1), N(2), N(3)}},
        {"ARGB", {N(128), N(0xFF0000)}},
        {"MixRGB", {N(0xFF0000), N(0x0000FF), N(128)}},
        {"IsPicture", {Picture()}},
        {"SetDrawTagsDefault", {Table({})}},
        {"SetFPSLimit", {N(60)}},
        {"Intersection", {N(0), N(0), N(10), N(10), N(5), N(5), N(10), N(10)}},
        {"AsyncDrawFrame", {Made("async")}},
        {"CancelAsyncDraw", {Made("async")}},
        {"FinishAsyncDraw", {Made("async")}},
        // transitionfx
        {"DisplayTextObjectFX", {N(1), N(4), N(4), Table({{"type", N(kCrossfade)}})}},
        {"UndoFX", {N(kBrushType), N(1)}},
        // anim
        {"WriteAnimFrame", {Made("stream"), N(1)}},
        {"FinishAnimStream", {Made("stream")}},
        // dos
        {"ReadDirectory", {T("walkdir"), Table({}), Table({})}},
        // network: a form of a text and a file
        {"UploadFile",
         {Url(), Table({{"formdata", List({Table({{"name", T("field")}, {"data", T("walk")}}),
                                           Table({{"name", T("upload")},
                                                  {"file", T("walk.txt")},
                                                  {"mimetype", T("text/plain")}})})}})}},
        // layers
        {"Undo", {N(3), N(1), N(1), N(0)}},
        {"DumpLayers", {N(0)}},
        // brush
        {"LoadBrush", {N(5), Picture()}},
        {"CreateBrush", {N(5), N(16), N(16), N(0xFF0000)}},
        {"CopyBrush", {N(1), N(5)}},
        {"ConvertToBrush", {N(1), N(2), N(5)}},
        {"GetBrushLink", {N(5), N(1), N(2)}},
        {"CreateShadowBrush", {N(5), N(1), N(0x80000000), N(3)}},
        {"CreateBorderBrush", {N(5), N(1), N(0xFF000000), N(3)}},
        {"DisplayBrush", {N(1), N(4), N(4), Styled()}},
        // Corners moved in a little, each its own way.
        {"PerspectiveDistortBrush", {N(1), N(2), N(1), N(14), N(3), N(15), N(15), N(1), N(13)}},
        {"DisplayBrushPart", {N(1), N(0), N(0), N(4), N(4), N(8), N(8), Styled()}},
        {"SetAlphaIntensity", {N(128)}},
        {"SetMaskMode", {N(0)}},
        // bgpic
        {"DisplayBGPic", {N(2)}},
        {"DisplayBGPicPart", {N(2), N(0), N(0), N(8), N(8), N(4), N(4), Styled()}},
        {"ScaleBGPic", {N(2), N(8), N(8)}},
        {"CreateGradientBGPic", {N(5), N(2), N(0xFF0000), N(0x0000FF), N(16), N(16), N(30)}},
        {"CreateRainbowBGPic", {N(5), N(3), N(0xFF0000), N(0x0000FF), N(16), N(16), N(30)}},
        {"CreateTexturedBGPic", {N(5), N(1), N(16), N(16)}},
        {"BrushToBGPic", {N(1), N(5)}},
        {"BGPicToBrush", {N(2), N(5)}},
        {"CreateBGPic", {N(5), N(16), N(16), N(0x00FF00)}},
        {"FreeBGPic", {N(2)}},
        {"LoadBGPic", {N(5), Picture()}},
        {"CopyBGPic", {N(2), N(5)}},
        // event
        {"WaitKeyDown", {T("a")}},
        {"IsKeyDown", {T("a")}},
        {"EnableEvent", {N(2), N(1)}},
        {"DisableEvent", {N(2), N(1)}},
        {"ModifyButton", {N(1), N(0), N(0), N(8), N(8)}},
        {"ModifyKeyDown", {N(1), T("b")}},
        {"CreateButton", {N(5), N(0), N(0), N(8), N(8)}},
        {"CreateKeyDown", {N(5), T("a")}},
        {"MakeButton", {N(5), N(0), N(0), N(0), N(8), N(8), Handlers()}},
        {"InstallEventHandler", {Table({})}},
        {"SetInterval", {N(5), Fn(), N(100000)}},
        {"SetTimeout", {N(5), Fn(), N(100000)}},
        {"ChangeInterval", {N(1), N(50000)}},
        {"JoyDir", {N(0)}},
        {"JoyFire", {N(0), N(1)}},
        {"CreatePort", {T("walkport")}},
        // No program has a message port on this platform: the call ends at the
        // port's lookup, after its other checks.
        {"SendMessage", {T("walkport"), T("hello"), T("there")}},
        // system
        {"GetObjectType", {Made("stream")}},
        {"IncreasePointer", {Made("pointer"), N(16)}},
        {"DecreasePointer", {Made("pointer"), N(16)}},
        {"EnablePlugin", {T("testimg")}},
        {"DisablePlugin", {T("testimg")}},
        {"ForEach", {Table({{"a", N(1)}}), Fn()}},
        {"ForEachI", {Table({}), Fn()}},
        {"GetObjectData", {N(3), N(1), T("walk")}},
        {"SetMetaTable", {Table({}), Table({})}},
        // vectorgraphics
        {"SetVectorEngine", {T("vecengine")}},
        {"SetEventTimeout", {N(100)}},
        // display
        {"CreateDisplay", {N(5), Table({{"width", N(32)}, {"height", N(24)}})}},
        {"OpenDisplay", {N(2)}},
        {"ActivateDisplay", {N(1)}},
        {"MoveDisplay", {N(10), N(10)}},
        {"ChangeDisplaySize", {N(48), N(40)}},
        {"SetTitle", {T("walk")}},
        {"SetDisplayAttributes", {Table({{"width", N(48)}, {"height", N(40)}})}},
        {"ChangeDisplayMode", {N(2), N(64), N(48)}},
        {"GetDisplayModes", {N(1)}},
        {"CreateMenu", {N(5), Menu()}},
        {"SelectMenuItem", {N(1), T("toggle")}},
        {"DeselectMenuItem", {N(1), T("toggle")}},
        {"IsMenuItemSelected", {N(1), T("toggle")}},
        {"DisableMenuItem", {N(1), T("toggle")}},
        {"EnableMenuItem", {N(1), T("toggle")}},
        {"IsMenuItemDisabled", {N(1), T("toggle")}},
    };
    return args;
}

const std::vector<Making>& MadeBefore(const std::string& command) {
    // The async draw of a cross-fade of brush 1, an anim stream the size of
    // brush 1, a pointer into memory block 1, a loaded plugin (an image
    // loader, or the vector engine), and a file to write (or holding a
    // table).
    static const Making async{
        "async", {"DisplayBrushFX", {N(1), N(0), N(0), Table({{"type", N(kCrossfade)}, {"async", N(1)}})}}};
    static const Making stream{"stream", {"BeginAnimStream", {Bad(kNil), T("walkstream.gif"), N(16), N(16)}}};
    static const Making pointer{"pointer", {"GetMemPointer", {N(1)}}};
    static const Making loader{"", {"LoadPlugin", {T(TestPlugin("testimg"))}}};
    static const Making engine{"", {"LoadPlugin", {T(TestPlugin("vecengine"))}}};
    // File 1 opened anew for reading and writing.
    static const Making writer{"", {"OpenFile", {N(1), T("walkout.txt"), N(kReadWrite)}}};
    static const Making table{"", {"WriteTable", {N(1), Table({{"a", N(1)}, {"b", T("walk")}})}}};
    static const Making rewind{"", {"Seek", {N(1), N(0)}}};
    static const std::map<std::string, std::vector<Making>> made = {
        {"AsyncDrawFrame", {async}},    {"CancelAsyncDraw", {async}},   {"FinishAsyncDraw", {async}},
        {"WriteAnimFrame", {stream}},   {"FinishAnimStream", {stream}}, {"GetObjectType", {stream}},
        {"IncreasePointer", {pointer}}, {"DecreasePointer", {pointer}}, {"EnablePlugin", {loader}},
        {"DisablePlugin", {loader}},    {"SetVectorEngine", {engine}},
        {"WriteString", {writer}},      {"WriteShort", {writer}},       {"WriteInt", {writer}},
        {"WriteFloat", {writer}},       {"WriteChr", {writer}},         {"WriteLine", {writer}},
        {"WriteTable", {writer}},       {"WriteFunction", {writer}},
        {"ReadTable", {writer, table, rewind}},
    };
    static const std::vector<Making> none;
    const auto it = made.find(command);
    return it == made.end() ? none : it->second;
}

// The async draws of brush 1 moving and of anim 1 playing.
const std::vector<Variant>& MoreWalks(const std::string& command) {
    static const Making move{"move", {"MoveBrush", {N(1), N(0), N(0), N(20), N(20), Table({{"async", N(1)}})}}};
    static const Making play{"play", {"PlayAnim", {N(1), N(0), N(0), Table({{"async", N(1)}})}}};
    static const std::vector<Variant> kinds = {{{move}, {Made("move")}}, {{play}, {Made("play")}}};
    static const std::vector<Variant> none;
    const bool async = command == "AsyncDrawFrame" || command == "CancelAsyncDraw" || command == "FinishAsyncDraw";
    return async ? kinds : none;
}

// Read from the command signatures, where a True/False result is named
// flag (or, where a name says more, ok, done, known, loaded or playing).
// Results after a repeated one have no fixed place.
const std::vector<int>& FlagResults(const std::string& command) {
    static const std::map<std::string, std::vector<int>> flags = [] {
        std::map<std::string, std::vector<int>> found;
        std::ifstream in(std::string(QB_SOURCE_DIR) + "/docs/signatures.txt");
        for (std::string line; std::getline(in, line);) {
            const size_t open = line.find('('), arrow = line.find(") -> ");
            if (line.empty() || line[0] == ' ' || line[0] == '#' || open == std::string::npos ||
                arrow == std::string::npos)
                continue;
            std::vector<int>& places = found[line.substr(0, open)];
            std::string results = line.substr(arrow + 5) + ",";
            int at = 1;
            for (size_t from = 0, comma; (comma = results.find(',', from)) != std::string::npos;
                 from = comma + 1, ++at) {
                std::string name = results.substr(from, comma - from);
                std::erase_if(name, [](char c) { return c == ' ' || c == '[' || c == ']'; });
                if (name.find("...") != std::string::npos) break;
                for (const char* flag : {"flag", "ok", "done", "known", "loaded", "playing"})
                    if (name == flag) places.push_back(at);
            }
        }
        return found;
    }();
    static const std::vector<int> none;
    const auto it = flags.find(command);
    return it == flags.end() ? none : it->second;
}

}  // namespace walkworld
