// The Linux backend's table: windows, input, monitors, full screens, fades
// and grabs on SDL2, process services of its own, audio through the player's
// mixer, requesters in SDL message boxes, GTK dialogs and zenity, folders and
// URLs of the desktop, the clipboard through SDL (text) or, on X11, GTK
// (text, pictures and other targets), native text through fontconfig and
// FreeType, pictures, sounds and movies through FFmpeg.
#include "core/errcodes.h"
#include "platform/linux/ffmovie.h"
#include "platform/linux/ffsource.h"
#include "platform/linux/linux_backend.h"
#include "platform/linux/nativefont.h"
#include "platform/linux/nativeimage.h"
#include "platform/linux/nativesound.h"
#include "platform/linux/requesters_linux.h"
#include "platform/linux/sdl_audio.h"
#include "platform/linux/sdl_backend.h"
#include "platform/op_fill.h"

namespace {

qbPlatformOps MakeLinuxOps() {
    qbPlatformOps ops = platform_fill::RefusingOps("linux");
#define QB_OP_REAL(op) ops.op = &linux_backend::op;
    QB_OP_REAL(EnterMain)
    QB_OP_REAL(CheckOSVersionAndActivate)
    QB_OP_REAL(InstallAppleEventHandlers)
    QB_OP_REAL(GetBundleExecutableArgs)
    QB_OP_REAL(GetBundlePath)
    QB_OP_REAL(GetExecutablePath)
    QB_OP_REAL(PrepareNativeDisplays)
    QB_OP_REAL(RunMainChunkWithTimerThread)
    QB_OP_REAL(CheckUserBreak)
    QB_OP_REAL(OpenDebugDevice)
    QB_OP_REAL(AllocPlatformBitmap)
    QB_OP_REAL(FreePlatformBitmap)
    QB_OP_REAL(LockPlatformBitmap)
    QB_OP_REAL(UnlockPlatformBitmap)
    QB_OP_REAL(GetPlatformBitmapAttr)
    QB_OP_REAL(GetPreferredPixelFormat)
    QB_OP_REAL(ReadNativePixel)
    QB_OP_REAL(WriteNativePixel)
    QB_OP_REAL(DrawNativeLine)
    QB_OP_REAL(ToNativePath)
    QB_OP_REAL(FormatDateTime)
    QB_OP_REAL(PrintConsoleV)
    QB_OP_REAL(GetPhysicalMemorySize)
    QB_OP_REAL(GetSystemFolderPath)
    QB_OP_REAL(GetPrefsPath)
    QB_OP_REAL(OpenURLNative)
    QB_OP_REAL(PollNativeMessage)
    QB_OP_REAL(CreateMessagePort)
    QB_OP_REAL(SendPortMessage)
#undef QB_OP_REAL
#define QB_OP_SDL(op) ops.op = &sdl_backend::op;
    QB_OP_SDL(StartNativeUI)
    QB_OP_SDL(ShutdownPlatform)
    QB_OP_SDL(PostWakeEvent)
    QB_OP_SDL(WaitForNativeEvent)
    QB_OP_SDL(AllocNativeWindowRec)
    QB_OP_SDL(FreeNativeWindowRec)
    QB_OP_SDL(MeasureWindowBorders)
    QB_OP_SDL(CreateNativeWindow)
    QB_OP_SDL(CloseNativeWindow)
    QB_OP_SDL(SetNativeWindowBounds)
    QB_OP_SDL(SetNativeWindowTitle)
    QB_OP_SDL(ActivateNativeWindow)
    QB_OP_SDL(CollapseNativeWindow)
    QB_OP_SDL(IsDisplaySizeSupported)
    QB_OP_SDL(UpdateWindowRegions)
    QB_OP_SDL(UpdateWindowMenuBar)
    QB_OP_SDL(GetNativeMenuItemState)
    QB_OP_SDL(SetNativeMenuItemState)
    QB_OP_SDL(SetWindowDropTarget)
    QB_OP_SDL(GetNativeDisplayAttr)
    QB_OP_SDL(FlushNativeWindow)
    QB_OP_SDL(BlitToWindow)
    QB_OP_SDL(BlitRectsToWindow)
    QB_OP_SDL(FillWindowRect)
    QB_OP_SDL(DrawWindowLine)
    QB_OP_SDL(WriteWindowPixel)
    QB_OP_SDL(ListNativeMonitors)
    QB_OP_SDL(ListNativeDisplayModes)
    QB_OP_SDL(SetFullScreenMode)
    QB_OP_SDL(RestoreDisplayMode)
    QB_OP_SDL(SetPresentationMode)
    QB_OP_SDL(FadeDisplayOut)
    QB_OP_SDL(FadeDisplayIn)
    QB_OP_SDL(GrabScreenRegion)
    QB_OP_SDL(PumpNativeEvents)
    QB_OP_SDL(SetQuitShortcut)
    QB_OP_SDL(GetKeyQualifiers)
    QB_OP_SDL(WatchClipboardChanges)
    QB_OP_SDL(EmptyClipboard)
    QB_OP_SDL(GetClipboardType)
    QB_OP_SDL(ReadClipboardContents)
    QB_OP_SDL(WriteClipboard)
    QB_OP_SDL(CreateNativePointer)
    QB_OP_SDL(FreeNativePointer)
    QB_OP_SDL(SetWindowPointer)
    QB_OP_SDL(HideWindowPointer)
    QB_OP_SDL(ShowWindowPointer)
    QB_OP_SDL(MoveNativePointer)
    QB_OP_SDL(RestoreArrowPointer)
    QB_OP_SDL(ScanJoysticks)
    QB_OP_SDL(ReadJoystick)
#undef QB_OP_SDL
#define QB_OP_REQUESTER(op) ops.op = &linux_requesters::op;
    QB_OP_REQUESTER(ColorRequesterNative)
    QB_OP_REQUESTER(ListRequesterNative)
    QB_OP_REQUESTER(StringRequesterNative)
    QB_OP_REQUESTER(SystemRequesterNative)
    QB_OP_REQUESTER(FontRequesterNative)
    QB_OP_REQUESTER(PathRequesterNative)
    QB_OP_REQUESTER(FileRequesterNative)
#undef QB_OP_REQUESTER
#define QB_OP_IMAGE(op) ops.op = &linux_images::op;
    QB_OP_IMAGE(DecodeNativeImage)
    QB_OP_IMAGE(DecodeNativeImageFromMemory)
    QB_OP_IMAGE(GetNativeImageData)
    QB_OP_IMAGE(FreeNativeImage)
    QB_OP_IMAGE(EncodeNativeImage)
#undef QB_OP_IMAGE
    // The second bounds entry serves callers that only move the window.
    ops.SetNativeWindowBoundsAlt = &sdl_backend::SetNativeWindowBounds;
    ops.ShowErrorBoxNative = &sdl_backend::ShowErrorBox;
    // Hooks with nothing to do here answer that all is well.
    ops.NativeAnimNone = &platform_fill::Neutral<decltype(ops.NativeAnimNone)>::call;
    ops.NoPlatformHook = &platform_fill::Neutral<decltype(ops.NoPlatformHook)>::call;
    ops.NoNativeVideoWindow = &platform_fill::Neutral<decltype(ops.NoNativeVideoWindow)>::call;
    linux_text::FillTextOps(ops);
    linux_movie::FillMovieOps(ops);
#define QB_OP_SOUND(op) ops.op = &linux_sound::op;
    QB_OP_SOUND(OpenNativeAudioFile)
    QB_OP_SOUND(ReadNativeAudioPackets)
    QB_OP_SOUND(CloseNativeAudioFile)
    QB_OP_SOUND(SetDecoderPacketBuffer)
    QB_OP_SOUND(LimitPacketPosition)
    QB_OP_SOUND(GetNativeStreamFormat)
    QB_OP_SOUND(GetNativeAudioFormatName)
#undef QB_OP_SOUND
#define QB_OP_MOVIE_SOURCE(op) ops.op = &ffsource::op;
    QB_OP_MOVIE_SOURCE(OpenMovieSource)
    QB_OP_MOVIE_SOURCE(CloseMovieSource)
    QB_OP_MOVIE_SOURCE(NextMoviePacket)
    QB_OP_MOVIE_SOURCE(FreeMoviePacket)
    QB_OP_MOVIE_SOURCE(DecodeMovieVideo)
    QB_OP_MOVIE_SOURCE(DecodeMovieAudio)
    QB_OP_MOVIE_SOURCE(SeekMovieSource)
    QB_OP_MOVIE_SOURCE(FlushMovieAudio)
    QB_OP_MOVIE_SOURCE(FlushMovieVideo)
#undef QB_OP_MOVIE_SOURCE
    sdl_audio::FillAudioOps(ops);
    return ops;
}

}  // namespace

const qbPlatformOps& LinuxPlatformOps() {
    static const qbPlatformOps ops = MakeLinuxOps();
    return ops;
}
