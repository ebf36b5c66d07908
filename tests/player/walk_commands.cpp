// What the walk knows of the commands: the arguments and objects that take
// them past their first checks, and which of their results are flags.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <fstream>
#include <sstream>
#include <set>
#include <string>

#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "qbcommands/signatures.h"
#include "walk_args.h"

namespace walkworld {

namespace {

constexpr double kBrushType = 3;
constexpr double kCrossfade = 115;
constexpr double kReadWrite = 1004;
constexpr int32_t kReturn = 274;  // the key code of Return
// From fonts-dejavu-core.
constexpr const char* kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// A font file is the inbuilt engine's to open.
Arg Inbuilt() { return Table({{"engine", C("FONTENGINE_INBUILT")}}); }

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
        // Any three open files make a patch: walk.txt patched with itself.
        {"ApplyPatch", {N(1), N(2), N(3)}},
        // The test image loader's vector brush.
        {"RasterizeBrush", {N(5)}},
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
        // Full screen at the size the scaled display shows (the window's),
        // which is the unscaled display's size twice over.
        {"ChangeDisplayMode", {N(2), N(128), N(96)}},
        {"GetDisplayModes", {N(1)}},
        {"CreateMenu", {N(5), Menu()}},
        {"SelectMenuItem", {N(1), T("toggle")}},
        {"DeselectMenuItem", {N(1), T("toggle")}},
        {"IsMenuItemSelected", {N(1), T("toggle")}},
        {"DisableMenuItem", {N(1), T("toggle")}},
        {"EnableMenuItem", {N(1), T("toggle")}},
        {"IsMenuItemDisabled", {N(1), T("toggle")}},
        {"FreeMenu", {N(5)}},
        {"ShowDisplay", {}},
        // dos, system: programs, virtual files, preferences
        {"Execute", {T("true")}},
        {"Run", {T("true")}},
        {"DecompressFile", {T("walk.pak"), T("walkout.txt")}},
        {"AllocMemFromPointer", {N(5), Made("pointer"), N(16)}},
        {"AllocMemFromVirtualFile", {N(5), Made("virtual")}},
        // Block 1 into the world's second block, so that the bytes move.
        {"CopyMem", {N(1), N(2), N(16), N(8), N(4)}},
        {"UndefineVirtualStringFile", {Made("virtual")}},
        {"CompareDates", {T("05-Mar-2016 10:00:00"), T("06-Mar-2016 09:04:01")}},
        {"LegacyControl", {T("singlemusic"), N(0)}},
        {"GetConstant", {T("#BRUSH")}},
        {"ListRequest", {T("walk"), T("choose"), List0({T("a"), T("b")})}},
        {"LoadPlugin", {T(TestPlugin("testimg")), Table({{"version", N(0)}, {"skiprequire", N(0)}})}},
        // fonts: an installed one
        {"OpenFont", {N(5), T(kDejaVu), N(12), Inbuilt()}},
        {"SetFont", {T(kDejaVu), N(12), Inbuilt()}},
        {"AddTextToPath", {N(1), T("walk")}},
        // network: the world's server
        {"OpenConnection", {N(5), T("127.0.0.1"), Port()}},
        {"ToIP", {T("127.0.0.1")}},
        // graphics, brushes and sprites
        {"CreateClipRegion", {N(5), N(14), N(0), N(0), N(8), N(8)}},
        {"CreatePointer", {N(5), C("BRUSH"), N(1), N(0), N(0)}},
        {"Polygon", {N(1), N(1), List0({N(0), N(0), N(10), N(0), N(10), N(10)}), N(3)}},
        {"Collision", {C("BOX"), N(0), N(0), N(4), N(4), N(2), N(2), N(4), N(4)}},
        {"ReplaceColors", {N(1), List0({N(0xFF8040), N(0x000000), N(-1)})}},
        {"RGBArrayToBrush", {N(5), List0({N(1), N(2), N(3), N(4)}), N(2), N(2)}},
        {"ChangeBrushTransparency", {N(1), C("MASK")}},
        {"ReduceAlphaChannel", {N(1), N(128)}},
        {"CreateSprite", {N(5), C("BRUSH"), N(1)}},
        {"DisplaySprite", {N(1), N(0), N(0)}},
        {"MoveSprite", {N(1), N(0), N(0), N(10), N(10)}},
        // moveobject: each from one point to another, where the walk looks
        // for the object afterwards (Arrival)
        {"MoveBrush", {N(1), N(0), N(0), N(20), N(12)}},
        {"MoveAnim", {N(1), N(0), N(0), N(20), N(12)}},
        {"MoveTextObject", {N(1), N(0), N(0), N(20), N(12)}},
        {"MoveLayer", {N(1), N(0), N(0), N(20), N(12)}},
        {"Plot", {N(1), N(1), N(0xFFFFFF)}},
        {"AppendPath", {N(2), N(1)}},
        // layers: the second layer is an anim's or a video's
        {"InsertLayer", {N(1), C("BRUSH"), N(1), N(0), N(0)}},
        {"SwapLayers", {N(1), N(2)}},
        {"NextFrame", {N(2)}},
        {"ModifyLayerFrames", {N(2), N(1)}},
        {"PlayLayer", {N(2)}},
        {"PauseLayer", {N(2)}},
        {"ResumeLayer", {N(2)}},
        {"StopLayer", {N(2)}},
        {"SeekLayer", {N(2), N(0)}},
        {"SetLayerVolume", {N(2), N(32)}},
        // sound: another sample, a script-fed music
        {"InsertSample", {N(2), N(1), N(0)}},
        {"CreateMusic", {N(5), N(22050), C("STEREO16")}},
        {"FillMusicBuffer", {N(1), T("sample"), N(100), Table({{"id", N(1)}})}},
        {"FlushMusicBuffer", {N(5)}},
        {"PlaySubsong", {N(0), N(2)}},
        {"OpenFile", {N(5), T("walk.txt"), C("MODE_READ")}},
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
    static const Making packed{"", {"CompressFile", {T("walk.txt"), T("walk.pak")}}};
    static const Making virtualFile{"virtual", {"DefineVirtualFileFromString", {T("walk"), T("walkvirtual.txt")}}};
    static const Making menu{"", {"CreateMenu", {N(5), Menu()}}};
    static const Making source{"", {"OpenFile", {N(2), T("walk.txt")}}};
    static const Making patched{"", {"OpenFile", {N(3), T("walkpatched.txt"), C("MODE_WRITE")}}};
    static const Making vectorBrush{"", {"LoadBrush", {N(5), T("walk.tst")}}};
    static const Making hide{"", {"HideDisplay", {}}};
    static const Making layersOff{"", {"DisableLayers", {}}};
    static const Making noLayers{"", {"FreeLayers", {}}};
    static const Making doubleBuffer{"", {"BeginDoubleBuffer", {}}};
    static const Making sprite{"", {"DisplaySprite", {N(1), N(0), N(0)}}};
    static const Making select{"", {"SelectBrush", {N(1)}}};
    // Brush 1 with an alpha channel, or with a mask.
    static const Making alpha{
        "", {"RGBArrayToBrush", {N(1), List0({N(0x80FF0000), N(0x4000FF00), N(0), N(0xFF0000FF)}), N(2), N(2),
                                 C("ALPHACHANNEL")}}};
    static const Making mask{
        "", {"RGBArrayToBrush", {N(1), List0({N(0xFFFF0000), N(0), N(0), N(0xFF0000FF)}), N(2), N(2), C("MASK")}}};
    static const Making inbuiltFont{
        "", {"SetFont", {T(kDejaVu), N(12), Inbuilt()}}};
    static const Making path{"", {"StartPath", {N(2)}}};
    static const Making textLayer{"", {"TextOut", {N(0), N(0), T("walk")}}};
    static const Making animLayer{"", {"DisplayAnimFrame", {N(1), N(0), N(0), N(1)}}};
    static const Making playVideo{"", {"PlayVideo", {N(1)}}};
    static const Making videoLayer{"", {"PlayVideo", {N(1), N(0), N(0), Table({{"uselayer", N(1)}})}}};
    static const Making pauseVideo{"", {"PauseVideo", {N(1)}}};
    static const Making pauseLayer{"", {"PauseLayer", {N(2)}}};
    static const Making stopLayer{"", {"StopLayer", {N(2)}}};
    static const Making sample{"", {"LoadSample", {N(2), T("walk.wav")}}};
    static const Making playMusic{"", {"PlayMusic", {N(1)}}};
    static const Making pauseMusic{"", {"PauseMusic", {}}};
    static const Making module{"", {"LoadModule", {N(1), T("walk.mod")}}};
    static const Making playModule{"", {"PlayModule", {N(1)}}};
    static const Making pauseModule{"", {"PauseModule", {}}};
    static const Making playStream{"", {"PlayMusic", {N(2)}}};
    static const Making feeder{"", {"InstallEventHandler", {Table({{"fillmusicbuffer", Fn()}})}}};
    static const Making fed{"", {"CreateMusic", {N(5), N(22050), C("STEREO16")}}};
    static const Making playFed{"", {"PlayMusic", {N(5)}}};
    static const std::map<std::string, std::vector<Making>> made = {
        {"AsyncDrawFrame", {async}},    {"CancelAsyncDraw", {async}},   {"FinishAsyncDraw", {async}},
        {"WriteAnimFrame", {stream}},   {"FinishAnimStream", {stream}}, {"GetObjectType", {stream}},
        {"IncreasePointer", {pointer}}, {"DecreasePointer", {pointer}}, {"EnablePlugin", {loader}},
        {"DisablePlugin", {loader}},    {"SetVectorEngine", {engine}},
        {"WriteString", {writer}},      {"WriteShort", {writer}},       {"WriteInt", {writer}},
        {"WriteFloat", {writer}},       {"WriteChr", {writer}},         {"WriteLine", {writer}},
        {"WriteTable", {writer}},       {"WriteFunction", {writer}},
        {"ReadTable", {writer, table, rewind}},
        {"DecompressFile", {packed}},
        {"AllocMemFromPointer", {pointer}},
        {"AllocMemFromVirtualFile", {virtualFile}},
        {"UndefineVirtualStringFile", {virtualFile}},
        {"FreeMenu", {menu}},
        {"ApplyPatch", {source, patched}},
        {"RasterizeBrush", {loader, vectorBrush}},
        {"ShowDisplay", {hide}},
        {"BeginDoubleBuffer", {noLayers, layersOff}},
        {"EndDoubleBuffer", {noLayers, layersOff, doubleBuffer}},
        {"Flip", {noLayers, layersOff, doubleBuffer}},
        {"Plot", {noLayers, layersOff}},
        {"DisplaySprite", {noLayers, layersOff}},
        {"MoveSprite", {noLayers, layersOff, sprite}},
        {"RemoveSprite", {noLayers, layersOff, sprite}},
        {"RemoveSprites", {noLayers, layersOff, sprite}},
        {"EndSelect", {select}},
        {"InvertAlphaChannel", {alpha}},
        {"ReduceAlphaChannel", {alpha}},
        {"InvertMask", {mask}},
        {"AddTextToPath", {inbuiltFont}},
        {"AppendPath", {path}},
        {"SwapLayers", {textLayer}},
        {"NextFrame", {animLayer}},
        {"ModifyLayerFrames", {animLayer}},
        {"PlayLayer", {videoLayer, stopLayer}},
        {"PauseLayer", {videoLayer}},
        {"ResumeLayer", {videoLayer, pauseLayer}},
        {"StopLayer", {videoLayer}},
        {"SeekLayer", {videoLayer}},
        {"SetLayerVolume", {videoLayer}},
        {"StopVideo", {playVideo}},
        {"PauseVideo", {playVideo}},
        {"ResumeVideo", {playVideo, pauseVideo}},
        {"InsertSample", {sample}},
        {"StopMusic", {playMusic}},
        {"PauseMusic", {playMusic}},
        {"ResumeMusic", {playMusic, pauseMusic}},
        {"StopModule", {module, playModule}},
        {"PauseModule", {module, playModule}},
        {"ResumeModule", {module, playModule, pauseModule}},
        {"PlaySubsong", {playStream}},
        {"CreateMusic", {feeder}},
        {"FlushMusicBuffer", {feeder, fed, playFed}},
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

namespace {

// The command's entry in docs/signatures.txt.
const SignatureEntry* EntryOf(const std::string& command) {
    static const std::map<std::string, SignatureEntry> entries = [] {
        std::vector<SignatureEntry> read;
        std::string error;
        if (!ReadSignatures((std::string(QB_SOURCE_DIR) + "/docs/signatures.txt").c_str(), read, error))
            std::fprintf(stderr, "%s\n", error.c_str());
        std::map<std::string, SignatureEntry> byName;
        for (SignatureEntry& e : read) byName[e.name] = std::move(e);
        return byName;
    }();
    const auto it = entries.find(command);
    return it == entries.end() ? nullptr : &it->second;
}

}  // namespace

// Where a True/False result is named flag (or, where a name says more, ok,
// done, known, loaded or playing). Results after a repeated one have no
// fixed place.
const std::vector<int>& FlagResults(const std::string& command) {
    static std::map<std::string, std::vector<int>> found;
    const auto [it, fresh] = found.try_emplace(command);
    const SignatureEntry* e = EntryOf(command);
    if (!fresh || !e) return it->second;
    std::string results = e->results + ",";
    int at = 1;
    for (size_t from = 0, comma; (comma = results.find(',', from)) != std::string::npos; from = comma + 1, ++at) {
        std::string name = results.substr(from, comma - from);
        std::erase_if(name, [](char c) { return c == ' ' || c == '[' || c == ']'; });
        if (name.find("...") != std::string::npos) break;
        for (const char* flag : {"flag", "ok", "done", "known", "loaded", "playing"})
            if (name == flag) it->second.push_back(at);
    }
    return it->second;
}

int LeastResults(const std::string& command) {
    const SignatureEntry* e = EntryOf(command);
    if (!e || e->results.empty()) return 0;
    // Only the first counts: a command may end its list early (NextItem's
    // Nil after the last pair).
    const std::string first = e->results.substr(0, e->results.find(','));
    return first.find('[') == std::string::npos && first.find("...") == std::string::npos ? 1 : 0;
}

const std::vector<int>& TablePlaces(const std::string& command) {
    static const std::vector<int> none;
    const SignatureEntry* e = EntryOf(command);
    return e ? e->tables : none;
}

int MostArgs(const std::string& command) {
    const SignatureEntry* e = EntryOf(command);
    return e ? e->maxArgs : kNoUpperBound;
}

bool TakesOptions(const std::string& command) {
    const SignatureEntry* e = EntryOf(command);
    return e && e->call.find("{options}") != std::string::npos;
}

int RoadEnd(const std::string& command) {
    if (command == "End") return ERR_USERABORT;
    if (command == "Error") return ERR_ERRORCALLED;
    return 0;
}

namespace {
// Pressed and let go over label button 1 (at 0, 0, 8 x 8, a handler for
// the release).
std::vector<Gesture> Click(uint32_t button) { return {{button, 2, 2, 1}, {button, 2, 2, 0}}; }
}  // namespace

const std::vector<Gesture>& Answers(const std::string& command) {
    static const std::map<std::string, std::vector<Gesture>> answers = {
        {"WaitLeftMouse", Click(kEventLeftButton)},
        {"WaitRightMouse", Click(kEventRightButton)},
        {"WaitMidMouse", Click(kEventMiddleButton)},
        {"WaitEvent", Click(kEventLeftButton)},
        {"WaitKeyDown", {{kEventKey, 1, 0, 'a'}, {kEventKey, 0, 0, 'a'}}},
        {"InKeyStr", {{kEventKey, 1, 0, 'a'}, {kEventKey, 0, 0, 'a'}, {kEventKey, 1, 0, kReturn}}},
    };
    static const std::vector<Gesture> none;
    const auto it = answers.find(command);
    return it == answers.end() ? none : it->second;
}

const std::set<std::string>& ReadFields(const std::string& command) {
    static const std::map<std::string, std::set<std::string>> recorded = [] {
        std::map<std::string, std::set<std::string>> byCommand;
        std::ifstream in(std::string(QB_SOURCE_DIR) + "/tests/player/walk_fields.txt");
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '#') continue;
            std::istringstream words(line);
            std::string name, field;
            words >> name;
            while (words >> field) byCommand[name].insert(field);
        }
        return byCommand;
    }();
    static const std::set<std::string> none;
    const auto it = recorded.find(command);
    return it == recorded.end() ? none : it->second;
}

int MovedKind(const std::string& command) {
    static const std::map<std::string, int> kinds = {
        {"MoveBrush", 3}, {"MoveAnim", 4}, {"MoveTextObject", 8}, {"MoveLayer", 0}, {"MoveSprite", 32}};
    const auto it = kinds.find(command);
    return it == kinds.end() ? -1 : it->second;
}

bool WaitsForUser(const std::string& command) {
    static const std::set<std::string> waits = {
        "WaitLeftMouse", "WaitRightMouse", "WaitMidMouse", "WhileMouseDown", "WhileRightMouseDown",
        "WaitEvent",     "WaitKeyDown",    "WaitSampleEnd", "ReceiveData",   "InKeyStr",    "End"};
    return waits.count(command) != 0;
}

const std::map<std::string, std::string>& ShortOfRoad(bool scaled) {
    static const std::map<std::string, std::string> shortOf = {
        {"JoyDir", "no joystick on a headless machine"},
        {"JoyFire", "no joystick on a headless machine"},
        {"CreatePort", "no message ports on this platform"},
        {"SendMessage", "no message ports on this platform"},
        {"ReadFunction", "a script function, which the walk's C functions are not, must be written first"},
        {"WriteFunction", "writes script functions only, which the walk's C functions are not"},
    };
    static const std::map<std::string, std::string> scaledToo = [] {
        std::map<std::string, std::string> more = shortOf;
        for (const char* c : {"DisableLayers", "BeginDoubleBuffer", "EndDoubleBuffer", "Flip", "Plot", "DisplaySprite",
                              "MoveSprite", "RemoveSprite", "RemoveSprites"})
            more[c] = "needs layers off, which a scaled display keeps on";
        return more;
    }();
    return scaled ? scaledToo : shortOf;
}

bool RunsInHandler(const std::string& command) { return command == "FillMusicBuffer"; }

const std::vector<EdgeValue>& EdgeValues() {
    constexpr double kPow31 = 2147483648.0, kPow53 = 9007199254740992.0, kInf = std::numeric_limits<double>::infinity();
    static const std::vector<EdgeValue> values = {
        {"2^31", kPow31},         {"-2^31", -kPow31}, {"2^31-1", kPow31 - 1}, {"-(2^31-1)", 1 - kPow31},
        {"2^53", kPow53},         {"-2^53", -kPow53}, {"1e300", 1e300},       {"-1e300", -1e300},
        {"+inf", kInf},           {"-inf", -kInf},    {"NaN", std::numeric_limits<double>::quiet_NaN()}};
    return values;
}

namespace {

// An argument's names as its signature writes them: "[roundlevel |
// {options}]" names roundlevel and options.
std::vector<std::vector<std::string>> ArgumentNames(const SignatureEntry& e) {
    const size_t open = e.call.find('('), close = e.call.rfind(')');
    std::vector<std::vector<std::string>> places;
    if (open == std::string::npos || close == std::string::npos || close <= open + 1) return places;
    std::istringstream list(e.call.substr(open + 1, close - open - 1));
    for (std::string piece; std::getline(list, piece, ',');) {
        std::vector<std::string> names;
        std::string name;
        for (char c : piece + "|") {
            if (c == '|' || c == '=') {
                if (!name.empty()) names.push_back(name);
                name.clear();
                if (c == '=') break;
            } else if (std::isalnum(static_cast<unsigned char>(c))) {
                name += c;
            }
        }
        places.push_back(std::move(names));
    }
    return places;
}

}  // namespace

const CoordinatePlaces& CoordinatesOf(const std::string& command) {
    static const std::set<std::string> argNames = {
        "x",  "y",  "x1",     "y1",      "x2",      "y2",      "x3",     "y3",    "x4",     "y4",     "xc",
        "yc", "cx", "cy",     "centerx", "centery", "dx",      "dy",     "srcx",  "srcy",   "ax",     "ay",
        "left", "top", "right", "bottom", "width",  "height",  "w1",     "w2",    "h1",     "h2",     "h",
        "radius", "rx", "ry", "xradius", "yradius", "size",    "thickness", "roundlevel", "offset"};
    static const std::set<std::string> fieldNames = {
        "x",          "y",          "width",     "height",     "dx",        "dy",        "offset",    "bordersize",
        "shadowsize", "shadowradius", "roundlevel", "texturex", "texturey",  "translatex", "translatey", "partx",
        "party",      "partwidth",  "partheight", "centerx",   "centery",   "thickness", "outlinethickness",
        "edgesize",   "scalewidth", "scaleheight", "cornera",  "cornerb",   "cornerc",   "cornerd",   "insertpos"};
    static std::map<std::string, CoordinatePlaces> found;
    const auto [it, fresh] = found.try_emplace(command);
    if (!fresh) return it->second;
    if (const SignatureEntry* e = EntryOf(command)) {
        const std::vector<std::vector<std::string>> places = ArgumentNames(*e);
        for (size_t at = 0; at < places.size(); ++at)
            if (std::any_of(places[at].begin(), places[at].end(), [](const std::string& n) { return argNames.count(n); }))
                it->second.args.push_back(static_cast<int>(at) + 1);
    }
    for (const std::string& f : ReadFields(command)) {
        const size_t dot = f.find('.');
        if (dot != std::string::npos && fieldNames.count(f.substr(dot + 1)))
            it->second.fields.emplace_back(std::atoi(f.c_str()), f.substr(dot + 1));
    }
    return it->second;
}

namespace {

// Whether the argument names an object or a type, which stays.
bool NamesAnObject(const std::vector<std::string>& names) {
    static const std::set<std::string> ids = {"id",    "layer",  "layer1", "layer2", "brush",   "display", "bgpic",
                                              "source", "dest",  "srcid",  "dstid",  "anim",    "music",   "sample",
                                              "object", "pointer", "monitor", "file", "patch",  "video",   "target",
                                              "type",  "srctype", "dsttype"};
    return std::any_of(names.begin(), names.end(), [](const std::string& n) { return ids.count(n) != 0; });
}

// Calls visit(number, told) on each number of the argument, its list and
// its fields, in order; told tells whether the scheme may change it.
template <typename Visit>
void EachNumber(Arg& a, bool told, bool fieldsTold, const Visit& visit) {
    if (a.kind == Arg::kNumber) visit(a.number, told);
    for (Arg& item : a.items) EachNumber(item, true, fieldsTold, visit);
    for (size_t i = 0; i < a.keys.size(); ++i)
        EachNumber(a.values[i], fieldsTold && a.keys[i] != "id" && a.keys[i] != "type", fieldsTold, visit);
}

}  // namespace

std::vector<Arg> DistinctArgs(const std::string& command, const std::vector<Arg>& plausible, int scheme) {
    std::vector<Arg> args = plausible;
    std::vector<std::vector<std::string>> names;
    if (const SignatureEntry* e = EntryOf(command)) names = ArgumentNames(*e);
    const std::vector<int>& coordinates = CoordinatesOf(command).args;
    auto each = [&](const auto& visit) {
        for (size_t at = 0; at < args.size(); ++at) {
            const int place = static_cast<int>(at) + 1;
            const bool told = scheme == 2 ? std::count(coordinates.begin(), coordinates.end(), place) != 0
                                          : !(at < names.size() && NamesAnObject(names[at]));
            EachNumber(args[at], told, scheme == 0, visit);
        }
    };
    std::map<double, int> seen;
    each([&](double v, bool) { ++seen[v]; });
    auto changes = [&](double v, bool told) { return told && (v == 1 || seen[v] > 1); };
    std::set<double> keptValues;
    each([&](double v, bool told) {
        if (!changes(v, told)) keptValues.insert(v);
    });
    int next = 1;
    auto following = [&] {
        for (;;) {
            ++next;
            bool prime = true;
            for (int d = 2; scheme == 0 && d * d <= next; ++d) prime = prime && next % d != 0;
            if (prime && !keptValues.count(next)) return next;
        }
    };
    each([&](double& v, bool told) {
        if (changes(v, told)) v = following();
    });
    return args;
}

bool WorksFromAKeptPlace(const std::string& command) {
    const SignatureEntry* e = EntryOf(command);
    if (!e) return false;
    if (e->library == "transitionfx" || e->library == "vectorgraphics" || command == "Print" || command == "NPrint")
        return true;
    for (const std::vector<std::string>& names : ArgumentNames(*e))
        if (std::find(names.begin(), names.end(), "layer") != names.end()) return true;
    return false;
}

std::vector<Making> FarPlaces(double v) {
    return {{"", {"SetLayerStyle", {N(1), Table({{"x", N(v)}, {"y", N(v)}})}}},
            {"", {"Locate", {N(v), N(v)}}},
            {"", {"MoveTo", {N(1), N(v), N(v)}}},
            {"", {"LineTo", {N(1), N(12), N(12)}}}};
}

const std::vector<DrawTarget>& DrawTargets() {
    const Making noLayers{"", {"FreeLayers", {}}}, layersOff{"", {"DisableLayers", {}}};
    const Making alpha{
        "", {"RGBArrayToBrush", {N(1), List0({N(0x80FF0000), N(0x4000FF00), N(0), N(0xFF0000FF)}), N(2), N(2),
                                 C("ALPHACHANNEL")}}};
    const Making mask{
        "", {"RGBArrayToBrush", {N(1), List0({N(0xFFFF0000), N(0), N(0), N(0xFF0000FF)}), N(2), N(2), C("MASK")}}};
    const Making brush{"", {"SelectBrush", {N(1)}}};
    const Making clip{"", {"SetClipRegion", {N(1)}}};
    static const std::vector<DrawTarget> targets = {
        {"the window", {noLayers, layersOff}},
        {"the window with layers", {}},
        // Flipped once: a new double buffer takes no dirty rectangles.
        {"a double buffer", {noLayers, layersOff, {"", {"BeginDoubleBuffer", {}}}, {"", {"Flip", {}}}}},
        {"a brush", {brush}},
        {"a brush with a mask", {mask, brush}},
        {"a brush with an alpha channel", {alpha, brush}},
        {"an anim frame", {{"", {"SelectAnim", {N(1), N(1)}}}}},
        {"a layer", {{"", {"SelectLayer", {N(1)}}}}},
        {"a BGPic", {{"", {"SelectBGPic", {N(2)}}}}},
        {"a mask", {mask, {"", {"SelectMask", {N(1)}}}}},
        {"an alpha channel", {alpha, {"", {"SelectAlphaChannel", {N(1)}}}}},
        // Outlined and smoothed shapes take other roads: the clip targets
        // draw them so.
        {"the window in a clip region, outlined", {noLayers, layersOff, clip, {"", {"SetFillStyle", {C("FILLNONE")}}}}},
        {"a brush in a clip region, smoothed", {brush, clip, {"", {"SetFormStyle", {C("ANTIALIAS")}}}}},
    };
    return targets;
}

}  // namespace walkworld
