// The anim writers' road to anim-saver plugins.
#pragma once

// Makes the anim writers hand formats from 2 on to the loaded plugins'
// savers; the plugin layer calls it whenever a plugin registers its formats.
void InstallPluginAnimSavers();
