// Keys and qualifiers. Special keys post their codes from the key itself;
// printable keys post the character of the text input that SDL sends after
// the press, in ISO 8859-1, and their release posts the same code again.
#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "platform/linux/sdl_backend.h"

namespace sdl_backend {

namespace {

enum : int {
    kKeyUp = 256,
    kKeyDown = 257,
    kKeyRight = 258,
    kKeyLeft = 259,
    kKeyHelp = 260,
    kKeyF1 = 261,
    kKeyBackspace = 271,
    kKeyTab = 272,
    kKeyReturn = 274,
    kKeyEscape = 275,
    kKeySpace = 276,
    kKeyDel = 277,
    kKeyF11 = 278,
    kKeyF12 = 279,
    kKeyHome = 281,
    kKeyEnd = 282,
    kKeyPageUp = 283,
    kKeyPageDown = 284,
    kKeyF13 = 287,
};

constexpr uint32_t kQualifierBase = 0x80000000u;
constexpr int kEuroCodePoint = 0x20AC;
constexpr int kEuroLatin1 = 164;

// The code of a key that does not type a character, or 0.
int SpecialCode(SDL_Keycode key) {
    if (key >= SDLK_F1 && key <= SDLK_F10) return kKeyF1 + (key - SDLK_F1);
    if (key >= SDLK_F13 && key <= SDLK_F16) return kKeyF13 + (key - SDLK_F13);
    switch (key) {
        case SDLK_UP: return kKeyUp;
        case SDLK_DOWN: return kKeyDown;
        case SDLK_RIGHT: return kKeyRight;
        case SDLK_LEFT: return kKeyLeft;
        case SDLK_HELP: return kKeyHelp;
        case SDLK_BACKSPACE: return kKeyBackspace;
        case SDLK_TAB: return kKeyTab;
        case SDLK_RETURN:
        case SDLK_RETURN2:
        case SDLK_KP_ENTER: return kKeyReturn;
        case SDLK_ESCAPE: return kKeyEscape;
        case SDLK_SPACE: return kKeySpace;
        case SDLK_DELETE: return kKeyDel;
        case SDLK_F11: return kKeyF11;
        case SDLK_F12: return kKeyF12;
        case SDLK_HOME: return kKeyHome;
        case SDLK_END: return kKeyEnd;
        case SDLK_PAGEUP: return kKeyPageUp;
        case SDLK_PAGEDOWN: return kKeyPageDown;
        default: return 0;
    }
}

bool IsReturn(SDL_Keycode key) { return key == SDLK_RETURN || key == SDLK_RETURN2 || key == SDLK_KP_ENTER; }

// The ISO 8859-1 code of a typed character, or 0 for none.
int Latin1Code(int codePoint) {
    if (codePoint == kEuroCodePoint) return kEuroLatin1;
    if (codePoint < 0x20 || codePoint == 0x7F || (codePoint >= 0x80 && codePoint < 0xA0) || codePoint > 0xFF) return 0;
    return codePoint;
}

// Next code point of a UTF-8 text; -1 for a broken sequence (one byte skipped).
int NextCodePoint(const unsigned char*& p) {
    const unsigned c = *p++;
    if (c < 0x80) return static_cast<int>(c);
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
    if (extra < 0 || c > 0xF4) return -1;
    int cp = static_cast<int>(c & (0x3F >> extra));
    for (; extra > 0; --extra) {
        if ((*p & 0xC0) != 0x80) return -1;
        cp = (cp << 6) | (*p++ & 0x3F);
    }
    return cp;
}

int PostKey(qbNativeWindow& w, bool down, uint32_t qualifiers, int code) {
    w.view->keyState[code] = down ? 1 : 0;
    const auto word = static_cast<int32_t>(qualifiers);
    return PostEvent(w.display, kEventKey, down ? 1 : 0, word, code, nullptr) < 0 ? ERR_MEM : 0;
}

// The Alt+Return (or Super+Return) release of a display that may switch.
int MaybeToggleFullScreen(qbNativeWindow& w) {
    const qbWindowView& v = *w.view;
    if ((v.flags & kWindowNoModeSwitch) || v.requesterOpen) return 0;
    if (v.canToggleFullScreen && !v.canToggleFullScreen(w.display)) return 0;
    w.modeSwitch = v.fullScreen ? 0 : 1;
    return PostEvent(w.display, kEventFullScreenToggle, 0, 0, 0, nullptr) < 0 ? ERR_MEM : 0;
}

}  // namespace

uint32_t QualifierWord(uint16_t mod) {
    uint32_t word = kQualifierBase;
    if (mod & KMOD_SHIFT) word |= 0x10000;
    if (mod & KMOD_RSHIFT) word |= 0x20000;
    if (mod & KMOD_ALT) word |= 0x40000;
    if (mod & KMOD_RALT) word |= 0x80000;
    if (mod & KMOD_GUI) word |= 0x100000;
    if (mod & KMOD_RGUI) word |= 0x200000;
    if (mod & KMOD_CTRL) word |= 0x400000;
    if (mod & KMOD_RCTRL) word |= 0x800000;
    return word;
}

namespace {
uint32_t HeldQualifiers() { return QualifierWord(static_cast<uint16_t>(SDL_GetModState())); }
}  // namespace

uint32_t GetKeyQualifiers() { return S().video ? HeldQualifiers() : kQualifierBase; }

int HandleKeyEvent(qbNativeWindow& w, const SDL_KeyboardEvent& key) {
    const bool down = key.type == SDL_KEYDOWN;
    const SDL_Scancode scancode = key.keysym.scancode;
    if (static_cast<unsigned>(scancode) >= SDL_NUM_SCANCODES) return 0;
    const uint16_t mod = key.keysym.mod;
    const bool control = (mod & KMOD_CTRL) != 0;
    const uint32_t qualifiers = QualifierWord(mod);
    const int special = SpecialCode(key.keysym.sym);
    if (down) {
        w.pendingScancode = scancode;
        w.pendingSwallowsText = special != 0 || control;
        w.pendingQualifiers = qualifiers;
        if (control) {
            if (key.keysym.sym == SDLK_c) w.ctrlC = true;
            return 0;
        }
        if (special == 0) return 0;  // the text input that follows posts it
        w.pressedCodes[scancode] = static_cast<int16_t>(special);
        if (special == kKeyEscape) w.escape = true;
        return PostKey(w, true, qualifiers, special);
    }
    // A release posts the code its press posted, whatever is held now.
    const int code = w.pressedCodes[scancode];
    w.pressedCodes[scancode] = 0;
    int error = 0;
    if (IsReturn(key.keysym.sym) && (mod & (KMOD_ALT | KMOD_GUI)) && !control) error = MaybeToggleFullScreen(w);
    if (code == 0) return error;
    const int keyError = PostKey(w, false, qualifiers, code);
    return error ? error : keyError;
}

int HandleTextInput(qbNativeWindow& w, const char* utf8) {
    if (!utf8) return 0;
    int scancode = w.pendingScancode;
    const bool swallow = w.pendingSwallowsText;
    const uint32_t qualifiers = scancode >= 0 ? w.pendingQualifiers : HeldQualifiers();
    w.pendingScancode = -1;
    if (scancode >= 0 && swallow) return 0;
    int error = 0;
    for (const auto* p = reinterpret_cast<const unsigned char*>(utf8); *p;) {
        const int code = Latin1Code(NextCodePoint(p));
        if (code == 0) continue;
        int e = PostKey(w, true, qualifiers, code);
        if (scancode >= 0) {
            // The first character belongs to the key still held.
            w.pressedCodes[scancode] = static_cast<int16_t>(code);
            scancode = -1;
        } else if (!e) {
            e = PostKey(w, false, qualifiers, code);
        }
        if (e && !error) error = e;
    }
    return error;
}

}  // namespace sdl_backend
