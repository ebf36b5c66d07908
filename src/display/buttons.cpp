// Buttons of a BGPic: their commands, the hit test, the translation of mouse
// buttons into button events and the pointer over/out walk.
#include <algorithm>
#include <cstdio>
#include <list>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "core/objectlist.h"
#include "display/bgpics.h"
#include "display/bgpicscaling.h"
#include "display/display.h"
#include "display/eventlib.h"
#include "display/positions.h"
#include "imaging/blit.h"

enum ButtonAction : int {
    kOnMouseOver = 0,
    kOnMouseOut,
    kOnMouseDown,
    kOnMouseUp,
    kOnRightMouseDown,
    kOnRightMouseUp,
    kOnMidMouseDown,
    kOnMidMouseUp,
    kButtonActions
};

struct qbBGPicButton {
    ObjectID id;
    int32_t type = 0;
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    bool enabled = true;
    bool pressed[3] = {};
    bool over = false;
    int functions[kButtonActions] = {-1, -1, -1, -1, -1, -1, -1, -1};
    int userData = -1;
    // Layer buttons: the layer whose shown box is the button. It stays in
    // its BGPic's stack for as long as the button exists (freeing a layer
    // removes its button first).
    qbLayer* layer = nullptr;
    bool pixelExact = false;
    bool activeWhileHidden = false;
};

// Newest first, each button found by its id and a layer's by its layer, so
// that making, finding and removing one walks none of the others.
struct qbButtonList {
    using Buttons = std::list<std::unique_ptr<qbBGPicButton>>;
    Buttons buttons;
    std::unordered_map<qbObjectList::Key, Buttons::iterator, qbObjectList::KeyHash> byId;
    std::unordered_multimap<const qbLayer*, Buttons::iterator> byLayer;
};

