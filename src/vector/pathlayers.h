// Path layers as the layer system sees them: drawn again from the request
// copy they keep (turned and display-scaled redraws, the border pass), their
// style keys, and the copies a redraw or a restyle works on.
#pragma once

#include <memory>

struct qbLayer;
struct qbPathRequest;
struct qbVectorEngine;

// The request a path layer keeps, or null.
const qbPathRequest* PathLayerRequestOf(const qbLayer& layer);

// A deep copy of a path layer's request (stream and dash array its own),
// so that what a redraw writes into it (the engine's font handles, the
// placement) never reaches the layer's copy. Null when memory runs out.
std::shared_ptr<qbPathRequest> CloneVectorLayerState(const qbPathRequest& request);

// Path layers that a plugin engine drew fall back to the inbuilt engine
// when that plugin goes; their text takes the inbuilt engine's font handles
// (call while the fonts still hold the going engine's).
void ForgetLayerVectorEngine(const qbVectorEngine* engine);

// Installs the layers' hooks for path layers.
void InstallPathLayerHooks();
