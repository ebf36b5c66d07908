// qbcommands: the command reference (docs/commands.md), read from the tables
// the libraries register when the player opens them, so that it lists what
// scripts reach and nothing else.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "core/argapi.h"
#include "core/chars.h"
#include "core/settings.h"
#include "display/eventlib.h"
#include "platform/platform_ops.h"
#include "player/cmdline.h"
#include "attribute_list.h"
#include "signatures.h"
#include "vm/vm.h"

namespace {

constexpr char kUsage[] =
    "Usage: qbcommands [-s SIGNATURES.txt] [-o OUT.md]\n"
    "Writes the reference of the script commands and constants of the player's\n"
    "libraries (standard output without -o). The libraries are opened as at\n"
    "start-up on an in-memory backend; each command is called once with an\n"
    "argument-count probe, which stops it before it does anything.\n"
    "What each command takes and gives comes from the signature file: by\n"
    "default signatures.txt in the folder of OUT.md, or docs/signatures.txt\n"
    "without -o. It must hold one entry for every command of the tables, in\n"
    "its library, with the argument counts the command checks, and no other.\n";

struct ProbedRange {
    bool seen = false;
    int min = 0;
    int max = 0;
};

ProbedRange probed;

void RecordRange(int min, int max) {
    if (probed.seen) return;
    probed = {true, min, max};
}

ProbedRange ProbeArguments(CommandHandler handler, ScriptState* L) {
    probed = {};
    SetArgCountProbe(RecordRange);
    VmPushCClosure(L, handler, 0);
    VmPCall(L, 0, 0, 0);
    SetArgCountProbe(nullptr);
    VmSetTop(L, 0);
    ProbedRange range = probed;
    // A maximum of 0 or below with a minimum above 0 sets no upper bound.
    if (range.seen && range.max < 1 && range.min > 0) range.max = kNoUpperBound;
    return range;
}

std::string ArgumentText(const ProbedRange& range) {
    if (!range.seen) return "any number of arguments, unchecked";
    const auto [seen, min, max] = range;
    if (min == 0 && max == 0) return "no arguments";
    if (max == kNoUpperBound) return std::to_string(min) + " or more arguments";
    if (min == max) return std::to_string(min) + (min == 1 ? " argument" : " arguments");
    return std::to_string(min) + "-" + std::to_string(max) + " arguments";
}

std::string ValueText(const ScriptConstant& c) {
    if (c.str) return std::string("`\"") + c.str + "\"`";
    char buf[64];
    if (std::nearbyint(c.num) == c.num && std::fabs(c.num) < 1e15)
        std::snprintf(buf, sizeof buf, "%.0f", c.num);
    else
        std::snprintf(buf, sizeof buf, "%.17g", c.num);
    return buf;
}

bool ListedConstant(const char* name) {
    for (const CommandTableNode& node : RegisteredCommandTables())
        for (const ScriptConstant* c = node.constants; c && c->name; ++c)
            if (StrCmpNoCase(c->name, name) == 0) return true;
    return false;
}

bool ListedCommand(CommandHandler handler) {
    for (const CommandTableNode& node : RegisteredCommandTables())
        for (const ScriptCommand* row = node.table; row && row->name; ++row)
            if (row->handler == handler) return true;
    return false;
}

// The functions in the globals: before the libraries open, the VM's own.
std::vector<CommandHandler> GlobalFunctions(ScriptState* L) {
    std::vector<CommandHandler> found;
    VmPushNil(L);
    while (VmNext(L, kGlobalsIndex)) {
        if (VmIsCFunction(L, -1)) found.push_back(VmToCFunction(L, -1));
        VmSetTop(L, -2);
    }
    VmSetTop(L, 0);
    return found;
}

// Every command and constant the libraries gave the VM must come from a
// registered table, or the reference would miss it; this names what does not.
bool CheckEverythingIsListed(ScriptState* L, const std::vector<CommandHandler>& vmOwn) {
    bool complete = true;
    VmPushString(L, "constants");
    VmRawGet(L, kRegistryIndex);
    if (VmType(L, -1) == kTypeTable) {
        VmPushNil(L);
        while (VmNext(L, -2)) {
            const char* name = VmToCString(L, -2);
            if (!ListedConstant(name)) {
                std::fprintf(stderr, "qbcommands: constant #%s is registered with the VM but in no library's table\n",
                             name);
                complete = false;
            }
            VmSetTop(L, -2);
        }
    }
    VmSetTop(L, 0);
    VmPushNil(L);
    while (VmNext(L, kGlobalsIndex)) {
        const CommandHandler fn = VmIsCFunction(L, -1) ? VmToCFunction(L, -1) : nullptr;
        if (fn && std::find(vmOwn.begin(), vmOwn.end(), fn) == vmOwn.end() && !ListedCommand(fn)) {
            std::fprintf(stderr, "qbcommands: command %s is registered with the VM but in no library's table\n",
                         VmToCString(L, -2));
            complete = false;
        }
        VmSetTop(L, -2);
    }
    VmSetTop(L, 0);
    return complete;
}

void WriteIntroduction(std::string& out) {
    out +=
        "# Script commands and constants\n"
        "\n"
        "<!-- Written by build/tools/qbcommands from docs/signatures.txt; do not edit. -->\n"
        "\n"
        "This is what scripts can call, library by library, as the player's\n"
        "command tables list it. `build/tools/qbcommands -o docs/commands.md`\n"
        "writes it from the tables and from docs/signatures.txt, which says\n"
        "what each command takes and gives; a test fails when the file differs\n"
        "from the tables, when a command has no signature or two, when a\n"
        "signature names no command, when its arguments are not the\n"
        "number the command checks, or when `GetAttribute`'s lists other\n"
        "attributes for an object type than the player answers.\n"
        "\n"
        "- A script reaches a command through the global of its name in lower\n"
        "  case: `GETGLOBAL 0 \"displaybrush\"`, then the arguments in the\n"
        "  registers after it and `CALL 0 B C` with B = arguments + 1 and\n"
        "  C = results + 1.\n"
        "- Each command is given as `Name(arguments) -> results`, with the\n"
        "  number of arguments it accepts as it checks them when called.\n"
        "  Fewer end the script with \"Not enough arguments!\", more with\n"
        "  \"Too many arguments for this function!\". An argument in brackets\n"
        "  may be left out, and takes the default after `=`; the optional ones\n"
        "  come last. `...` repeats the argument before it. `a | b` is either.\n"
        "  No `->` means no results.\n"
        "- `id` names an object by the number the script chose. A command\n"
        "  that creates an object also takes Nil there: it then chooses the\n"
        "  id itself and returns it (an automatic id). `options` is a table\n"
        "  of named fields, each of which may be left out.\n"
        "- Positions in strings count bytes from 0; frames of anims, sprites\n"
        "  and videos count from 1. Times are milliseconds unless an entry\n"
        "  says ticks (1/50 s) or seconds; angles are degrees unless it says\n"
        "  radians. A command that waits says so, and whether event handlers\n"
        "  run while it waits (they run only from `WaitEvent`, `CheckEvent`,\n"
        "  `CheckEvents` and `WhileMouseOn`).\n"
        "- A constant is written `#NAME` in a script; `qbasm` knows no names,\n"
        "  so write its value there (`#CENTER` is `#-100000`).\n";
}

// "a, b and c", in backquotes.
std::string Enumeration(const std::vector<std::string>& names, const char* lastJoin) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i) text += i + 1 == names.size() ? std::string(" ") + lastJoin + " " : ", ";
        text += "`" + names[i] + "`";
    }
    return text;
}