namespace {

constexpr int kSimpleButton = 0;
constexpr int kLayerButton = 1;
constexpr int kButtonRecordSize = 100;

const qbLayerButtonHooks* layerButtons = nullptr;

const char* const kActionKeys[kButtonActions] = {
    "onmouseover", "onmouseout", "onmousedown", "onmouseup",
    "onrightmousedown", "onrightmouseup", "onmidmousedown", "onmidmouseup",
};
const char* const kActionNames[kButtonActions] = {
    "OnMouseOver", "OnMouseOut", "OnMouseDown", "OnMouseUp",
    "OnRightMouseDown", "OnRightMouseUp", "OnMidMouseDown", "OnMidMouseUp",
};

using ButtonAt = qbButtonList::Buttons::iterator;

// The over/out walk in progress: the next button to look at, moved past a
// button a callback removes. The list is held weakly: a callback may free
// the picture and its buttons.
struct OverOutWalk {
    std::weak_ptr<qbButtonList> list;
    ButtonAt cursor;
    qbBGPicButton* pressed = nullptr;  // compared, never followed
};
OverOutWalk walk;

bool Walking(const qbButtonList* list) { return list && walk.list.lock().get() == list; }

qbBGPic* ButtonsBGPic(const qbDisplay* d) {
    if ((d->softDoubleBuffer || d->hardDoubleBuffer) && d->doubleBufferBGPic) return d->doubleBufferBGPic;
    return d->bgpic;
}

std::shared_ptr<qbButtonList> SharedListOf(const qbDisplay* d) {
    qbBGPic* pic = d ? ButtonsBGPic(d) : nullptr;
    return pic ? pic->buttons : nullptr;
}

qbButtonList* ListOf(const qbDisplay* d) { return SharedListOf(d).get(); }

bool IsButtonActive(const qbBGPicButton& b) {
    if (b.type == kSimpleButton) return b.enabled;
    if (b.type == kLayerButton)
        return b.enabled && b.layer && layerButtons && layerButtons->active(b.layer, b.activeWhileHidden);
    return false;
}

bool HitTestButton(const qbDisplay* d, int32_t x, int32_t y, const qbBGPicButton& b) {
    int32_t dx = 0;
    int32_t dy = 0;
    WindowToDisplay(d, x, y, &dx, &dy);
    const int64_t px = dx;
    const int64_t py = dy;
    if (b.type == kSimpleButton) return px >= b.x1 && px <= b.x2 && py >= b.y1 && py <= b.y2;
    if (b.type != kLayerButton || !b.layer) return false;
    // The layer scaling engine places the layers' shown states in the
    // picture as the window shows it.
    if (DisplayScalesPicture(d))
        return layerButtons && layerButtons->hit(b.layer, int64_t{x} - d->view.offsetX, int64_t{y} - d->view.offsetY,
                                                 b.pixelExact);
    return layerButtons && layerButtons->hit(b.layer, px, py, b.pixelExact);
}

// MakeButton's layer argument: a position, a layer name, or the first
// layer of a group. Without the layers library there are no layers.
int LayerButtonTarget(ScriptState* L, int idx, qbBGPic* pic, qbLayer** out) {
    if (!layerButtons) return ERR_WRONGUSAGE;
    return layerButtons->find(L, idx, pic, out);
}

void FillButtonMessage(qbEventMessage* msg, qbDisplay* d, qbBGPicButton* b, int action) {
    msg->source = d;
    msg->type = kMsgButton;
    msg->bgpic = ButtonsBGPic(d);
    msg->button = b;
    msg->function = b->functions[action];
    msg->userData = b->userData;
    msg->id = b->id;
    std::snprintf(msg->action, sizeof msg->action, "%s", kActionNames[action]);
}

void ReleaseButton(ScriptState* L, qbBGPicButton& b) {
    for (int& ref : b.functions) {
        if (ref != -1) VmReleaseRef(L, kRegistryIndex, ref);
        ref = -1;
    }
    if (b.userData != -1) VmReleaseRef(L, kRegistryIndex, b.userData);
    b.userData = -1;
}

qbObjectList::Key KeyOf(ObjectID id) { return {id.number, id.handle}; }

void UnindexLayer(qbButtonList& list, ButtonAt at) {
    auto [from, to] = list.byLayer.equal_range((*at)->layer);
    for (auto it = from; it != to; ++it)
        if (it->second == at) {
            list.byLayer.erase(it);
            return;
        }
}

void RemoveAt(ScriptState* L, qbButtonList& list, ButtonAt at) {
    qbBGPicButton& b = **at;
    ForgetDispatchButton(&b);
    if (Walking(&list) && walk.cursor == at) ++walk.cursor;
    ReleaseButton(L, b);
    if (auto found = list.byId.find(KeyOf(b.id)); found != list.byId.end() && found->second == at)
        list.byId.erase(found);
    if (b.type == kLayerButton) UnindexLayer(list, at);
    list.buttons.erase(at);
}

int OutputButtons(qbButtonList** out, qbBGPic** outPic) {
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_BGPICBUTTON;
    qbBGPic* pic = (d->softDoubleBuffer || d->hardDoubleBuffer) ? ButtonsBGPic(d) : GetCurrentOutputBGPic();
    if (!pic || (d->output.type != kObjectTypeDisplay && d->output.type != 1)) return ERR_BGPICBUTTON;
    if (!pic->buttons) pic->buttons = std::make_shared<qbButtonList>();
    *out = pic->buttons.get();
    if (outPic) *outPic = pic;
    return 0;
}

int FindButton(ObjectID id, qbButtonList** outList, ButtonAt* outAt) {
    qbButtonList* list = nullptr;
    if (int err = OutputButtons(&list, nullptr)) return err;
    if (auto found = list->byId.find(KeyOf(id)); found != list->byId.end()) {
        *outList = list;
        *outAt = found->second;
        return 0;
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDBUTTON;
}

// The eight handler keys of a button's event table; at least one is needed.
int ReadButtonFunctions(ScriptState* L, int table, qbBGPicButton& b) {
    VmCheckTable(L, table);
    int found = 0;
    for (int i = 0; i < kButtonActions; ++i) {
        VmPushString(L, kActionKeys[i]);
        VmRawGet(L, table);
        const int type = VmType(L, -1);
        if (type == kTypeNil) {
            VmSetTop(L, -2);
            continue;
        }
        if (type != kTypeFunction) {
            VmSetTop(L, -2);
            return ERR_FUNCEXPECTED;
        }
        b.functions[i] = VmMakeRef(L, kRegistryIndex);
        ++found;
    }
    return found ? 0 : ERR_WRONGUSAGE;
}

// The event table at functionsArg and the optional userdata after it, then
// the button joins the list (an explicit id first removes the button that
// had it). Returns the command's result count or an error.
int AddButton(ScriptState* L, qbButtonList* list, std::unique_ptr<qbBGPicButton> b, NewObjectID newID,
              int functionsArg) {
    if (int err = ReadButtonFunctions(L, functionsArg, *b)) {
        ReleaseButton(L, *b);
        return err;
    }
    if (VmGetTop(L) > functionsArg) {
        VmPushValue(L, functionsArg + 1);
        b->userData = VmMakeRef(L, kRegistryIndex);
    }
    b->id = newID.chooseFlag ? ObjectID{0, b.get()} : ObjectID{newID.id, nullptr};
    const ObjectID id = b->id;
    if (!newID.chooseFlag)
        if (auto old = list->byId.find(KeyOf(id)); old != list->byId.end()) RemoveAt(L, *list, old->second);
    // A refusal of memory leaves the list as it was.
    bool indexed = false;
    try {
        list->buttons.push_front(nullptr);
        list->byId.emplace(KeyOf(id), list->buttons.begin());
        indexed = true;
        if (b->type == kLayerButton) list->byLayer.emplace(b->layer, list->buttons.begin());
    } catch (const std::bad_alloc&) {
        if (indexed) list->byId.erase(KeyOf(id));
        if (!list->buttons.empty() && !list->buttons.front()) list->buttons.pop_front();
        ReleaseButton(L, *b);
        return ERR_MEM;
    }
    list->buttons.front() = std::move(b);
    if (!newID.chooseFlag) return 0;
    PushObjectID(L, id);
    return 1;
}

}  // namespace

int cmdMakeButton(ScriptState* L) {
    CheckArgCount(L, 6, 8, 0, 0);
    const NewObjectID newID = GetNewObjectIDArg(L, 1);
    const int32_t type = ClampToInt32(VmCheckNumber(L, 2));
    qbButtonList* list = nullptr;
    qbBGPic* pic = nullptr;
    if (int err = OutputButtons(&list, &pic)) return err;
    if (type == kLayerButton) {
        auto b = std::make_unique<qbBGPicButton>();
        b->type = kLayerButton;
        if (int err = LayerButtonTarget(L, 3, pic, &b->layer)) return err;
        if (list->byLayer.count(b->layer)) return ERR_WRONGUSAGE;
        b->pixelExact = GetFlagArg(L, 4, false);
        b->activeWhileHidden = GetFlagArg(L, 5, false);
        return AddButton(L, list, std::move(b), newID, 6);
    }
    if (type != kSimpleButton) return ERR_WRONGUSAGE;
    const double width = VmCheckNumber(L, 5);
    const double height = VmCheckNumber(L, 6);
    if (!(width >= 1) || !(height >= 1) || width > 0x7fffffff || height > 0x7fffffff) return ERR_WRONGUSAGE;
    auto b = std::make_unique<qbBGPicButton>();
    const auto w = static_cast<int32_t>(width);
    const auto h = static_cast<int32_t>(height);
    const int64_t x = ResolveSpecialX(ClampToInt32(VmCheckNumber(L, 3)), w, pic->currentWidth, 0.0);
    const int64_t y = ResolveSpecialY(ClampToInt32(VmCheckNumber(L, 4)), h, pic->currentHeight, 0.0);
    b->type = type;
    b->x1 = static_cast<int32_t>(x);
    b->y1 = static_cast<int32_t>(y);
    b->x2 = static_cast<int32_t>(std::min<int64_t>(x + w - 1, INT32_MAX));
    b->y2 = static_cast<int32_t>(std::min<int64_t>(y + h - 1, INT32_MAX));
    return AddButton(L, list, std::move(b), newID, 7);
}

void SetLayerButtonHooks(const qbLayerButtonHooks* hooks) { layerButtons = hooks; }

void RemoveLayerButton(ScriptState* L, qbBGPic* bgpic, const qbLayer* layer) {
    qbButtonList* list = bgpic ? bgpic->buttons.get() : nullptr;
    if (!list) return;
    for (auto found = list->byLayer.find(layer); found != list->byLayer.end(); found = list->byLayer.find(layer))
        RemoveAt(L, *list, found->second);
}

void RebindLayerButtons(qbBGPic* bgpic, const qbLayer* from, qbLayer* to) {
    qbButtonList* list = bgpic ? bgpic->buttons.get() : nullptr;
    if (!list || from == to) return;
    auto [first, last] = list->byLayer.equal_range(from);
    std::vector<ButtonAt> moved;
    for (auto it = first; it != last; ++it) moved.push_back(it->second);
    list->byLayer.erase(first, last);
    for (ButtonAt at : moved) {
        (*at)->layer = to;
        list->byLayer.emplace(to, at);
    }
}

int cmdDeleteButton(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbButtonList* list = nullptr;
    ButtonAt at;
    if (int err = FindButton(GetObjectIDArg(L, 1), &list, &at)) return err;
    RemoveAt(L, *list, at);
    return 0;
}

namespace {
int SetEnabled(ScriptState* L, bool on) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbButtonList* list = nullptr;
    ButtonAt at;
    if (int err = FindButton(GetObjectIDArg(L, 1), &list, &at)) return err;
    qbBGPicButton& b = **at;
    b.enabled = on;
    std::fill(std::begin(b.pressed), std::end(b.pressed), false);
    return 0;
}
}  // namespace

