// The commands that set the draw state: fill style, form style, line width.
#include <cstdint>
#include <utility>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/gradientopts.h"
#include "draw/draw.h"

namespace {

bool Given(ScriptState* L, int idx) {
    if (VmGetTop(L) < idx) return false;
    const int type = VmType(L, idx);
    return type != kTypeNil && type != kTypeNone;
}

uint32_t ColourArg(ScriptState* L, int idx) { return static_cast<uint32_t>(ColourBits(VmCheckNumber(L, idx))); }

int SetGradientFill(ScriptState* L, qbDrawState* state) {
    CheckArgCount(L, 4, 6, 0, 0);
    // Parsed into a copy: a refused table leaves the state as it was.
    qbGradient g = state->gradient;
    ResetGradientDefaults(&g);
    g.style = GetIntArg(L, 2);
    g.startColor = static_cast<int32_t>(ColourArg(L, 3));
    g.endColor = static_cast<int32_t>(ColourArg(L, 4));
    if (Given(L, 5)) {
        VmCheckTable(L, 5);
        if (int err = ParseGradientStops(L, 5, &g, "centerx", "centery", "balance", "border", "colors", nullptr))
            return err;
    }
    state->gradient = std::move(g);
    return 0;
}

}  // namespace

int cmdSetFillStyle(ScriptState* L) {
    CheckArgCount(L, 1, 6, 0, 0);
    qbDrawState* state = GetDrawState();
    const int32_t style = GetIntArg(L, 1);
    switch (style) {
        case FILLNONE:
            state->lineWidth = Given(L, 2) ? GetIntArg(L, 2) : 1;
            break;
        case FILLCOLOR:
            break;
        case FILLGRADIENT:
            if (int err = SetGradientFill(L, state)) return err;
            break;
        case FILLTEXTURE:
            CheckArgCount(L, 2, 6, 0, 0);
            state->texture = GetObjectIDArg(L, 2);
            state->textureX = Given(L, 3) ? GetIntArg(L, 3) : 0;
            state->textureY = Given(L, 4) ? GetIntArg(L, 4) : 0;
            break;
        default:
            state->fillStyle = FILLNONE;
            ClampDrawState(state);
            return ERR_WRONGUSAGE;
    }
    state->fillStyle = static_cast<uint32_t>(style);
    ClampDrawState(state);
    return 0;
}

int cmdSetFormStyle(ScriptState* L) {
    CheckArgCount(L, 1, 4, 0, 0);
    qbDrawState* state = GetDrawState();
    const auto style = static_cast<uint32_t>(GetIntArg(L, 1));
    const int top = VmGetTop(L);
    if (style & kFormNormal) {
        state->formStyle = kFormNormal;
    } else if (style == kFormShadow) {
        if (Given(L, 2)) state->shadowColour = ColourArg(L, 2);
        if (Given(L, 3)) state->shadowSize = GetIntArg(L, 3);
        if (Given(L, 4)) state->shadowDirection = static_cast<uint32_t>(GetIntArg(L, 4));
        state->formStyle |= kFormShadow;
    } else if (style == kFormEdge) {
        // A fourth argument has no meaning for an edge: the call then only
        // switches the edge on.
        if (top < 4) {
            if (Given(L, 2)) state->edgeColour = ColourArg(L, 2);
            if (Given(L, 3)) state->edgeSize = GetIntArg(L, 3);
        }
        state->formStyle |= kFormEdge;
    } else {
        if (top > 1) return ERR_TOOMANYARGS;
        state->formStyle |= style;
    }
    ClampDrawState(state);
    return 0;
}

int cmdSetLineWidth(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const int32_t width = GetIntArg(L, 1);
    if (width < 1) return ERR_WRONGUSAGE;
    GetDrawState()->lineWidth = width;
    return 0;
}
