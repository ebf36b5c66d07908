// The inline style tags of styled text: "[b]", "[i]", "[u]", "[color=...]",
// "[shadow=...]" and "[edge=...]" with their closing forms, and "[[" / "]]"
// for literal brackets. Parsing yields the tag-free text and the style that
// holds from each position on.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "text/textlib.h"

struct ScriptState;

struct qbStyleChange {
    size_t at = 0;  // index into the tag-free text
    qbTextStyle style;
};

struct qbMarkedText {
    std::string text;
    std::vector<qbStyleChange> changes;  // the first at 0, each at a strictly later place than the last
};

// raw: the text is taken as it is. L resolves "#NAME" values (null: any
// constant fails with ERR_FINDCST). 0, or ERR_TEXTSYNTAX, ERR_SQBRACKETCLOSE,
// ERR_UNKTEXTFMT, ERR_TEXTARG, ERR_VALUEEXPECTED, ERR_WRONGUSAGE or a
// number or constant error of a value.
int ParseTextMarkup(ScriptState* L, const char* text, size_t length, bool raw, const qbTextStyle& base,
                     qbMarkedText* out);
