// Declared objects: the records are read by the applet loader; their creation
// at start-up comes with the libraries that create them.
#include "core/preproc.h"

#include "core/applet.h"

int AddDefaultDisplayEntry(qbApplet*, const char*) { return 0; }

void FreePreprocessorList(std::vector<qbPreprocessorEntry>& list) {
    list.clear();
    list.shrink_to_fit();
}

const qbPreprocessorEntry* FindPreprocessorEntry(const qbApplet* applet, int type, int32_t id) {
    for (const qbPreprocessorEntry& e : applet->preprocessorList)
        if (e.type == type && e.id == id) return &e;
    return nullptr;
}

int ApplyScreenModeOptions(qbApplet*) { return 0; }

int ApplyDisplayOverrides(qbApplet*, const qbCommandLine*) { return 0; }

int ShareDeclaredImages(qbApplet*) { return 0; }

int CreateDeclaredObjects(ScriptState*, qbCommandLine*, qbApplet*, int) { return 0; }
