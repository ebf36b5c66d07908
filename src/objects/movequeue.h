// Move queues: a script batches layer changes with AddMove and DoMove
// performs them all, then refreshes the merged union of what changed in
// one go, so that no half-done state is ever on screen.
#pragma once

#include <cstdint>
#include <vector>

#include "core/argapi.h"

struct ScriptState;

constexpr int32_t kObjectTypeMoveList = 51;
constexpr size_t kMaxMoveEntries = 512;

// The actions of a queue entry, by the object type numbers they borrow.
enum : int32_t {
    kMoveBrush = 3,
    kMoveTextObject = 8,
    kMoveUndo = 10,
    kMoveLayer = 22,
    kMoveHideBrush = 23,
    kMoveInsertBrush = 24,
    kMoveHideLayer = 25,
    kMoveRemoveLayer = 26,
    kMoveNextFrame = 29,
    kMoveNextFrame2 = 34,
};

struct qbMoveEntry {
    int32_t action = 0;
    // An object id, or for the layer actions the layer position as number.
    ObjectID object;
    int32_t x = 0, y = 0;
    // Frame, visibility, insert position or (with UNDO in y) nothing.
    int32_t extra = 0;
    // DoMove's working state: whether a pass dealt with the entry, and the
    // inclusive rectangle it changed. hasRect is a flag of its own because
    // any coordinate, however large, is a real place on a wide BGPic.
    bool handled = false;
    bool hasRect = false;
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

struct qbMoveQueue {
    int32_t type = kObjectTypeMoveList;
    int32_t id = 0;          // the script's number; 0 for an automatic id
    void* handle = nullptr;  // the record's own address for an automatic id
    std::vector<qbMoveEntry> entries;
};

// The queue of that id: 0, ERR_FINDMOVE (the number as detail) or
// ERR_FINDARRAY for an automatic id.
int FindMoveQueue(ObjectID id, qbMoveQueue** out);
// What DoMove shows after its passes: the entries' rectangles, those that
// share pixels joined into their bounding box, so that the boxes are
// pairwise apart (inclusive corners).
struct qbMoveBox {
    int32_t x1, y1, x2, y2;
};
std::vector<qbMoveBox> MergeMoveRects(const std::vector<qbMoveEntry>& entries);
// Frees every queue (the library's shutdown).
void FreeMoveQueues();

// The 0-based frame an anim goes to: requested 0 is the next one (wrapping
// at count), -1 the last, 1..count that frame. 0 or ERR_ANIMFRAME.
int NextAnimFrameIndex(int32_t requested, int32_t current, int32_t count, int32_t* out);

int cmdAddMove(ScriptState* L);
int cmdClearMove(ScriptState* L);
int cmdDoMove(ScriptState* L);
