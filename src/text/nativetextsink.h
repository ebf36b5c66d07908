// Where the native engine's text coverage is put into bitmaps and planes.
#pragma once

// Installs the sink; the font layer does so when its engines start.
void InstallNativeTextSink();
