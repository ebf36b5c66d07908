// The image writer's road to image-saver plugins.
#pragma once

// Makes the image writer hand codes from 5 to the loaded plugins' savers;
// the plugin layer calls it whenever a plugin registers its formats.
void InstallPluginImageSavers();
