// The backfill behind a full-screen display. Its objects are made and freed
// through the player's own script commands, as a script would make them, so
// that they are ordinary brushes, BGPics and displays that every library
// knows.
#include "display/backfill.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "vm/casefold.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "display/adapter.h"
#include "display/bgpics.h"
#include "display/displayoptions.h"
#include "display/displays.h"
#include "display/positions.h"
#include "imaging/blit.h"
#include "platform/platform_ops.h"
#include "vm/vm.h"

namespace {

enum : int { kBackfillNone = 0, kBackfillColour = 1, kBackfillGradient = 2, kBackfillTexture = 3, kBackfillPicture = 4 };
constexpr int32_t kLinearGradient = 2;
constexpr int kMenuBarHeightAttr = 17;

struct CommandCall {
    CommandHandler handler;
    const std::function<int(ScriptState*)>* push;
    int result = 0;
    ObjectID made;
};

// The protected part: the arguments are pushed inside the protected call so
// that a raise while building them is the command's error too.
int CallBody(ScriptState* L) {
    auto* call = static_cast<CommandCall*>(VmToUserdata(L, 1));
    VmSetTop(L, 0);
    VmPushCClosure(L, call->handler, 0);
    const int nargs = (*call->push)(L);
    call->result = VmCall(L, nargs, 1);
    if (call->result == 0) {
        if (VmType(L, -1) == kTypeLightUserdata) {
            call->made = ObjectID{0, VmToUserdata(L, -1)};
        } else if (VmType(L, -1) == kTypeNumber) {
            call->made = ObjectID{ClampToInt32(VmToNumber(L, -1)), nullptr};
        }
    }
    return 0;
}

void PushID(ScriptState* L, const ObjectID& id) {
    if (id.handle) {
        VmPushLightUserdata(L, id.handle);
    } else {
        VmPushNumber(L, id.number);
    }
}

bool Present(const ObjectID& id) { return id.number != 0 || id.handle != nullptr; }

// -1 (not given) is black.
int32_t ColourOrBlack(int32_t colour) { return colour == -1 ? 0 : colour; }

// Draws the brush's picture onto every image of the BGPic through its alpha
// channel, its mask, or opaque.
int DrawPictureOnto(ScriptState* L, qbDisplay* d, const qbBackfillOptions& b, int32_t width, int32_t height) {
    qbBGPic* picture = nullptr;
    if (int err = GetBGPic(L, d->backfillBGPic, &picture, 0)) return err;
    qbTexturePicture brush;
    if (int err = GetTexturePicture(L, d->backfillBrush, &brush)) return err;
    const int32_t x = ResolveSpecialX(b.x, brush.width, width, 0.0);
    const int32_t y = ResolveSpecialY(b.y, brush.height, height, 0.0);
    qbBitmap* done[3] = {};
    int count = 0;
    for (const qbImageTriple* t : {&picture->current, &picture->base, &picture->initial}) {
        qbBitmap* target = t->bitmap;
        if (!target || std::find(done, done + count, target) != done + count) continue;
        done[count++] = target;
        if (brush.bitmap && brush.alpha) {
            CopyBitmapRectAlpha(brush.bitmap, 0, 0, target, x, y, brush.width, brush.height, brush.alpha);
        } else if (brush.bitmap && brush.mask) {
            CopyBitmapRectMasked(brush.bitmap, 0, 0, target, x, y, brush.width, brush.height, brush.mask);
        } else if (brush.bitmap) {
            CopyBitmapRect(brush.bitmap, 0, 0, target, x, y, brush.width, brush.height);
        } else if (brush.pixels) {
            for (int32_t row = 0; row < brush.height; ++row)
                for (int32_t col = 0; col < brush.width; ++col) {
                    const int64_t tx = int64_t{x} + col, ty = int64_t{y} + row;
                    if (tx < 0 || ty < 0 || tx >= width || ty >= height) continue;
                    WriteBitmapPixel(target, static_cast<int32_t>(tx), static_cast<int32_t>(ty),
                                     brush.pixels[static_cast<size_t>(row) * brush.rowLength + col], false);
                }
        }
    }
    return 0;
}

int MakeBrush(ScriptState* L, qbDisplay* d, const qbBackfillOptions& b, int32_t width, int32_t height) {
    if (!b.fileName.empty()) {
        const std::string& file = b.fileName;
        if (int err = CallBackfillCommand(
                L, "LoadBrush",
                [&](ScriptState* S) {
                    VmPushNil(S);
                    VmPushString(S, file.c_str());
                    return 2;
                },
                &d->backfillBrush))
            return err;
    } else {
        const ObjectID source{b.brush, nullptr};
        if (int err = CallBackfillCommand(
                L, "CopyBrush",
                [&](ScriptState* S) {
                    PushID(S, source);
                    VmPushNil(S);
                    return 2;
                },
                &d->backfillBrush))
            return err;
    }
    if (b.type != kBackfillPicture || !b.scalePicture) return 0;
    const ObjectID brush = d->backfillBrush;
    return CallBackfillCommand(
        L, "ScaleBrush",
        [&](ScriptState* S) {
            PushID(S, brush);
            VmPushNumber(S, width);
            VmPushNumber(S, height);
            VmPushNumber(S, b.smoothScale ? 1 : 0);
            return 4;
        },
        nullptr);
}

int MakeBGPic(ScriptState* L, qbDisplay* d, const qbBackfillOptions& b, int32_t width, int32_t height) {
    const bool gradient =
        b.type == kBackfillGradient || (b.type == kBackfillPicture && b.startColor != -1 && b.endColor != -1);
    if (b.type == kBackfillTexture) {
        const ObjectID brush = d->backfillBrush;
        return CallBackfillCommand(
            L, "CreateTexturedBGPic",
            [&](ScriptState* S) {
                VmPushNil(S);
                PushID(S, brush);
                VmPushNumber(S, width);
                VmPushNumber(S, height);
                return 4;
            },
            &d->backfillBGPic);
    }
    if (gradient) {
        return CallBackfillCommand(
            L, "CreateGradientBGPic",
            [&](ScriptState* S) {
                VmPushNil(S);
                VmPushNumber(S, kLinearGradient);
                VmPushNumber(S, ColourOrBlack(b.startColor));
                VmPushNumber(S, ColourOrBlack(b.endColor));
                VmPushNumber(S, width);
                VmPushNumber(S, height);
                return 6;
            },
            &d->backfillBGPic);
    }
    return CallBackfillCommand(
        L, "CreateBGPic",
        [&](ScriptState* S) {
            VmPushNil(S);
            VmPushNumber(S, width);
            VmPushNumber(S, height);
            VmPushNumber(S, ColourOrBlack(b.startColor));
            return 4;
        },
        &d->backfillBGPic);
}

}  // namespace

