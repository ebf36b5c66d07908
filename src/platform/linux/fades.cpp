// Fades to black and back in software, on the player's own windows only:
// while a fade runs every present is scaled by its level, out over half a
// second, black until the fade-in, and back over a second. The window
// system's gamma is never touched, so nothing outlives the process.
#include <cstring>
#include <vector>

#include "platform/linux/sdl_backend.h"

namespace sdl_backend {

namespace {

constexpr int64_t kFadeOutNanos = 500'000'000;
constexpr int64_t kFadeInNanos = 1'000'000'000;
constexpr int kFullLevel = 256;
// Between the frames of a fade that is waited for.
constexpr int kFadeFrameMillis = 10;

bool AnyWindowShown() {
    for (const auto& w : S().windows)
        if (w->window || w->buffer) return true;
    return !S().desktops.empty();
}

void MarkEverythingDirty() {
    Session& s = S();
    for (const auto& w : s.windows) {
        w->dirty.clear();
        w->dirtyAll = true;
    }
    for (const auto& d : s.desktops) d->dirtyAll = true;
    s.anyDirty = true;
}

// Presents frames until the fade has reached its end (a clock that stands
// still, as a test's may, ends it after a second's worth of frames).
void RunFade() {
    constexpr int kMaxFrames = 1000 / kFadeFrameMillis;
    for (int frame = 0; Fading() && frame < kMaxFrames; ++frame) {
        PresentAllPending();
        if (!S().fadeClock) SDL_Delay(static_cast<uint32_t>(kFadeFrameMillis));
    }
    FadeState& f = S().fade;
    if (f.kind == FadeState::kOut) f.kind = FadeState::kBlack;
    if (f.kind == FadeState::kIn) f.kind = FadeState::kNone;
    MarkEverythingDirty();
    PresentAllPending();
}

uint32_t Scaled(uint32_t channel, int level) { return channel * static_cast<uint32_t>(level) >> 8; }

}  // namespace

int64_t FadeNanos() { return S().fadeClock ? S().fadeClock() : MonotonicNanos(); }

int FadeLevel() {
    const FadeState& f = S().fade;
    const int64_t t = FadeNanos() - f.startNanos;
    switch (f.kind) {
        case FadeState::kOut: return t >= kFadeOutNanos ? 0 : static_cast<int>(kFullLevel - t * kFullLevel / kFadeOutNanos);
        case FadeState::kBlack: return 0;
        case FadeState::kIn: return t >= kFadeInNanos ? kFullLevel : static_cast<int>(t * kFullLevel / kFadeInNanos);
        default: return kFullLevel;
    }
}

// A fade that reached its end settles: out stays black, in is over (and
// the windows are shown once more at full level).
bool Fading() {
    FadeState& f = S().fade;
    const int64_t t = FadeNanos() - f.startNanos;
    if (f.kind == FadeState::kOut && t >= kFadeOutNanos) {
        f.kind = FadeState::kBlack;
        MarkEverythingDirty();
    } else if (f.kind == FadeState::kIn && t >= kFadeInNanos) {
        f.kind = FadeState::kNone;
        MarkEverythingDirty();
    }
    return f.kind == FadeState::kOut || f.kind == FadeState::kIn;
}

void PresentFaded(qbNativeWindow& w) {
    SDL_Surface* surface = SDL_GetWindowSurface(w.window);
    if (!surface || SDL_LockSurface(surface) != 0) return;
    const int level = FadeLevel();
    const size_t bytes = static_cast<size_t>(surface->pitch) * static_cast<size_t>(surface->h);
    auto* pixels = static_cast<uint8_t*>(surface->pixels);
    std::vector<uint8_t> kept(pixels, pixels + bytes);
    const SDL_PixelFormat* f = surface->format;
    const int bpp = f->BytesPerPixel;
    for (int y = 0; y < surface->h; ++y) {
        uint8_t* p = pixels + static_cast<ptrdiff_t>(y) * surface->pitch;
        for (int x = 0; x < surface->w; ++x, p += bpp) {
            uint32_t pixel = 0;
            std::memcpy(&pixel, p, static_cast<size_t>(bpp));
            uint8_t r, g, b;
            SDL_GetRGB(pixel, f, &r, &g, &b);
            pixel = SDL_MapRGB(f, static_cast<uint8_t>(Scaled(r, level)), static_cast<uint8_t>(Scaled(g, level)),
                               static_cast<uint8_t>(Scaled(b, level)));
            std::memcpy(p, &pixel, static_cast<size_t>(bpp));
        }
    }
    SDL_UnlockSurface(surface);
    SDL_UpdateWindowSurface(w.window);
    // The surface is the copy the window shows: drawing goes on over the
    // picture, not over its faded frame.
    if (SDL_LockSurface(surface) == 0) {
        std::memcpy(surface->pixels, kept.data(), bytes);
        SDL_UnlockSurface(surface);
    }
}

// Nothing to fade while the player shows no window: the token stays 0.
void FadeDisplayOut(void** outToken, int wait) {
    Session& s = S();
    if (outToken) *outToken = nullptr;
    if (!s.video || !AnyWindowShown()) return;
    // A fade that begins while another runs goes on from the level shown:
    // the clock starts as far back as the level lies below full.
    const int level = FadeLevel();
    s.fade = FadeState{FadeState::kOut, FadeNanos() - (kFullLevel - level) * kFadeOutNanos / kFullLevel};
    s.anyDirty = true;
    if (outToken) *outToken = &s.fade;
    if (wait) RunFade();
}

void FadeDisplayIn(void* token, int wait) {
    Session& s = S();
    if (!token || !s.video) return;
    const int level = FadeLevel();
    s.fade = FadeState{FadeState::kIn, FadeNanos() - level * kFadeInNanos / kFullLevel};
    MarkEverythingDirty();
    if (wait) RunFade();
}

}  // namespace sdl_backend
