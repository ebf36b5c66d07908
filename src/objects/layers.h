// The layer stack of a BGPic: every object shown while layers are on
// becomes a layer record, bottom first, which the compositor redraws over
// the BGPic's background. Adding, freeing, lookups, moving in the stack,
// Undo, switching layers on and off, and the "layers" library.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/argapi.h"
#include "core/objectdata.h"
#include "objects/objectoptions.h"

struct ScriptState;
struct qbBGPic;
struct qbBitmap;
struct qbDisplay;
struct qbClipRegion;

// Layer types are the object types of the system.
enum : int32_t {
    kLayerBGPic = 1,
    kLayerBrush = 3,
    kLayerAnim = 4,
    kLayerNoObject = 7,
    kLayerTextObject = 8,
    kLayerTextOut = 9,
    kLayerPrint = 11,
    kLayerBrushPart = 12,
    kLayerBGPicPart = 13,
    kLayerBox = 14,
    kLayerCircle = 15,
    kLayerEllipse = 16,
    kLayerLine = 17,
    kLayerPolygon = 27,
    kLayerArc = 31,
    kLayerVectorPath = 49,
    kLayerVideo = 50,
};

// The state's own pictures while an effect shows its frames in their place
// (LendLayerPictures): the shown bitmap, mask and alpha are then the
// lender's, never freed by the state, and these are the state's, freed with
// it if it goes before the lender gives them back.
struct qbLentPictures {
    const void* lender = nullptr;
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
    qbBitmap* xfbitmap = nullptr;
    qbBitmap* xfmask = nullptr;
    qbBitmap* xfalpha = nullptr;
    int32_t srcx = 0, srcy = 0;
};

// The shared head of every layer's state: its own image, the caches the
// compositor builds, and the geometry as given and as shown. The state owns
// every image it points at, save the bitmap, mask and alpha of a lent state.
struct qbLayerState {
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
    qbBitmap* xfbitmap = nullptr;  // the transformed image
    qbBitmap* xfmask = nullptr;
    qbBitmap* xfalpha = nullptr;
    qbBitmap* fxbitmap = nullptr;  // the filtered image
    qbBitmap* fxmask = nullptr;
    qbBitmap* fxalpha = nullptr;
    qbBitmap* bdbitmap = nullptr;  // the border image
    qbBitmap* bdmask = nullptr;
    qbBitmap* bdalpha = nullptr;
    qbBitmap* shadowalpha = nullptr;
    const qbClipRegion* clipregion = nullptr;  // not owned
    int32_t x = 0, y = 0;
    int32_t width = 0, height = 0;
    int32_t shownx = 0, showny = 0;
    int32_t anchoredx = 0, anchoredy = 0;
    int32_t shownwidth = 0, shownheight = 0;
    int32_t bdoffx = 0, bdoffy = 0;
    int32_t bdwidth = 0, bdheight = 0;
    int32_t srcx = 0, srcy = 0;
    // A text layer's layout, kept to render it again with the same breaks;
    // owned, and freed with the state (its type is the text library's).
    std::shared_ptr<void> textLayout;
    // A shape or line layer's shape, kept to draw it again under another
    // transform or style (its type is the draw library's; never changed in
    // place, so states may share it).
    std::shared_ptr<void> shapeState;
    qbLentPictures lent;
    ~qbLayerState();
};

struct qbLayer {
    int32_t type = 0;
    ObjectID id;
    ObjectID initialid;
    int32_t hidden = 0;
    int32_t pending = 0;
    int32_t transparency = 0;
    std::string name;
    std::string groupname;
    int32_t cliptransformmode = 0;
    int32_t hold = 0;
    qbTransformOptions transform;
    double anchorx = 0, anchory = 0;
    qbShadowStyle shadow;
    int32_t shadowfade = 0;
    qbBorderStyle border;
    int32_t borderfade = 0;
    qbFilterSet filters;
    int32_t hasgeometricfilter = 0;
    // basestate owns its record; the other two either point at it or own
    // records of their own (see FreeLayerStates).
    qbLayerState* basestate = nullptr;
    qbLayerState* transformedstate = nullptr;
    qbLayerState* shownstate = nullptr;
    ObjectDataList data;  // the script's named values (SetObjectData)
    // Pins of the commands reading script options about the layer, and
    // whether its stack let it go meanwhile (see qbLayerPin).
    int32_t pins = 0;
    bool orphaned = false;
    ~qbLayer();
};

