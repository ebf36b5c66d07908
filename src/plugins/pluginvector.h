// Plugins with the vector capability as vector engines.
#pragma once

struct qbPluginHandle;

// The handle's engine record from its record's words 80-87.
void FillVectorEngine(qbPluginHandle* handle);

// Lets the vectorgraphics library find vector plugins in the plugin list.
void InstallPluginVectorEngines();
