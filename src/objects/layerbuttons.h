// Buttons bound to layers, as the event library's buttons reach them.
#pragma once

// Lets MakeButton bind buttons to layers (the layers library's start).
void InstallLayerButtonHooks();
