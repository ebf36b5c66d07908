// The REQUIRETAGS text. Sections that don't match are parsed all the same,
// so that a malformed one before the match is refused too.
#include "player/requiretags.h"

#include <cstring>
#include <new>
#include <string>

#include "core/chars.h"
#include "core/errcodes.h"
#include "player/options.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsLetter(char c) {
    c = static_cast<char>(kUpperCaseTable[static_cast<unsigned char>(c)]);
    return c >= 'A' && c <= 'Z';
}

qbRequireTag MakeTag(std::string key, const std::string& value) {
    qbRequireTag tag;
    tag.key = std::move(key);
    if (StrCmpNoCase(value.c_str(), "true") == 0) {
        tag.number = 1;
        return tag;
    }
    if (StrCmpNoCase(value.c_str(), "false") == 0) return tag;
    size_t used = 0;
    int err = 0;
    double n = StringToNumber(value.c_str(), &used, &err);
    if (!err && used == value.size()) {
        tag.number = n;
        return tag;
    }
    tag.isText = true;
    tag.text = value;
    return tag;
}

// The pairs of one section from just after its "["; p ends after its "]".
bool ParsePairs(const char*& p, bool keep, std::vector<qbRequireTag>& tags) {
    for (;;) {
        while (IsBlank(*p)) ++p;
        if (!IsLetter(*p)) return false;
        const char* eq = std::strchr(p, '=');
        if (!eq) return false;
        std::string key(p, eq);
        p = eq + 1;
        while (IsBlank(*p)) ++p;
        std::string value;
        if (*p == '\'') {
            const char* close = std::strchr(p + 1, '\'');
            if (!close) return false;
            value.assign(p + 1, close);
            p = close + 1;
        } else {
            const char* start = p;
            while (*p && !IsBlank(*p) && *p != ',' && *p != ']') ++p;
            if (!*p) return false;
            value.assign(start, p);
        }
        if (keep) tags.push_back(MakeTag(std::move(key), value));
        while (IsBlank(*p)) ++p;
        if (*p == ']') {
            ++p;
            return true;
        }
        if (*p != ',') return false;
        ++p;
    }
}

bool NameMatches(const std::string& section, const char* plugin) {
    return std::strlen(plugin) >= section.size() && StrNCmpNoCase(plugin, section.c_str(), section.size()) == 0;
}

}  // namespace

int ParseRequireTags(const char* text, const char* pluginName, std::vector<qbRequireTag>& tags) {
    tags.clear();
    if (!text) return 0;
    try {
        const char* p = text;
        for (;;) {
            const char* bracket = std::strchr(p, '[');
            if (!bracket) return 0;
            const char* first = p;
            const char* last = bracket;
            while (first < last && IsBlank(*first)) ++first;
            while (last > first && IsBlank(last[-1])) --last;
            std::string name(first, last);
            bool bad = name.empty();
            for (char c : name) bad = bad || IsBlank(c);
            p = bracket + 1;
            if (bad || !ParsePairs(p, NameMatches(name, pluginName ? pluginName : ""), tags)) {
                tags.clear();
                return ERR_REQUIRETAGFMT;
            }
            if (!tags.empty()) return 0;
        }
    } catch (const std::bad_alloc&) {
        tags.clear();
        return ERR_MEM;
    }
}
