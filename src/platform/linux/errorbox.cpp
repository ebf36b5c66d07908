// The error that ends the player, in a message box when a real display is
// there to show it (standard error has it already). A headless run (no
// display server, or SDL's dummy or offscreen driver) must never wait on a
// dialog, and QB_NO_ERROR_BOX keeps test runs under a virtual display from
// doing so.
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/chars.h"
#include "platform/linux/sdl_backend.h"

namespace sdl_backend {

namespace {

// The video driver that would show the box, or null when none can.
const char* ErrorBoxDriver() {
    if (S().video) return SDL_GetCurrentVideoDriver();
    if (const char* chosen = std::getenv("SDL_VIDEODRIVER"); chosen && *chosen) return chosen;
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland && *wayland) return "wayland";
    if (const char* x11 = std::getenv("DISPLAY"); x11 && *x11) return "x11";
    return nullptr;
}

}  // namespace

bool ErrorBoxWanted(const char* videoDriver, const char* noBoxSwitch) {
    if (noBoxSwitch && *noBoxSwitch && std::strcmp(noBoxSwitch, "0") != 0) return false;
    if (!videoDriver || !*videoDriver) return false;
    return SDL_strcasecmp(videoDriver, "dummy") != 0 && SDL_strcasecmp(videoDriver, "offscreen") != 0;
}

void ShowErrorBox(const char* text) {
    if (!text) return;
    if (!ErrorBoxWanted(ErrorBoxDriver(), std::getenv("QB_NO_ERROR_BOX"))) return;
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "QuenbrookPlayer", Latin1ToUTF8(text).c_str(), nullptr);
}

}  // namespace sdl_backend