int CallBackfillCommand(ScriptState* L, const char* name, const std::function<int(ScriptState*)>& push,
                        ObjectID* made) {
    if (!L) return ERR_INTERNAL1;
    // The player's own command, whatever the script keeps under its name:
    // a script's function would run with the display held.
    const CommandHandler handler = FindCommandHandler(name);
    if (!handler) {
        std::string lower(name);
        StrToLower(lower.data());
        SetErrorDetail((lower + "()").c_str());
        return ERR_FUNCDECLA;
    }
    // The wrapper, its record, the function and six arguments.
    constexpr int kStackRoom = 12;
    if (!VmCheckStack(L, kStackRoom)) return ERR_STACK;
    const int top = VmGetTop(L);
    CommandCall call{handler, &push, 0, ObjectID{}};
    VmPushCClosure(L, CallBody, 0);
    VmPushLightUserdata(L, &call);
    int err = VmPCall(L, 1, 0, 0);
    if (err == 0) err = call.result;
    VmSetTop(L, top);
    if (err == 0 && made) *made = call.made;
    return err;
}

qbBackfillOptions EffectiveBackfill(const qbDisplay* d, bool fullScreen) {
    qbBackfillOptions none;
    InitBackfillOptions(none);
    if (HasDisplayAdapter() || d->screen.desktop || (d->flags & kDisplayNoBackfill)) return none;
    // A window keeps its backfill options for its next full screen.
    const bool fake = d->screen.mode == DISPMODE_FAKEFULLSCREEN || (d->flags & kDisplayFakeFullScreen);
    if (!fullScreen && !fake) return none;
    qbBackfillOptions b = d->screen.backfill;
    if (b.type == kBackfillNone) {
        b.type = kBackfillColour;
        b.startColor = 0;
        b.hideTitleBar = (d->flags & kDisplayKeepBorder) ? 0 : 1;
    }
    return b;
}

