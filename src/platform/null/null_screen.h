// The in-memory backend's monitors, display modes, full screens, fades and
// grabs (null_screen.cpp), and what they need of its windows.
#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "platform/null/null_backend.h"

namespace null_backend {

// The backend's one lock, taken by both halves.
std::recursive_mutex& BackendMutex();
// The 0-based monitor of the display's window view (0 without one).
int MonitorOfDisplay(const qbDisplay* display);
bool AnyWindowOpen();
std::vector<std::pair<const qbDisplay*, const Surface*>> OpenSurfaces();
void ResetScreen();

MonitorList ListNativeMonitors();
int ListNativeDisplayModes(qbDisplay* display, qbDisplayModeEntry* modes);
int SetFullScreenMode(qbDisplay* display, int width, int height);
int RestoreDisplayMode(qbDisplay* display);
void SetPresentationMode(int mode);
void FadeDisplayOut(void** outToken, int wait);
void FadeDisplayIn(void* token, int wait);
NativeBitmapPtr GrabScreenRegion(qbDisplay* display, int x, int y, int width, int height);

}  // namespace null_backend
