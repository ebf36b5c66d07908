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
#include "libs/errorhandler.h"
#include "player/options.h"
#include "player/requiretags.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    qbOptionValues values;
    qbCommandLine cl;
    qbApplet applet;
    if (ParseIniText(text.data(), text.size(), values, cl.unknownOptions) == 0)
        ResolveStartupOptions(&cl, values, &applet);
    std::vector<qbRequireTag> tags;
    ParseRequireTags(text.c_str(), "plugin", tags);
    for (const std::string& name : cl.requirePlugins) ParseRequireTags(cl.requireTags.c_str(), name.c_str(), tags);
    // The process-wide settings the values may have changed.
    SetTempDir("/tmp");
    SetCallTracing(false);
    SetDebugFunctionsDisabled(false);
    SetConsoleForceFlush(false);
    return 0;
}
