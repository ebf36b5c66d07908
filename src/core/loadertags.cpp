// Loader tags; names compare without letter case (ISO 8859-1 folding).
#include "core/loadertags.h"

#include <cstring>
#include <string_view>

#include "core/chars.h"

namespace {

bool SameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && StrNCmpNoCase(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

bool IsOpenLoaderTag(const char* tag) { return !tag || !*tag || StrCmpNoCase(tag, "default") == 0; }

bool IsReservedLoaderWord(std::string_view item) {
    return SameNoCase(item, "inbuilt") || SameNoCase(item, "native") || SameNoCase(item, "plugin");
}

int LoaderAllowedByTag(const char* tag, const char* name, int allowPluginWord) {
    if (!name) return 0;
    if (IsOpenLoaderTag(tag)) return 1;
    if (IsReservedLoaderWord(name)) {
        const std::string_view word(name);
        return AnyLoaderTagItem(tag, [&](std::string_view item) { return SameNoCase(item, word); });
    }
    const size_t nameLength = std::strlen(name);
    return AnyLoaderTagItem(tag, [&](std::string_view item) {
        if (allowPluginWord && SameNoCase(item, "plugin")) return true;
        // An empty item ("a||b", a trailing '|') would match every name by
        // prefix; it names nothing.
        return !item.empty() && item.size() <= nameLength &&
               StrNCmpNoCase(item.data(), name, item.size()) == 0;
    });
}

int LoaderNamedByTag(const char* tag, const char* name) {
    if (IsOpenLoaderTag(tag)) return 0;
    return LoaderAllowedByTag(tag, name, 0);
}
