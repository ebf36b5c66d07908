// The engine choice and the hook calls.
#include "vector/vectorengines.h"

#include <cstring>
#include <string>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/objectlist.h"
#include "core/platformhooks.h"
#include "text/font.h"
#include "text/fontcache.h"
#include "vector/engine.h"
#include "vector/path.h"
#include "vector/pathlayers.h"
#include "vector/pathtext.h"
#include "vm/casefold.h"

namespace {

VectorPluginFinder pluginFinder = nullptr;

constexpr size_t kMaxEngineName = 255;
constexpr char kPluginExtension[] = ".qbp";
constexpr int32_t kMarshalledCalls = 2;

bool Marshalled(const qbVectorEngine* engine) { return engine->callingMode == kMarshalledCalls; }

template <class Hook, class... Args>
int CallHook(const qbVectorEngine* engine, Hook hook, Args... args) {
    if (!engine || !hook) return 0;
    if (Marshalled(engine))
        return CallMarshalledPluginFunc(reinterpret_cast<void*>(hook), static_cast<int>(sizeof...(args)), args...);
    return hook(args...);
}

}  // namespace

void SetVectorPluginFinder(VectorPluginFinder finder) { pluginFinder = finder; }

int FindVectorEngine(const char* name, qbVectorEngine** out) {
    *out = nullptr;
    if (!name) name = "";
    if (StrCmpNoCase(name, "default") == 0) {
        *out = InbuiltVectorEngine();
        return 0;
    }
    std::string file(name, strnlen(name, kMaxEngineName));
    const size_t ext = sizeof kPluginExtension - 1;
    if (file.size() < ext || StrCmpNoCase(file.c_str() + file.size() - ext, kPluginExtension) != 0)
        file += kPluginExtension;
    if (pluginFinder) *out = pluginFinder(file.c_str());
    if (*out) return 0;
    SetErrorDetail(name);
    return ERR_FINDPLUGIN;
}

void ForgetVectorEngine(qbVectorEngine* engine) {
    if (!engine || IsInbuiltVectorEngine(engine)) return;
    if (ActiveVectorEngine() == engine) SetActiveVectorEngine(nullptr);
    // Text in paths and path layers may hold the going engine's font
    // handles: they take the inbuilt engine's while the fonts still know
    // both, or the text could never be drawn again.
    for (qbObject* o = PathListHead()->head; o; o = o->next)
        ResolvePathTextHandles(static_cast<qbPath*>(o)->commands.get(), InbuiltVectorEngine());
    ForgetLayerVectorEngine(engine);
    for (qbFont* font : CachedFonts()) {
        for (std::unique_ptr<qbVectorFontNode>* link = &font->vectorFonts; *link;) {
            if ((*link)->engine != engine) {
                link = &(*link)->next;
                continue;
            }
            FreeEngineFontHandle(link->get());
            *link = std::move((*link)->next);
        }
    }
}

int CallEngineGetPathExtents(const qbVectorEngine* engine, qbPathExtentsArgs* args) {
    return CallHook(engine, engine ? engine->hooks.getPathExtents : nullptr, args);
}

int CallEngineDrawPath(const qbVectorEngine* engine, qbDrawPathArgs* args) {
    return CallHook(engine, engine ? engine->hooks.drawPath : nullptr, args);
}

int CallEngineTranslatePath(const qbVectorEngine* engine, qbTranslatePathArgs* args) {
    return CallHook(engine, engine ? engine->hooks.translatePath : nullptr, args);
}

int CallEngineGetCurrentPoint(const qbVectorEngine* engine, const uint8_t* commands, const qbVectorLineStyle* style,
                              double* x, double* y) {
    return CallHook(engine, engine ? engine->hooks.getCurrentPoint : nullptr, commands, style, x, y);
}

int cmdSetVectorEngine(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const char* name = VmCheckString(L, 1, nullptr);
    qbVectorEngine* engine = nullptr;
    const int err = FindVectorEngine(name, &engine);
    // A failed choice leaves the inbuilt engine serving.
    SetActiveVectorEngine(err ? nullptr : engine);
    return err;
}
