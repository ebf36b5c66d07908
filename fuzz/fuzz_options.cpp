// Fuzz target of the options file and what start-up makes of its values: the
// input is parsed as an options file, the values are resolved into fresh
// records, and the input is also read as a REQUIRETAGS text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/applet.h"
#include "core/errors.h"
#include "core/fileops.h"
#include "core/runstate.h"
#include "fuzznote.h"
#include "libs/errorhandler.h"
#include "player/options.h"
#include "player/requiretags.h"
#include "vmnetfuzz.h"

namespace {

void NoteNamedValues(const std::vector<qbUnknownOption>& list) {
    FuzzNoteValue(static_cast<int64_t>(list.size()));
    for (const qbUnknownOption& o : list) {
        FuzzNoteText(o.name);
        FuzzNoteText(o.value);
    }
}

// What start-up took from the values: the command-line record, the display
// overrides and the process-wide flags.
void NoteResolved(const qbCommandLine& cl, const qbApplet& applet) {
    for (int64_t v : {int64_t{cl.quiet}, int64_t{cl.nosound}, int64_t{cl.displayOverrideLock}, int64_t{cl.allDisplays},
                      int64_t{cl.channelCount}, int64_t{cl.debugDevice}})
        FuzzNoteValue(v);
    FuzzNoteValue(static_cast<int64_t>(cl.requirePlugins.size()));
    for (const std::string& s : cl.requirePlugins) FuzzNoteText(s);
    FuzzNoteValue(static_cast<int64_t>(cl.skipPlugins.size()));
    for (const std::string& s : cl.skipPlugins) FuzzNoteText(s);
    FuzzNoteText(cl.requireTags);
    const qbDisplayOverrides& o = applet.overrides;
    for (int64_t v : {int64_t{o.mode}, int64_t{o.scrWidth}, int64_t{o.scrHeight}, int64_t{o.scrDepth},
                      int64_t{o.scaleWidth}, int64_t{o.scaleHeight}, int64_t{o.monitor}, int64_t{o.flags}})
        FuzzNoteValue(v);
    vmnetfuzz::NoteBackfill(o.backfill);
    for (int64_t v : {int64_t{StartupFlags.overridePlacement}, int64_t{StartupFlags.noChdir},
                      int64_t{StartupFlags.debugOutput}, int64_t{StartupFlags.noDebug}, int64_t{StartupFlags.forceFlush},
                      int64_t{TimerSettings.flags}})
        FuzzNoteValue(v);
}

void NoteTags(int err, const std::vector<qbRequireTag>& tags) {
    FuzzNoteValue(err);
    vmnetfuzz::NoteRequireTags(tags);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    qbOptionValues values;
    qbCommandLine cl;
    qbApplet applet;
    // Start-up ORs into the timer settings: each input starts from none.
    TimerSettings = qbTimerSettings{};
    StartupFlags = qbStartupFlags{};
    const int parsed = ParseIniText(text.data(), text.size(), values, cl.unknownOptions);
    FuzzNoteValue(parsed);
    for (int i = 0; i < kOptionSlotCount; ++i) {
        FuzzNoteValue(values.given[i]);
        FuzzNoteValue(values.flag[i]);
        FuzzNoteText(values.text[i]);
    }
    NoteNamedValues(cl.unknownOptions);
    if (parsed == 0) {
        FuzzNoteValue(ResolveStartupOptions(&cl, values, &applet));
        NoteResolved(cl, applet);
        if (values.given[kOptTempDir]) FuzzNoteText(GetTempDir());
    }
    std::vector<qbRequireTag> tags;
    NoteTags(ParseRequireTags(text.c_str(), "plugin", tags), tags);
    for (const std::string& name : cl.requirePlugins)
        NoteTags(ParseRequireTags(cl.requireTags.c_str(), name.c_str(), tags), tags);
    // The process-wide settings the values may have changed.
    SetTempDir("/tmp");
    SetCallTracing(false);
    SetDebugFunctionsDisabled(false);
    SetConsoleForceFlush(false);
    TimerSettings = qbTimerSettings{};
    StartupFlags = qbStartupFlags{};
    return 0;
}
