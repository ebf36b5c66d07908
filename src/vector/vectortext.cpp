// AddTextToPath.
#include "vector/vectortext.h"

#include <cstring>
#include <string>

#include "core/argapi.h"
#include "core/chars.h"
#include "core/errcodes.h"
#include "text/font.h"
#include "text/textlib.h"
#include "vector/engine.h"
#include "vector/path.h"

int cmdAddTextToPath(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    qbPathRef found(L, GetObjectIDArg(L, 1));
    qbTaken<qbPath> path = nullptr;
    if (int err = found.Take(&path)) return err;
    size_t length = 0;
    const char* text = VmCheckString(L, 2, &length);
    int32_t encoding = GetDefaultEncoding();
    if (VmType(L, 3) == kTypeTable) GetTableFieldInt(L, 3, "encoding", &encoding, nullptr);
    if (int err = found.Take(&path)) return err;
    if (encoding != kEncodingLatin1 && encoding != kEncodingUTF8) return ERR_WRONGUSAGE;
    // Only the inbuilt font engine has outlines to give.
    qbFont* font = CurrentFont(*GetTextStyle());
    if (!font || font->engine != kFontKindInbuilt) return ERR_VFONTTYPE;
    void* handle = nullptr;
    if (int err = GetEngineFontHandle(font, ActiveVectorEngine(), &handle)) return err;
    // The stream holds NUL-ended text, so a text ends at its first NUL.
    const std::string utf8 = encoding == kEncodingLatin1 ? Latin1ToUTF8(text) : std::string(text, length);
    return AppendPathCommand(path, QB_PATH_TEXT,
                             {qbPathArg::Pointer(handle), qbPathArg::Int(font->size),
                              qbPathArg::String(utf8.c_str(), std::strlen(utf8.c_str()))});
}
