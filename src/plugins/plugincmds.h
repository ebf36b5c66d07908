// The system library's plugin commands, which work on the plugin list and
// are lent to the library when the libraries open.
#pragma once

struct ScriptState;

int cmdHavePluginList(ScriptState* L);
int cmdEnablePluginList(ScriptState* L);
int cmdDisablePluginList(ScriptState* L);
int cmdGetPluginList(ScriptState* L);
int cmdLoadPluginByPath(ScriptState* L);
// Pushes GetPlugins' list; 0.
int PushLoadedPluginList(ScriptState* L);

void InstallPluginCommands();
