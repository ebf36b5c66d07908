// The "text" library: its tables and opening, the process-wide text style
// that every text output copies, the default encoding, and measuring text
// with the room its style adds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "text/font.h"
#include "vm/vm.h"

struct qbTextExtents;

// Style flags.
enum : uint32_t {
    kTextNormal = 1,
    kTextBold = 2,
    kTextItalic = 4,
    kTextUnderlined = 8,
    kTextAntialias = 16,
    kTextShadow = 32,
    kTextEdge = 64,
};

// Shadow directions, clockwise from north.
enum : int32_t {
    kShadowNorth = 0,
    kShadowNorthEast = 1,
    kShadowEast = 2,
    kShadowSouthEast = 3,
    kShadowSouth = 4,
    kShadowSouthWest = 5,
    kShadowWest = 6,
    kShadowNorthWest = 7,
};

enum : int { kEncodingLatin1 = 0, kEncodingUTF8 = 1 };

struct qbTextStyle {
    uint32_t flags = kTextNormal;
    uint32_t colour = 0xFFFFFF;
    uint32_t shadowColour = 0;
    uint32_t edgeColour = 0x0093DD;
    int32_t shadowSize = 4;
    int32_t shadowDirection = kShadowSouthEast;
    int32_t edgeSize = 2;
    qbFontRef font;
};

// Sizes to 1..64; a direction above 7 becomes south-east.
void ClampTextStyle(qbTextStyle* style);
// The one process-wide record.
qbTextStyle* GetTextStyle();

int GetDefaultEncoding();
void SetDefaultEncodingValue(int encoding);
// The optional encoding argument at idx: the default when absent; only 0
// and 1 (else ERR_WRONGUSAGE).
int ReadEncodingArg(ScriptState* L, int idx, int* out);
// The style's font, or the default font when none has been chosen yet.
qbFont* CurrentFont(const qbTextStyle& style);

// What MeasureText fills: the engine's extents (ink box relative to the
// baseline), then the room that bold, italic, shadow and edge add. Extra top
// and extra left are 0 or negative.
struct qbTextMetrics {
    int32_t width = 0;
    int32_t height = 0;
    int32_t minX = 0;
    int32_t minY = 0;
    int32_t maxX = 0;
    int32_t maxY = 0;
    int32_t visibleWidth = 0;
    int32_t extraTop = 0;
    int32_t extraBottom = 0;
    int32_t extraLeft = 0;
    int32_t extraRight = 0;
};

// 0 or the engine's error code.
int MeasureText(const char* text, size_t length, int encoding, qbTextMetrics* out, const qbTextStyle& style);
// What MeasureText makes of the engine's extents e of a text in font.
qbTextMetrics TextMetricsOf(const qbTextExtents& e, const qbFont& font, const qbTextStyle& style);

const ScriptCommand* TextCommands();
const ScriptConstant* TextConstants();
int InitTextLibrary(ScriptState* L);
// GetAttribute's rows for font objects (fontattributes.cpp).
void InstallFontAttributeRows();
// Pushes a font attribute of f (ascender to anti-aliasing): 1, or
// ERR_UNKNOWNATTR for another attribute.
int PushFontAttribute(ScriptState* L, const qbFont& f, int32_t attribute);

int cmdSetFont(ScriptState* L);
int cmdSetFontColor(ScriptState* L);
int cmdTextHeight(ScriptState* L);
int cmdTextWidth(ScriptState* L);
int cmdResetTabs(ScriptState* L);
int cmdAddTab(ScriptState* L);
int cmdLocate(ScriptState* L);
int cmdSetMargins(ScriptState* L);
int cmdSetFontStyle(ScriptState* L);
int cmdTextExtent(ScriptState* L);
int cmdOpenFont(ScriptState* L);
int cmdCloseFont(ScriptState* L);
int cmdUseFont(ScriptState* L);
int cmdFreeGlyphCache(ScriptState* L);
int cmdSetDefaultEncoding(ScriptState* L);
int cmdAddFontPath(ScriptState* L);
int cmdGetKerningPair(ScriptState* L);
int cmdGetAvailableFonts(ScriptState* L);
