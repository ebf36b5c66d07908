// The in-memory backend for tests and for the player until a window system
// exists.
#include "platform/null/null_backend.h"
#include "platform/null/null_pointer.h"
#include "platform/null/null_screen.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <utility>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/bitmaplock.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/preproc.h"
#include "core/eventqueue.h"
#include "platform/linux/linewalk.h"
#include "platform/clipimage.h"
#include "platform/cliptext.h"
#include "platform/linux/linux_backend.h"
#include "platform/op_fill.h"
#include "platform/rectrows.h"

namespace null_backend {
namespace {

constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;
// The pump leaves the system alone when nothing is queued and it ran this
// recently.
constexpr int64_t kPumpQuietMillis = 10;
// Window systems cap the size of a window; this one keeps its surfaces to
// this many pixels: no window is made bigger, and one asked to grow past it
// keeps the surface it has.
constexpr int64_t kMaxSurfacePixels = int64_t{1} << 24;

bool SurfaceFits(int width, int height) { return int64_t{width} * height <= kMaxSurfacePixels; }

int64_t SteadyMillis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct State {
    std::recursive_mutex mutex;
    std::map<const qbDisplay*, std::pair<int, int>> sizes;
    std::map<const qbDisplay*, qbWindowView*> views;
    std::map<const qbDisplay*, Surface> surfaces;
    std::deque<ScriptedEvent> events;
    std::deque<RequesterAnswer> answers;
    std::vector<RequesterCall> log;
    std::function<int64_t()> clock;
    PumpObserver pumpObserver;
    int64_t lastPump = 0;
    bool pumped = false;
    bool quitSwitch[3] = {};
    bool quitRequested = false;
    std::vector<const qbDisplay*> closeHandlers;
    int clipboardType = kClipboardEmpty;
    std::string clipboardText;
    ClipboardPicture clipboardPicture;
    std::function<int(const char*)> urlOpener;

    void Clear() {
        sizes.clear();
        views.clear();
        surfaces.clear();
        events.clear();
        answers.clear();
        log.clear();
        clock = nullptr;
        pumpObserver = nullptr;
        lastPump = 0;
        pumped = false;
        std::fill(std::begin(quitSwitch), std::end(quitSwitch), false);
        quitRequested = false;
        closeHandlers.clear();
        clipboardType = kClipboardEmpty;
        clipboardText.clear();
        clipboardPicture = ClipboardPicture{};
        urlOpener = nullptr;
    }
    State() { Clear(); }
};

State& S() {
    static State state;
    return state;
}

using Lock = std::lock_guard<std::recursive_mutex>;

Surface* FindSurface(const qbDisplay* display) {
    auto it = S().surfaces.find(display);
    return it == S().surfaces.end() ? nullptr : &it->second;
}

void Plot(Surface& s, int x, int y, uint32_t colour) {
    if (x < 0 || y < 0 || x >= s.width || y >= s.height) return;
    s.pixels[static_cast<size_t>(y) * static_cast<size_t>(s.width) + static_cast<size_t>(x)] = colour;
}

// Window operations draw in opaque colours: the window has no alpha.
constexpr uint32_t kOpaque = 0xFF000000u;

// A full refresh is this loop over every pixel of the frame: four pixels a
// step keeps it near the speed of a plain copy (-O2 leaves the loop scalar).
void CopyRowOpaque(uint32_t* to, const uint32_t* from, int count) {
    int x = 0;
#if defined(__SSE2__)
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(kOpaque));
    for (; x + 4 <= count; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + x), _mm_or_si128(v, alpha));
    }
#endif
    for (; x < count; ++x) to[x] = from[x] | kOpaque;
}

const qbWindowView* FindView(const qbDisplay* display) {
    auto it = S().views.find(display);
    return it == S().views.end() ? nullptr : it->second;
}

// A new window's content takes the size set for the display, else its
// view's, else the default.
std::pair<int, int> WindowSizeOf(const qbDisplay* display) {
    auto size = S().sizes.find(display);
    if (size != S().sizes.end()) return size->second;
    if (const qbWindowView* view = FindView(display)) return {view->width, view->height};
    return {kDefaultWidth, kDefaultHeight};
}

// Where the display's image sits inside its window.
std::pair<int64_t, int64_t> DrawingOffset(const qbDisplay* display) {
    const qbWindowView* view = FindView(display);
    return view ? std::pair<int64_t, int64_t>{view->offsetX, view->offsetY} : std::pair<int64_t, int64_t>{0, 0};
}

