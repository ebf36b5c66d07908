#include "walk_answers.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "core/argapi.h"
#include "core/errors.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displays.h"
#include "imaging/bitmap.h"
#include "objects/brushes.h"
#include "objects/layers.h"
#include "platform/null/null_backend.h"
#include "vm/vm.h"

namespace walkworld {
namespace {

constexpr size_t kLongest = 200;
constexpr int kDepth = 3;

struct Fnv {
    uint64_t h = 1469598103934665603ull;
    void Byte(uint8_t b) {
        h ^= b;
        h *= 1099511628211ull;
    }
    void Word(uint64_t w) {
        for (int i = 0; i < 8; ++i) Byte(static_cast<uint8_t>(w >> (8 * i)));
    }
    void Bytes(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        for (size_t i = 0; i < n; ++i) Byte(b[i]);
    }
};

std::string Hex(uint64_t v) {
    char s[20];
    std::snprintf(s, sizeof s, "%016" PRIx64, v);
    return s;
}

// A value too long for the line: what it was, its length and its hash.
std::string Shortened(const char* kind, const std::string& s) {
    if (s.size() <= kLongest) return s;
    Fnv f;
    f.Bytes(s.data(), s.size());
    return std::string("<") + kind + " " + std::to_string(s.size()) + " " + Hex(f.h) + ">";
}

std::string Replaced(std::string s, const std::string& from, const std::string& to) {
    if (from.empty()) return s;
    for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
    return s;
}

std::string Number(double v, const AnswerPlaces& places) {
    if (places.port != 0 && v == places.port) return "<port>";
    // (The sign of a NaN is the instruction's that made it.)
    if (std::isnan(v)) return "nan";
    char s[40];
    if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 9007199254740992.0)
        std::snprintf(s, sizeof s, "%.0f", v == 0 ? 0.0 : v);
    else
        std::snprintf(s, sizeof s, "%.9g", v);
    return s;
}

std::string Text(ScriptState* L, int at, const AnswerPlaces& places) {
    std::string s(VmToCString(L, at), VmStrLen(L, at));
    s = Replaced(std::move(s), places.scratch, "<scratch>");
    s = Replaced(std::move(s), places.home, "<home>");
    if (places.port != 0) s = Replaced(std::move(s), ":" + std::to_string(places.port), ":<port>");
    std::string quoted = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char e[8];
            std::snprintf(e, sizeof e, "\\x%02x", c);
            quoted += e;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return Shortened("text", quoted + "\"");
}

std::string Value(ScriptState* L, int at, int depth, const AnswerPlaces& places) {
    switch (VmType(L, at)) {
        case kTypeNil: return "nil";
        case kTypeBoolean: return VmToBoolean(L, at) ? "true" : "false";
        case kTypeNumber: return Number(VmToNumber(L, at), places);
        case kTypeString: return Text(L, at, places);
        case kTypeFunction: return "function";
        case kTypeUserdata: return "userdata";
        case kTypeTable: break;
        default: return VmTypeName(L, VmType(L, at));
    }
    if (depth >= kDepth) return "{...}";
    std::vector<std::string> entries;
    VmPushNil(L);
    while (VmNext(L, at)) {
        const int top = VmGetTop(L);
        const std::vector<std::string>* unsteady = places.unsteadyKeys;
        if (unsteady && VmType(L, top - 1) == kTypeString &&
            std::find(unsteady->begin(), unsteady->end(), VmToCString(L, top - 1)) != unsteady->end()) {
            VmSetTop(L, top - 1);
            continue;
        }
        // The key is read without converting it, which would upset the
        // iteration.
        entries.push_back(Value(L, top - 1, kDepth, places) + "=" + Value(L, top, depth + 1, places));
        VmSetTop(L, top - 1);
    }
    std::sort(entries.begin(), entries.end());
    std::string s = "{";
    for (const std::string& e : entries) s += (s.size() > 1 ? "," : "") + e;
    return Shortened("table", s + "}");
}

void HashBitmap(Fnv& f, const qbBitmap* b) {
    if (!b) {
        f.Word(0);
        return;
    }
    f.Word(static_cast<uint64_t>(b->width) << 32 | static_cast<uint32_t>(b->height));
    qbPixelView view;
    if (b->kind == kBitmapKindColour && PeekPlainPixels(b, &view) && view.bytesPerPixel == 4) {
        for (int32_t y = 0; y < b->height; ++y)
            f.Bytes(static_cast<const uint32_t*>(view.pixels) + static_cast<size_t>(y) * view.rowLength,
                    static_cast<size_t>(b->width) * 4);
    } else if (b->kind != kBitmapKindColour && b->plane && b->plane->data) {
        // The bytes that hold pixels, not the padding of the rows.
        const auto width = static_cast<size_t>(b->plane->width);
        const size_t row = std::min<size_t>(b->plane->rowBytes, b->kind == kBitmapKindAlpha ? width : (width + 7) / 8);
        for (int32_t y = 0; y < b->plane->height; ++y)
            f.Bytes(b->plane->data + static_cast<size_t>(y) * b->plane->rowBytes, row);
    } else {
        f.Word(1);
    }
}

}  // namespace

