// The empty platform hooks: Linux needs no per-thread set-up, no display
// preparation and no marshalling of plugin calls.
#include "core/platformhooks.h"

void BeginThreadBody(void*) {}

void PrepareNativeDisplay(void*) {}

void PlatformNullHook() {}

void FinishDirClose(void*) {}

int PlatformReturnZero() { return 0; }

int PlatformInitHook() { return 0; }

int CallMarshalledPluginFunc(void*, int, ...) { return 0; }