int cmdEnableButton(ScriptState* L) { return SetEnabled(L, true); }
int cmdDisableButton(ScriptState* L) { return SetEnabled(L, false); }

int cmdDumpButtons(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    qbButtonList* list = nullptr;
    qbBGPic* pic = nullptr;
    if (int err = OutputButtons(&list, &pic)) return err;
    std::printf("BUTTON SYSTEM INFO - BGPIC: %d (%p)\nsizeof(qbBGPicButton): %d\nButtons: %d\n", pic->id,
                static_cast<void*>(pic), kButtonRecordSize, static_cast<int>(list->buttons.size()));
    for (const auto& b : list->buttons)
        std::printf("(%d) Type: %d - X1: %d - Y1: %d - X2: %d - Y2: %d\n", b->id.number, b->type, b->x1, b->y1, b->x2,
                    b->y2);
    std::fflush(stdout);
    return 0;
}

bool TranslateButtonEvent(ScriptState*, const qbInputEvent& in, qbEventMessage* msg) {
    qbButtonList* list = ListOf(in.display);
    if (!list) return false;
    const int button = in.type == kEventLeftButton ? 0 : in.type == kEventRightButton ? 1 : 2;
    const bool down = in.state != 0;
    for (const auto& owned : list->buttons) {
        qbBGPicButton& b = *owned;
        if (!IsButtonActive(b) || !HitTestButton(in.display, in.x, in.y, b)) continue;
        const int action = kOnMouseDown + 2 * button + (down ? 0 : 1);
        if (down) {
            b.pressed[button] = true;
        } else {
            if (!b.pressed[button]) continue;
            b.pressed[button] = false;
        }
        if (b.functions[action] == -1) return false;
        FillButtonMessage(msg, in.display, &b, action);
        return true;
    }
    if (!down)
        for (const auto& b : list->buttons)
            if (b->enabled && (b->type == kSimpleButton || b->type == kLayerButton)) b->pressed[button] = false;
    return false;
}

