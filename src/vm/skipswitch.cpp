// The command-skip switch of the test sweep (see skipswitch.h).
#include "vm/skipswitch.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vm/callextras.h"
#include "vm/casefold.h"
#include "vm/internal.h"

CommandHandler SkippedHandler = nullptr;

#ifdef QB_TEST_SWITCHES
namespace {

// The folded name the switch asks for; empty when unset.
const std::string& WantedName() {
    static const std::string name = [] {
        const char* v = std::getenv("QB_SKIP_COMMAND");
        std::string s = v ? v : "";
        StrToLower(s.data());
        return s;
    }();
    return name;
}

// A file the sweep names: created at the first skip, so a run in which the
// command was never reached is not counted as one that missed its skip.
void MarkSkipped() {
    static bool marked = false;
    if (marked) return;
    marked = true;
    if (const char* path = std::getenv("QB_SKIP_MARK")) {
        if (std::FILE* f = std::fopen(path, "a")) std::fclose(f);
    }
}

// A library test calls handlers directly, never registering them: the
// sweep names such a handler by its distance from NoteSkippableCommand in
// the executable's symbols, for the one executable it read them from
// (QB_SKIP_HANDLER=name:distance; a player the test starts is another
// executable and goes by the command's name).
struct SkipFromSymbols {
    SkipFromSymbols() {
        const char* v = std::getenv("QB_SKIP_HANDLER");
        const char* colon = v ? std::strrchr(v, ':') : nullptr;
        if (!colon) return;
        char exe[4096];
        const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0) return;
        exe[n] = 0;
        const char* slash = std::strrchr(exe, '/');
        if (std::string(v, colon) != (slash ? slash + 1 : exe)) return;
        const long long distance = std::strtoll(colon + 1, nullptr, 0);
        SkippedHandler = reinterpret_cast<CommandHandler>(reinterpret_cast<uintptr_t>(&NoteSkippableCommand) +
                                                          static_cast<uintptr_t>(distance));
        SetNativeCallExtra(kCallExtraSkip, true);
    }
};
const SkipFromSymbols skipFromSymbols;

}  // namespace

void NoteSkippableCommand(const char* foldedName, CommandHandler handler) {
    if (WantedName().empty() || WantedName() != foldedName) return;
    SkippedHandler = handler;
    SetNativeCallExtra(kCallExtraSkip, true);
}
#else
void NoteSkippableCommand(const char*, CommandHandler) {}
#endif

bool SkipsRunningCommand(ScriptState* L) {
    if (!(L->ci->state & kFrameNative)) return false;
    const ScriptValue* func = L->ci->base - 1;
    return IsFunction(func) && ClosureValue(func)->isNative &&
           static_cast<VmNativeClosure*>(ClosureValue(func))->f == SkippedHandler;
}

int CallSkippableHandler(ScriptState* L, CommandHandler f) {
    try {
        return f(L);
    } catch (const qbCommandSkipped&) {
#ifdef QB_TEST_SWITCHES
        MarkSkipped();
#endif
        return 0;
    }
}
