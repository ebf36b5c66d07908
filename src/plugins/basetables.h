// The tables of the plugin base that the plugin system serves itself.
#pragma once

#include "core/plugin.h"

extern const qbStdlibTable kPluginStdlibTable;
extern const qbZlibTable kPluginZlibTable;
extern const qbFreetypeTable kPluginFreetypeTable;
extern const qbJpegTable kPluginJpegTable;
extern const qbPluginListTable kPluginListTable;
extern const qbHashTable kPluginHashTable;
extern const qbSystemTable kPluginSystemTable;
extern const qbFilesTable kPluginFilesTable;
extern const qbGraphicsTable kPluginGraphicsTable;
extern const qbSoundTable kPluginSoundTable;
extern const qbRequesterTable kPluginRequesterTable;
extern const qbFontTable kPluginFontTable;
extern const qbDataTable kPluginDataTable;