void WriteLibraryList(std::string& out) {
    std::vector<std::string> present, missing;
    for (const ScriptCommand* lib = CommandLibraryList(); lib->name; ++lib)
        (lib->handler ? present : missing).push_back(lib->name);
    out += "\n## Libraries\n\nThe player has the libraries " + Enumeration(present, "and") + ".";
    if (!missing.empty()) out += " It has no " + Enumeration(missing, "or") + " library.";
    out += "\n";
}

const SignatureEntry* EntryOf(const std::vector<SignatureEntry>& entries, const char* name) {
    for (const SignatureEntry& e : entries)
        if (e.name == name) return &e;
    return nullptr;
}

// The signature file against the tables: every command has exactly one entry,
// written as the table writes its name, in its library's section and with the
// argument counts the command checks; no entry names a command the tables lack.
bool CheckSignatures(const std::vector<SignatureEntry>& entries, const char* path, ScriptState* L) {
    bool sound = true;
    auto complain = [&](const SignatureEntry* e, const std::string& what) {
        if (e)
            std::fprintf(stderr, "%s:%d: %s\n", path, e->line, what.c_str());
        else
            std::fprintf(stderr, "%s: %s\n", path, what.c_str());
        sound = false;
    };
    std::vector<bool> matched(entries.size(), false);
    for (const CommandTableNode& node : RegisteredCommandTables()) {
        for (const ScriptCommand* row = node.table; row && row->name; ++row) {
            if (!row->handler) continue;
            std::vector<size_t> found;
            for (size_t i = 0; i < entries.size(); ++i)
                if (StrCmpNoCase(entries[i].name.c_str(), row->name) == 0) found.push_back(i);
            if (found.empty()) {
                complain(nullptr, std::string("command ") + row->name + " of library " + node.name + " has no entry");
                continue;
            }
            for (size_t i : found) matched[i] = true;
            const SignatureEntry& e = entries[found.front()];
            if (found.size() > 1) {
                for (size_t k = 1; k < found.size(); ++k)
                    complain(&entries[found[k]], std::string("a second entry for ") + row->name + " (the first is on line " +
                                                     std::to_string(e.line) + ")");
                continue;
            }
            if (e.name != row->name) complain(&e, e.name + " is written " + row->name + " in its table");
            if (e.library != node.name)
                complain(&e, e.name + " stands under [" + e.library + "] but belongs to library " + node.name);
            const ProbedRange range = ProbeArguments(row->handler, L);
            if (range.seen && (range.min != e.minArgs || range.max != e.maxArgs))
                complain(&e, e.call + " does not take what " + row->name + " checks: " + ArgumentText(range));
        }
    }
    for (size_t i = 0; i < entries.size(); ++i)
        if (!matched[i]) complain(&entries[i], entries[i].name + " is in no library's table");
    return sound;
}

