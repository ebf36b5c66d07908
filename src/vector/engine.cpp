// The engine records and the vector-font handles of fonts.
#include "vector/engine.h"

#include <memory>
#include <new>

#include "core/errcodes.h"
#include "text/fontcache.h"
#include "text/inbuiltfont.h"
#include "vector/ftengine.h"

namespace {

qbVectorEngine inbuiltEngine;
qbVectorEngine* activeEngine = &inbuiltEngine;

constexpr int32_t kMarshalledCalls = 2;

}  // namespace

qbVectorEngine* InbuiltVectorEngine() { return &inbuiltEngine; }

bool IsInbuiltVectorEngine(const qbVectorEngine* engine) { return engine == &inbuiltEngine; }

void InstallInbuiltVectorEngine() {
    inbuiltEngine.callingMode = 0;
    inbuiltEngine.vectorExtension = 1;
    inbuiltEngine.hooks = InbuiltVectorHooks();
    activeEngine = &inbuiltEngine;
}

qbVectorEngine* ActiveVectorEngine() { return activeEngine; }

void SetActiveVectorEngine(qbVectorEngine* engine) { activeEngine = engine ? engine : &inbuiltEngine; }

int GetEngineFontHandle(qbFont* font, qbVectorEngine* engine, void** out) {
    std::unique_ptr<qbVectorFontNode>* link = &font->vectorFonts;
    for (; *link; link = &(*link)->next) {
        if ((*link)->engine == engine) {
            *out = (*link)->handle;
            return 0;
        }
    }
    std::unique_ptr<qbVectorFontNode> node(new (std::nothrow) qbVectorFontNode);
    if (!node) return ERR_MEM;
    node->engine = engine;
    if (engine->callingMode != kMarshalledCalls && engine->hooks.createVectorFont) {
        void* face = font->engine == kFontKindInbuilt && InbuiltDataOf(font) ? InbuiltDataOf(font)->face : nullptr;
        node->handle = face ? engine->hooks.createVectorFont(face) : nullptr;
    }
    if (!node->handle) return ERR_VFONT;
    *out = node->handle;
    *link = std::move(node);
    return 0;
}

void FreeEngineFontHandle(qbVectorFontNode* node) {
    auto* engine = static_cast<qbVectorEngine*>(node->engine);
    if (node->handle && engine && engine->callingMode != kMarshalledCalls && engine->hooks.freeVectorFont)
        engine->hooks.freeVectorFont(node->handle);
    node->handle = nullptr;
}

qbFont* FindFontByEngineHandle(const void* handle) {
    if (!handle) return nullptr;
    for (qbFont* font : CachedFonts())
        for (qbVectorFontNode* n = font->vectorFonts.get(); n; n = n->next.get())
            if (n->handle == handle) return font;
    return nullptr;
}

void FreeFontEngineHandles() {
    for (qbFont* font : CachedFonts()) {
        for (qbVectorFontNode* n = font->vectorFonts.get(); n; n = n->next.get()) FreeEngineFontHandle(n);
        font->vectorFonts.reset();
    }
}
