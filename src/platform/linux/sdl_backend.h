// The Linux backend's window system on SDL2: the per-display window records,
// the process-wide session they live in, and the operations built on them.
#pragma once

#include <SDL.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform_ops.h"
#include "platform/windowview.h"

struct qbMenuItem;

// A menu open over the window: the items it lists and where it lies on the
// window surface, with the pixels it covers, which closing puts back.
struct qbMenuPopup {
    const std::vector<qbMenuItem>* items = nullptr;
    SDL_Rect rect{};
    int contentHeight = 0;
    int scroll = 0;  // pixels of a popup taller than the window scrolled away
    std::vector<uint32_t> under;
    // The size of the surface the pixels under were saved from: they go
    // back only into a surface of that size.
    int savedWidth = 0, savedHeight = 0;
};

// The platform record of one display, from AllocNativeWindowRec to
// FreeNativeWindowRec; the SDL window exists between CreateNativeWindow and
// CloseNativeWindow.
struct qbNativeWindow {
    qbDisplay* display = nullptr;
    qbWindowView* view = nullptr;  // the display's, or ownView
    qbWindowView ownView;
    SDL_Window* window = nullptr;
    uint32_t windowId = 0;
    // A window of a monitor in a virtual mode has no SDL window: it draws
    // into this picture, which the monitor's desktop window composes.
    SDL_Surface* buffer = nullptr;
    // When the window opened last: later windows lie above on a screen.
    uint64_t openOrder = 0;
    // Set by the window's events, acted on and cleared together by the pump.
    bool closeRequested = false;
    bool sizeChanged = false;
    bool ctrlC = false;
    bool escape = false;
    int modeSwitch = -1;  // 1 to full screen, 0 back to a window
    bool pointerHidden = false;
    int pointerKind = kPointerArrow;
    qbNativePointer* pointer = nullptr;
    // Drawn but not yet presented; a full present replaces the list.
    std::vector<SDL_Rect> dirty;
    bool dirtyAll = false;
    int presents = 0;
    // The check and disable flags of menu items changed since the window
    // opened; the others have their tree's flags.
    std::map<const void*, uint32_t> menuStates;
    // The menu strip above the picture (0 high without one), the title whose
    // menu is open and the open popups, the menu first, submenus after it.
    int strip = 0;
    // The shape the window was cut to, one byte a picture pixel; empty for
    // a rectangular window. A strip joining or leaving cuts it again.
    std::vector<uint8_t> shape;
    int shapeWidth = 0;
    int openTitle = -1;
    std::vector<qbMenuPopup> popups;
    bool menuPress = false;  // the menus took the press, so they take its release
    // The key press whose text input is still to come, and what it posts.
    int pendingScancode = -1;
    bool pendingSwallowsText = false;
    uint32_t pendingQualifiers = 0;
    std::array<int16_t, SDL_NUM_SCANCODES> pressedCodes{};
    // Files of a drop in progress, in ISO 8859-1.
    std::vector<std::string> drops;
};

struct qbNativePointer {
    SDL_Cursor* cursor = nullptr;
};