// A layer's record goes when its stack lets it go, unless a command holds it
// pinned while script code may run (its options' "__index"): then the layer
// is gone from the stack at once, as the free wants, and only its record
// stays until the pin ends, so that the command finds the layer gone instead
// of reading freed memory.
struct qbLayerDelete {
    void operator()(qbLayer* layer) const;
};
using qbLayerPtr = std::unique_ptr<qbLayer, qbLayerDelete>;
class qbLayerPin {
public:
    explicit qbLayerPin(qbLayer* layer) : layer_(layer) { ++layer_->pins; }
    ~qbLayerPin();
    qbLayerPin(const qbLayerPin&) = delete;
    qbLayerPin& operator=(const qbLayerPin&) = delete;

private:
    qbLayer* layer_;
};

// The stack of one BGPic, bottom first.
struct qbLayerStack {
    std::vector<qbLayerPtr> layers;
};

// AddLayer flags.
enum : uint32_t {
    kAddHidden = 1,
    kAddDisplayScale = 2,
    kAddKeepRefresh = 4,
    // The new layer takes the place of the one just above its insert
    // position: buttons, clip region, clip mode and named data move to it,
    // and the old layer goes (without a refresh: the caller shows the change).
    kAddReplace = 8,
    kAddKeepPositions = 0x100,  // with kAddReplace: the old layer's positions
    kAddKeepFilters = 0x200,    // with kAddReplace: the old layer's filters
};

// 0 or ERR_MEM, ERR_NAMETOOLONG, ERR_NAMEUSED or the transform's error.
// The layer takes the state (and so its images) in every case: on failure
// they are freed. insertPos -1 puts it on top.
int AddLayer(ScriptState* L, int32_t type, const ObjectID* id, int32_t shownX, int32_t shownY, int32_t shownWidth,
             int32_t shownHeight, const qbTransformOptions* topts, qbLayerOptions* lopts,
             std::unique_ptr<qbLayerState> state, int32_t insertPos, uint32_t flags, qbLayer** out);
// A layer showing an object (brush, brush part, BGPic part) with its own
// image when one is given.
int AddObjectLayer(ScriptState* L, int32_t type, ObjectID id, int32_t srcX, int32_t srcY, int32_t x, int32_t y,
                   int32_t width, int32_t height, const qbTransformOptions* topts, qbLayerOptions* lopts,
                   qbBitmap* bitmap, int32_t insertPos, uint32_t flags, qbLayer** out);
void FreeLayer(ScriptState* L, qbLayer* layer, bool noRefresh);
void FreeBGPicLayers(ScriptState* L, qbBGPic* bgpic, bool releaseSources);

// The kinds of source that layers hold back, for ReleaseLayerSources.
enum : uint32_t {
    kReleaseBrushSources = 1,
    kReleaseAnimSources = 2,
    kReleaseTextObjectSources = 4,
    kReleaseBGPicSources = 8,
    kReleaseVideoSources = 16,
    kReleaseAllLayerSources = 31,
};
// Releases what the sources of the kinds in mask held back for the layers
// and no layer uses any more: detached brush copies, BGPics and videos
// waiting to be freed, anims and text objects freed while layers showed
// them.
void ReleaseLayerSources(ScriptState* L, uint32_t mask);

// An effect shows its own pictures in the state's place (the state must
// not be lent already). The state keeps its own, and its destructor frees
// those and never the lender's.
void LendLayerPictures(qbLayerState* state, const void* lender, qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha);
// The state takes its own pictures back; the lender's stay the lender's.
// False when the state was not lent.
bool ReturnLentPictures(qbLayerState* state);
// Every state of the layer takes its own pictures back: what changes a
// layer's pictures calls this first, so that it frees and replaces only the
// layer's own. The lender finds out (LayerStateLentBy) and lends again.
bool ReturnLayerPictures(qbLayer* layer);
// The layer's state that the lender's pictures stand in, or null.
qbLayerState* LayerStateLentBy(qbLayer* layer, const void* lender);

