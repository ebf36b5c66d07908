// The layer commands that manage the stack itself: showing, hiding,
// removing, reordering, moving and naming layers, their shadows and
// borders, and hit tests.
#pragma once

#include <cstdint>

#include "core/argapi.h"
#include "imaging/geometry.h"

struct ScriptState;
struct qbBGPic;
struct qbLayer;

// A layer given by its position or its own name (not a group): 0,
// ERR_STRORNUM, ERR_FINDLAYER or ERR_LAYERRANGE.
int GetLayerIndexArg(ScriptState* L, int idx, const qbBGPic* bgpic, int32_t* position);

// Shows (hide false) or hides every layer the argument at index 1 names;
// a group moves as one, by the offset that places its bounding box at x, y
// (100000 keeps a coordinate).
int ShowHideLayers(ScriptState* L, int32_t x, int32_t y, bool hide);
// Exchanges the layers at the two 1-based positions in the current BGPic's
// stack (nothing else moves) and refreshes the union of their bounds.
int SwapLayerPositions(ScriptState* L, int32_t a, int32_t b);

// InsertLayer's core: a layer showing the object of the type (brushes
// only yet) at pos (0 or past the top: on top), refreshed unless hidden or
// noRefresh. 0, ERR_INVINSERT, ERR_WRONGUSAGE (unknown type),
// ERR_UNSUPPORTEDFEAT (anims, text objects, videos), ERR_OLDAPPLET or the
// lookup's error.
int InsertLayerCore(ScriptState* L, int32_t pos, int32_t type, ObjectID id, int32_t x, int32_t y, bool noRefresh,
                    bool hidden, qbLayer** out);

// Whether any of the rectangle lies on the BGPic.
bool IntersectsBGPic(const qbBGPic* bgpic, const qbRect& r);
// Where the layer's shown state stands.
qbRect LayerBounds(ScriptState* L, qbLayer* layer);
// A layer position argument: a number as it is, or the name of a layer of
// the current BGPic (ERR_FINDLAYER naming it).
int GetLayerPositionArg(ScriptState* L, int idx, int32_t* position);

int cmdInsertLayer(ScriptState* L);
int cmdCreateLayer(ScriptState* L);
int cmdPlayLayer(ScriptState* L);
int cmdStopLayer(ScriptState* L);
int cmdPauseLayer(ScriptState* L);
int cmdResumeLayer(ScriptState* L);
int cmdSeekLayer(ScriptState* L);
int cmdSetLayerVolume(ScriptState* L);
int cmdShowLayer(ScriptState* L);
int cmdHideLayer(ScriptState* L);
int cmdRemoveLayer(ScriptState* L);
int cmdSetLayerZPos(ScriptState* L);
int cmdLayerExists(ScriptState* L);
int cmdGetLayerAtPos(ScriptState* L);
int cmdSwapLayers(ScriptState* L);
int cmdLayerToFront(ScriptState* L);
int cmdLayerToBack(ScriptState* L);
int cmdTranslateLayer(ScriptState* L);
int cmdSetLayerName(ScriptState* L);
int cmdSetLayerBorder(ScriptState* L);
int cmdSetLayerShadow(ScriptState* L);
int cmdCollision(ScriptState* L);
int cmdFreeLayers(ScriptState* L);
