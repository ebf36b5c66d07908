// Fuzz target of the applet loader: every input is lent to the file layer as
// a memory file and loaded as the applet, compressed inputs through a
// temporary file. Every input must end in a result or an error code.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/applet.h"
#include "core/appletload.h"
#include "core/linkeddata.h"
#include "core/memfile.h"
#include "core/settings.h"
#include "display/icons.h"
#include "player/startup.h"
#include "vm/vm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // A copy of its own: the file layer only opens registered buffers.
    std::vector<uint8_t> bytes(data, data + size);
    if (RegisterMemoryBuffer(bytes.data(), bytes.size()) != 0) return 0;
    ScriptState* L = VmOpen();
    if (L) {
        SetRuntimeTag(kTagQuiet, 1);
        qbApplet applet;
        qbCommandLine cl;
        cl.quiet = 1;
        std::snprintf(cl.scriptPath, sizeof cl.scriptPath, "%s", MakeMemoryName(bytes.data(), bytes.size()).c_str());
        VmRegistrySetLightUserdata(L, "applet", &applet);
        VmRegistrySetLightUserdata(L, "clargs", &cl);
        LoadScriptOrApplet(L, &cl, &applet);
        VmClose(L);
    }
    UnregisterMemoryBuffer(bytes.data());
    DeleteTemporaryFiles();
    FreeIconPaths();
    LinkedDataOffset = 0;
    return 0;
}