void TakeViewPlacement(Surface& s, const qbDisplay* display) {
    if (const qbWindowView* view = FindView(display)) {
        s.title = view->title;
        s.x = view->x;
        s.y = view->y;
    }
}

int AllocNativeWindowRec(qbWindowView* view, qbDisplay* display) {
    Lock lock(S().mutex);
    if (view) S().views[display] = view;
    return 0;
}

void FreeNativeWindowRec(qbDisplay* display) {
    Lock lock(S().mutex);
    S().views.erase(display);
}

int MeasureWindowBorders(qbDisplay*) { return 0; }

int CreateNativeWindow(qbDisplay* display, int, qbNativeBitmap*, const uint8_t*) {
    Lock lock(S().mutex);
    const auto [width, height] = WindowSizeOf(display);
    if (width <= 0 || height <= 0 || !SurfaceFits(width, height)) return ERR_WINDOW;
    Surface surface;
    surface.width = width;
    surface.height = height;
    surface.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), kOpaque);
    TakeViewPlacement(surface, display);
    static uint64_t serial = 0;
    surface.serial = ++serial;
    S().surfaces[display] = std::move(surface);
    return 0;
}

// A new content size starts black again, as a resized window does before
// the display redraws it.
void SetNativeWindowBounds(qbDisplay* display) {
    Lock lock(S().mutex);
    Surface* s = FindSurface(display);
    const qbWindowView* view = FindView(display);
    if (!s || !view) return;
    TakeViewPlacement(*s, display);
    if (S().sizes.count(display) || (view->width == s->width && view->height == s->height)) return;
    if (view->width <= 0 || view->height <= 0 || !SurfaceFits(view->width, view->height)) return;
    s->width = view->width;
    s->height = view->height;
    s->pixels.assign(static_cast<size_t>(s->width) * static_cast<size_t>(s->height), kOpaque);
}

void SetNativeWindowTitle(qbDisplay* display) {
    Lock lock(S().mutex);
    Surface* s = FindSurface(display);
    if (const qbWindowView* view = FindView(display); s && view) s->title = view->title;
}

// An item not changed since the window opened shows its tree's flags.
uint32_t TreeFlags(const void* item) {
    return item ? static_cast<const qbMenuItem*>(item)->flags & (kMenuItemChecked | kMenuItemDisabled) : 0;
}

int GetNativeMenuItemState(qbDisplay* display, void* item, uint32_t* outFlags) {
    Lock lock(S().mutex);
    Surface* s = FindSurface(display);
    if (!s) return ERR_CLOSEDDISPLAY;
    auto it = s->menuStates.find(item);
    if (outFlags) *outFlags = it == s->menuStates.end() ? TreeFlags(item) : it->second;
    return 0;
}

int SetNativeMenuItemState(qbDisplay* display, void* item, uint32_t setFlags, uint32_t clearFlags) {
    Lock lock(S().mutex);
    Surface* s = FindSurface(display);
    if (!s) return ERR_CLOSEDDISPLAY;
    constexpr uint32_t kKnown = kMenuItemChecked | kMenuItemDisabled;
    auto it = s->menuStates.find(item);
    const uint32_t flags = it == s->menuStates.end() ? TreeFlags(item) : it->second;
    s->menuStates[item] = (flags & ~(clearFlags & kKnown)) | (setFlags & kKnown);
    return 0;
}

void CloseNativeWindow(qbDisplay* display) {
    Lock lock(S().mutex);
    S().surfaces.erase(display);
}

int CollapseNativeWindow(qbDisplay* display, int minimise) {
    Lock lock(S().mutex);
    if (Surface* s = FindSurface(display)) s->visible = minimise == 0;
    return 0;
}

int IsDisplaySizeSupported(qbDisplay*) { return 1; }

intptr_t GetNativeDisplayAttr(qbDisplay* display, int attribute) {
    if (!display) return 0;
    switch (attribute) {
        case 5: return 32;
        case 11:
        case 12: return 16;
        case 16: return 1;
        default: return 0;
    }
}

void FlushNativeWindow(qbDisplay* display) {
    Lock lock(S().mutex);
    if (Surface* s = FindSurface(display)) ++s->flushes;
}

