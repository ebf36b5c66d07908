// The draw library: the process-wide draw state that every shape drawn
// afterwards uses, its clamps, the sine and cosine tables, the outline
// scratch buffers, and the library's opening and constants.
#pragma once

#include <cstdint>
#include <vector>

#include "core/argapi.h"
#include "draw/outline.h"
#include "imaging/gradient.h"

struct ScriptState;

enum : uint32_t { FILLNONE = 0, FILLCOLOR = 1, FILLGRADIENT = 2, FILLTEXTURE = 3 };
// Form-style bits; other bits are stored as they come.
enum : uint32_t { kFormNormal = 1, kFormAntialias = 16, kFormShadow = 32, kFormEdge = 64 };

struct qbDrawState {
    uint32_t fillStyle = FILLNONE;
    uint32_t formStyle = kFormNormal;
    qbGradient gradient;  // type 2 (linear), $0000FF to $000000
    ObjectID texture;
    int32_t edgeSize = 2;
    uint32_t edgeColour = 0x0093DD;
    int32_t shadowSize = 4;
    uint32_t shadowDirection = 3;  // south-east
    uint32_t shadowColour = 0;
    int32_t lineWidth = 1;
    int32_t textureX = 0;
    int32_t textureY = 0;
};

// The record with its defaults.
qbDrawState DefaultDrawState();
// Line width at least 1, shadow and edge sizes 1..64, a shadow direction
// above 7 (or negative) becomes 3, a fill style above 3 becomes FILLNONE.
void ClampDrawState(qbDrawState* state);
qbDrawState* GetDrawState();

// Entry k (0..360) holds sin and cos of (360 - k) degrees; the layer
// rotation code computes the same values for its own.
constexpr int kDrawTableSize = 361;
const double* DrawSinTable();
const double* DrawCosTable();

// Room for one outline each: shape, edge and shadow, as integer points and
// as doubles.
constexpr int kOutlineScratchPoints = 1001;
enum : int { kScratchShape = 0, kScratchEdge = 1, kScratchShadow = 2 };
struct qbOutlineScratch {
    std::vector<qbPoint> ints[3];
    std::vector<qbPointD> doubles[3];
};
// Null before the library opens and after it is freed.
qbOutlineScratch* GetOutlineScratch();

int InitDrawLibrary(ScriptState* L);
void FreeDrawLibrary(ScriptState* L);

const ScriptCommand* DrawCommands();
const ScriptConstant* DrawConstants();

int cmdSetFillStyle(ScriptState* L);
int cmdSetFormStyle(ScriptState* L);
int cmdSetLineWidth(ScriptState* L);
int cmdPlot(ScriptState* L);
int cmdReadPixel(ScriptState* L);
int cmdCls(ScriptState* L);
