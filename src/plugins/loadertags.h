// Loader tags: the "|"-separated choice of loaders and adapters that a script
// gives with a file ("inbuilt", "native", "plugin" or plugin names).
#pragma once

// 1 when the tag lets the loader of that name serve. An empty tag or "default"
// allows everything. "inbuilt", "native" and "plugin" must stand in the tag as
// whole items; a plugin name is allowed by an item that matches its start over
// the item's length, and with allowPluginWord by the item "plugin" too.
int LoaderAllowedByTag(const char* tag, const char* name, int allowPluginWord);
// 1 only when a tag other than empty or "default" names the loader itself:
// for plugins that serve only when asked for by name.
int LoaderNamedByTag(const char* tag, const char* name);
