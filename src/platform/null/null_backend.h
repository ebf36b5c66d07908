// The in-memory backend: windows are ARGB buffers, monitors a list, input a
// script of events, requesters a queue of answers. Tests drive and read it
// through these functions; Reset() gives every test a fresh start.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform_ops.h"

namespace null_backend {

// One window's content area, 0xAARRGGBB per pixel, row after row, with the
// title, outer position and menu item states the window was given.
struct Surface {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    int flushes = 0;
    std::string title;
    bool visible = true;
    int x = 0;
    int y = 0;
    std::map<const void*, uint32_t> menuStates;
    uint64_t serial = 0;  // creation order: later windows lie above
    // Every rectangle drawn into the window, in drawing coordinates and
    // order (the first 4096), so that tests see how often and where a
    // change was shown.
    struct BlitRect {
        int x = 0, y = 0, width = 0, height = 0;
    };
    std::vector<BlitRect> blits;

    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};

struct MonitorRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Ctrl-C reaches no handler as an event: it only raises the window's
// Ctrl-C flag, which the pump reads against its quit switch.
constexpr uint32_t kScriptedCtrlC = 0x10003;
// The key code of Escape in key events (data3).
constexpr int32_t kKeyEscape = 275;

// Posted by PumpNativeEvents with PostEvent, one per pump, as the window
// handlers post them; a left-button press, an Escape key press, Ctrl-C and a
// close request also raise the flags the pump turns into quit requests.
struct ScriptedEvent {
    qbDisplay* display = nullptr;
    uint32_t type = 0;
    int32_t data1 = 0;
    int32_t data2 = 0;
    int32_t data3 = 0;
};

// What the next requester answers: the error it returns, the number it
// gives (colour, index, button, count of files, font size) and its texts.
struct RequesterAnswer {
    int error = 0;
    int32_t value = 0;
    std::string text;   // string, path, font name, file requester's folder
    std::string files;  // file requester's names
};

// What a requester was asked, with what it starts from: the default text,
// the buttons, the entries joined by "|", the folder or the font name
// (initial), and the maximum length, the icon, the preselected entry, the
// file mode, the colour or the font size (number).
struct RequesterCall {
    std::string operation;
    std::string title;
    std::string body;
    std::string initial;
    int32_t number = 0;
};

void Reset();

void SetMonitors(std::vector<MonitorRect> monitors);

// A monitor's display modes in the system's order, duplicates (the same
// size at another rate) included. Without a list a monitor offers the
// distinct sizes of all monitors.
struct DisplayMode {
    int width = 0;
    int height = 0;
    int rate = 60;
};
void SetDisplayModes(int monitor, std::vector<DisplayMode> modes);
// The size a full screen set for the monitor; {0, 0} at its real mode.
std::pair<int, int> VirtualMode(int monitor);
// 0 until SetPresentationMode changes it.
int PresentationMode();
// Every fade in call order: "out" or "in", with a token (0 while no window
// was open: nothing faded) and whether it waited.
struct FadeCall {
    bool out = false;
    bool faded = false;
    bool waited = false;
};
std::vector<FadeCall> FadeLog();
// The content size the next CreateNativeWindow of that display gets, in
// place of the size its window view asks for.
void SetWindowSize(const qbDisplay* display, int width, int height);
// Null while the display has no window.
const Surface* GetSurface(const qbDisplay* display);
// The window's record of drawn rectangles, which starts anew.
std::vector<Surface::BlitRect> TakeBlits(const qbDisplay* display);

// Queues an event for the pump and wakes a script waiting for events.
void ScriptEvent(const ScriptedEvent& event);
// Called at the start of every pump, where a real window would show what the
// script drew so far, on the pumping thread: a test sees each state of a
// running script there and answers it with the next event, which this pump
// then posts. An empty function removes it.
using PumpObserver = std::function<void()>;
void SetPumpObserver(PumpObserver observer);
// A display with a close-window handler closes through the script, not by
// quitting.
void SetCloseHandler(const qbDisplay* display, bool present);
size_t PendingScriptedEvents();

void QueueRequesterAnswer(RequesterAnswer answer);
std::vector<RequesterCall> RequesterLog();

// Takes the URLs handed to the desktop, answering for it; without one they
// are refused with ERR_UNSUPPORTEDFEAT.
void SetURLOpener(std::function<int(const char* url)> opener);

// Milliseconds; the pump's 10 ms rule reads it.
void SetClock(std::function<int64_t()> clock);
int64_t NowMillis();

}  // namespace null_backend

namespace null_backend {

// The pull audio device. The rate the mixer runs at (default 48000; it
// applies at once when the output is open).
void SetAudioPullRate(int rate);
// Renders frames of interleaved float stereo as the device's callback
// would: silence while the output is not started.
void PullAudio(float* out, size_t frames);
std::vector<float> PullAudio(size_t frames);
bool AudioRunning();
// The audio operations of this backend's table.
void FillPullAudioOps(qbPlatformOps& ops);

// The folders of the desktop's rules below a home folder of the backend's
// own (null_folders.cpp), made at the first question and removed at exit;
// empty when it cannot be made.
const std::string& TemporaryHome();
void FillFolderOps(qbPlatformOps& ops);

}  // namespace null_backend
