// Vector engines: the record that names an engine's eight hooks, the one
// active engine, and the vector-font handles each font keeps per engine.
#pragma once

#include <cstdint>

#include "qbvector.h"

struct qbFont;
struct qbVectorFontNode;

struct qbVectorEngine {
    // 0 calls the hooks directly; 2 would marshal them as a plugin's calls,
    // and such an engine is never asked to make or free vector fonts here.
    int32_t callingMode = 0;
    // Set when the engine places the outline itself from the draw record's
    // x1, y1 (the inbuilt engine does).
    int32_t vectorExtension = 0;
    qbVectorHooks hooks{};
    void* plugin = nullptr;  // the plugin record of a plugin engine
};

// The static record of the inbuilt engine over FreeType; its hooks are set
// when the vectorgraphics library opens (InstallInbuiltVectorEngine).
qbVectorEngine* InbuiltVectorEngine();
bool IsInbuiltVectorEngine(const qbVectorEngine* engine);
void InstallInbuiltVectorEngine();
// Starts as the inbuilt engine.
qbVectorEngine* ActiveVectorEngine();
void SetActiveVectorEngine(qbVectorEngine* engine);

// The font's handle for the engine, made through its CreateVectorFont hook
// with the font's FreeType face on first use. ERR_VFONT, ERR_MEM.
int GetEngineFontHandle(qbFont* font, qbVectorEngine* engine, void** out);
// Frees the node's handle through its engine and clears it.
void FreeEngineFontHandle(qbVectorFontNode* node);
// The cached font one of whose engine handles is this one, or null.
qbFont* FindFontByEngineHandle(const void* handle);
// Releases every handle the cached fonts hold.
void FreeFontEngineHandles();