void BlitToWindow(const qbNativeBitmap* source, int srcX, int srcY, qbDisplay* display, int dstX, int dstY, int width,
                  int height, int scaleWidth, int scaleHeight, uint32_t) {
    Lock lock(S().mutex);
    Surface* s = FindSurface(display);
    if (!s || !source || source->bytesPerPixel != 4 || width <= 0 || height <= 0) return;
    // Bounded, so that a long run without a reader does not grow it forever.
    if (s->blits.size() < 4096) s->blits.push_back({dstX, dstY, width, height});
    const auto [offsetX, offsetY] = DrawingOffset(display);
    // Far beyond any window nothing lands on it; this keeps the sums in range.
    constexpr int64_t kFar = int64_t{1} << 24;
    const int64_t movedX = dstX + offsetX, movedY = dstY + offsetY;
    if (movedX < -kFar || movedX > kFar || movedY < -kFar || movedY > kFar) return;
    dstX = static_cast<int>(movedX);
    dstY = static_cast<int>(movedY);
    const int outW = scaleWidth > 0 ? scaleWidth : width;
    const int outH = scaleHeight > 0 ? scaleHeight : height;
    if (outW == width && outH == height) {
        // Unscaled: the rectangle is clipped once and its rows copied whole,
        // so that a full refresh costs about what copying the frame does and
        // a tall narrow piece little more than its pixels.
        const int64_t first = std::max<int64_t>({0, -int64_t{dstX}, -int64_t{srcX}});
        const int64_t last = std::min<int64_t>({width, int64_t{s->width} - dstX, int64_t{source->width} - srcX});
        const int64_t top = std::max<int64_t>({0, -int64_t{dstY}, -int64_t{srcY}});
        const int64_t bottom = std::min<int64_t>({height, int64_t{s->height} - dstY, int64_t{source->height} - srcY});
        if (first >= last || top >= bottom) return;
        const auto count = static_cast<int>(last - first);
        const auto fromStride = static_cast<size_t>(source->bytesPerRow);
        const auto toStride = static_cast<size_t>(s->width);
        const uint8_t* from = source->pixels.get() + static_cast<size_t>(srcY + top) * fromStride +
                              static_cast<size_t>(srcX + first) * 4;
        uint32_t* to = s->pixels.data() + static_cast<size_t>(dstY + top) * toStride + static_cast<size_t>(dstX + first);
        for (int64_t y = top; y < bottom; ++y, from += fromStride, to += toStride)
            CopyRowOpaque(to, reinterpret_cast<const uint32_t*>(from), count);
        return;
    }
    // Only the part that lands on the surface: a scaled size may be far
    // bigger than any window.
    const int64_t firstY = std::max<int64_t>(0, -int64_t{dstY}), lastY = std::min<int64_t>(outH, int64_t{s->height} - dstY);
    const int64_t firstX = std::max<int64_t>(0, -int64_t{dstX}), lastX = std::min<int64_t>(outW, int64_t{s->width} - dstX);
    for (int64_t y = firstY; y < lastY; ++y) {
        const int sy = srcY + static_cast<int>(y * height / outH);
        if (sy < 0 || sy >= source->height) continue;
        const auto* row = reinterpret_cast<const uint32_t*>(source->pixels.get() +
                                                            static_cast<size_t>(sy) * static_cast<size_t>(source->bytesPerRow));
        for (int64_t x = firstX; x < lastX; ++x) {
            const int sx = srcX + static_cast<int>(x * width / outW);
            if (sx < 0 || sx >= source->width) continue;
            Plot(*s, static_cast<int>(dstX + x), static_cast<int>(dstY + y), row[sx] | kOpaque);
        }
    }
}

