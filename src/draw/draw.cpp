// The draw library's state, tables and buffers, its constants and opening.
#include "draw/draw.h"
#include "draw/shape.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <new>

#include "core/errcodes.h"
#include "core/settings.h"
#include "objects/shapehooks.h"
#include "vm/vm.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// clang-format off
const ScriptConstant kDrawConstants[] = {
    {"BLACK", nullptr, 0}, {"MAROON", nullptr, 0x800000}, {"GREEN", nullptr, 0x008000},
    {"OLIVE", nullptr, 0x808000}, {"NAVY", nullptr, 0x000080}, {"PURPLE", nullptr, 0x800080},
    {"TEAL", nullptr, 0x008080}, {"GRAY", nullptr, 0x808080}, {"SILVER", nullptr, 0xC0C0C0},
    {"RED", nullptr, 0xFF0000}, {"LIME", nullptr, 0x00FF00}, {"YELLOW", nullptr, 0xFFFF00},
    {"BLUE", nullptr, 0x0000FF}, {"FUCHSIA", nullptr, 0xFF00FF}, {"AQUA", nullptr, 0x00FFFF},
    {"WHITE", nullptr, 0xFFFFFF},
    {"FILLNONE", nullptr, FILLNONE}, {"FILLCOLOR", nullptr, FILLCOLOR}, {"FILLGRADIENT", nullptr, FILLGRADIENT},
    {"FILLTEXTURE", nullptr, FILLTEXTURE},
    {"BOX", nullptr, kShapeBox}, {"CIRCLE", nullptr, kShapeCircle}, {"ELLIPSE", nullptr, kShapeEllipse},
    {"LINE", nullptr, kShapeLine}, {"PLOT", nullptr, kShapePlot}, {"POLYGON", nullptr, kShapePolygon},
    {"ARC", nullptr, kShapeArc},
    {nullptr, nullptr, 0},
};
// clang-format on

const ScriptCommand kDrawCommands[] = {
    {"Box", cmdBox},
    {"Circle", cmdCircle},
    {"Ellipse", cmdEllipse},
    {"Arc", cmdArc},
    {"Line", cmdLine},
    {"Polygon", cmdPolygon},
    {"Plot", cmdPlot},
    {"ReadPixel", cmdReadPixel},
    {"Cls", cmdCls},
    {"SetFillStyle", cmdSetFillStyle},
    {"SetFormStyle", cmdSetFormStyle},
    {"SetLineWidth", cmdSetLineWidth},
    {nullptr, nullptr},
};

struct DrawTables {
    std::array<double, kDrawTableSize> sin{};
    std::array<double, kDrawTableSize> cos{};
    DrawTables() {
        for (int k = 0; k < kDrawTableSize; ++k) {
            const double a = (360 - k) * kPi / 180.0;
            sin[k] = std::sin(a);
            cos[k] = std::cos(a);
        }
    }
};

const DrawTables& Tables() {
    static const DrawTables tables;
    return tables;
}

qbDrawState& State() {
    static qbDrawState state = DefaultDrawState();
    return state;
}

std::unique_ptr<qbOutlineScratch>& Scratch() {
    static std::unique_ptr<qbOutlineScratch> scratch;
    return scratch;
}

}  // namespace

qbDrawState DefaultDrawState() {
    qbDrawState s;
    s.gradient.style = kGradientLinear;
    s.gradient.startColor = 0x0000FF;
    s.gradient.endColor = 0x000000;
    return s;
}

void ClampDrawState(qbDrawState* s) {
    if (s->lineWidth <= 0) s->lineWidth = 1;
    s->shadowSize = std::clamp(s->shadowSize, 1, 64);
    s->edgeSize = std::clamp(s->edgeSize, 1, 64);
    if (s->shadowDirection > 7) s->shadowDirection = 3;
    if (s->fillStyle > FILLTEXTURE) s->fillStyle = FILLNONE;
}

qbDrawState* GetDrawState() { return &State(); }

const double* DrawSinTable() { return Tables().sin.data(); }
const double* DrawCosTable() { return Tables().cos.data(); }

qbOutlineScratch* GetOutlineScratch() { return Scratch().get(); }

const ScriptCommand* DrawCommands() { return kDrawCommands; }
const ScriptConstant* DrawConstants() { return kDrawConstants; }

int InitDrawLibrary(ScriptState* L) {
    State() = DefaultDrawState();
    try {
        auto scratch = std::make_unique<qbOutlineScratch>();
        for (int i = 0; i < 3; ++i) {
            scratch->ints[i].reserve(kOutlineScratchPoints);
            scratch->doubles[i].reserve(kOutlineScratchPoints);
        }
        Scratch() = std::move(scratch);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    Tables();
    // Registration raises on failure; its result only counts the tables made.
    VmRegisterCommands(L, nullptr, kDrawCommands, 0);
    VmRegisterConstants(L, kDrawConstants, 0);
    InstallShapeLayerHooks();
    return RegisterCommandTable(kDrawCommands, "draw", kDrawConstants);
}

void FreeDrawLibrary(ScriptState*) {
    SetShapeLayerHooks(nullptr);
    Scratch().reset();
    State() = DefaultDrawState();
}
