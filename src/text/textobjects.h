// Text objects: rendered texts kept as pictures with their layout, so that
// a script shows, copies, scales and turns them, and layers show them. The
// list, the lookup other libraries use, and the private copies that keep
// what layers show unchanged.
#pragma once

#include <cstdint>
#include <memory>

#include "core/objects.h"
#include "imaging/bitmap.h"
#include "objects/objectoptions.h"
#include "text/textlayout.h"

constexpr int32_t kObjectTypeTextObject = 8;

struct qbTextObject : qbObject {
    BitmapPtr bitmap;
    BitmapPtr mask;
    BitmapPtr alpha;
    int32_t width = 0;
    int32_t height = 0;
    // The size when made: what ScaleTextObject's sizes and percentages mean.
    int32_t baseWidth = 0;
    int32_t baseHeight = 0;
    // The picture's top left relative to the text origin.
    int32_t xOffset = 0;
    int32_t yOffset = 0;
    int32_t locked = 0;
    int32_t pendingFree = 0;  // freed once no layer shows it
    std::unique_ptr<qbTextLayout> layout;
    qbTransformOptions transform;
};

// GetTextObject flags.
enum : uint32_t {
    kTextObjectForChange = 1,  // locked: ERR_LOCKEDOBJ; shown by layers: they keep a copy
    kTextObjectPendingToo = 2,
    kTextObjectNoDetach = 4,   // with kTextObjectForChange: no copy for the layers
};

// 0, ERR_LOCKEDOBJ, ERR_MEM (the layers' copy), ERR_FINDTEXTOBJECT (a
// number) or ERR_FINDARRAY (an automatic id).
int GetTextObject(ScriptState* L, ObjectID id, qbTextObject** out, uint32_t flags);
// A new record with copies of the source's picture, size, offsets, layout,
// named data, base size and transform; not in the list. 0 or ERR_MEM/ERR_BITMAP.
int CopyTextObjectRecord(ScriptState* L, const qbTextObject& source, std::unique_ptr<qbTextObject>* out);
// Appends the record to the list.
int AppendTextObject(std::unique_ptr<qbTextObject> object);
// Frees the object, or keeps it without an id while layers show it.
void DiscardTextObject(ScriptState* L, qbTextObject* object);
void FreePendingTextObjects(ScriptState* L);
void FreeAllTextObjects(ScriptState* L);
// Installs the layers' hooks for text objects and text layers.
void InstallTextLayerHooks();

// Adds a TEXTOBJECT layer showing the object at x, y (its offsets already
// added). 0 or the layer's error.
int AddTextObjectLayer(ScriptState* L, qbTextObject* object, int32_t x, int32_t y, const qbTransformOptions& topts,
                       const qbLayerOptions& lopts, int32_t insertPos, uint32_t flags, struct qbLayer** out = nullptr);
// Shows the object at x, y (position constants resolved against its size)
// as a layer or drawn into the output. 0 or an error.
int DrawTextObject(ScriptState* L, ObjectID id, int32_t x, int32_t y, const qbTransformOptions& topts,
                   const qbLayerOptions& lopts);

int cmdCreateTextObject(ScriptState* L);
int cmdDisplayTextObject(ScriptState* L);
int cmdFreeTextObject(ScriptState* L);
int cmdCopyTextObject(ScriptState* L);
int cmdScaleTextObject(ScriptState* L);
int cmdRotateTextObject(ScriptState* L);
