// The objects that layers show, by type and id. A layer takes a reference
// when it starts showing an object and drops it when it goes; the object
// libraries ask here before they change or free an object in place, and
// retarget the references when they hand the layers another record.
#pragma once

#include "core/argapi.h"

// 0 or ERR_MEM.
int AddLayerSource(int type, ObjectID id);
// Drops one reference; false when there was none.
bool RemoveLayerSource(int type, ObjectID id);
bool LayersShowObject(int type, ObjectID id);
// Every reference to from now names to.
void RelinkLayerSources(int type, ObjectID from, ObjectID to);
void ClearLayerSources();
// How many references name the object.
int CountLayerSources(int type, ObjectID id);
