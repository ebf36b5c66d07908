// The tag grammar of styled text. A tag is "[", blanks, an optional "/"
// with blanks, a name, an optional "=" and comma-separated values, blanks
// and "]"; names are matched without regard to case.
#include "text/textmarkup.h"

#include <cmath>
#include <cstdint>

#include "core/argapi.h"
#include "core/chars.h"
#include "core/errcodes.h"
#include "core/numbers.h"

namespace {

constexpr int32_t kMaxShadowSize = 64;
constexpr int32_t kMaxEdgeSize = 8;
constexpr size_t kMaxValues = 3;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

uint32_t ToUnsigned(double v) {
    if (std::isnan(v) || v <= 0) return 0;
    if (v >= 4294967295.0) return 4294967295u;
    return static_cast<uint32_t>(v);
}

// Reads one tag from text[at] == '['; *next is the index after its "]".
struct TagReader {
    ScriptState* L;
    const char* text;
    size_t length;
    size_t pos;

    void SkipBlanks() {
        while (pos < length && IsBlank(text[pos])) ++pos;
    }
    // A number in any written form, or "#NAME". Reads from a terminated copy
    // of the rest, since the text itself need not end in a zero byte.
    int Value(uint32_t* out) {
        SkipBlanks();
        if (pos >= length) return ERR_SQBRACKETCLOSE;
        if (text[pos] == '"') return ERR_VALUEEXPECTED;
        size_t end = pos;
        while (end < length && text[end] != ',' && text[end] != ']') ++end;
        const std::string piece(text + pos, end - pos);
        double number = 0;
        size_t used = 0;
        if (piece[0] == '#') {
            if (!L) return ERR_FINDCST;
            const char* str = nullptr;
            if (int err = ParseConstantString(L, piece.c_str(), &used, &str, &number)) return err;
            if (str) return ERR_VALUEEXPECTED;
        } else {
            int err = 0;
            number = StringToNumber(piece.c_str(), &used, &err);
            if (err) return err;
        }
        pos += used;
        *out = ToUnsigned(number);
        return 0;
    }
    // "=" and up to max values; count gets how many were read.
    int Values(uint32_t* values, size_t max, size_t* count) {
        *count = 0;
        SkipBlanks();
        if (pos >= length || text[pos] != '=') return 0;
        ++pos;
        while (true) {
            if (*count == max) return ERR_SQBRACKETCLOSE;
            if (int err = Value(&values[(*count)++])) return err;
            SkipBlanks();
            if (pos < length && text[pos] == ',') {
                ++pos;
                continue;
            }
            return 0;
        }
    }
};

bool NameIs(const std::string& name, const char* want) { return StrCmpNoCase(name.c_str(), want) == 0; }

}  // namespace

int ParseTextMarkup(ScriptState* L, const char* text, size_t length, bool raw, const qbTextStyle& base,
                    qbMarkedText* out) {
    *out = qbMarkedText{};
    out->changes.push_back({0, base});
    if (!text) return 0;
    if (raw) {
        out->text.assign(text, length);
        return 0;
    }
    out->text.reserve(length);
    qbTextStyle style = base;
    std::vector<uint32_t> colours;  // the colour stack
    const auto setStyle = [&]() {
        qbStyleChange& last = out->changes.back();
        if (last.at == out->text.size()) last.style = style;
        else out->changes.push_back({out->text.size(), style});
    };
    size_t i = 0;
    while (i < length) {
        const char c = text[i];
        if (c == ']') {
            if (i + 1 < length && text[i + 1] == ']') {
                out->text += ']';
                i += 2;
                continue;
            }
            return ERR_TEXTSYNTAX;
        }
        if (c != '[') {
            out->text += c;
            ++i;
            continue;
        }
        if (i + 1 < length && text[i + 1] == '[') {
            out->text += '[';
            i += 2;
            continue;
        }
        TagReader r{L, text, length, i + 1};
        r.SkipBlanks();
        const bool closing = r.pos < length && text[r.pos] == '/';
        if (closing) {
            ++r.pos;
            r.SkipBlanks();
        }
        const size_t nameStart = r.pos;
        while (r.pos < length && IsLetter(text[r.pos])) ++r.pos;
        if (r.pos >= length) return ERR_SQBRACKETCLOSE;
        const std::string name(text + nameStart, r.pos - nameStart);
        uint32_t values[kMaxValues] = {};
        size_t count = 0;
        if (NameIs(name, "b") || NameIs(name, "i") || NameIs(name, "u")) {
            const uint32_t flag = NameIs(name, "b") ? kTextBold : NameIs(name, "i") ? kTextItalic : kTextUnderlined;
            style.flags = closing ? style.flags & ~flag : style.flags | flag;
        } else if (NameIs(name, "color")) {
            if (closing) {
                if (colours.empty()) return ERR_TEXTSYNTAX;
                style.colour = colours.back();
                colours.pop_back();
            } else {
                if (int err = r.Values(values, 1, &count)) return err;
                if (count == 0) return ERR_TEXTARG;
                colours.push_back(style.colour);
                style.colour = values[0];
            }
        } else if (NameIs(name, "shadow")) {
            if (!closing)
                if (int err = r.Values(values, 3, &count)) return err;
            if (count >= 2 && (values[1] < 1 || values[1] > kMaxShadowSize)) return ERR_WRONGUSAGE;
            if (count >= 1) style.shadowColour = values[0];
            if (count >= 2) style.shadowSize = static_cast<int32_t>(values[1]);
            if (count >= 3) style.shadowDirection = static_cast<int32_t>(values[2] & 0xFF);
            style.flags = closing ? style.flags & ~uint32_t{kTextShadow} : style.flags | kTextShadow;
        } else if (NameIs(name, "edge")) {
            if (!closing)
                if (int err = r.Values(values, 2, &count)) return err;
            if (count >= 2 && (values[1] < 1 || values[1] > kMaxEdgeSize)) return ERR_WRONGUSAGE;
            if (count >= 1) style.edgeColour = values[0];
            if (count >= 2) style.edgeSize = static_cast<int32_t>(values[1]);
            style.flags = closing ? style.flags & ~uint32_t{kTextEdge} : style.flags | kTextEdge;
        } else {
            return ERR_UNKTEXTFMT;
        }
        r.SkipBlanks();
        if (r.pos >= length || text[r.pos] != ']') return ERR_SQBRACKETCLOSE;
        i = r.pos + 1;
        setStyle();
    }
    // A style change at the very end styles nothing.
    if (out->changes.size() > 1 && out->changes.back().at == out->text.size()) out->changes.pop_back();
    return 0;
}
