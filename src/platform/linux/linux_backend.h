// The Linux backend's real operations, shared with the in-memory backend:
// start-up, shutdown and waking need no window system.
#pragma once

#include <ctime>
#include <string>

#include "platform/platform_ops.h"

namespace linux_backend {

int EnterMain(int argc, char** argv, MainFunction mainFn);
int CheckOSVersionAndActivate();
const char* InstallAppleEventHandlers();
void GetBundleExecutableArgs(char* buffer, size_t size);
void GetBundlePath(char* buffer, size_t size);
void GetExecutablePath(char* buffer, size_t size);
int StartNativeUI();
int PrepareNativeDisplays();
int RunMainChunkWithTimerThread(ScriptState* L);
int CheckUserBreak();
void OpenDebugDevice();
void ShutdownPlatform();

int PostWakeEvent();
int WaitForNativeEvent(int timeoutMs);

void* PollNativeMessage();
int CreateMessagePort(const char* name);
int SendPortMessage(const char* name);

qbNativeBitmap* AllocPlatformBitmap(int width, int height);
void FreePlatformBitmap(qbNativeBitmap* bitmap);
int LockPlatformBitmap(qbNativeBitmap* bitmap, qbBitmapLock* lock);
void UnlockPlatformBitmap(qbNativeBitmap* bitmap);
intptr_t GetPlatformBitmapAttr(const qbNativeBitmap* bitmap, int attribute);
int GetPreferredPixelFormat();
uint32_t ReadNativePixel(qbNativeBitmap* bitmap, int x, int y);
void WriteNativePixel(qbNativeBitmap* bitmap, int x, int y, uint32_t colour);
void DrawNativeLine(qbNativeBitmap* bitmap, int x1, int y1, int x2, int y2, uint32_t colour);

}  // namespace linux_backend

namespace linux_backend {

std::optional<std::string> ToNativePath(const char* path);
void FormatDateTime(int kind, char* buffer, size_t size, char* secondBuffer, size_t secondSize);
void PrintConsoleV(const char* format, va_list args);
uint64_t GetPhysicalMemorySize();

// The user's folders, the preferences folder and the desktop's URL opener.
int GetSystemFolderPath(int index, char* buffer, size_t size);
int GetPrefsPath(char* buffer, size_t size);
int OpenURLNative(const char* url);
// The same folders below other places than the environment's.
struct FolderPlaces {
    std::string home;
    std::string configHome;  // XDG_CONFIG_HOME; empty: home's ".config"
    std::string configDirs;  // XDG_CONFIG_DIRS; empty: "/etc/xdg"
};
FolderPlaces DesktopPlaces();
int FolderPathIn(const FolderPlaces& places, int index, char* buffer, size_t size);
int PrefsPathIn(const FolderPlaces& places, char* buffer, size_t size);

// What GetPhysicalMemorySize and FormatDateTime make of what they read.
uint32_t PhysicalMemoryFromPages(long pages, long pageSize);
void FormatDateTimeAt(const std::tm& local, int kind, char* buffer, size_t size, char* secondBuffer, size_t secondSize);

}  // namespace linux_backend
