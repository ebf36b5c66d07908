// Monitors and their modes in memory. A full screen only records the size
// it asked for: the monitor reports that size from then on, as the Linux
// backend's virtual modes do, and nothing real changes.
#include <algorithm>
#include <map>

#include "core/errcodes.h"
#include "platform/null/null_screen.h"

namespace null_backend {
namespace {

struct ScreenState {
    std::vector<MonitorRect> monitors{MonitorRect{0, 0, 1920, 1080}};
    std::map<int, std::vector<DisplayMode>> modes;
    std::map<int, std::pair<int, int>> virtualModes;
    int presentation = 0;
    std::vector<FadeCall> fades;
};

ScreenState& Screen() {
    static ScreenState state;
    return state;
}

using Lock = std::lock_guard<std::recursive_mutex>;

// The n-th monitor, the first when n is past the end.
int MonitorIndex(int monitor) {
    const int count = static_cast<int>(Screen().monitors.size());
    return monitor >= 0 && monitor < count ? monitor : 0;
}

std::vector<DisplayMode> ModesOf(int monitor) {
    auto it = Screen().modes.find(monitor);
    if (it != Screen().modes.end()) return it->second;
    std::vector<DisplayMode> sizes;
    for (const MonitorRect& m : Screen().monitors) {
        const bool known = std::any_of(sizes.begin(), sizes.end(),
                                       [&](const DisplayMode& d) { return d.width == m.width && d.height == m.height; });
        if (!known) sizes.push_back(DisplayMode{m.width, m.height, 60});
    }
    return sizes;
}

// A token that is not null; fades have no state to keep here.
int fadeReservation = 0;

}  // namespace

void ResetScreen() {
    Lock lock(BackendMutex());
    Screen() = ScreenState{};
}

void SetMonitors(std::vector<MonitorRect> monitors) {
    Lock lock(BackendMutex());
    Screen().monitors = std::move(monitors);
    Screen().virtualModes.clear();
}

void SetDisplayModes(int monitor, std::vector<DisplayMode> modes) {
    Lock lock(BackendMutex());
    Screen().modes[monitor] = std::move(modes);
}

std::pair<int, int> VirtualMode(int monitor) {
    Lock lock(BackendMutex());
    auto it = Screen().virtualModes.find(monitor);
    return it == Screen().virtualModes.end() ? std::pair<int, int>{0, 0} : it->second;
}

int PresentationMode() {
    Lock lock(BackendMutex());
    return Screen().presentation;
}

std::vector<FadeCall> FadeLog() {
    Lock lock(BackendMutex());
    return Screen().fades;
}

MonitorList ListNativeMonitors() {
    Lock lock(BackendMutex());
    const ScreenState& s = Screen();
    MonitorList head;
    // Built from the back so that the list keeps the configured order.
    for (int i = static_cast<int>(s.monitors.size()) - 1; i >= 0; --i) {
        const MonitorRect& m = s.monitors[static_cast<size_t>(i)];
        auto entry = std::make_unique<qbMonitorEntry>();
        entry->x = m.x;
        entry->y = m.y;
        entry->width = m.width;
        entry->height = m.height;
        if (auto v = s.virtualModes.find(i); v != s.virtualModes.end()) {
            entry->width = v->second.first;
            entry->height = v->second.second;
        }
        entry->next = std::move(head);
        head = std::move(entry);
    }
    return head;
}

int ListNativeDisplayModes(qbDisplay* display, qbDisplayModeEntry* modes) {
    Lock lock(BackendMutex());
    if (Screen().monitors.empty()) return 0;
    const std::vector<DisplayMode> all = ModesOf(MonitorIndex(MonitorOfDisplay(display)));
    // The count alone is an upper bound for the caller's array.
    if (!modes) return static_cast<int>(all.size());
    int count = 0;
    for (const DisplayMode& m : all) {
        const bool listed = std::any_of(modes, modes + count, [&](const qbDisplayModeEntry& e) {
            return e.width == m.width && e.height == m.height;
        });
        if (listed) continue;
        modes[count] = qbDisplayModeEntry{};
        modes[count].width = m.width;
        modes[count].height = m.height;
        ++count;
    }
    return count;
}

int SetFullScreenMode(qbDisplay* display, int width, int height) {
    Lock lock(BackendMutex());
    if (Screen().monitors.empty()) return ERR_SCREEN;
    const int monitor = MonitorIndex(MonitorOfDisplay(display));
    const std::vector<DisplayMode> all = ModesOf(monitor);
    const bool held = std::any_of(all.begin(), all.end(),
                                  [&](const DisplayMode& m) { return m.width >= width && m.height >= height; });
    if (width < 1 || height < 1 || !held) return ERR_SCREEN;
    Screen().virtualModes[monitor] = {width, height};
    return 0;
}

int RestoreDisplayMode(qbDisplay* display) {
    Lock lock(BackendMutex());
    Screen().virtualModes.erase(MonitorIndex(MonitorOfDisplay(display)));
    return 0;
}

// Only a change from the normal mode makes a later return to it count.
void SetPresentationMode(int mode) {
    Lock lock(BackendMutex());
    if (mode == 0 && Screen().presentation == 0) return;
    Screen().presentation = mode;
}

void FadeDisplayOut(void** outToken, int wait) {
    Lock lock(BackendMutex());
    void* token = AnyWindowOpen() ? &fadeReservation : nullptr;
    if (outToken) *outToken = token;
    Screen().fades.push_back(FadeCall{true, token != nullptr, wait != 0});
}

void FadeDisplayIn(void* token, int wait) {
    Lock lock(BackendMutex());
    Screen().fades.push_back(FadeCall{false, token != nullptr, wait != 0});
}

// No desktop exists here: the player's own windows on black, the oldest
// lowest.
NativeBitmapPtr GrabScreenRegion(qbDisplay*, int x, int y, int width, int height) {
    Lock lock(BackendMutex());
    NativeBitmapPtr out(AllocNativeBitmapInFormat(width, height, kPixelFormatARGB32));
    if (!out) return nullptr;
    for (int row = 0; row < height; ++row) {
        auto* line = reinterpret_cast<uint32_t*>(out->pixels.get() + static_cast<size_t>(row) * out->bytesPerRow);
        std::fill(line, line + width, 0xFF000000u);
    }
    auto surfaces = OpenSurfaces();
    std::sort(surfaces.begin(), surfaces.end(),
              [](const auto& a, const auto& b) { return a.second->serial < b.second->serial; });
    for (const auto& [display, s] : surfaces) {
        if (!s->visible) continue;
        for (int row = 0; row < s->height; ++row) {
            const int64_t ty = int64_t{s->y} + row - y;
            if (ty < 0 || ty >= height) continue;
            auto* line = reinterpret_cast<uint32_t*>(out->pixels.get() + static_cast<size_t>(ty) * out->bytesPerRow);
            for (int col = 0; col < s->width; ++col) {
                const int64_t tx = int64_t{s->x} + col - x;
                if (tx >= 0 && tx < width) line[tx] = s->At(col, row);
            }
        }
    }
    return out;
}

}  // namespace null_backend