std::string DescribeResults(ScriptState* L, int base, int count, const AnswerPlaces& places) {
    std::string s;
    for (int i = 1; i <= count; ++i) s += (i > 1 ? " " : "") + Value(L, base + i, 0, places);
    return s;
}

uint64_t SeenPixels(ScriptState* L) {
    // The look-ups name the argument of a failed one: the call's own error
    // keeps its argument.
    const int argument = GetErrorArgIndex();
    Fnv f;
    qbDisplay* d = nullptr;
    if (GetDisplayRecord(ObjectID{1, nullptr}, &d) == 0 && d) {
        if (const null_backend::Surface* s = null_backend::GetSurface(d)) {
            f.Word(static_cast<uint64_t>(s->width) << 32 | static_cast<uint32_t>(s->height));
            f.Bytes(s->pixels.data(), s->pixels.size() * 4);
        }
        for (const BitmapPtr* b : {&d->spriteFreeBuffer, &d->backBuffer, &d->drawBuffer, &d->showBuffer})
            HashBitmap(f, b->get());
        if (d->bgpic) {
            for (int32_t n = 1; n <= CountLayers(d->bgpic); ++n) {
                const qbLayer* layer = GetLayerByIndex(d->bgpic, n);
                if (!layer) continue;
                f.Word(static_cast<uint64_t>(layer->type) << 32 | static_cast<uint32_t>(layer->hidden));
                f.Bytes(layer->name.data(), layer->name.size());
                if (const qbLayerState* s = layer->shownstate) {
                    for (int32_t v : {s->shownx, s->showny, s->shownwidth, s->shownheight})
                        f.Word(static_cast<uint32_t>(v));
                }
                if (layer->basestate) HashBitmap(f, layer->basestate->bitmap);
            }
        }
    }
    qbBrush* brush = nullptr;
    if (GetBrushRecord(L, ObjectID{1, nullptr}, &brush, kBrushHardwareToo) == 0 && brush) {
        f.Word(static_cast<uint64_t>(brush->width) << 32 | static_cast<uint32_t>(brush->height));
        HashBitmap(f, brush->bitmap);
        HashBitmap(f, brush->mask);
        HashBitmap(f, brush->alpha);
    }
    // The other brushes, in the order they were made (automatic ids are
    // addresses and count as 0).
    for (const qbBrush* b = FirstBrush(); b; b = static_cast<const qbBrush*>(b->next)) {
        if (b->detached || b == brush) continue;
        f.Word(static_cast<uint32_t>(b->id));
        f.Word(static_cast<uint64_t>(b->width) << 32 | static_cast<uint32_t>(b->height));
        HashBitmap(f, b->bitmap);
        HashBitmap(f, b->mask);
        HashBitmap(f, b->alpha);
    }
    SetErrorArgIndex(argument);
    return f.h;
}