void BlitRectsToWindow(const qbNativeBitmap* source, const qbWindowRect* rects, int count, qbDisplay* display, int dx,
                       int dy, uint32_t) {
    Lock lock(S().mutex);
    Surface* s = FindSurface(display);
    if (!s || !source || source->bytesPerPixel != 4 || !rects || count < 1) return;
    const auto [offsetX, offsetY] = DrawingOffset(display);
    const int64_t moveX = int64_t{dx} + offsetX, moveY = int64_t{dy} + offsetY;
    std::vector<qbWindowRect> clipped;
    clipped.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const qbWindowRect& r = rects[i];
        if (r.width <= 0 || r.height <= 0) continue;
        if (s->blits.size() < 4096)
            s->blits.push_back({static_cast<int>(r.x + int64_t{dx}), static_cast<int>(r.y + int64_t{dy}), r.width, r.height});
        // In source coordinates: inside the source and, moved, the surface.
        const int64_t x0 = std::max({int64_t{r.x}, int64_t{0}, -moveX});
        const int64_t y0 = std::max({int64_t{r.y}, int64_t{0}, -moveY});
        const int64_t x1 = std::min({int64_t{r.x} + r.width, int64_t{source->width}, s->width - moveX});
        const int64_t y1 = std::min({int64_t{r.y} + r.height, int64_t{source->height}, s->height - moveY});
        if (x0 < x1 && y0 < y1)
            clipped.push_back({static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0),
                               static_cast<int>(y1 - y0)});
    }
    const auto mx = static_cast<ptrdiff_t>(moveX), my = static_cast<ptrdiff_t>(moveY);
    ForEachRectRow(clipped.data(), static_cast<int>(clipped.size()), [&](int x, int y, int width) {
        const auto* from = reinterpret_cast<const uint32_t*>(source->pixels.get() +
                                                             static_cast<size_t>(y) * static_cast<size_t>(source->bytesPerRow)) + x;
        uint32_t* to = s->pixels.data() + static_cast<size_t>(y + my) * static_cast<size_t>(s->width) + (x + mx);
        if (width == 1) *to = *from | kOpaque;
        else CopyRowOpaque(to, from, width);
    });
}

void FillWindowRect(qbDisplay* display, int x, int y, int width, int height, uint32_t colour) {
    Lock lock(S().mutex);
    Surface* s = FindSurface(display);
    if (!s || width <= 0 || height <= 0) return;
    const auto [offsetX, offsetY] = DrawingOffset(display);
    const int64_t left = int64_t{x} + offsetX, top = int64_t{y} + offsetY;
    const int x0 = static_cast<int>(std::clamp<int64_t>(left, 0, s->width));
    const int y0 = static_cast<int>(std::clamp<int64_t>(top, 0, s->height));
    const int x1 = static_cast<int>(std::clamp<int64_t>(left + width, 0, s->width));
    const int y1 = static_cast<int>(std::clamp<int64_t>(top + height, 0, s->height));
    for (int yy = y0; yy < y1; ++yy)
        for (int xx = x0; xx < x1; ++xx) Plot(*s, xx, yy, colour | kOpaque);
}

void DrawWindowLine(qbDisplay* display, int x1, int y1, int x2, int y2, uint32_t colour) {
    Lock lock(S().mutex);
    Surface* s = FindSurface(display);
    if (!s) return;
    const auto [offsetX, offsetY] = DrawingOffset(display);
    linux_backend::WalkClippedLine(x1 + offsetX, y1 + offsetY, x2 + offsetX, y2 + offsetY, s->width, s->height,
                                   [&](int64_t x, int64_t y) {
                                       Plot(*s, static_cast<int>(x), static_cast<int>(y), colour | kOpaque);
                                   });
}

void WriteWindowPixel(qbDisplay* display, int x, int y, uint32_t colour) {
    Lock lock(S().mutex);
    Surface* s = FindSurface(display);
    if (!s) return;
    const auto [offsetX, offsetY] = DrawingOffset(display);
    const int64_t px = x + offsetX, py = y + offsetY;
    if (px < 0 || py < 0 || px >= s->width || py >= s->height) return;
    Plot(*s, static_cast<int>(px), static_cast<int>(py), colour | kOpaque);
}

// The window keeps its buttons and keys as a real one does, for the waits
// that look at them rather than at the queue.
void HoldInputState(const ScriptedEvent& event) {
    const auto it = S().views.find(event.display);
    if (it == S().views.end()) return;
    qbWindowView& v = *it->second;
    switch (event.type) {
        case kEventLeftButton: v.buttons[0] = event.data3 != 0; break;
        case kEventRightButton: v.buttons[1] = event.data3 != 0; break;
        case kEventMiddleButton: v.buttons[2] = event.data3 != 0; break;
        case kEventKey:
            if (event.data3 >= 0 && event.data3 < kWindowKeyCount) v.keyState[event.data3] = event.data1 != 0;
            break;
        default: break;
    }
}

bool SwitchOn(int key) { return S().quitSwitch[key - kQuitShortcutCtrlC]; }

