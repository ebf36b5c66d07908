// Joysticks through SDL's joystick API: the list is made once, by the first
// scan or read, and kept until shutdown. SDL reports calibrated axes, so the
// direction only needs their range mapped onto -1000..1000.
#include <algorithm>

#include "core/errcodes.h"
#include "platform/linux/sdl_backend.h"

namespace sdl_backend {

namespace {

constexpr int kDirectionThreshold = 500;
constexpr int kMaxButtons = 32;

enum : int {
    kJoyUp = 0,
    kJoyUpRight = 1,
    kJoyRight = 2,
    kJoyDownRight = 3,
    kJoyDown = 4,
    kJoyDownLeft = 5,
    kJoyLeft = 6,
    kJoyUpLeft = 7,
    kJoyNoDirection = 8,
};

int ReadAxis(SDL_Joystick* joystick, int axis) {
    return SDL_JoystickNumAxes(joystick) > axis ? ScaleJoystickAxis(SDL_JoystickGetAxis(joystick, axis)) : 0;
}

}  // namespace

int ScaleJoystickAxis(int16_t value) { return (int{value} + 32768) * 2000 / 65535 - 1000; }

int JoystickDirection(int x, int y) {
    const bool right = x > kDirectionThreshold, left = x < -kDirectionThreshold;
    const bool down = y > kDirectionThreshold, up = y < -kDirectionThreshold;
    if (up) return right ? kJoyUpRight : left ? kJoyUpLeft : kJoyUp;
    if (down) return right ? kJoyDownRight : left ? kJoyDownLeft : kJoyDown;
    return right ? kJoyRight : left ? kJoyLeft : kJoyNoDirection;
}

int ScanJoysticks(int* outCount) {
    Session& s = S();
    if (!s.joysticksScanned) {
        if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
            if (outCount) *outCount = 0;
            return ERR_JOYSTICK;
        }
        s.joystickSubsystem = true;
        SDL_JoystickEventState(SDL_IGNORE);
        const int count = SDL_NumJoysticks();
        for (int i = 0; i < count; ++i) {
            // A device that cannot be opened is left out.
            if (SDL_Joystick* joystick = SDL_JoystickOpen(i)) s.joysticks.push_back(joystick);
        }
        s.joysticksScanned = true;
    }
    if (outCount) *outCount = static_cast<int>(s.joysticks.size());
    return 0;
}

int ReadJoystick(int port, int* outDirection, int* outButtons) {
    Session& s = S();
    if (const int error = ScanJoysticks(nullptr)) return error;
    if (port < 0 || static_cast<size_t>(port) >= s.joysticks.size()) return ERR_NOJOYATPORT;
    SDL_Joystick* joystick = s.joysticks[static_cast<size_t>(port)];
    SDL_JoystickUpdate();
    if (outDirection) *outDirection = JoystickDirection(ReadAxis(joystick, 0), ReadAxis(joystick, 1));
    if (outButtons) {
        uint32_t mask = 0;
        const int buttons = std::min(SDL_JoystickNumButtons(joystick), kMaxButtons);
        for (int i = 0; i < buttons; ++i)
            if (SDL_JoystickGetButton(joystick, i)) mask |= 1u << i;
        *outButtons = static_cast<int>(mask);
    }
    return 0;
}

void ReleaseJoysticks() {
    Session& s = S();
    for (SDL_Joystick* joystick : s.joysticks) SDL_JoystickClose(joystick);
    s.joysticks.clear();
    if (s.joystickSubsystem) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    s.joystickSubsystem = false;
    s.joysticksScanned = false;
}

}  // namespace sdl_backend