int BuildBackfill(ScriptState* L, qbDisplay* d, const qbBackfillOptions& b, int32_t* titleBarOffset) {
    *titleBarOffset = 0;
    int32_t mx = 0, my = 0, width = 0, height = 0;
    if (GetDisplayMonitorInfo(d, &mx, &my, &width, &height)) return ERR_GETMONITORINFO;
    if (!b.hideTitleBar && !HasDisplayAdapter()) {
        *titleBarOffset = static_cast<int32_t>(GetNativeDisplayAttr(d, kMenuBarHeightAttr));
        height -= *titleBarOffset;
    }
    if (width < 1 || height < 1) return ERR_GETMONITORINFO;
    if (b.type == kBackfillTexture || b.type == kBackfillPicture) {
        if (int err = MakeBrush(L, d, b, width, height)) return err;
    }
    if (int err = MakeBGPic(L, d, b, width, height)) return err;
    if (b.type == kBackfillPicture) return DrawPictureOnto(L, d, b, width, height);
    return 0;
}

int MakeBackfillDisplay(ScriptState* L, qbDisplay* d, const qbBackfillOptions& b) {
    int32_t offset = 0;
    if (int err = BuildBackfill(L, d, b, &offset)) return err;
    const ObjectID picture = d->backfillBGPic;
    const int32_t monitor = d->monitor + 1;
    if (int err = CallBackfillCommand(
            L, "CreateDisplay",
            [&](ScriptState* S) {
                VmPushNil(S);
                VmPushNewTable(S);
                SetTableFieldInt(S, "y", offset);
                SetTableFieldInt(S, "borderless", 1);
                SetTableFieldInt(S, "fixed", 1);
                VmPushString(S, "bgpic");
                PushID(S, picture);
                VmSetTableAt(S, -3);
                SetTableFieldInt(S, "hidepointer", 1);
                SetTableFieldInt(S, "monitor", monitor);
                SetTableFieldInt(S, "__backfill", 1);
                return 2;
            },
            &d->backfillDisplay))
        return err;
    qbDisplay* backfill = nullptr;
    if (int err = GetDisplayRecord(d->backfillDisplay, &backfill)) return err;
    backfill->flags |= d->flags & kDisplayFakeFullScreen;
    backfill->fullScreen = d->fullScreen;
    backfill->servedDisplay = d;
    return 0;
}

bool HasBackfillObjects(const qbDisplay* d) {
    return Present(d->backfillDisplay) || Present(d->backfillBGPic) || Present(d->backfillBrush);
}

void FreeBackfillObjects(ScriptState* L, qbDisplay* d) {
    struct Item {
        ObjectID* id;
        const char* command;
    };
    const Item items[] = {{&d->backfillDisplay, "FreeDisplay"},
                          {&d->backfillBGPic, "FreeBGPic"},
                          {&d->backfillBrush, "FreeBrush"}};
    for (const Item& item : items) {
        if (!Present(*item.id)) continue;
        const ObjectID id = *item.id;
        *item.id = ObjectID{};
        // The objects are the display's own: a refusal leaves nothing to do
        // but go on with the others.
        int err = 0;
        if (L) {
            err = CallBackfillCommand(
                L, item.command,
                [&](ScriptState* S) {
                    PushID(S, id);
                    return 1;
                },
                nullptr);
        }
        if (!L || err == ERR_FUNCDECLA) {
            if (item.id == &d->backfillDisplay) FreeDisplayCore(L, id, false);
            if (item.id == &d->backfillBGPic) FreeBGPicCore(L, id, false);
        }
    }
}
