// alsa-lib reports every failed step of a device search on standard error
// ("ALSA lib confmisc.c:... cannot find card '0'" and seven more lines on a
// machine without a sound card), even when SDL goes on to another driver or
// the run needs no sound at all. SDL loads the library itself and installs
// no handler, so the player installs a silent one in the same library
// before SDL's audio starts; SDL's own reason still reaches the player's
// error text when no device opens.
#include <dlfcn.h>

#include "platform/linux/sdl_audio.h"

namespace {

void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

using AlsaErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);
using SetAlsaErrorHandler = int (*)(AlsaErrorHandler);

}  // namespace

namespace sdl_audio {

void KeepAlsaProbingQuiet() {
    // The library stays loaded for the rest of the process: unloading it
    // would drop the handler before SDL's next search.
    static void* const library = [] {
        void* lib = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
        if (lib) {
            auto set = reinterpret_cast<SetAlsaErrorHandler>(dlsym(lib, "snd_lib_error_set_handler"));
            if (set) set(&IgnoreAlsaError);
        }
        return lib;
    }();
    (void)library;
}

}  // namespace sdl_audio