std::map<std::string, uint64_t> FilesIn(const std::string& folder) {
    std::map<std::string, uint64_t> files;
    std::error_code err;
    for (std::filesystem::recursive_directory_iterator it(folder, err), end; !err && it != end; it.increment(err)) {
        if (!it->is_regular_file(err)) continue;
        std::ifstream in(it->path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Fnv f;
        f.Word(bytes.size());
        f.Bytes(bytes.data(), bytes.size());
        files[std::filesystem::relative(it->path(), folder, err).generic_string()] = f.h;
    }
    return files;
}

std::string Wrote(const std::map<std::string, uint64_t>& before, const std::map<std::string, uint64_t>& after) {
    Fnv f;
    bool any = false;
    auto note = [&](const std::string& name, uint64_t hash) {
        any = true;
        f.Bytes(name.data(), name.size() + 1);
        f.Word(hash);
    };
    for (const auto& [name, hash] : after) {
        const auto was = before.find(name);
        if (was == before.end() || was->second != hash) note(name, hash);
    }
    for (const auto& [name, hash] : before)
        if (!after.count(name)) note(name, 0);
    return any ? " wrote " + Hex(f.h) : std::string();
}

const std::map<std::string, std::string>& RecordedAnswers() {
    static const std::map<std::string, std::string> recorded = [] {
        std::map<std::string, std::string> byCommand;
        std::ifstream in(std::string(QB_SOURCE_DIR) + "/tests/player/walk_answers.txt");
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '#') continue;
            const size_t space = line.find(' ');
            if (space == std::string::npos) continue;
            byCommand[line.substr(0, space)] = line.substr(space + 1);
        }
        return byCommand;
    }();
    return recorded;
}

const LeftOut* LeftOutOf(const std::string& command) {
    // The times of a file are when the walk laid it.
    static const std::vector<std::string> fileTimes = {"time", "lastaccesstime"};
    static const std::map<std::string, LeftOut> leftOut = {
        {"GetTime", {Unsteady::kAll, "the time of day"}},
        {"GetDate", {Unsteady::kAll, "today's date"}},
        {"GetLocalPort", {Unsteady::kAll, "the port the system chose for the connection"}},
        {"GetRandomColor", {Unsteady::kAll, "a random number"}},
        {"GetRandomFX", {Unsteady::kAll, "a random number"}},
        {"RndF", {Unsteady::kAll, "a random number"}},
        {"Rnd#distinct", {Unsteady::kAll, "a random number below 2 (below 1, the plausible call's, it is 0)"}},
        {"GetTempFileName", {Unsteady::kAll, "a name made of random letters"}},
        {"GetVolumeInfo", {Unsteady::kAll, "the free space of the machine's disk"}},
        {"GetTimer", {Unsteady::kAll, "the milliseconds the world's timer has run, by the system's clock"}},
        {"GetDateNum", {Unsteady::kAll, "today's date"}},
        {"GetWeekday", {Unsteady::kAll, "today's date"}},
        {"GetHostName", {Unsteady::kAll, "the machine's name"}},
        {"GetSystemCountry", {Unsteady::kAll, "the locale of the user running the test"}},
        {"GetSystemLanguage", {Unsteady::kAll, "the locale of the user running the test"}},
        {"GetAvailableFonts", {Unsteady::kAll, "the fonts installed on the machine"}},
        {"GetMemoryInfo", {Unsteady::kAll, "the machine's memory"}},
        {"GCInfo", {Unsteady::kAll, "the VM's memory in use, which every new command or constant changes"}},
        {"GetSystemInfo",
         {Unsteady::kKeys, "the path of the test's binary and the user running it", {"appbundle", "username"}}},
        {"FileAttributes", {Unsteady::kKeys, "the file's times", fileTimes}},
        {"GetFileAttributes", {Unsteady::kKeys, "the file's times", fileTimes}},
        {"NextDirectoryEntry", {Unsteady::kKeys, "the file's times", fileTimes}},
        {"DisplayTransitionFX", {Unsteady::kPixels, "a random effect, and not every effect ends on the same picture"}},
        // (An effect asked to run on its own steps by the clock.)
        {"SaveAnim", {Unsteady::kFiles, "the anim's file differs from checkout to checkout (cause not yet found)"}},
        {"BeginAnimStream", {Unsteady::kFiles, "the stream's file differs from run to run (cause not yet found)"}},
        {"FinishAnimStream", {Unsteady::kFiles, "the stream's file differs from run to run (cause not yet found)"}},
    };
    const auto it = leftOut.find(command);
    return it == leftOut.end() ? nullptr : &it->second;
}

}  // namespace walkworld
