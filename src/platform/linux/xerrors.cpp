// X protocol errors never end the player behind the script's back. Xlib's
// default handler prints the error and calls exit(): the script's error
// handling is bypassed, and the sound thread goes on mixing while the
// static state it reads is destroyed. Here an error is kept for the request
// that caused it to answer (the window opens check after their requests),
// or reported once on standard error where no command waits for it.
//
// Errors naming a window that has gone are dropped: SDL wakes a waiting
// event loop by sending an event to the player's window over a second
// connection to the X server, while the window itself is destroyed over the
// first, and the server may take the destroy first (on closing a display,
// or at the end of an applet).
//
// A lost connection cannot be carried on from: Xlib ends the process once
// its handler returns. The player says why and ends through exit(), whose
// steps close the sound device before the mixer's state goes.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/linux/sdl_backend.h"

namespace sdl_backend {

namespace {

bool installed = false;
// The first error no request has taken yet, as text for the error detail.
// Xlib calls the handler on whichever thread reads the connection.
std::mutex pendingLock;
bool pending = false;
char pendingText[160] = {};

int KeepError(Display* display, XErrorEvent* error) {
    if (error->error_code == BadWindow || error->error_code == BadDrawable) return 0;
    const std::lock_guard<std::mutex> hold(pendingLock);
    if (pending) return 0;
    pending = true;
    char text[96] = {};
    XGetErrorText(display, error->error_code, text, sizeof text);
    std::snprintf(pendingText, sizeof pendingText, "X error: %s (request %d.%d)", text, error->request_code,
                  error->minor_code);
    return 0;
}

int LostServer(Display*) {
    std::fprintf(stderr, "The connection to the X server was lost.\n");
    std::fflush(stderr);
    std::exit(1);
}

}  // namespace

void KeepGoneWindowErrorsNonFatal() {
    // SDL puts its own handler in front of the one it finds and hands every
    // error on to it: ours must be in place before SDL's, or each would hand
    // errors to the other.
    if (installed || SDL_WasInit(SDL_INIT_VIDEO)) return;
    installed = true;
    XSetErrorHandler(KeepError);
    XSetIOErrorHandler(LostServer);
}

bool TakeXError(char* detail, size_t size) {
    const std::lock_guard<std::mutex> hold(pendingLock);
    if (!pending) return false;
    pending = false;
    if (detail && size) std::snprintf(detail, size, "%s", pendingText);
    return true;
}

bool XRequestsFailed(SDL_Window* window, char* detail, size_t size) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return false;
    XSync(info.info.x11.display, False);
    return TakeXError(detail, size);
}

void ReportUntakenXError() {
    char text[sizeof pendingText];
    if (TakeXError(text, sizeof text)) std::fprintf(stderr, "%s\n", text);
}

}  // namespace sdl_backend
