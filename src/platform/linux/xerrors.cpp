// X protocol errors that name a window which has gone. SDL wakes a waiting
// event loop by sending an event to the player's window over a second
// connection to the X server, while the window itself is destroyed over
// the first; the server may take the destroy first, and Xlib's default
// handler would end the player over that race (on closing a display, or
// at the end of an applet). Such errors are harmless and are dropped;
// every other error goes to the handler that was there before.
#include <SDL.h>
#include <X11/Xlib.h>

#include "platform/linux/sdl_backend.h"

namespace sdl_backend {

namespace {

XErrorHandler previousHandler = nullptr;
bool installed = false;

int DropGoneWindowErrors(Display* display, XErrorEvent* error) {
    if (error->error_code == BadWindow || error->error_code == BadDrawable) return 0;
    return previousHandler ? previousHandler(display, error) : 0;
}

}  // namespace

void KeepGoneWindowErrorsNonFatal() {
    // SDL puts its own handler in front of the one it finds and hands every
    // error on to it: ours must be in place before SDL's, or each would hand
    // errors to the other.
    if (installed || SDL_WasInit(SDL_INIT_VIDEO)) return;
    installed = true;
    previousHandler = XSetErrorHandler(DropGoneWindowErrors);
}

}  // namespace sdl_backend
