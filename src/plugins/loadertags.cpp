// Loader tags; names compare without letter case (ISO 8859-1 folding).
#include "plugins/loadertags.h"

#include <cstring>
#include <string_view>

#include "core/chars.h"

namespace {

bool IsOpenTag(const char* tag) { return !tag || !*tag || StrCmpNoCase(tag, "default") == 0; }

bool IsReservedWord(const char* name) {
    return StrCmpNoCase(name, "inbuilt") == 0 || StrCmpNoCase(name, "native") == 0 ||
           StrCmpNoCase(name, "plugin") == 0;
}

bool SameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && StrNCmpNoCase(a.data(), b.data(), a.size()) == 0;
}

// Calls fn on every item between the '|' separators; stops when it says so.
template <typename Fn>
bool AnyItem(const char* tag, Fn fn) {
    std::string_view rest(tag);
    for (;;) {
        const size_t bar = rest.find('|');
        if (fn(rest.substr(0, bar))) return true;
        if (bar == std::string_view::npos) return false;
        rest.remove_prefix(bar + 1);
    }
}

}  // namespace

int LoaderAllowedByTag(const char* tag, const char* name, int allowPluginWord) {
    if (!name) return 0;
    if (IsOpenTag(tag)) return 1;
    if (IsReservedWord(name)) {
        const std::string_view word(name);
        return AnyItem(tag, [&](std::string_view item) { return SameNoCase(item, word); });
    }
    const size_t nameLength = std::strlen(name);
    return AnyItem(tag, [&](std::string_view item) {
        if (allowPluginWord && SameNoCase(item, "plugin")) return true;
        // An empty item ("a||b", a trailing '|') would match every name by
        // prefix; it names nothing.
        return !item.empty() && item.size() <= nameLength &&
               StrNCmpNoCase(item.data(), name, item.size()) == 0;
    });
}

int LoaderNamedByTag(const char* tag, const char* name) {
    if (IsOpenTag(tag)) return 0;
    return LoaderAllowedByTag(tag, name, 0);
}
