// Every backend operation exists in both backends and as a free function;
// the Linux backend refuses what it cannot do yet and does the rest for real.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "core/bitmaplock.h"
#include "core/errcodes.h"
#include "platform/platform.h"

namespace {

struct BackendGuard {
    explicit BackendGuard(const qbPlatformOps* ops) { SetPlatformBackend(ops); }
    ~BackendGuard() { SetPlatformBackend(nullptr); }
    BackendGuard(const BackendGuard&) = delete;
    BackendGuard& operator=(const BackendGuard&) = delete;
};

void ExpectComplete(const qbPlatformOps& ops) {
#define QB_OP_PRESENT(ret, op, params, args) EXPECT_NE(ops.op, nullptr) << ops.name << " lacks " #op;
    QB_PLATFORM_OPERATIONS(QB_OP_PRESENT)
#undef QB_OP_PRESENT
}

TEST(PlatformOps, EveryOperationLinksAsFreeFunction) {
    int count = 0;
#define QB_OP_ADDRESS(ret, op, params, args)  \
    {                                         \
        ret(*address) params = &::op;         \
        EXPECT_NE(address, nullptr) << #op;   \
        ++count;                              \
    }
    QB_PLATFORM_OPERATIONS(QB_OP_ADDRESS)
#undef QB_OP_ADDRESS
    EXPECT_GT(count, 130);
}

TEST(PlatformOps, BothBackendsFillEveryOperation) {
    ExpectComplete(NullPlatformOps());
    ExpectComplete(LinuxPlatformOps());
    EXPECT_STREQ(NullPlatformOps().name, "null");
    EXPECT_STREQ(LinuxPlatformOps().name, "linux");
}

TEST(PlatformOps, InMemoryBackendIsActiveUntilAnotherIsSet) {
    EXPECT_EQ(&ActivePlatformOps(), &NullPlatformOps());
    {
        BackendGuard guard(&LinuxPlatformOps());
        EXPECT_EQ(&ActivePlatformOps(), &LinuxPlatformOps());
        // The free functions follow the switch: SDL refuses a driver it
        // does not have, the in-memory device opens.
        const char* driver = std::getenv("SDL_AUDIODRIVER");
        const std::string saved = driver ? driver : "";
        setenv("SDL_AUDIODRIVER", "nonexistent", 1);
        EXPECT_EQ(StartAudioOutput(), ERR_OPENAUDIO);
        if (driver) {
            setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
        } else {
            unsetenv("SDL_AUDIODRIVER");
        }
    }
    EXPECT_EQ(&ActivePlatformOps(), &NullPlatformOps());
    EXPECT_EQ(StartAudioOutput(), 0);
    DisposeAudioOutput();
}

TEST(PlatformOps, LinuxRefusesWhatNeedsAWindowSystem) {
    const qbPlatformOps& ops = LinuxPlatformOps();
    EXPECT_EQ(ops.CreateNativeWindow(nullptr, 1, nullptr, nullptr), ERR_WINDOW);
    EXPECT_EQ(ops.SetFullScreenMode(nullptr, 640, 480), ERR_SCREEN);
    // Headless (the dummy driver), no requester waits for an answer.
    EXPECT_EQ(ops.ColorRequesterNative(0, nullptr), ERR_WINDOW);
    // Answers whose success is non-zero must not read as success.
    EXPECT_EQ(ops.OpenNativeFont("Sans", 12, nullptr), 0);
    qbNativeImageRequest image;
    // A request without a file or data has no source to read.
    EXPECT_EQ(ops.DecodeNativeImage(&image), ERR_MEM);
    qbMovieInfo movie;
    // The movie decoder reads files; this one is missing.
    EXPECT_EQ(ops.OpenQuickTimeMovie("a.mov", &movie), ERR_LOADVIDEO);
    qbNativeAudioFile* sound = reinterpret_cast<qbNativeAudioFile*>(&movie);
    // The sound decoder reads files; this one is missing.
    EXPECT_EQ(ops.OpenNativeAudioFile("a.aiff", 0, &sound), ERR_READFILE);
    EXPECT_EQ(sound, nullptr);
}

TEST(PlatformOps, StartUpOperationsHaveRealBodies) {
    for (const qbPlatformOps* ops : {&LinuxPlatformOps(), &NullPlatformOps()}) {
        EXPECT_EQ(ops->CheckOSVersionAndActivate(), 0);
        char args[16] = "stale";
        ops->GetBundleExecutableArgs(args, sizeof args);
        EXPECT_STREQ(args, "");

        char exe[1024];
        char bundle[1024];
        ops->GetExecutablePath(exe, sizeof exe);
        ops->GetBundlePath(bundle, sizeof bundle);
        ASSERT_EQ(exe[0], '/');
        const std::string exePath = exe;
        const std::string folder = exePath.substr(0, exePath.rfind('/'));
        EXPECT_EQ(std::string(bundle), folder);

        EXPECT_EQ(ops->EnterMain(3, nullptr, [](int argc, char**) { return argc * 7; }), 21);
    }
}

TEST(PlatformOps, NativePathsAreUtf8WithForwardSlashes) {
    for (const qbPlatformOps* ops : {&LinuxPlatformOps(), &NullPlatformOps()}) {
        EXPECT_EQ(ops->ToNativePath("a\\b/c"), std::optional<std::string>("a/b/c"));
        // e acute in ISO 8859-1 becomes two bytes.
        EXPECT_EQ(ops->ToNativePath("caf\xE9"), std::optional<std::string>("caf\xC3\xA9"));
        EXPECT_EQ(ops->ToNativePath(std::string(1023, 'x').c_str())->size(), 1023u);
        EXPECT_EQ(ops->ToNativePath(std::string(1024, 'x').c_str()), std::nullopt);
        EXPECT_EQ(ops->ToNativePath(nullptr), std::nullopt);
    }
}

TEST(PlatformOps, DatesHaveTheFixedShapes) {
    for (const qbPlatformOps* ops : {&LinuxPlatformOps(), &NullPlatformOps()}) {
        char date[64];
        char time[64];
        ops->FormatDateTime(1, date, sizeof date, time, sizeof time);
        ASSERT_EQ(std::strlen(date), 8u) << date;
        EXPECT_EQ(date[2], '-');
        EXPECT_EQ(date[5], '-');
        ASSERT_EQ(std::strlen(time), 8u) << time;
        EXPECT_EQ(time[2], ':');
        EXPECT_EQ(time[5], ':');

        std::strcpy(date, "stale");
        std::strcpy(time, "stale");
        ops->FormatDateTime(2, date, sizeof date, time, sizeof time);
        EXPECT_EQ(std::strlen(date), 8u);
        EXPECT_STREQ(time, "");
        // A small buffer is never overrun.
        char tiny[4] = {'a', 'b', 'c', 'd'};
        ops->FormatDateTime(2, tiny, 3, nullptr, 0);
        EXPECT_EQ(tiny[2], 0);
        EXPECT_EQ(tiny[3], 'd');
        EXPECT_TRUE(tiny[0] >= '0' && tiny[0] <= '2');
        ops->FormatDateTime(99, date, sizeof date, time, sizeof time);
        EXPECT_STREQ(date, "");
        EXPECT_GT(ops->GetPhysicalMemorySize(), uint64_t{1} << 20);
    }
}

TEST(PlatformOps, WakeReachesTheWaitThroughEitherBackend) {
    for (const qbPlatformOps* ops : {&LinuxPlatformOps(), &NullPlatformOps()}) {
        ASSERT_EQ(ops->PostWakeEvent(), 0);
        EXPECT_EQ(ops->WaitForNativeEvent(5000), 0);
    }
}

TEST(PlatformOps, OffscreenBitmapsAreHostOrderARGBWithPaddedRows) {
    for (const qbPlatformOps* ops : {&LinuxPlatformOps(), &NullPlatformOps()}) {
        EXPECT_EQ(ops->GetPreferredPixelFormat(), 10);
        qbNativeBitmap* bitmap = ops->AllocPlatformBitmap(5, 3);
        ASSERT_NE(bitmap, nullptr);
        qbBitmapLock lock;
        ASSERT_NE(ops->LockPlatformBitmap(bitmap, &lock), 0);
        EXPECT_EQ(lock.rowLength, 8);
        EXPECT_EQ(lock.pixelFormat, 10u);
        EXPECT_EQ(lock.pixels, reinterpret_cast<void*>(ops->GetPlatformBitmapAttr(bitmap, kNativeAttrPixels)));
        ops->UnlockPlatformBitmap(bitmap);
        ops->FreePlatformBitmap(bitmap);
        EXPECT_EQ(ops->AllocPlatformBitmap(3, -1), nullptr);
    }
}

}  // namespace