// One section a library: a library that registers several tables (the
// system library registers two) gets their commands, then their constants,
// under one heading.
void WriteLibrary(std::string& out, const std::vector<const CommandTableNode*>& nodes,
                  const std::vector<SignatureEntry>& entries, ScriptState* L) {
    out += std::string("\n## ") + nodes.front()->name + "\n\n";
    for (const CommandTableNode* node : nodes) {
        for (const ScriptCommand* row = node->table; row && row->name; ++row) {
            if (!row->handler) continue;
            const SignatureEntry* e = EntryOf(entries, row->name);
            if (!e) continue;  // CheckSignatures has refused the file already
            out += "- `" + e->call + (e->results.empty() ? "" : " -> " + e->results) + "` (" +
                   ArgumentText(ProbeArguments(row->handler, L)) + "): " + e->text + "\n";
            if (e->example.empty()) continue;
            // Indented under the item, as a block that can be copied whole.
            out += "\n  ```\n";
            for (size_t at = 0; at < e->example.size();) {
                const size_t end = e->example.find('\n', at);
                const std::string line = e->example.substr(at, end - at);
                out += line.empty() ? "\n" : "  " + line + "\n";
                at = end + 1;
            }
            out += "  ```\n\n";
        }
    }
    bool any = false;
    for (const CommandTableNode* node : nodes) {
        if (!node->constants || !node->constants->name) continue;
        if (!any)
            out += std::string("\nConstants of the ") + node->name + " library:\n\n| constant | value |\n| --- | --- |\n";
        any = true;
        for (const ScriptConstant* c = node->constants; c->name; ++c)
            out += std::string("| `#") + c->name + "` | " + ValueText(*c) + " |\n";
    }
}

