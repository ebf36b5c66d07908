// SDL's audio device as the mixer's output: 48000 Hz float stereo asked
// for, whatever rate the driver gives taken, and the mixer rendered from
// SDL's callback, which runs with the device's lock held.
#include "platform/linux/sdl_audio.h"

#include <SDL.h>

#include <atomic>
#include <cstdlib>

#include "core/errcodes.h"
#include "core/errors.h"
#include "platform/mixer/mixer.h"

namespace {

constexpr int kDefaultRate = 48000;
constexpr Uint16 kWantedFrames = 1024;

struct SdlAudio {
    SDL_AudioDeviceID device = 0;
    int rate = 0;
    bool subsystem = false;
    bool running = false;
};

SdlAudio audio;
std::atomic<uint64_t> rendered{0};
int wantedRate = kDefaultRate;

void LockDevice() {
    if (audio.device) SDL_LockAudioDevice(audio.device);
}

void UnlockDevice() {
    if (audio.device) SDL_UnlockAudioDevice(audio.device);
}

void Callback(void*, Uint8* stream, int len) {
    const size_t frames = static_cast<size_t>(len) / (2 * sizeof(float));
    audio_mixer::Render(reinterpret_cast<float*>(stream), frames);
    rendered.fetch_add(frames, std::memory_order_relaxed);
}

int Fail() {
    SetErrorDetail(SDL_GetError());
    return ERR_OPENAUDIO;
}

void Forget() {
    audio_mixer::DetachDevice();
    audio = SdlAudio{};
}

// exit() from anywhere (a library's, a lost X connection, the end of
// main) runs this before the mixer's state is destroyed: the state was
// made before the step was registered, and exit() undoes in reverse order.
void CloseAtExit() { sdl_audio::DisposeAudioOutput(); }

}  // namespace

namespace sdl_audio {

int StartAudioOutput() {
    // A shutdown that quit SDL as a whole took the device with it.
    if (audio.device && !SDL_WasInit(SDL_INIT_AUDIO)) Forget();
    if (!audio.device) {
        KeepAlsaProbingQuiet();
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return Fail();
        audio.subsystem = true;
        SDL_AudioSpec want{};
        want.freq = wantedRate;
        want.format = AUDIO_F32SYS;
        want.channels = 2;
        want.samples = kWantedFrames;
        want.callback = &Callback;
        SDL_AudioSpec have{};
        audio.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
        if (audio.device == 0) {
            const int error = Fail();
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            audio.subsystem = false;
            return error;
        }
        audio.rate = have.freq;
        rendered.store(0, std::memory_order_relaxed);
        audio_mixer::AttachDevice(have.freq, &LockDevice, &UnlockDevice);
        static const bool closesAtExit = std::atexit(&CloseAtExit) == 0;
        (void)closesAtExit;
    }
    if (!audio.running) {
        SDL_PauseAudioDevice(audio.device, 0);
        audio.running = true;
    }
    return 0;
}

void StopAudioOutput() {
    if (!audio.device || !audio.running) return;
    SDL_PauseAudioDevice(audio.device, 1);
    audio.running = false;
}

void DisposeAudioOutput() {
    if (audio.device && SDL_WasInit(SDL_INIT_AUDIO)) {
        // Closing waits for a callback under way to return.
        SDL_CloseAudioDevice(audio.device);
        if (audio.subsystem) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    Forget();
}

void RequestRate(int rate) { wantedRate = rate > 0 ? rate : kDefaultRate; }

int ObtainedRate() { return audio.rate; }

uint64_t RenderedFrames() { return rendered.load(std::memory_order_relaxed); }

void FillAudioOps(qbPlatformOps& ops) {
    ops.StartAudioOutput = &StartAudioOutput;
    ops.StopAudioOutput = &StopAudioOutput;
    ops.DisposeAudioOutput = &DisposeAudioOutput;
    audio_mixer::FillChannelOps(ops);
}

}  // namespace sdl_audio