// What the window flags raised by one event ask of the pump.
bool WantsQuit(const ScriptedEvent& event) {
    switch (event.type) {
        case kEventLeftButton: return event.data3 != 0 && SwitchOn(kQuitShortcutLeftButton);
        case kEventKey: return event.data1 != 0 && event.data3 == kKeyEscape && SwitchOn(kQuitShortcutEscape);
        case kScriptedCtrlC: return SwitchOn(kQuitShortcutCtrlC);
        case kEventCloseRequest: {
            const auto& handlers = S().closeHandlers;
            return std::find(handlers.begin(), handlers.end(), event.display) == handlers.end();
        }
        default: return false;
    }
}

int PumpNativeEvents(ScriptState* L, int* outError) {
    if (outError) *outError = 0;
    Lock lock(S().mutex);
    if (S().pumpObserver) S().pumpObserver();
    const int64_t now = NowMillis();
    if (S().events.empty() && S().pumped && now - S().lastPump < kPumpQuietMillis) return 0;
    if (!S().events.empty()) {
        const ScriptedEvent event = S().events.front();
        S().events.pop_front();
        if (event.type != kScriptedCtrlC &&
            PostEvent(event.display, event.type, event.data1, event.data2, event.data3, nullptr) < 0) {
            if (outError) *outError = ERR_MEM;
            S().lastPump = now;
            S().pumped = true;
            return 1;
        }
        HoldInputState(event);
        if (WantsQuit(event)) S().quitRequested = true;
        // A toggle request reopens the display in the other mode, as the
        // window's Alt+Return does.
        const qbWindowView* view = FindView(event.display);
        if (event.type == kEventFullScreenToggle && view && view->switchMode) {
            if (const int err = view->switchMode(L, event.display, view->fullScreen ? 0 : 1)) {
                if (outError) *outError = err;
                S().lastPump = now;
                S().pumped = true;
                return 1;
            }
        }
        // One wake may stand for several scripted events; a wait between
        // pumps must not sleep on those still queued.
        if (!S().events.empty()) linux_backend::PostWakeEvent();
    }
    S().lastPump = now;
    S().pumped = true;
    return S().quitRequested ? 1 : 0;
}

void SetQuitShortcut(ScriptState*, int key, int on) {
    if (key < kQuitShortcutCtrlC || key > kQuitShortcutEscape) return;
    Lock lock(S().mutex);
    S().quitSwitch[key - kQuitShortcutCtrlC] = on != 0;
}

// Takes the next answer and logs the call; an empty queue answers like a
// requester that could not be opened.
RequesterAnswer Ask(const char* operation, const char* title, const char* body, std::string initial = {},
                    int32_t number = 0) {
    Lock lock(S().mutex);
    S().log.push_back(RequesterCall{operation, title ? title : "", body ? body : "", std::move(initial), number});
    if (S().answers.empty()) return RequesterAnswer{ERR_WINDOW, -1, {}, {}};
    RequesterAnswer answer = std::move(S().answers.front());
    S().answers.pop_front();
    return answer;
}

int ColorRequesterNative(int32_t initial, int32_t* outColour) {
    RequesterAnswer a = Ask("ColorRequesterNative", "", "", {}, initial);
    if (outColour) *outColour = a.error ? -1 : a.value;
    return a.error;
}

// The entries are logged joined by "|".
std::string JoinEntries(const char* items) {
    std::string joined;
    for (const char* p = items; p && *p; p += std::strlen(p) + 1) {
        if (!joined.empty()) joined += '|';
        joined += p;
    }
    return joined;
}

int ListRequesterNative(const char* title, const char* body, const char* items, int selected, int* outIndex) {
    RequesterAnswer a = Ask("ListRequesterNative", title, body, JoinEntries(items), selected);
    if (outIndex) *outIndex = a.error ? -1 : a.value;
    return a.error;
}

constexpr size_t kStringRequesterBytes = 1024;

int StringRequesterNative(const char* title, const char* body, const char* defaultText, int, int maxLength, int,
                          char* outText) {
    RequesterAnswer a = Ask("StringRequesterNative", title, body, defaultText ? defaultText : "", maxLength);
    if (outText) {
        size_t n = a.error ? 0 : std::min(a.text.size(), kStringRequesterBytes - 1);
        if (maxLength > 0) n = std::min(n, static_cast<size_t>(maxLength));
        std::memcpy(outText, a.text.data(), n);
        outText[n] = 0;
    }
    return a.error;
}

int SystemRequesterNative(const char* title, const char* body, const char* buttons, int icon, int* outResult) {
    RequesterAnswer a = Ask("SystemRequesterNative", title, body, buttons ? buttons : "", icon);
    if (outResult) *outResult = a.error ? 0 : a.value;
    return a.error;
}