std::string Printable(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p == '\n') out += "\\n";
        else out += *p;
    }
    return out;
}

void WriteKeyNames(std::string& out) {
    out +=
        "\n## Key names\n\n"
        "`IsKeyDown`, `WaitKeyDown` and `CreateKeyDown` name keys by these\n"
        "names (without case) or by their character (`\"a\"`); `IsKeyDown`\n"
        "also reads the qualifiers, and `IsKeyDown` and `WaitKeyDown` take\n"
        "`\"any\"`. The message that an `onkeydown` or `onkeyup` handler\n"
        "receives carries the key in its field `key`: the text in the second\n"
        "column, and the character for keys that have no name.\n\n"
        "| name | `key` of a message |\n| --- | --- |\n";
    bool qualifier = false;
    for (size_t i = 0; const char* name = KeyNameAt(i, &qualifier); ++i) {
        std::string text = "(qualifier: `IsKeyDown` only)";
        if (!qualifier) {
            char keyText[kKeyTextSize];
            KeyTextOf(static_cast<int32_t>(KeyCodeFromName(name, false)), keyText);
            text = "`\"" + Printable(keyText) + "\"`";
        }
        out += std::string("| `") + name + "` | " + text + " |\n";
    }
}

void WriteNameList(std::string& out, const char* const* names, size_t count) {
    for (size_t i = 0; i < count; ++i) out += std::string(i ? ", " : "") + "`" + names[i] + "`";
    out += "\n";
}

void WriteHandlerNames(std::string& out) {
    out +=
        "\n## Event handlers\n\n"
        "`InstallEventHandler` takes a table whose fields, named in lower case\n"
        "as here, hold the functions to call; a handler receives one message\n"
        "table, whose field `action` holds the event's name in mixed case\n"
        "(`\"OnKeyDown\"`) and `id` the display's or the object's id.\n"
        "The message of `onmenuselect` also carries `item`, the id of the\n"
        "chosen menu item, and `selected`, 1 when a toggle item is now checked\n"
        "(else 0); that of `fillmusicbuffer` carries `samples` and `count`\n"
        "(see `FillMusicBuffer`).\n"
        "These are the current display's:\n\n";
    WriteNameList(out, kDisplayHandlerNames, std::size(kDisplayHandlerNames));
    out +=
        "\nThese are the script's, for events of its objects (samples, music,\n"
        "videos, network connections, programs it started); the message of a\n"
        "sample's event also carries `time`, the milliseconds since the sample\n"
        "started playing, and `starts`, how many times it has started (the\n"
        "first play counts). With `-NOSOUND`, or where no audio output opens,\n"
        "samples do not play and send neither `onsampleloop` nor\n"
        "`onsampleend`:\n\n";
    WriteNameList(out, kObjectHandlerNames, std::size(kObjectHandlerNames));
}

