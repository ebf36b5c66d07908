// The "text" library's tables and opening, the text style record and the
// measuring commands. Font choice, output and text objects join the command
// table with their own code, in the table's order.
#include "text/textlib.h"

#include <algorithm>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/settings.h"
#include "display/display.h"
#include "text/font.h"
#include "text/fontcache.h"
#include "text/inbuiltfont.h"
#include "text/print.h"
#include "text/textobjects.h"
#include "text/textout.h"

namespace {

// clang-format off
const ScriptConstant kTextConstants[] = {
    {"NORMAL", nullptr, kTextNormal}, {"BOLD", nullptr, kTextBold}, {"ITALIC", nullptr, kTextItalic},
    {"UNDERLINED", nullptr, kTextUnderlined},
    // The input types of InKeyStr.
    {"ALL", nullptr, 0}, {"ALPHANUMERICAL", nullptr, 1}, {"NUMERICAL", nullptr, 3}, {"ALPHABETICAL", nullptr, 2},
    {"HEXNUMERICAL", nullptr, 4},
    {"ANTIALIAS", nullptr, kTextAntialias}, {"SHADOW", nullptr, kTextShadow}, {"EDGE", nullptr, kTextEdge},
    {"SHDWNORTH", nullptr, kShadowNorth}, {"SHDWNORTHEAST", nullptr, kShadowNorthEast},
    {"SHDWEAST", nullptr, kShadowEast}, {"SHDWSOUTHEAST", nullptr, kShadowSouthEast},
    {"SHDWSOUTH", nullptr, kShadowSouth}, {"SHDWSOUTHWEST", nullptr, kShadowSouthWest},
    {"SHDWWEST", nullptr, kShadowWest}, {"SHDWNORTHWEST", nullptr, kShadowNorthWest},
    {"BITMAP_DEFAULT", ":::default_bitmap", 0}, {"TRUETYPE_DEFAULT", ":::default_truetype", 0},
    {"SANS", ":::default_sans", 0}, {"SERIF", ":::default_serif", 0}, {"MONOSPACE", ":::default_mono", 0},
    {"FONTENGINE_NATIVE", nullptr, kFontEngineNative}, {"FONTENGINE_INBUILT", nullptr, kFontEngineInbuilt},
    {"FONTWEIGHT_THIN", nullptr, 0}, {"FONTWEIGHT_EXTRALIGHT", nullptr, 40},
    {"FONTWEIGHT_ULTRALIGHT", nullptr, 40}, {"FONTWEIGHT_LIGHT", nullptr, 50}, {"FONTWEIGHT_BOOK", nullptr, 75},
    {"FONTWEIGHT_NORMAL", nullptr, 80}, {"FONTWEIGHT_REGULAR", nullptr, 80}, {"FONTWEIGHT_MEDIUM", nullptr, 100},
    {"FONTWEIGHT_SEMIBOLD", nullptr, 180}, {"FONTWEIGHT_DEMIBOLD", nullptr, 180},
    {"FONTWEIGHT_BOLD", nullptr, 200}, {"FONTWEIGHT_EXTRABOLD", nullptr, 205},
    {"FONTWEIGHT_ULTRABOLD", nullptr, 205}, {"FONTWEIGHT_HEAVY", nullptr, 210},
    {"FONTWEIGHT_BLACK", nullptr, 210}, {"FONTWEIGHT_EXTRABLACK", nullptr, 215},
    {"FONTWEIGHT_ULTRABLACK", nullptr, 215},
    {"FONTSLANT_ROMAN", nullptr, 0}, {"FONTSLANT_ITALIC", nullptr, 100}, {"FONTSLANT_OBLIQUE", nullptr, 110},
    {"ENCODING_ISO8859_1", nullptr, kEncodingLatin1}, {"ENCODING_UTF8", nullptr, kEncodingUTF8},
    {nullptr, nullptr, 0},
};
// clang-format on

const ScriptCommand kTextCommands[] = {
    {"SetFont", cmdSetFont},
    {"SetFontColor", cmdSetFontColor},
    {"TextHeight", cmdTextHeight},
    {"TextWidth", cmdTextWidth},
    {"ResetTabs", cmdResetTabs},
    {"AddTab", cmdAddTab},
    {"Locate", cmdLocate},
    {"SetMargins", cmdSetMargins},
    {"SetFontStyle", cmdSetFontStyle},
    {"Print", cmdPrint},
    {"NPrint", cmdNPrint},
    {"TextOut", cmdTextOut},
    {"CreateTextObject", cmdCreateTextObject},
    {"DisplayTextObject", cmdDisplayTextObject},
    {"FreeTextObject", cmdFreeTextObject},
    {"InKeyStr", cmdInKeyStr},
    {"TextExtent", cmdTextExtent},
    {"ScaleTextObject", cmdScaleTextObject},
    {"CopyTextObject", cmdCopyTextObject},
    {"RotateTextObject", cmdRotateTextObject},
    {"OpenFont", cmdOpenFont},
    {"CloseFont", cmdCloseFont},
    {"UseFont", cmdUseFont},
    {"GetAvailableFonts", cmdGetAvailableFonts},
    {"FreeGlyphCache", cmdFreeGlyphCache},
    {"SetDefaultEncoding", cmdSetDefaultEncoding},
    {"AddFontPath", cmdAddFontPath},
    {"GetKerningPair", cmdGetKerningPair},
    {nullptr, nullptr},
};

constexpr int32_t kMinStyleSize = 1;
constexpr int32_t kMaxStyleSize = 64;

struct TextState {
    qbTextStyle style;
    int encoding = kEncodingLatin1;
};

TextState& State() {
    static TextState state;
    return state;
}

}  // namespace

