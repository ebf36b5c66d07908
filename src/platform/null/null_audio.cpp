// The in-memory backend's audio device: no sound card and no clock. A test
// pulls frames at a rate of its choosing, and the mixer renders them exactly
// as SDL's callback would, under the same kind of lock.
#include <algorithm>
#include <mutex>

#include "platform/mixer/mixer.h"
#include "platform/null/null_backend.h"

namespace {

struct PullDevice {
    std::mutex mutex;  // the device lock: held while rendering
    int rate = 48000;
    bool open = false;
    bool running = false;
};

PullDevice& D() {
    static PullDevice device;
    return device;
}

void LockDevice() { D().mutex.lock(); }
void UnlockDevice() { D().mutex.unlock(); }

int StartPullAudio() {
    PullDevice& d = D();
    if (!d.open) {
        audio_mixer::AttachDevice(d.rate, &LockDevice, &UnlockDevice);
        d.open = true;
    }
    std::lock_guard lock(d.mutex);
    d.running = true;
    return 0;
}

void StopPullAudio() {
    std::lock_guard lock(D().mutex);
    D().running = false;
}

void DisposePullAudio() {
    PullDevice& d = D();
    if (!d.open) return;
    StopPullAudio();
    audio_mixer::DetachDevice();
    d.open = false;
}

}  // namespace

namespace null_backend {

void SetAudioPullRate(int rate) {
    PullDevice& d = D();
    if (rate <= 0) return;
    if (d.open) {
        // The mixer reads the rate with the lock held.
        std::lock_guard lock(d.mutex);
        d.rate = rate;
        audio_mixer::AttachDevice(rate, &LockDevice, &UnlockDevice);
    } else {
        d.rate = rate;
    }
}

void PullAudio(float* out, size_t frames) {
    PullDevice& d = D();
    std::lock_guard lock(d.mutex);
    if (!d.running) {
        std::fill(out, out + 2 * frames, 0.0f);
        return;
    }
    audio_mixer::Render(out, frames);
}

std::vector<float> PullAudio(size_t frames) {
    std::vector<float> out(2 * frames);
    PullAudio(out.data(), frames);
    return out;
}

bool AudioRunning() {
    std::lock_guard lock(D().mutex);
    return D().running;
}

void FillPullAudioOps(qbPlatformOps& ops) {
    ops.StartAudioOutput = &StartPullAudio;
    ops.StopAudioOutput = &StopPullAudio;
    ops.DisposeAudioOutput = &DisposePullAudio;
    audio_mixer::FillChannelOps(ops);
}

}  // namespace null_backend
