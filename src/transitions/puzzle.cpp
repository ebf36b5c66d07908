#include "transitions/puzzle.h"

#include <algorithm>
#include <climits>
#include <new>
#include <vector>

#include "core/errcodes.h"
#include "core/memory.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectpieces.h"
#include "transitions/effectrandom.h"
#include "transitions/effectstate.h"

namespace {

struct PuzzlePriv {
    int32_t next, count, cols, rows;
    int32_t* order;
};

constexpr int32_t kSmallestTile = 5;

// Disjoint-set forest over the numbers: each points towards the nearest
// free one on its side, with the slot past the end meaning "none".
int32_t FindFree(std::vector<int32_t>& link, int32_t i) {
    while (link[i] != i) {
        link[i] = link[link[i]];
        i = link[i];
    }
    return i;
}

}  // namespace

int FillPuzzleOrder(int32_t* order, int32_t n, double (*draw)()) {
    if (n < 1) return 0;
    // below[c + 1]: 1 + the largest free number <= c (0: none);
    // above[c]: the smallest free number >= c (n: none).
    std::vector<int32_t> below, above;
    try {
        below.resize(static_cast<size_t>(n) + 1);
        above.resize(static_cast<size_t>(n) + 1);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    for (int32_t i = 0; i <= n; ++i) below[i] = above[i] = i;
    for (int32_t j = 0; j < n; ++j) {
        const auto candidate = std::min(static_cast<int32_t>(n * draw()), n - 1);
        int32_t c = FindFree(below, candidate + 1) - 1;
        // Nothing free from 0 up to the candidate: the search turns upwards
        // from just above it.
        if (c < 0) c = FindFree(above, candidate + 1);
        order[j] = c;
        below[c + 1] = c;
        above[c] = c + 1;
    }
    return 0;
}

int RenderPuzzle(qbEffectState* s, int* done) {
    if (!done) {
        auto* p = AllocEffectPriv<PuzzlePriv>(s);
        if (!p) return ERR_MEM;
        s->cleanup = FreePuzzleData;
        const int32_t tile = std::max(SpeedFromSize(s->speed, s->width, 20, 10, 30), kSmallestTile);
        s->speed = tile;
        const int64_t cols = s->width / tile + 1, rows = s->height / tile + 1;
        if (cols * rows > INT32_MAX / 4) return ERR_MEM;
        p->cols = static_cast<int32_t>(cols);
        p->rows = static_cast<int32_t>(rows);
        p->count = static_cast<int32_t>(cols * rows);
        p->order = static_cast<int32_t*>(AllocMemory(static_cast<size_t>(p->count) * 4, 0));
        if (!p->order) return ERR_MEM;
        if (int err = FillPuzzleOrder(p->order, p->count, EffectDrand)) return err;
        s->frameCount = FrameCountFor(p->count - 1, 1, 0);
        return 0;
    }
    if (s->phase != 1) return 0;
    auto* p = EffectPriv<PuzzlePriv>(s);
    if (s->frame == 0) p->next = 0;
    BeginEffectFrame(s);
    if (p->next >= p->count - 1) {
        p->next = p->count - 1;
        *done = 1;
    }
    const int32_t k = p->order[p->next], t = s->speed;
    DrawEffectPiece(s, int64_t{t} * (k % p->cols), int64_t{t} * (k / p->cols), t, t);
    ++p->next;
    EndEffectFrame(s);
    return 0;
}

void FreePuzzleData(qbEffectState* s, int) {
    if (auto* p = EffectPriv<PuzzlePriv>(s); p && p->order) {
        FreeMemory(p->order);
        p->order = nullptr;
    }
}
