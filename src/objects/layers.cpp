// The layer stack: adding and freeing layers, lookups, order and Undo.
#include "objects/layers.h"

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

#include "core/chars.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/displaywindow.h"
#include "display/eventlib.h"
#include "display/output.h"
#include "imaging/bitmap.h"
#include "imaging/geometry.h"
#include "objects/animhooks.h"
#include "objects/videohooks.h"
#include "objects/brushes.h"
#include "objects/compositor.h"
#include "objects/dirtyrects.h"
#include "objects/layersources.h"
#include "objects/texthooks.h"
#include "vm/vm.h"

namespace {

// The object type whose records a layer type shows, 0 for none.
int32_t SourceKind(int32_t type) {
    switch (type) {
    case kLayerBrush:
    case kLayerBrushPart: return kObjectTypeBrush;
    case kLayerBGPicPart: return kObjectTypeBGPic;
    case kLayerAnim: return kLayerAnim;
    case kLayerTextObject: return kLayerTextObject;
    case kLayerVideo: return kLayerVideo;
    default: return 0;
    }
}

std::vector<qbLayerPtr>* StackOf(const qbBGPic* bgpic) {
    return bgpic && bgpic->layers ? &bgpic->layers->layers : nullptr;
}

// The position fields of each of the old layer's states into the matching
// state of the new one.
void CopyStatePositions(const qbLayer& from, qbLayer* to) {
    const qbLayerState* const source[3] = {from.basestate, from.transformedstate, from.shownstate};
    qbLayerState* const target[3] = {to->basestate, to->transformedstate, to->shownstate};
    for (int i = 0; i < 3; ++i) {
        if ((i >= 1 && target[i] == target[0]) || (i == 2 && target[i] == target[1])) continue;
        target[i]->x = source[i]->x;
        target[i]->y = source[i]->y;
        target[i]->anchoredx = source[i]->anchoredx;
        target[i]->anchoredy = source[i]->anchoredy;
        target[i]->shownx = source[i]->shownx;
        target[i]->showny = source[i]->showny;
    }
}

}  // namespace

