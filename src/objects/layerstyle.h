// Layer styles: every property of a layer changed through one table of keys
// (SetLayerStyle and the single-property layer commands) or read back as
// such a table (GetLayerStyle), and the layer rebuilt and refreshed after a
// change.
#pragma once

#include <cstdint>

struct ScriptState;
struct qbLayer;

// Hidden, transparency, shadow, border, clip-transform mode and filters.
void CopyLayerStyle(qbLayer* layer, const qbLayer& source);

// Applies the (layer, table) pairs among the count arguments from first
// on. A layer argument is a position, a layer name or a group name. All
// keys of a pair are read before its layer changes, so a failing pair
// leaves its layer as it was; earlier pairs keep their changes and are
// refreshed before the error returns. 0 or the first error.
int SetLayerStyleCore(ScriptState* L, int first, int count, bool noRefresh);

// Script commands of the "layers" library.
int cmdSetLayerStyle(ScriptState* L);
int cmdGetLayerStyle(ScriptState* L);
int cmdSetLayerTransparency(ScriptState* L);
int cmdSetLayerTint(ScriptState* L);  // also SetLayerLight
int cmdSetLayerFilter(ScriptState* L);
int cmdSetLayerAnchor(ScriptState* L);
int cmdTransformLayer(ScriptState* L);
int cmdRotateLayer(ScriptState* L);
int cmdScaleLayer(ScriptState* L);
