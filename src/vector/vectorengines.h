// Choosing the vector engine (the inbuilt one or a loaded plugin with the
// vector capability) and calling an engine's geometry hooks in the way its
// calling mode asks for.
#pragma once

#include <cstdint>

#include "qbvector.h"
#include "vm/vm.h"

struct qbVectorEngine;

// The plugin list lives above this layer; the plugin code installs the
// lookup at start-up. It answers the engine record of the first loaded
// plugin whose file name equals fileName (without case) and whose mask holds
// the vector capability, or null.
using VectorPluginFinder = qbVectorEngine* (*)(const char* fileName);
void SetVectorPluginFinder(VectorPluginFinder finder);

// "default" (any case) is the inbuilt engine; any other name a loaded vector
// plugin, ".qbp" appended when missing (names cut at 255 characters). 0 with
// *out set, or ERR_FINDPLUGIN with the name as the error detail.
int FindVectorEngine(const char* name, qbVectorEngine** out);

// A plugin engine about to go: it stops being the active engine and the
// vector-font handles it made are freed while its code is still there.
void ForgetVectorEngine(qbVectorEngine* engine);

// The hooks as the engine's calling mode reaches them; each answers the
// hook's result, 0 (failure) for a missing hook or a call the platform
// cannot make.
int CallEngineGetPathExtents(const qbVectorEngine* engine, qbPathExtentsArgs* args);
int CallEngineDrawPath(const qbVectorEngine* engine, qbDrawPathArgs* args);
int CallEngineTranslatePath(const qbVectorEngine* engine, qbTranslatePathArgs* args);
int CallEngineGetCurrentPoint(const qbVectorEngine* engine, const uint8_t* commands, const qbVectorLineStyle* style,
                              double* x, double* y);

int cmdSetVectorEngine(ScriptState* L);
