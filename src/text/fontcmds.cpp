// The font commands: choosing the current font by name or by font object,
// font objects, glyph caches, font folders and kerning.
#include <string>

#include "core/argapi.h"
#include "core/chars.h"
#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/linkedfile.h"
#include "core/numbers.h"
#include "text/font.h"
#include "text/fontcache.h"
#include "text/textlib.h"

namespace {

constexpr size_t kMaxKerningPair = 255;

bool IsOutlineChunk(const std::string& name) {
    qbChunkName chunk;
    if (!ParseChunkName(name.c_str(), &chunk)) return false;
    return StrCmpNoCase(chunk.extension.c_str(), ".ttf") == 0 || StrCmpNoCase(chunk.extension.c_str(), ".otf") == 0;
}

// Name, size and the optional options table from argument first on: the
// cached font they name.
int OpenFontArgs(ScriptState* L, int first, qbFont** out) {
    int isFont = 0;
    // The resolver's buffer lasts only until its next call.
    const std::string font = ResolveLinkedFileArg(L, first, 1, &isFont);
    const int32_t size = ClampToInt32(VmCheckNumber(L, first + 1));
    int32_t engine = kFontEngineNative;
    int32_t cache = 1;
    const int options = first + 2;
    if (VmGetTop(L) >= options && VmType(L, options) != kTypeNil) {
        if (VmType(L, options) != kTypeTable) return ERR_TABLEORNIL;
        GetTableFieldInt(L, options, "engine", &engine, nullptr);
        GetTableFieldInt(L, options, "cache", &cache, nullptr);
    }
    PrintMessage(GetMessageText(MSG_OPENINGFONT), font.c_str(), 1);
    // A declared font linked into the applet comes as its chunk name, with
    // the engine's flags word in front; a linked outline file is the file
    // alone, as the resolver takes it.
    const int linked = isFont || (IsChunkName(font.c_str()) && !IsOutlineChunk(font));
    return OpenFontCached(font.c_str(), size, engine, cache, linked, out);
}

void MakeCurrent(qbFont* font) {
    qbTextStyle* style = GetTextStyle();
    style->font = font;
    style->flags = kTextNormal;
}

}  // namespace

int cmdSetFont(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    qbFont* font = nullptr;
    if (int err = OpenFontArgs(L, 1, &font)) return err;
    MakeCurrent(font);
    return 0;
}

int cmdOpenFont(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    qbFont* font = nullptr;
    // The old object of this number goes only once the new font opened.
    if (int err = OpenFontArgs(L, 2, &font)) return err;
    if (!id.chooseFlag) RemoveFontObject(L, ObjectID{id.id, nullptr});
    qbFontObject* object = nullptr;
    if (int err = AddFontObject(id.id, id.chooseFlag != 0, font, &object)) return err;
    PrintDoneMessage();
    if (!id.chooseFlag) return 0;
    return PushObjectID(L, IDOf(*object));
}

int cmdCloseFont(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    qbFontObject* object = nullptr;
    if (int err = FindFontObject(id, &object)) return err;
    RemoveFontObject(L, id);
    return 0;
}

int cmdUseFont(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbFontObject* object = nullptr;
    if (int err = FindFontObject(GetObjectIDArg(L, 1), &object)) return err;
    MakeCurrent(object->font);
    return 0;
}

int cmdFreeGlyphCache(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    if (ClampToInt32(VmCheckNumber(L, 1)) == 0) {
        FreeAllGlyphCaches();
        return 0;
    }
    qbFontObject* object = nullptr;
    if (int err = FindFontObject(GetObjectIDArg(L, 2), &object)) return err;
    FreeFontGlyphCache(object->font);
    return 0;
}

int cmdAddFontPath(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return AddFontFolder(VmCheckString(L, 1, nullptr));
}

int cmdGetKerningPair(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    size_t firstLength = 0;
    size_t secondLength = 0;
    const char* first = VmCheckString(L, 1, &firstLength);
    const char* second = VmCheckString(L, 2, &secondLength);
    int encoding = 0;
    if (int err = ReadEncodingArg(L, 3, &encoding)) return err;
    if (firstLength + secondLength > kMaxKerningPair) return ERR_WRONGUSAGE;
    int32_t kerning = 0;
    if (firstLength > 0 && secondLength > 0) {
        std::string pair(first, firstLength);
        pair.append(second, secondLength);
        const qbTextStyle& style = *GetTextStyle();
        kerning = GetFontKerning(CurrentFont(style), pair.data(), pair.size(), style.flags, encoding);
    }
    VmPushNumber(L, kerning);
    return 1;
}