namespace sdl_backend {

// One borderless window filling a monitor that is in a virtual mode: the
// windows of that monitor are composed into a width x height screen, which
// is scaled into it with the aspect kept.
struct Desktop {
    int monitor = 0;
    SDL_Window* window = nullptr;
    uint32_t windowId = 0;
    int width = 0;  // the virtual mode
    int height = 0;
    std::vector<uint32_t> screen;  // the composed virtual screen, ARGB
    std::vector<SDL_Rect> dirty;   // in screen pixels
    bool dirtyAll = true;
    int presents = 0;
};

// Where the virtual screen lands in the desktop window.
struct ScreenPlacement {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Software fades of the player's windows: every present is scaled by the
// level (0 black .. 256 full).
struct FadeState {
    enum Kind { kNone, kOut, kBlack, kIn } kind = kNone;
    int64_t startNanos = 0;
};

// Everything the backend keeps between calls; one per process, reset by
// ShutdownPlatform.
struct Session {
    bool video = false;  // SDL's video and event subsystems are running
    std::atomic<uint32_t> wakeType{0};
    std::atomic<bool> wakePending{false};
    std::vector<std::unique_ptr<qbNativeWindow>> windows;  // creation order
    int64_t lastPumpNanos = 0;
    bool pumped = false;
    bool quitSwitch[3] = {};
    bool quitRequested = false;
    bool anyDirty = false;
    // The frame widths last measured on a framed window.
    bool bordersKnown = false;
    int32_t borders[4] = {};  // left, top, right, bottom
    SDL_Cursor* busyCursor = nullptr;
    bool pointerEverSet = false;
    bool joysticksScanned = false;
    bool joystickSubsystem = false;
    std::vector<SDL_Joystick*> joysticks;
    std::vector<std::unique_ptr<Desktop>> desktops;
    FadeState fade;
    int presentationMode = 0;
    // The fades' clock in nanoseconds; null reads the monotonic clock.
    int64_t (*fadeClock)() = nullptr;
    // What the clipboard held when the player last looked, so that one
    // change is reported once, whoever reports it.
    bool clipboardSeen = false;
    bool clipboardOwnWrite = false;  // what was seen is the player's own write
    uint64_t clipboardHash = 0;
};

Session& S();
int64_t MonotonicNanos();
// The record of a display, or of the SDL window with that id; null when none.
qbNativeWindow* FindWindow(const qbDisplay* display);
qbNativeWindow* FindWindowById(uint32_t windowId);
// The record when the display's window is open.
qbNativeWindow* OpenWindow(const qbDisplay* display);

// Menus drawn in the window (menustrip.cpp). The strip's height for the
// window as it is now: 0 in full screen or without a menu.
int MenuStripHeight(const qbNativeWindow& w);
// Draws the strip and any open popups over the window surface.
void DrawMenuStrip(qbNativeWindow& w);
// True when the event belongs to the menus (the strip, an open popup, a
// hotkey), which handle it and post no input event; *error takes their
// posting error.
bool MenuTakesEvent(qbNativeWindow& w, const SDL_Event& e, int* error);
// Closes every popup and puts back the pixels under them.
void CloseMenus(qbNativeWindow& w);
// The check and disable flags the item shows now.
uint32_t MenuItemFlags(const qbNativeWindow& w, const qbMenuItem* item);
// Where the picture starts in the window.
inline int PictureTop(const qbNativeWindow& w) { return w.view->offsetY + w.strip; }

// Key and text events of the pump (keyboard.cpp).
int HandleKeyEvent(qbNativeWindow& w, const SDL_KeyboardEvent& key);
int HandleTextInput(qbNativeWindow& w, const char* utf8);
uint32_t QualifierWord(uint16_t mod);
// The pointer the window shows now (pointer.cpp).
void ApplyWindowPointer(const qbNativeWindow& w);
// Presents what was drawn into the window since the last present (draw.cpp).
void PresentPending(qbNativeWindow& w);
void PresentAllPending();
// What drawing writes into: the window's surface, or its picture on a
// virtual screen; null while closed.
SDL_Surface* DrawingSurface(const qbNativeWindow& w);
void MarkWindowDirty(qbNativeWindow& w, const SDL_Rect& rect);

// Virtual modes and their desktop windows (fullscreen.cpp).
int MonitorIndex(int monitor);
Desktop* FindDesktop(int monitor);
Desktop* FindDesktopById(uint32_t windowId);
// The window's place on its virtual screen, or false when it has none.
bool PlaceOnScreen(const qbNativeWindow& w, const Desktop& d, SDL_Rect& out);
ScreenPlacement FitScreen(int screenWidth, int screenHeight, int desktopWidth, int desktopHeight);
// The nearest source pixel of destination pixel d (centres matched), as
// pixman's NEAREST filter takes it.
inline int NearestSource(int d, int source, int destination) {
    return static_cast<int>((int64_t{2} * d + 1) * source / (int64_t{2} * destination));
}
void PresentDesktop(Desktop& d);
void DestroyDesktops();
// The windows on the desktop's screen, lowest first.
std::vector<qbNativeWindow*> ScreenWindows(const Desktop& d);
// A point of the desktop window in a window of its screen (topmost first);
// null over the bars or the bare screen.
qbNativeWindow* WindowAtDesktopPoint(const Desktop& d, int& x, int& y);
// The window that keys and focus of the desktop reach: the newest on it.
qbNativeWindow* DesktopOwner(const Desktop& d);
// Scales the virtual screen rectangle into the desktop surface (nearest or
// smooth), each pixel's channels times level / 256 (fades.cpp reads it).
void ScaleScreenRect(const Desktop& d, SDL_Surface* target, const ScreenPlacement& p, const SDL_Rect& destination,
                     bool smooth, int level);

// Screen grabs (grab.cpp): an image read from the desktop, in rows.
struct GrabbedImage {
    const uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int pitch = 0;
    int bitsPerPixel = 0;
    uint32_t redMask = 0;  // of 32-bit pixels; 16-bit ones are 1-5-5-5
    uint32_t greenMask = 0;
    uint32_t blueMask = 0;
};
// A 1-5-5-5 pixel as 0x00RRGGBB, each component at the top of its byte.
uint32_t Rgb1555ToRGB(uint16_t pixel);
// The image in the platform's pixel format; null for other depths.
NativeBitmapPtr ConvertGrabbedImage(const GrabbedImage& image);

// Fades (fades.cpp).
// Shows the window's surface at the fade level; the surface keeps its pixels.
void PresentFaded(qbNativeWindow& w);
int64_t FadeNanos();
int FadeLevel();
bool Fading();
void ReleaseJoysticks();
// Re-reads the borderless window's drag and size regions (window.cpp); what
// a press at the point does: drag (unless "fixed"), size (when "sizeable").
void InstallHitTest(qbNativeWindow& w);
SDL_HitTestResult WindowHitTest(const qbWindowView& view, const SDL_Point& point);

// Whether the exit error may show a box besides standard error: a real video
// driver, and the switch QB_NO_ERROR_BOX unset. Null driver: none running.
bool ErrorBoxWanted(const char* videoDriver, const char* noBoxSwitch);
// Shows the text, when wanted, in a box titled "QuenbrookPlayer" (ISO
// 8859-1 text).
void ShowErrorBox(const char* text);

// The video drivers SDL may try, as a list for its driver hint, when no
// driver was chosen and no Wayland compositor can be reached (no socket
// handed over, no socket path, no runtime folder): SDL's drivers in its
// order but Wayland, and where an X server is named (x11Display) but those
// that draw nowhere (offscreen, dummy, evdev). Empty: SDL's own choice
// stands.
std::string HeadlessDriverChoice(const std::vector<std::string>& drivers, const char* chosen, const char* runtimeDir,
                                 const char* waylandDisplay, const char* waylandSocket, const char* x11Display);

// X errors never end the process: those naming a window or drawable that
// has gone (BadWindow, BadDrawable) are dropped, any other is kept for the
// request that caused it (TakeXError) or reported on standard error; a lost
// connection ends the player through exit(). Installed once, before SDL's
// video starts.
void KeepGoneWindowErrorsNonFatal();
// The X error kept since the last take, as text for the error detail;
// false when none came.
bool TakeXError(char* detail, size_t size);
// Waits for the server to answer every request made on the window's
// connection; true with the detail set when one of them failed.
bool XRequestsFailed(SDL_Window* window, char* detail, size_t size);
// An error no request took goes to standard error (the event pump).
void ReportUntakenXError();

int StartNativeUI();
void ShutdownPlatform();
int PostWakeEvent();
int WaitForNativeEvent(int timeoutMs);

int AllocNativeWindowRec(qbWindowView* view, qbDisplay* display);
void FreeNativeWindowRec(qbDisplay* display);
int MeasureWindowBorders(qbDisplay* display);
int CreateNativeWindow(qbDisplay* display, int showActivated, qbNativeBitmap* shape, const uint8_t* shapeMask);
void CloseNativeWindow(qbDisplay* display);
void SetNativeWindowBounds(qbDisplay* display);
void SetNativeWindowTitle(qbDisplay* display);
void ActivateNativeWindow(qbDisplay* display);
int CollapseNativeWindow(qbDisplay* display, int minimise);
int IsDisplaySizeSupported(qbDisplay* display);
void UpdateWindowRegions(qbDisplay* display);
int UpdateWindowMenuBar(qbDisplay* display);
int GetNativeMenuItemState(qbDisplay* display, void* menuItem, uint32_t* outFlags);
int SetNativeMenuItemState(qbDisplay* display, void* menuItem, uint32_t setFlags, uint32_t clearFlags);
int SetWindowDropTarget(qbDisplay* display);
intptr_t GetNativeDisplayAttr(qbDisplay* display, int attribute);

void FlushNativeWindow(qbDisplay* display);
void BlitToWindow(const qbNativeBitmap* source, int srcX, int srcY, qbDisplay* display, int dstX, int dstY, int width,
                  int height, int scaleWidth, int scaleHeight, uint32_t flags);
void BlitRectsToWindow(const qbNativeBitmap* source, const qbWindowRect* rects, int count, qbDisplay* display, int dx,
                       int dy, uint32_t flags);
void FillWindowRect(qbDisplay* display, int x, int y, int width, int height, uint32_t colour);
void DrawWindowLine(qbDisplay* display, int x1, int y1, int x2, int y2, uint32_t colour);
void WriteWindowPixel(qbDisplay* display, int x, int y, uint32_t colour);

MonitorList ListNativeMonitors();
int ListNativeDisplayModes(qbDisplay* display, qbDisplayModeEntry* modes);
int SetFullScreenMode(qbDisplay* display, int width, int height);
int RestoreDisplayMode(qbDisplay* display);
void SetPresentationMode(int mode);
void FadeDisplayOut(void** outToken, int wait);
void FadeDisplayIn(void* token, int wait);
NativeBitmapPtr GrabScreenRegion(qbDisplay* display, int x, int y, int width, int height);

int PumpNativeEvents(ScriptState* L, int* outError);
void SetQuitShortcut(ScriptState* L, int key, int on);
uint32_t GetKeyQualifiers();
int WatchClipboardChanges(qbDisplay* display);

// The clipboard (clipboard.cpp): text through SDL, or text and pictures
// through GTK where it runs on SDL's X server; text in ISO 8859-1 here.
int EmptyClipboard();
int GetClipboardType(int* outType);
int ReadClipboardContents(qbClipboardData* data, int* outType);
int WriteClipboard(int type, const qbClipboardData* data);
// The desktop says the clipboard changed: the displays that listen hear of
// it unless it echoes the player's own write.
int ClipboardUpdated();
// A window came to the front: they hear of it when the contents differ
// from what was seen last.
int ClipboardCheckOnActivation();
// Runs GTK's waiting work once GTK watches the clipboard, and reports a new
// owner it heard of as ClipboardUpdated does.
int PumpClipboard();
// SDL's wait, for up to timeoutMs (-1: no limit), that also ends when GTK,
// watching the clipboard, hears of a new owner.
int WaitWatchingClipboard(int timeoutMs);

int CreateNativePointer(uint32_t* argb, int hotX, int hotY, qbNativePointer** outPointer, int width, int height);
void FreeNativePointer(qbNativePointer* pointer);
void SetWindowPointer(qbDisplay* display, qbNativePointer* pointer, int kind);
void HideWindowPointer(qbDisplay* display);
void ShowWindowPointer(qbDisplay* display);
void MoveNativePointer(qbDisplay* display, int x, int y);
void RestoreArrowPointer(qbDisplay* display);

int ScanJoysticks(int* outCount);
int ReadJoystick(int port, int* outDirection, int* outButtons);
// -1000..1000 from an SDL axis, and the direction code of such an X and Y.
int ScaleJoystickAxis(int16_t value);
int JoystickDirection(int x, int y);

}  // namespace sdl_backend
