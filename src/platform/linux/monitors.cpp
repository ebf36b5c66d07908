// Monitors are SDL's video displays, each at the size of its virtual mode
// while a full screen has one; a display's modes are the sizes its monitor
// offers.
#include <algorithm>
#include <utility>
#include <vector>

#include "platform/linux/sdl_backend.h"

namespace sdl_backend {

MonitorList ListNativeMonitors() {
    if (!S().video) return nullptr;
    const int count = SDL_GetNumVideoDisplays();
    if (count <= 0) return nullptr;
    std::vector<SDL_Rect> bounds(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        SDL_Rect& b = bounds[static_cast<size_t>(i)];
        if (SDL_GetDisplayBounds(i, &b) != 0) return nullptr;
        if (const Desktop* d = FindDesktop(i)) {
            b.w = d->width;
            b.h = d->height;
        }
    }
    MonitorList head;
    // Built from the back so that the list keeps SDL's order.
    for (auto it = bounds.rbegin(); it != bounds.rend(); ++it) {
        auto entry = std::make_unique<qbMonitorEntry>();
        entry->x = it->x;
        entry->y = it->y;
        entry->width = it->w;
        entry->height = it->h;
        entry->next = std::move(head);
        head = std::move(entry);
    }
    return head;
}

int ListNativeDisplayModes(qbDisplay* display, qbDisplayModeEntry* modes) {
    if (!S().video) return 0;
    const int monitors = SDL_GetNumVideoDisplays();
    if (monitors <= 0) return 0;
    const qbNativeWindow* w = FindWindow(display);
    int monitor = w ? w->view->monitor : 0;
    if (monitor < 0 || monitor >= monitors) monitor = 0;
    std::vector<std::pair<int, int>> sizes;
    const int count = SDL_GetNumDisplayModes(monitor);
    // The count alone includes the same size at other rates: an upper bound
    // for the caller's array.
    if (!modes) return std::max(count, 0);
    for (int i = 0; i < count; ++i) {
        SDL_DisplayMode mode;
        if (SDL_GetDisplayMode(monitor, i, &mode) != 0) continue;
        const std::pair<int, int> size{mode.w, mode.h};
        if (std::find(sizes.begin(), sizes.end(), size) == sizes.end()) sizes.push_back(size);
    }
    {
        for (size_t i = 0; i < sizes.size(); ++i) {
            modes[i] = qbDisplayModeEntry{};
            modes[i].width = sizes[i].first;
            modes[i].height = sizes[i].second;
        }
    }
    return static_cast<int>(sizes.size());
}

}  // namespace sdl_backend
