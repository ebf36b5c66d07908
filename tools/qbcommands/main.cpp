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
#include "vm/vm.h"

namespace {

constexpr char kUsage[] =
    "Usage: qbcommands [-o OUT.md]\n"
    "Writes the reference of the script commands and constants of the player's\n"
    "libraries (standard output without -o). The libraries are opened as at\n"
    "start-up on an in-memory backend; each command is called once with an\n"
    "argument-count probe, which stops it before it does anything.\n";

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

std::string ArgumentText(CommandHandler handler, ScriptState* L) {
    probed = {};
    SetArgCountProbe(RecordRange);
    VmPushCClosure(L, handler, 0);
    VmPCall(L, 0, 0, 0);
    SetArgCountProbe(nullptr);
    VmSetTop(L, 0);
    if (!probed.seen) return "any";
    const auto [seen, min, max] = probed;
    // A maximum of 0 or below with a minimum above 0 sets no upper bound.
    if (min == 0 && max == 0) return "0";
    if (max < 1) return std::to_string(min) + "+";
    if (min == max) return std::to_string(min);
    return std::to_string(min) + "-" + std::to_string(max);
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
        "<!-- Written by build/tools/qbcommands; do not edit. -->\n"
        "\n"
        "This is what scripts can call, library by library, as the player's\n"
        "command tables list it; `build/tools/qbcommands -o docs/commands.md`\n"
        "writes it and a test fails when it differs from the tables.\n"
        "\n"
        "- A script reaches a command through the global of its name in lower\n"
        "  case: `GETGLOBAL 0 \"displaybrush\"`, then the arguments in the\n"
        "  registers after it and `CALL 0 B C` with B = arguments + 1 and\n"
        "  C = results + 1.\n"
        "- *Arguments* is how many arguments the command accepts, as it checks\n"
        "  them when called: `2-5` two to five, `1+` one or more, `0` none,\n"
        "  `any` no check. Fewer end the script with \"Not enough arguments!\",\n"
        "  more with \"Too many arguments for this function!\". The optional\n"
        "  ones come last: a command of `3-4` arguments needs its first three.\n"
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

void WriteLibrary(std::string& out, const CommandTableNode& node, ScriptState* L) {
    out += std::string("\n## ") + node.name + "\n\n| command | arguments |\n| --- | --- |\n";
    for (const ScriptCommand* row = node.table; row && row->name; ++row) {
        if (!row->handler) continue;
        out += std::string("| `") + row->name + "` | " + ArgumentText(row->handler, L) + " |\n";
    }
    if (!node.constants || !node.constants->name) return;
    out += std::string("\nConstants of the ") + node.name + " library:\n\n| constant | value |\n| --- | --- |\n";
    for (const ScriptConstant* c = node.constants; c->name; ++c)
        out += std::string("| `#") + c->name + "` | " + ValueText(*c) + " |\n";
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

void WriteHandlerNames(std::string& out) {
    out +=
        "\n## Event handlers of a display\n\n"
        "`InstallEventHandler` takes a table whose fields, named in lower case\n"
        "as here, hold the functions the current display calls; a handler\n"
        "receives one message table, whose field `action` holds the event's\n"
        "name in mixed case (`\"OnKeyDown\"`) and `id` the display's id.\n\n";
    for (size_t i = 0; i < std::size(kDisplayHandlerNames); ++i)
        out += std::string(i ? ", " : "") + "`" + kDisplayHandlerNames[i] + "`";
    out += "\n";
}

int WriteReference(const char* path) {
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
    } else if (!CheckEverythingIsListed(L, vmOwn)) {
        status = 1;
    }
    std::string out;
    if (status == 0) {
        WriteIntroduction(out);
        WriteLibraryList(out);
        for (const CommandTableNode& node : RegisteredCommandTables()) WriteLibrary(out, node, L);
        WriteKeyNames(out);
        WriteHandlerNames(out);
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
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
            path = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    return WriteReference(path);
}
