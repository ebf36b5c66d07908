// The Linux backend's table. What needs no window system is real; the
// window, input, audio, image, text and movie operations refuse until the
// window system is wired in.
#include "core/errcodes.h"
#include "platform/linux/linux_backend.h"
#include "platform/op_fill.h"

namespace {

// Answers that would read as success when refused with an error code.
int NoNativeFont(const char*, int, uint32_t, qbFont*) { return 0; }
int NoFontEngine() { return 0; }
int NoSizeSupported(qbDisplay*) { return 0; }
int NoDisplayModes(qbDisplay*, qbDisplayModeEntry*) { return 0; }
intptr_t NoDisplayAttr(qbDisplay*, int) { return 0; }
int NoQuickTime(const char*, qbMovieInfo*) { return ERR_QUICKTIME; }
int NoImageDecoder(qbNativeImageRequest*) { return ERR_LOADPICTURE2; }
int NoSoundDecoder(const char*, uint32_t, qbNativeAudioFile** out) {
    if (out) *out = nullptr;
    return ERR_OPENSOUND2;
}
int NoAudioOutput() { return ERR_OPENAUDIO; }
int NoWindow(qbDisplay*, int, qbNativeBitmap*, const uint8_t*) { return ERR_WINDOW; }

qbPlatformOps MakeLinuxOps() {
    qbPlatformOps ops = platform_fill::RefusingOps("linux");
#define QB_OP_REAL(op) ops.op = &linux_backend::op;
    QB_OP_REAL(EnterMain)
    QB_OP_REAL(CheckOSVersionAndActivate)
    QB_OP_REAL(InstallAppleEventHandlers)
    QB_OP_REAL(GetBundleExecutableArgs)
    QB_OP_REAL(GetBundlePath)
    QB_OP_REAL(GetExecutablePath)
    QB_OP_REAL(StartNativeUI)
    QB_OP_REAL(PrepareNativeDisplays)
    QB_OP_REAL(RunMainChunkWithTimerThread)
    QB_OP_REAL(CheckUserBreak)
    QB_OP_REAL(OpenDebugDevice)
    QB_OP_REAL(ShutdownPlatform)
    QB_OP_REAL(PostWakeEvent)
    QB_OP_REAL(WaitForNativeEvent)
    QB_OP_REAL(AllocPlatformBitmap)
    QB_OP_REAL(FreePlatformBitmap)
    QB_OP_REAL(LockPlatformBitmap)
    QB_OP_REAL(UnlockPlatformBitmap)
    QB_OP_REAL(GetPlatformBitmapAttr)
    QB_OP_REAL(GetPreferredPixelFormat)
    QB_OP_REAL(ToNativePath)
    QB_OP_REAL(FormatDateTime)
    QB_OP_REAL(PrintConsoleV)
    QB_OP_REAL(GetPhysicalMemorySize)
#undef QB_OP_REAL
    ops.OpenNativeFont = &NoNativeFont;
    ops.NativeFontEngineAvailable = &NoFontEngine;
    ops.IsDisplaySizeSupported = &NoSizeSupported;
    ops.ListNativeDisplayModes = &NoDisplayModes;
    ops.GetNativeDisplayAttr = &NoDisplayAttr;
    ops.OpenQuickTimeMovie = &NoQuickTime;
    ops.DecodeNativeImage = &NoImageDecoder;
    ops.OpenNativeAudioFile = &NoSoundDecoder;
    ops.StartAudioOutput = &NoAudioOutput;
    ops.CreateNativeWindow = &NoWindow;
    return ops;
}

}  // namespace

const qbPlatformOps& LinuxPlatformOps() {
    static const qbPlatformOps ops = MakeLinuxOps();
    return ops;
}