bool NextButtonOverOut(ScriptState*, qbDisplay* d, bool start, qbEventMessage* msg) {
    const std::shared_ptr<qbButtonList> shared = SharedListOf(d);
    qbButtonList* list = shared.get();
    if (start) {
        walk = OverOutWalk{};
        walk.list = shared;
        if (list) walk.cursor = list->buttons.begin();
        if (list)
            for (const auto& b : list->buttons)
                if (IsButtonActive(*b) && (b->pressed[0] || b->pressed[1] || b->pressed[2])) walk.pressed = b.get();
    }
    if (!list || !Walking(list)) return false;
    const int32_t x = d->view.mouseX;
    const int32_t y = d->view.mouseY;
    while (walk.cursor != list->buttons.end()) {
        qbBGPicButton& b = **walk.cursor;
        if (!IsButtonActive(b) || (walk.pressed && walk.pressed != &b)) {
            ++walk.cursor;
            continue;
        }
        const bool over = HitTestButton(d, x, y, b);
        if (over && !b.over) {
            // Another button left first: its out comes before this one's over.
            for (const auto& other : list->buttons) {
                if (other.get() == &b || !other->over) continue;
                other->over = false;
                if (other->functions[kOnMouseOut] != -1) {
                    FillButtonMessage(msg, d, other.get(), kOnMouseOut);
                    return true;
                }
            }
            b.over = true;
            ++walk.cursor;
            if (b.functions[kOnMouseOver] != -1) {
                FillButtonMessage(msg, d, &b, kOnMouseOver);
                return true;
            }
            continue;
        }
        ++walk.cursor;
        if (!over && b.over) {
            b.over = false;
            if (b.functions[kOnMouseOut] != -1) {
                FillButtonMessage(msg, d, &b, kOnMouseOut);
                return true;
            }
        }
    }
    return false;
}

