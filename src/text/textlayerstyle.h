// The style-table rows of TEXTOUT and PRINT layers, handed to the layers
// through their text hooks.
#pragma once

struct qbTextLayerHooks;

// Fills the restyle and read-back entries.
void InstallTextLayerStyleHooks(qbTextLayerHooks* hooks);