// Every road that frees, replaces or rebuilds a layer's pictures or states
// holds one of these over the change: the layer has its own pictures for
// the length of it, and an effect that lent it its images reads the layer
// again when the change is over (Finish, or the end of the scope), before
// anything shows it. Nested changes tell the effect once.
struct LayerChangeScope {
    explicit LayerChangeScope(qbLayer* layer);
    ~LayerChangeScope() { Finish(); }
    LayerChangeScope(const LayerChangeScope&) = delete;
    LayerChangeScope& operator=(const LayerChangeScope&) = delete;
    void Finish();
    qbLayer* layer = nullptr;
    bool wasLent = false;
};

// The naming rule: at most 255 characters (ERR_NAMETOOLONG), no other
// layer of the BGPic with that name or group name, letter case aside
// (ERR_NAMEUSED).
int AssignLayerName(const qbBGPic* bgpic, qbLayer* layer, const char* name);

int32_t CountLayers(const qbBGPic* bgpic);
// Null when n is outside 1..count.
qbLayer* GetLayerByIndex(const qbBGPic* bgpic, int32_t n);
// 1-based, -1 when the layer is not in the stack.
int32_t IndexOfLayer(const qbBGPic* bgpic, const qbLayer* layer);
// 1-based position of the first layer (from the bottom) of the BGPic whose
// name matches without letter case; 0 when none does or there is no BGPic.
int FindLayerByName(const qbBGPic* bgpic, const char* name);
// The same for a command's layer: 0 with the position, or ERR_FINDLAYER
// with the name as the error's detail, so that every command that takes a
// layer by name says which one it did not find.
int FindNamedLayer(const qbBGPic* bgpic, const char* name, int32_t* position);
// A layer position argument: a number as it is or a layer's name
// (FindNamedLayer); ERR_STRORNUM for any other value. The position is not
// checked against the stack.
int GetLayerPositionOrName(ScriptState* L, int idx, const qbBGPic* bgpic, int32_t* position);
// A layer argument: a position, a layer name, or a group name. A group
// hands out its layers one per call, bottom first: *cursor (null = 0) picks
// the group's cursor-th layer and becomes the number of the next one, -1
// after the last; positions and names set it to -1 at once. *more, when
// given, is 1 for a group. 0, ERR_STRORNUM, ERR_LAYERRANGE or ERR_FINDLAYER.
int GetLayerArg(ScriptState* L, int idx, const qbBGPic* bgpic, int32_t* cursor, int32_t* more, qbLayer** out);
// newPos 0 is the top. true when the layer moved.
bool MoveLayerInStack(qbBGPic* bgpic, qbLayer* layer, int32_t newPos);
// The BGPic whose stack holds the layer.
qbBGPic* FindBGPicOfLayer(const qbLayer* layer);

// Layer commands run only on a display whose output is the display (or a
// selected BGPic) with layers on: 0 or the code of what is in the way.
int CheckLayerTarget(const qbDisplay* display);
int EnableDisplayLayers(qbDisplay* display);
// Frees the level-th newest layer of that type whose initial id is id.
int UndoLayer(ScriptState* L, int32_t type, ObjectID id, int32_t level, bool noRefresh);

// Rebuilds a layer's transformed (mode 2) or display-scaled shown state
// (mode 5; 7 drops the previous shown state) after its transform changed.
// kChangeSamePicture: the layer shows the picture its transformed state
// was made from, under the same matrix and smoothing, so that state's
// transformed image is taken over instead of transformed again.
int ApplyLayerChange(ScriptState* L, qbLayer* layer, uint32_t flags);
enum : uint32_t { kChangeDisplayScale = 1, kChangeRefresh = 2, kChangeDropShown = 4, kChangeSamePicture = 8 };

// Points every layer that shows the object at another id.
void RelinkLayersToObject(int32_t objectType, ObjectID from, ObjectID to);

int InitLayersLibrary(ScriptState* L);
void FreeLayersLibrary(ScriptState* L);