void ForgetDispatchButton(const qbBGPicButton* button) {
    if (walk.pressed == button) walk.pressed = nullptr;
}

void FillButtonTable(ScriptState* L, const qbEventMessage& msg) {
    const qbBGPicButton& b = *msg.button;
    SetTableFieldObjectID(L, "id", b.id);
    SetTableFieldInt(L, "x", b.x1);
    SetTableFieldInt(L, "y", b.y1);
    SetTableFieldInt(L, "width", b.x2 - b.x1 + 1);
    SetTableFieldInt(L, "height", b.y2 - b.y1 + 1);
    SetTableFieldInt(L, "mousedown", b.pressed[0]);
    SetTableFieldInt(L, "rightmousedown", b.pressed[1]);
    SetTableFieldInt(L, "midmousedown", b.pressed[2]);
    SetTableFieldObjectID(L, "display", IDOf(*static_cast<const qbDisplay*>(msg.source)));
    if (b.type == kLayerButton && b.layer && layerButtons) {
        int32_t position = 0;
        const char* name = "";
        layerButtons->describe(msg.bgpic, b.layer, &position, &name);
        SetTableFieldInt(L, "layer", position);
        SetTableFieldString(L, "layername", name);
    }
}

void FreeAllButtons(ScriptState* L) {
    for (qbBGPic* pic = FirstBGPic(); pic; pic = static_cast<qbBGPic*>(pic->next)) FreeBGPicButtons(L, pic);
    // Pictures a display made for itself are in no list.
    for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d)) {
        if (d->bgpic) FreeBGPicButtons(L, d->bgpic);
        if (d->doubleBufferBGPic) FreeBGPicButtons(L, d->doubleBufferBGPic);
    }
    walk = OverOutWalk{};
}

int FreeBGPicButtons(ScriptState* L, qbBGPic* bgpic) {
    if (!bgpic->buttons) return 0;
    while (!bgpic->buttons->buttons.empty()) RemoveAt(L, *bgpic->buttons, bgpic->buttons->buttons.begin());
    if (Walking(bgpic->buttons.get())) walk = OverOutWalk{};
    bgpic->buttons.reset();
    return 0;
}