int AssignLayerName(const qbBGPic* bgpic, qbLayer* layer, const char* name) {
    if (std::char_traits<char>::length(name) >= kLayerNameSize) return ERR_NAMETOOLONG;
    if (const auto* stack = StackOf(bgpic)) {
        for (const auto& other : *stack) {
            if (other.get() == layer) continue;
            if ((!other->name.empty() && StrCmpNoCase(other->name.c_str(), name) == 0) ||
                (!other->groupname.empty() && StrCmpNoCase(other->groupname.c_str(), name) == 0))
                return ERR_NAMEUSED;
        }
    }
    // The old name stays when the new one cannot be stored.
    try {
        layer->name = name;
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 0;
}

void ReleaseLayerSources(ScriptState* L, uint32_t mask) {
    if (mask & kReleaseBrushSources) PurgeDetachedBrushes(L);
    if (mask & (kReleaseBrushSources | kReleaseAnimSources))
        if (const auto sweep = AnimObjectHooks().sweepPending) sweep(L);
    if (mask & kReleaseBGPicSources) FreeUnusedPendingBGPics(L);
    if (mask & kReleaseVideoSources)
        if (const auto sweep = VideoLayerHooks().sweepPending) sweep(L);
    if (mask & kReleaseTextObjectSources)
        if (const auto freePending = TextLayerHooks().freePending) freePending(L);
    // Clip regions freed while a layer still used them wait for this sweep,
    // whichever kind of source it is for.
    FreeUnusedClipRegions(L);
}

qbLayerState::~qbLayerState() {
    // A lent state's shown pictures are the lender's: its own wait aside.
    if (lent.lender) ReturnLentPictures(this);
    for (qbBitmap* b : {bitmap, xfbitmap, fxbitmap, bdbitmap}) FreeBitmap(b);
    for (qbBitmap* m : {mask, xfmask, fxmask, bdmask}) FreeMask(m);
    for (qbBitmap* a : {alpha, xfalpha, fxalpha, bdalpha, shadowalpha}) FreeAlphaChannel(a);
}

void LendLayerPictures(qbLayerState* st, const void* lender, qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha) {
    if (st->lent.lender) ReturnLentPictures(st);
    st->lent = qbLentPictures{lender, st->bitmap, st->mask, st->alpha, st->xfbitmap, st->xfmask, st->xfalpha,
                              st->srcx, st->srcy};
    st->bitmap = bitmap;
    st->mask = mask;
    st->alpha = alpha;
    st->xfbitmap = st->xfmask = st->xfalpha = nullptr;
    st->srcx = st->srcy = 0;
}

bool ReturnLentPictures(qbLayerState* st) {
    if (!st || !st->lent.lender) return false;
    qbLentPictures& own = st->lent;
    st->bitmap = own.bitmap;
    st->mask = own.mask;
    st->alpha = own.alpha;
    // A transformed image made while the state was lent was made from the
    // lender's pictures: it goes, and the state's own comes back.
    auto takeBack = [](qbBitmap*& field, qbBitmap* kept, void (*release)(qbBitmap*)) {
        if (field != kept) release(field);
        field = kept;
    };
    takeBack(st->xfbitmap, own.xfbitmap, FreeBitmap);
    takeBack(st->xfmask, own.xfmask, FreeMask);
    takeBack(st->xfalpha, own.xfalpha, FreeAlphaChannel);
    st->srcx = own.srcx;
    st->srcy = own.srcy;
    own = qbLentPictures{};
    return true;
}

bool ReturnLayerPictures(qbLayer* layer) {
    bool any = false;
    if (!layer) return false;
    for (qbLayerState* st : {layer->basestate, layer->transformedstate, layer->shownstate})
        if (st && ReturnLentPictures(st)) any = true;
    return any;
}

LayerChangeScope::LayerChangeScope(qbLayer* l) : layer(l), wasLent(ReturnLayerPictures(l)) {}

void LayerChangeScope::Finish() {
    if (!std::exchange(wasLent, false)) return;
    NotifyLayerImageChanged(layer);
}

qbLayerState* LayerStateLentBy(qbLayer* layer, const void* lender) {
    if (!layer || !lender) return nullptr;
    for (qbLayerState* st : {layer->shownstate, layer->transformedstate, layer->basestate})
        if (st && st->lent.lender == lender) return st;
    return nullptr;
}

void qbLayerDelete::operator()(qbLayer* layer) const {
    if (layer->pins > 0) {
        layer->orphaned = true;
        return;
    }
    std::unique_ptr<qbLayer> gone(layer);
}

qbLayerPin::~qbLayerPin() {
    if (--layer_->pins == 0 && layer_->orphaned) std::unique_ptr<qbLayer> gone(layer_);
}

qbLayer::~qbLayer() {
    // The three pointers may share records; each distinct one goes once.
    if (shownstate != transformedstate && shownstate != basestate) delete shownstate;
    if (transformedstate != basestate) delete transformedstate;
    delete basestate;
}

int32_t CountLayers(const qbBGPic* bgpic) {
    const auto* stack = StackOf(bgpic);
    return stack ? static_cast<int32_t>(stack->size()) : 0;
}

qbLayer* GetLayerByIndex(const qbBGPic* bgpic, int32_t n) {
    const auto* stack = StackOf(bgpic);
    if (!stack || n < 1 || n > static_cast<int32_t>(stack->size())) return nullptr;
    return (*stack)[static_cast<size_t>(n - 1)].get();
}

int32_t IndexOfLayer(const qbBGPic* bgpic, const qbLayer* layer) {
    if (const auto* stack = StackOf(bgpic))
        for (size_t i = 0; i < stack->size(); ++i)
            if ((*stack)[i].get() == layer) return static_cast<int32_t>(i + 1);
    return -1;
}

int FindLayerByName(const qbBGPic* bgpic, const char* name) {
    if (const auto* stack = StackOf(bgpic))
        for (size_t i = 0; i < stack->size(); ++i)
            if (!(*stack)[i]->name.empty() && StrCmpNoCase((*stack)[i]->name.c_str(), name) == 0)
                return static_cast<int>(i + 1);
    return 0;
}

int FindNamedLayer(const qbBGPic* bgpic, const char* name, int32_t* position) {
    *position = FindLayerByName(bgpic, name);
    if (*position > 0) return 0;
    SetErrorDetail(name);
    return ERR_FINDLAYER;
}

int GetLayerPositionOrName(ScriptState* L, int idx, const qbBGPic* bgpic, int32_t* position) {
    if (VmType(L, idx) == kTypeNumber) {
        *position = ClampToInt32(VmToNumber(L, idx));
        return 0;
    }
    if (VmType(L, idx) == kTypeString) return FindNamedLayer(bgpic, VmToCString(L, idx), position);
    SetErrorArgIndex(idx);
    return ERR_STRORNUM;
}

int GetLayerArg(ScriptState* L, int idx, const qbBGPic* bgpic, int32_t* cursor, int32_t* more, qbLayer** out) {
    *out = nullptr;
    const int32_t wanted = cursor ? *cursor : 0;
    if (cursor) *cursor = -1;
    if (more) *more = 0;
    int32_t position = 0;
    if (VmType(L, idx) == kTypeNumber) {
        position = ClampToInt32(VmToNumber(L, idx));
    } else if (VmType(L, idx) == kTypeString) {
        const char* name = VmToCString(L, idx);
        position = FindLayerByName(bgpic, name);
        if (position == 0) {
            const auto* stack = StackOf(bgpic);
            int32_t seen = 0;
            if (stack)
                for (const auto& layer : *stack) {
                    if (layer->groupname.empty() || StrCmpNoCase(layer->groupname.c_str(), name) != 0) continue;
                    if (*out) {
                        if (cursor) *cursor = seen;
                        break;
                    }
                    if (seen++ == wanted) *out = layer.get();
                }
            if (!*out) {
                // Also a group that has fewer layers than the cursor says.
                SetErrorDetail(name);
                return ERR_FINDLAYER;
            }
            if (more) *more = 1;
            return 0;
        }
    } else {
        SetErrorArgIndex(idx);
        return ERR_STRORNUM;
    }
    *out = GetLayerByIndex(bgpic, position);
    return *out ? 0 : ERR_LAYERRANGE;
}

qbBGPic* FindBGPicOfLayer(const qbLayer* layer) {
    for (qbBGPic* p = FirstBGPic(); p; p = static_cast<qbBGPic*>(p->next))
        if (IndexOfLayer(p, layer) > 0) return p;
    return nullptr;
}

bool MoveLayerInStack(qbBGPic* bgpic, qbLayer* layer, int32_t newPos) {
    auto* stack = StackOf(bgpic);
    const int32_t cur = IndexOfLayer(bgpic, layer);
    if (!stack || cur < 1) return false;
    const auto count = static_cast<int32_t>(stack->size());
    if (newPos <= 0 || newPos > count) newPos = count;
    if (newPos == cur) return false;
    qbLayerPtr owned = std::move((*stack)[static_cast<size_t>(cur - 1)]);
    stack->erase(stack->begin() + (cur - 1));
    stack->insert(stack->begin() + (newPos - 1), std::move(owned));
    return true;
}

void RelinkLayersToObject(int32_t objectType, ObjectID from, ObjectID to) {
    std::vector<qbLayer*> relinked;
    for (qbBGPic* p = FirstBGPic(); p; p = static_cast<qbBGPic*>(p->next))
        if (auto* stack = StackOf(p))
            for (auto& layer : *stack)
                if (SourceKind(layer->type) == objectType && layer->id == from) {
                    layer->id = to;
                    relinked.push_back(layer.get());
                }
    // A drawing that read the old object's pictures reads the layer's new
    // source now, while the old pictures still stand: the command that
    // relinked is about to change or free them. Told after the walk, so
    // that the drawings see every layer on its new source.
    if (from == to) return;
    for (qbLayer* layer : relinked) NotifyLayerImageChanged(layer);
}

int CheckLayerTarget(const qbDisplay* d) {
    if (!d) return ERR_NOLAYERS;
    switch (d->output.type) {
    case 3: return d->output.selected == 4 ? ERR_SELECTANIM : ERR_SELECTBRUSH;
    case 28: return ERR_SELECTMASK;
    case 30: return ERR_SELECTALPHACHANNEL;
    default: break;
    }
    return d->layersEnabled ? 0 : ERR_NOLAYERS;
}

int EnableDisplayLayers(qbDisplay* d) {
    if (d->layersEnabled) return 0;
    if (DisplayHasAsyncDraws(d)) return ERR_LAYERSWITCH;
    if (d->softDoubleBuffer || d->hardDoubleBuffer) return ERR_ENDDOUBLEBUFFER;
    if (d->output.type != kObjectTypeDisplay) return ERR_LAYERSON;
    if (d->bgpic && d->bgpic->spriteInstances) return ERR_NOSPRITES;
    d->layersEnabled = 1;
    return 0;
}

int AddLayer(ScriptState* L, int32_t type, const ObjectID* id, int32_t shownX, int32_t shownY, int32_t shownWidth,
             int32_t shownHeight, const qbTransformOptions* topts, qbLayerOptions* lopts,
             std::unique_ptr<qbLayerState> state, int32_t insertPos, uint32_t flags, qbLayer** out) {
    if (out) *out = nullptr;
    qbDisplay* d = GetCurrentDisplay();
    qbBGPic* bgpic = GetCurrentBGPic();
    if (!d || !bgpic) return ERR_NOLAYERS;
    qbLayerPtr layer;
    try {
        if (!bgpic->layers) bgpic->layers = new qbLayerStack;
        layer.reset(std::make_unique<qbLayer>().release());
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    qbLayerState* s = state.release();
    layer->basestate = layer->transformedstate = layer->shownstate = s;
    s->anchoredx = s->x;
    s->anchoredy = s->y;
    s->shownx = shownX;
    s->showny = shownY;
    s->shownwidth = shownWidth;
    s->shownheight = shownHeight;
    const int32_t count = CountLayers(bgpic);
    if (lopts) {
        layer->transparency = lopts->transparency;
        layer->shadow = lopts->shadow;
        layer->border = lopts->border;
        layer->filters = lopts->filters;
        layer->hasgeometricfilter = HasGeometricFilters(lopts->filters) ? 1 : 0;
        if (lopts->hidden) flags |= kAddHidden;
        if (lopts->name[0])
            if (int err = AssignLayerName(bgpic, layer.get(), lopts->name)) return err;
        if (lopts->insertpos > 0) {
            insertPos = lopts->insertpos;
            if (count > 0 && insertPos > count + 1) lopts->insertpos = insertPos = count + 1;
        }
    } else {
        layer->shadow = DefaultLayerOptions().shadow;
        layer->border = DefaultLayerOptions().border;
    }
    layer->type = type;
    layer->hidden = (flags & kAddHidden) ? 1 : 0;
    // Layers added to the shown BGPic while it is selected wait for EndSelect.
    layer->pending = !layer->hidden && d->output.type == kOutputBGPic && bgpic == d->bgpic ? 1 : 0;
    s->clipregion = d->clipRegion;
    bgpic->layersDirty = 1;
    if (topts) layer->transform = *topts;
    else ResetTransformOptions(&layer->transform);
    layer->anchorx = layer->transform.anchorx;
    layer->anchory = layer->transform.anchory;
    if (type != kLayerLine) {
        const int32_t dx = ClampToInt32(s->width * layer->anchorx);
        const int32_t dy = ClampToInt32(s->height * layer->anchory);
        // Positions may sit at the 32-bit limits; they stay there.
        s->anchoredx = SaturatingSub(s->x, dx);
        s->anchoredy = SaturatingSub(s->y, dy);
        s->shownx = SaturatingSub(s->shownx, dx);
        s->showny = SaturatingSub(s->showny, dy);
    }
    if (id) layer->id = layer->initialid = *id;
    if (const int32_t kind = SourceKind(type); kind && id)
        if (int err = AddLayerSource(kind, *id)) return err;

    // 1 is the bottom; 0, -1 and positions past the top go on top.
    auto& stack = bgpic->layers->layers;
    const bool belowTop = insertPos >= 1 && insertPos <= count;
    qbLayer* raw = layer.get();
    try {
        stack.insert(belowTop ? stack.begin() + (insertPos - 1) : stack.end(), std::move(layer));
    } catch (const std::bad_alloc&) {
        if (const int32_t kind = SourceKind(type); kind && id) RemoveLayerSource(kind, *id);
        return ERR_MEM;
    }
    // Replacing: the layer now just above is the one the new layer stands in
    // for; its buttons, clip region, clip mode and named data come along.
    qbLayer* old = nullptr;
    if ((flags & kAddReplace) && insertPos != -1 && belowTop) {
        old = GetLayerByIndex(bgpic, IndexOfLayer(bgpic, raw) + 1);
        RebindLayerButtons(bgpic, old, raw);
        flags |= kAddKeepRefresh;
        s->clipregion = old->basestate->clipregion;
        raw->cliptransformmode = old->cliptransformmode;
        raw->data = std::move(old->data);
    }
    bool refreshed = false;
    if (!IsIdentityMatrix(raw->transform.matrix)) {
        const bool refresh = !raw->hidden && !(flags & kAddKeepRefresh);
        if (int err = ApplyLayerChange(L, raw, refresh ? uint32_t{kChangeRefresh} : 0u)) {
            if (old) {
                RebindLayerButtons(bgpic, raw, old);
                old->data = std::move(raw->data);
            }
            FreeLayer(L, raw, true);
            return err;
        }
        refreshed = true;
    } else if ((flags & kAddDisplayScale) && d->pictureScaling && (d->scaleX != 1.0 || d->scaleY != 1.0) &&
               d->bgpic == bgpic) {
        if (int err = ApplyLayerChange(L, raw, kChangeDisplayScale | kChangeDropShown)) {
            FreeLayer(L, raw, true);
            return err;
        }
    }
    if (old) {
        if (flags & kAddKeepPositions) CopyStatePositions(*old, raw);
        if (flags & kAddKeepFilters) {
            raw->filters = old->filters;
            raw->hasgeometricfilter = old->hasgeometricfilter;
            FreeLayerFilterCaches(raw);
        }
        if (const int32_t refusal = NotifyLayerReplaced(old, raw)) {
            RebindLayerButtons(bgpic, raw, old);
            old->data = std::move(raw->data);
            FreeLayer(L, raw, true);
            return refusal;
        }
        FreeLayer(L, old, true);
    }
    const bool effects = HasActiveFilters(raw->filters) || raw->transparency || raw->shadow.shadow ||
                         raw->border.border || belowTop;
    if (!refreshed && effects && !raw->hidden && !(flags & kAddKeepRefresh)) RefreshLayer(L, raw);
    if (out) *out = raw;
    return 0;
}

int AddObjectLayer(ScriptState* L, int32_t type, ObjectID id, int32_t srcX, int32_t srcY, int32_t x, int32_t y,
                   int32_t width, int32_t height, const qbTransformOptions* topts, qbLayerOptions* lopts,
                   qbBitmap* bitmap, int32_t insertPos, uint32_t flags, qbLayer** out) {
    std::unique_ptr<qbLayerState> s;
    try {
        s = std::make_unique<qbLayerState>();
    } catch (const std::bad_alloc&) {
        FreeBitmap(bitmap);
        return ERR_MEM;
    }
    s->bitmap = bitmap;
    s->x = x;
    s->y = y;
    s->width = width;
    s->height = height;
    s->srcx = srcX;
    s->srcy = srcY;
    return AddLayer(L, type, &id, x, y, width, height, topts, lopts, std::move(s), insertPos, flags, out);
}

void FreeLayer(ScriptState* L, qbLayer* layer, bool noRefresh) {
    qbBGPic* bgpic = FindBGPicOfLayer(layer);
    const int32_t index = IndexOfLayer(bgpic, layer);
    if (index < 1) return;
    if (!noRefresh) {
        int32_t x, y, w, h;
        GetLayerBounds(L, layer, layer->shownstate, &x, &y, &w, &h);
        const int32_t type = layer->type;
        layer->type = kLayerNoObject;  // the refresh of its area no longer draws it
        RefreshOrMarkDirty(L, x, y, w, h);
        layer->type = type;
    }
    RemoveLayerButton(L, bgpic, layer);
    if (const int32_t kind = SourceKind(layer->type)) RemoveLayerSource(kind, layer->id);
    FreeObjectDataList(L, &layer->data);
    auto& stack = bgpic->layers->layers;
    stack.erase(stack.begin() + (index - 1));
    bgpic->layersDirty = 1;
    ReleaseLayerSources(L, kReleaseAllLayerSources);
}

void FreeBGPicLayers(ScriptState* L, qbBGPic* bgpic, bool releaseSources) {
    if (!bgpic->layers) return;
    std::unique_ptr<qbLayerStack> stack(bgpic->layers);
    bgpic->layers = nullptr;
    for (const auto& layer : stack->layers) {
        if (const int32_t kind = SourceKind(layer->type)) RemoveLayerSource(kind, layer->id);
        FreeObjectDataList(L, &layer->data);
    }
    stack.reset();
    // Only the brush copies: BGPics waiting to be freed are swept by their
    // own list walk, which may be the caller of this very free.
    if (releaseSources) {
        PurgeDetachedBrushes(L);
        if (const auto sweep = AnimObjectHooks().sweepPending) sweep(L);
        if (const auto sweep = VideoLayerHooks().sweepPending) sweep(L);
        FreeUnusedClipRegions(L);
    }
}

int UndoLayer(ScriptState* L, int32_t type, ObjectID id, int32_t level, bool noRefresh) {
    if (int err = CheckLayerTarget(GetCurrentDisplay())) return err;
    qbBGPic* bgpic = GetCurrentBGPic();
    auto* stack = StackOf(bgpic);
    if (!stack) return 0;
    int32_t seen = 0;
    for (size_t i = stack->size(); i-- > 0;) {
        qbLayer* layer = (*stack)[i].get();
        if (layer->type != type || !(layer->initialid == id)) continue;
        if (++seen == level) {
            if (AsyncDrawUsesObject(layer)) return ERR_REMADLAYER;
            FreeLayer(L, layer, noRefresh);
            bgpic->layersDirty = 1;
            return 0;
        }
    }
    return 0;
}