qbFont* CurrentFont(const qbTextStyle& style) {
    if (style.font) return style.font;
    qbFont* font = nullptr;
    return GetDefaultFont(&font) == 0 ? font : nullptr;
}

int ReadEncodingArg(ScriptState* L, int idx, int* out) {
    *out = GetDefaultEncoding();
    if (VmGetTop(L) < idx) return 0;
    const double e = VmCheckNumber(L, idx);
    if (e != 0.0 && e != 1.0) return ERR_WRONGUSAGE;
    *out = static_cast<int>(e);
    return 0;
}

void ClampTextStyle(qbTextStyle* style) {
    style->shadowSize = std::clamp(style->shadowSize, kMinStyleSize, kMaxStyleSize);
    style->edgeSize = std::clamp(style->edgeSize, kMinStyleSize, kMaxStyleSize);
    if (style->shadowDirection > kShadowNorthWest) style->shadowDirection = kShadowSouthEast;
}

qbTextStyle* GetTextStyle() { return &State().style; }

int GetDefaultEncoding() { return State().encoding; }
void SetDefaultEncodingValue(int encoding) { State().encoding = encoding; }

int MeasureText(const char* text, size_t length, int encoding, qbTextMetrics* out, const qbTextStyle& style) {
    *out = qbTextMetrics{};
    qbFont* font = CurrentFont(style);
    if (!font) return 0;
    qbTextExtents e;
    if (int err = MeasureFontText(font, text, length, style.flags, encoding, &e)) return err;
    *out = TextMetricsOf(e, *font, style);
    return 0;
}

qbTextMetrics TextMetricsOf(const qbTextExtents& e, const qbFont& font, const qbTextStyle& style) {
    qbTextMetrics m;
    m.width = e.width;
    m.height = font.height;
    m.minX = e.inkLeft;
    m.minY = e.inkTop;
    m.maxX = e.inkRight;
    m.maxY = e.inkBottom;
    const bool synthetic = !IsNativeFont(&font);
    if (synthetic && (style.flags & kTextBold) && !(style.flags & kTextAntialias)) m.maxX += 1;
    if (synthetic && (style.flags & kTextItalic)) {
        m.maxX += font.baseline / 2;
        m.minX -= (font.height - font.baseline) / 2;
    }
    m.visibleWidth = m.maxX >= m.width ? m.maxX + 1 : m.width;
    if (style.flags & kTextEdge) {
        m.extraLeft = m.extraTop = -style.edgeSize;
        m.extraRight = m.extraBottom = style.edgeSize;
    }
    if (style.flags & kTextShadow) {
        const int32_t s = style.shadowSize;
        const int32_t d = style.shadowDirection;
        if (d == kShadowNorth || d == kShadowNorthEast || d == kShadowNorthWest) m.extraTop -= s;
        if (d == kShadowNorthEast || d == kShadowEast || d == kShadowSouthEast) m.extraRight += s;
        if (d == kShadowSouthEast || d == kShadowSouth || d == kShadowSouthWest) m.extraBottom += s;
        if (d == kShadowSouthWest || d == kShadowWest || d == kShadowNorthWest) m.extraLeft -= s;
    }
    return m;
}

int cmdTextHeight(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const qbFont* font = CurrentFont(*GetTextStyle());
    VmPushNumber(L, font ? font->height : 0);
    return 1;
}

// The text and encoding arguments of the measuring commands, measured in the
// current style; an empty text measures nothing.
static int MeasureTextArgs(ScriptState* L, qbTextMetrics* m, size_t* length) {
    CheckArgCount(L, 1, 2, 0, 0);
    const char* text = VmCheckString(L, 1, length);
    int encoding = 0;
    if (int err = ReadEncodingArg(L, 2, &encoding)) return err;
    if (*length == 0) return 0;
    return MeasureText(text, *length, encoding, m, *GetTextStyle());
}

int cmdTextWidth(ScriptState* L) {
    size_t length = 0;
    qbTextMetrics m;
    if (int err = MeasureTextArgs(L, &m, &length)) return err;
    VmPushNumber(L, m.width);
    return 1;
}

int cmdTextExtent(ScriptState* L) {
    size_t length = 0;
    qbTextMetrics m;
    if (int err = MeasureTextArgs(L, &m, &length)) return err;
    // An empty text has no extent, whatever room its style would add.
    const bool empty = length == 0;
    VmPushNewTable(L);
    SetTableFieldInt(L, "minx", empty ? 0 : m.minX + m.extraLeft);
    SetTableFieldInt(L, "maxx", empty ? 0 : m.maxX + m.extraRight);
    SetTableFieldInt(L, "miny", empty ? 0 : m.minY + m.extraTop);
    SetTableFieldInt(L, "maxy", empty ? 0 : m.maxY + m.extraBottom);
    SetTableFieldInt(L, "width", m.width);
    SetTableFieldInt(L, "height", empty ? 0 : m.height);
    return 1;
}

const ScriptCommand* TextCommands() { return kTextCommands; }
const ScriptConstant* TextConstants() { return kTextConstants; }

int InitTextLibrary(ScriptState* L) {
    State() = TextState{};
    if (int err = RegisterObjectList(TextObjectListHead())) return err;
    if (int err = RegisterObjectList(FontObjectListHead())) return err;
    InstallFontAttributeRows();
    InstallTextLayerHooks();
    SetPendingFontsHook(&ConvertFontGlyphBitmaps);
    InstallInbuiltFontEngine();
    // Registration raises on failure; its result only counts the tables made.
    VmRegisterCommands(L, nullptr, kTextCommands, 0);
    VmRegisterConstants(L, kTextConstants, 0);
    return RegisterCommandTable(kTextCommands, "text", kTextConstants);
}