int FontRequesterNative(ScriptState*, const char* initialName, int initialSize, qbFontRequest* outFont) {
    RequesterAnswer a = Ask("FontRequesterNative", initialName, "", initialName ? initialName : "", initialSize);
    if (outFont && !a.error) {
        *outFont = qbFontRequest{};
        const size_t n = std::min(a.text.size(), sizeof outFont->name - 1);
        std::memcpy(outFont->name, a.text.data(), n);
        outFont->size = a.value;
        outFont->weight = 80;
    }
    return a.error;
}

int PathRequesterNative(const char* title, const char* initialFolder, std::optional<std::string>* outPath) {
    RequesterAnswer a = Ask("PathRequesterNative", title, "", initialFolder ? initialFolder : "");
    if (outPath) {
        if (a.error || a.text.empty())
            outPath->reset();
        else
            *outPath = a.text;
    }
    return a.error;
}

int FileRequesterNative(const char* title, const char*, int mode, const char* initialFolder, const char*,
                        qbFileRequestResult* outResult) {
    RequesterAnswer a = Ask("FileRequesterNative", title, "", initialFolder ? initialFolder : "", mode);
    if (outResult) {
        *outResult = qbFileRequestResult{};
        if (!a.error && a.value > 0) {
            outResult->folder = a.text;
            outResult->files = a.files;
            outResult->count = a.value;
            outResult->chosen = 1;
        }
    }
    return a.error;
}

// The clipboard is process memory: text and pictures written are read back.
namespace {

// Every display that listens hears of each change; the caller holds the lock.
int NotifyClipboardChange() {
    for (const auto& [display, view] : S().views)
        if (view->hasClipboardHandler &&
            PostEvent(const_cast<qbDisplay*>(display), kEventClipboardChanged, 0, 0, 0, nullptr) < 0)
            return ERR_MEM;
    return 0;
}

}  // namespace

int EmptyClipboard() {
    Lock lock(S().mutex);
    S().clipboardType = kClipboardEmpty;
    S().clipboardText.clear();
    S().clipboardPicture = ClipboardPicture{};
    return NotifyClipboardChange();
}

int GetClipboardType(int* outType) {
    Lock lock(S().mutex);
    if (outType) *outType = S().clipboardType;
    return 0;
}

int ReadClipboardContents(qbClipboardData* data, int* outType) {
    Lock lock(S().mutex);
    if (outType) *outType = S().clipboardType;
    if (!data) return 0;
    if (S().clipboardType == kClipboardImage) return ClipboardPictureToRecord(S().clipboardPicture, data);
    data->text = ClipboardLineEnds(S().clipboardText);
    return 0;
}

int WriteClipboard(int type, const qbClipboardData* data) {
    if (!data) return ERR_CLIPWRITE;
    if (type == kClipboardImage) {
        ClipboardPicture picture;
        if (int err = ClipboardPictureFromRecord(*data, &picture)) return err;
        Lock lock(S().mutex);
        S().clipboardText.clear();
        S().clipboardPicture = std::move(picture);
        S().clipboardType = kClipboardImage;
        return NotifyClipboardChange();
    }
    if (type != kClipboardText) return ERR_CLIPWRITE;
    Lock lock(S().mutex);
    S().clipboardPicture = ClipboardPicture{};
    S().clipboardText = data->text.c_str();
    S().clipboardType = S().clipboardText.empty() ? kClipboardEmpty : kClipboardText;
    return NotifyClipboardChange();
}

// No desktop: URLs have nowhere to go, unless a test takes them.
int OpenURL(const char* url) {
    std::function<int(const char*)> opener;
    {
        Lock lock(S().mutex);
        opener = S().urlOpener;
    }
    return opener ? opener(url ? url : "") : ERR_UNSUPPORTEDFEAT;
}

