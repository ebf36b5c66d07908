// Loader tags: the "|"-separated choice of loaders and adapters that a script
// gives with a file ("inbuilt", "native", "plugin" or plugin names).
#pragma once

#include <string_view>

// 1 when the tag lets the loader of that name serve. An empty tag or "default"
// allows everything. "inbuilt", "native" and "plugin" must stand in the tag as
// whole items; a plugin name is allowed by an item that matches its start over
// the item's length, and with allowPluginWord by the item "plugin" too.
int LoaderAllowedByTag(const char* tag, const char* name, int allowPluginWord);
// 1 only when a tag other than empty or "default" names the loader itself:
// for plugins that serve only when asked for by name.
int LoaderNamedByTag(const char* tag, const char* name);

// Whether the tag leaves the choice open: empty or "default".
bool IsOpenLoaderTag(const char* tag);
// "inbuilt", "native" or "plugin", in any letter case: words, not names.
bool IsReservedLoaderWord(std::string_view item);

// Calls fn on every item between the '|' separators; stops (and gives true)
// when fn says true.
template <typename Fn>
bool AnyLoaderTagItem(const char* tag, Fn fn) {
    std::string_view rest(tag);
    for (;;) {
        const size_t bar = rest.find('|');
        if (fn(rest.substr(0, bar))) return true;
        if (bar == std::string_view::npos) return false;
        rest.remove_prefix(bar + 1);
    }
}
