// Lends the backend's clipboard the conversions between bitmaps and ARGB
// pixels, which live here, above it.
#pragma once

void InstallClipboardBitmapHooks();