// Neutral answers of the media engines: nothing decodes, nothing plays.
int NoQuickTime(const char* name, qbMovieInfo*) {
    SetErrorDetail(name ? name : "");
    return ERR_LOADVIDEO;
}
int NoMovieSource(const char*, const qbMovieSourceRequest*, qbMovieSourceInfo*, qbMovieSource** out) {
    if (out) *out = nullptr;
    return ERR_LOADVIDEO;
}
int NoImageDecoder(qbNativeImageRequest*) { return ERR_LOADPICTURE2; }
int NoMemoryImageDecoder(const void*, size_t, qbNativeImageRequest*) { return ERR_LOADPICTURE2; }
int NoImageEncoder(const char*, const qbEncodePixels*, int32_t type, std::vector<uint8_t>*) {
    return type == kNativeImagePNG ? ERR_SAVEPNG : ERR_WRITEJPEG;
}
int NoSoundDecoder(const char*, uint32_t, qbNativeAudioFile** out) {
    if (out) *out = nullptr;
    return ERR_OPENSOUND2;
}
int NoNativeFont(const char*, int, qbNativeFont*) { return 0; }
int NoFontEngine() { return 0; }
int NoJoystickAtPort(int, int*, int*) { return ERR_NOJOYATPORT; }
int NoJoysticks(int* outCount) {
    if (outCount) *outCount = 0;
    return 0;
}

qbPlatformOps MakeNullOps() {
    qbPlatformOps ops = platform_fill::NeutralOps("null");
#define QB_OP_SHARED(op) ops.op = &linux_backend::op;
    QB_OP_SHARED(EnterMain)
    QB_OP_SHARED(CheckOSVersionAndActivate)
    QB_OP_SHARED(InstallAppleEventHandlers)
    QB_OP_SHARED(GetBundleExecutableArgs)
    QB_OP_SHARED(GetBundlePath)
    QB_OP_SHARED(GetExecutablePath)
    QB_OP_SHARED(StartNativeUI)
    QB_OP_SHARED(PrepareNativeDisplays)
    QB_OP_SHARED(RunMainChunkWithTimerThread)
    QB_OP_SHARED(CheckUserBreak)
    QB_OP_SHARED(OpenDebugDevice)
    QB_OP_SHARED(ShutdownPlatform)
    QB_OP_SHARED(PostWakeEvent)
    QB_OP_SHARED(WaitForNativeEvent)
    QB_OP_SHARED(AllocPlatformBitmap)
    QB_OP_SHARED(FreePlatformBitmap)
    QB_OP_SHARED(LockPlatformBitmap)
    QB_OP_SHARED(UnlockPlatformBitmap)
    QB_OP_SHARED(GetPlatformBitmapAttr)
    QB_OP_SHARED(GetPreferredPixelFormat)
    QB_OP_SHARED(ReadNativePixel)
    QB_OP_SHARED(WriteNativePixel)
    QB_OP_SHARED(DrawNativeLine)
    QB_OP_SHARED(ToNativePath)
    QB_OP_SHARED(FormatDateTime)
    QB_OP_SHARED(PrintConsoleV)
    QB_OP_SHARED(GetPhysicalMemorySize)
    QB_OP_SHARED(PollNativeMessage)
    QB_OP_SHARED(CreateMessagePort)
    QB_OP_SHARED(SendPortMessage)
#undef QB_OP_SHARED
#define QB_OP_OWN(op) ops.op = &op;
    QB_OP_OWN(AllocNativeWindowRec)
    QB_OP_OWN(FreeNativeWindowRec)
    QB_OP_OWN(MeasureWindowBorders)
    QB_OP_OWN(CreateNativeWindow)
    QB_OP_OWN(SetNativeWindowBounds)
    QB_OP_OWN(SetNativeWindowTitle)
    QB_OP_OWN(GetNativeMenuItemState)
    QB_OP_OWN(SetNativeMenuItemState)
    QB_OP_OWN(CloseNativeWindow)
    QB_OP_OWN(CollapseNativeWindow)
    QB_OP_OWN(IsDisplaySizeSupported)
    QB_OP_OWN(GetNativeDisplayAttr)
    QB_OP_OWN(FlushNativeWindow)
    QB_OP_OWN(BlitToWindow)
    QB_OP_OWN(BlitRectsToWindow)
    QB_OP_OWN(FillWindowRect)
    QB_OP_OWN(DrawWindowLine)
    QB_OP_OWN(WriteWindowPixel)
    QB_OP_OWN(ListNativeMonitors)
    QB_OP_OWN(ListNativeDisplayModes)
    QB_OP_OWN(SetFullScreenMode)
    QB_OP_OWN(RestoreDisplayMode)
    QB_OP_OWN(SetPresentationMode)
    QB_OP_OWN(FadeDisplayOut)
    QB_OP_OWN(FadeDisplayIn)
    QB_OP_OWN(GrabScreenRegion)
    QB_OP_OWN(PumpNativeEvents)
    QB_OP_OWN(SetQuitShortcut)
    QB_OP_OWN(ColorRequesterNative)
    QB_OP_OWN(ListRequesterNative)
    QB_OP_OWN(StringRequesterNative)
    QB_OP_OWN(SystemRequesterNative)
    QB_OP_OWN(FontRequesterNative)
    QB_OP_OWN(PathRequesterNative)
    QB_OP_OWN(FileRequesterNative)
    QB_OP_OWN(EmptyClipboard)
    QB_OP_OWN(GetClipboardType)
    QB_OP_OWN(ReadClipboardContents)
    QB_OP_OWN(WriteClipboard)
#undef QB_OP_OWN
    ops.OpenURLNative = &OpenURL;
    ops.OpenQuickTimeMovie = &NoQuickTime;
    ops.OpenMovieSource = &NoMovieSource;
    ops.DecodeNativeImage = &NoImageDecoder;
    ops.DecodeNativeImageFromMemory = &NoMemoryImageDecoder;
    ops.EncodeNativeImage = &NoImageEncoder;
    ops.OpenNativeAudioFile = &NoSoundDecoder;
    ops.OpenNativeFont = &NoNativeFont;
    ops.NativeFontEngineAvailable = &NoFontEngine;
    ops.ReadJoystick = &NoJoystickAtPort;
    ops.ScanJoysticks = &NoJoysticks;
    null_backend::FillPointerOps(ops);
    null_backend::FillPullAudioOps(ops);
    null_backend::FillFolderOps(ops);
    return ops;
}

}  // namespace

