// Lends the inbuilt JPEG reader and PNG and JPEG writers to the backend's
// image codecs (platform/imagecodecs.h). Called once at start-up.
#pragma once

void InstallImageCodecHooks();
