// The system requester in an SDL message box, and the headless rule that
// keeps every Linux requester from waiting where nobody can answer.
#include <cstdlib>
#include <vector>

#include "core/chars.h"
#include "core/errcodes.h"
#include "platform/linux/requesters_linux.h"
#include "platform/linux/sdl_backend.h"
#include "platform/requesterrules.h"

namespace linux_requesters {

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

uint32_t IconFlags(int icon) {
    switch (icon) {
        case kReqIconNone:
        case kReqIconQuestion: return 0;
        case kReqIconInformation: return SDL_MESSAGEBOX_INFORMATION;
        case kReqIconError: return SDL_MESSAGEBOX_ERROR;
        default: return SDL_MESSAGEBOX_WARNING;
    }
}

// The window of the display that has the requester open, when it has one.
SDL_Window* ParentWindow() {
    for (const auto& w : sdl_backend::S().windows)
        if (w->window && w->view && w->view->requesterOpen) return w->window;
    return nullptr;
}

}  // namespace

const char* RequesterVideoDriver() {
    if (sdl_backend::S().video) return SDL_GetCurrentVideoDriver();
    if (Set("SDL_VIDEODRIVER")) return std::getenv("SDL_VIDEODRIVER");
    if (Set("WAYLAND_DISPLAY")) return "wayland";
    if (Set("DISPLAY")) return "x11";
    return nullptr;
}

bool RequestersHeadless() {
    if (!Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) return true;
    return !RequesterDriverUsable(RequesterVideoDriver());
}

int SystemRequesterNative(const char* title, const char* body, const char* buttons, int icon, int* outResult) {
    if (outResult) *outResult = 0;
    qbRequesterButtons set;
    if (int err = ParseButtonSet(buttons, &set)) return err;
    if (RequestersHeadless()) return ERR_WINDOW;
    std::vector<std::string> labels;
    for (const std::string& label : set.labels) labels.push_back(Latin1ToUTF8(label.c_str()));
    std::vector<SDL_MessageBoxButtonData> data(labels.size());
    for (size_t i = 0; i < labels.size(); ++i) {
        data[i].buttonid = static_cast<int>(i);
        data[i].text = labels[i].c_str();
        if (static_cast<int>(i) == set.defaultButton) data[i].flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
        if (static_cast<int>(i) == set.cancelButton) data[i].flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
    }
    const std::string utf8Title = Latin1ToUTF8(title ? title : "");
    const std::string utf8Body = Latin1ToUTF8(body ? body : "");
    SDL_MessageBoxData box{};
    box.flags = IconFlags(icon) | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
    box.window = ParentWindow();
    box.title = utf8Title.c_str();
    box.message = utf8Body.c_str();
    box.numbuttons = static_cast<int>(data.size());
    box.buttons = data.data();
    int pressed = -1;
    if (SDL_ShowMessageBox(&box, &pressed) < 0) return ERR_WINDOW;
    // A box closed without a button answers like its last button: 0.
    if (outResult && pressed >= 0 && pressed < static_cast<int>(set.results.size()))
        *outResult = set.results[pressed];
    return 0;
}

}  // namespace linux_requesters