void Reset() {
    Lock lock(S().mutex);
    S().Clear();
    ResetScreen();
    ResetPointers();
}

std::recursive_mutex& BackendMutex() { return S().mutex; }

int MonitorOfDisplay(const qbDisplay* display) {
    Lock lock(S().mutex);
    const qbWindowView* view = FindView(display);
    return view ? view->monitor : 0;
}

bool AnyWindowOpen() {
    Lock lock(S().mutex);
    return !S().surfaces.empty();
}

std::vector<std::pair<const qbDisplay*, const Surface*>> OpenSurfaces() {
    Lock lock(S().mutex);
    std::vector<std::pair<const qbDisplay*, const Surface*>> out;
    for (const auto& [display, surface] : S().surfaces) out.emplace_back(display, &surface);
    return out;
}

void SetWindowSize(const qbDisplay* display, int width, int height) {
    Lock lock(S().mutex);
    S().sizes[display] = {width, height};
}

const Surface* GetSurface(const qbDisplay* display) {
    Lock lock(S().mutex);
    return FindSurface(display);
}

std::vector<Surface::BlitRect> TakeBlits(const qbDisplay* display) {
    Lock lock(S().mutex);
    std::vector<Surface::BlitRect> taken;
    if (Surface* s = FindSurface(display)) taken.swap(s->blits);
    return taken;
}

// Scripted input wakes a waiting script as real input does, whichever thread
// scripts it.
void ScriptEvent(const ScriptedEvent& event) {
    {
        Lock lock(S().mutex);
        S().events.push_back(event);
    }
    linux_backend::PostWakeEvent();
}

void SetPumpObserver(PumpObserver observer) {
    Lock lock(S().mutex);
    S().pumpObserver = std::move(observer);
}

void SetCloseHandler(const qbDisplay* display, bool present) {
    Lock lock(S().mutex);
    auto& handlers = S().closeHandlers;
    handlers.erase(std::remove(handlers.begin(), handlers.end(), display), handlers.end());
    if (present) handlers.push_back(display);
}

size_t PendingScriptedEvents() {
    Lock lock(S().mutex);
    return S().events.size();
}

void QueueRequesterAnswer(RequesterAnswer answer) {
    Lock lock(S().mutex);
    S().answers.push_back(std::move(answer));
}

void SetURLOpener(std::function<int(const char* url)> opener) {
    Lock lock(S().mutex);
    S().urlOpener = std::move(opener);
}

std::vector<RequesterCall> RequesterLog() {
    Lock lock(S().mutex);
    return S().log;
}

void SetClock(std::function<int64_t()> clock) {
    Lock lock(S().mutex);
    S().clock = std::move(clock);
}

int64_t NowMillis() {
    Lock lock(S().mutex);
    return S().clock ? S().clock() : SteadyMillis();
}

}  // namespace null_backend

const qbPlatformOps& NullPlatformOps() {
    static const qbPlatformOps ops = null_backend::MakeNullOps();
    return ops;
}