void WriteAsyncDrawRules(std::string& out) {
    out +=
        "\n## While an async draw runs\n\n"
        "An async draw (a transition, move or anim started with async = True\n"
        "and stepped by `AsyncDrawFrame`) keeps working on the layer, picture\n"
        "and display it began on. What the other commands do to it:\n\n"
        "- Followed. `ScaleLayer`, `RotateLayer`, `TransformLayer`,\n"
        "  `SetLayerStyle` (any key: rotate, width, height, text, font, colour,\n"
        "  flip ...), `SetLayerAnchor`, `NextFrame` and `ModifyLayerFrames` on\n"
        "  the layer a transition plays in, and a resize of a display whose\n"
        "  layers it scales (#SCALEMODE_LAYER): the layer takes its new picture\n"
        "  as its own, and the transition goes on over that picture, at the same\n"
        "  frame when its size stayed, else at the same share of its frames.\n"
        "- Clipped. `ChangeDisplaySize`, and a resize of the window by the user,\n"
        "  of a display without layers: the drawing goes on, each frame clipped\n"
        "  to the display's new size. A transition that draws into an emulated\n"
        "  BGPic refuses it: \"Attempt to modify the BGPic currently selected as\n"
        "  output device!\".\n"
        "- Ended. `SetDisplayAttributes`, and `DisplayBGPic`, when they replace\n"
        "  the display's BGPic or change its size, scaling, backdrop fill or\n"
        "  window kind: every async draw of that display ends first, as\n"
        "  `CancelAsyncDraw` ends it, and its id names nothing afterwards\n"
        "  (\"Requested object not found!\"). Those of other displays go on.\n"
        "- Refused. `RemoveLayer`, `FreeLayers`, `Cls`, `Undo` and the remove\n"
        "  entries of `DoMove`, of a layer a transition plays in:\n"
        "  \"Cannot remove layer while it is used by an async draw object!\".\n"
        "  `SelectLayer` of that layer: \"Cannot render layer because it is\n"
        "  attached to async draw object!\". A second transition on it\n"
        "  (`UndoFX` too):\n"
        "  \"Specified layer already has an async draw object attached!\".\n"
        "  `EnableLayers` and `DisableLayers`: \"Cannot switch layer mode while\n"
        "  async draw is active!\". `FreeDisplay` of the display: \"Cannot free\n"
        "  display while async draw objects are attached!\".\n";
}

int WriteReference(const char* path, const char* signaturePath) {
    std::vector<SignatureEntry> entries;
    std::string error;
    if (!ReadSignatures(signaturePath, entries, error)) {
        std::fprintf(stderr, "qbcommands: %s\n", error.c_str());
        return 1;
    }
    SetPlatformBackend(&NullPlatformOps());
    ScriptState* L = VmOpen();
    if (!L) {
        std::fputs("qbcommands: not enough memory\n", stderr);
        return 1;
    }
    int status = 0;
    const std::vector<CommandHandler> vmOwn = GlobalFunctions(L);
    if (InitRuntimeCore() != 0 || OpenLibraries(L) != 0) {
        std::fputs("qbcommands: the libraries did not open\n", stderr);
        status = 1;
    } else if (!CheckEverythingIsListed(L, vmOwn) || !CheckSignatures(entries, signaturePath, L) ||
               !CheckAttributeList(entries, signaturePath)) {
        status = 1;
    }
    std::string out;
    if (status == 0) {
        WriteIntroduction(out);
        WriteLibraryList(out);
        std::vector<std::vector<const CommandTableNode*>> libraries;
        for (const CommandTableNode& node : RegisteredCommandTables()) {
            auto same = std::find_if(libraries.begin(), libraries.end(), [&](const auto& nodes) {
                return std::strcmp(nodes.front()->name, node.name) == 0;
            });
            if (same == libraries.end())
                libraries.push_back({&node});
            else
                same->push_back(&node);
        }
        for (const auto& nodes : libraries) WriteLibrary(out, nodes, entries, L);
        WriteKeyNames(out);
        WriteHandlerNames(out);
        WriteAsyncDrawRules(out);
    }
    VmClose(L);
    if (status) return status;

    FILE* f = path ? std::fopen(path, "wb") : stdout;
    if (!f) {
        std::fprintf(stderr, "qbcommands: cannot write %s\n", path);
        return 1;
    }
    const bool written = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    if (path ? std::fclose(f) != 0 : std::fflush(f) != 0) return 1;
    return written ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = nullptr;
    const char* signatures = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
            path = argv[++i];
        } else if (std::strcmp(argv[i], "-s") == 0 && i + 1 < argc) {
            signatures = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    std::string besideOutput;
    if (!signatures && path) {
        const char* slash = std::strrchr(path, '/');
        besideOutput = slash ? std::string(path, slash + 1) : std::string();
        besideOutput += "signatures.txt";
        signatures = besideOutput.c_str();
    }
    return WriteReference(path, signatures ? signatures : "docs/signatures.txt");
}
