// REQUIRETAGS: tag lists for the plugins that start-up requires, written as
// plugin sections "name[key = value, ...] name[...]".
#pragma once

#include <vector>

#include "plugins/plugins.h"

// The tags of the first section whose name starts pluginName (without case)
// and that gives tags; none when no section matches. 0, or
// ERR_REQUIRETAGFMT for a malformed text (tags stays empty then).
int ParseRequireTags(const char* text, const char* pluginName, std::vector<qbRequireTag>& tags);
