// Hooks that the portable code calls at fixed points for platforms that need
// them; this platform has nothing to do at any of them.
#pragma once

// At the start of the sound and video thread bodies.
void BeginThreadBody(void* thread);
// Display preparation when no display adapter is installed.
void PrepareNativeDisplay(void* display);
// At the end of the start-up output and at shutdown.
void PlatformNullHook();
// After a directory handle is closed.
void FinishDirClose(void* handle);
// After a file copy has set date and protection, and before a directory's
// entries are copied. Always 0.
int PlatformReturnZero();
// Once during start-up. Always 0.
int PlatformInitHook();
// Calling mode 2 of plugins (marshalled calls) is not served here: every
// such call yields 0, so the caller treats it as failed.
int CallMarshalledPluginFunc(void* function, int argumentCount, ...);
