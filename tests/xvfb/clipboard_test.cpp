// The clipboard on a real X server, against another program's view of it:
// xclip reads what the player wrote and writes what the player reads, while
// the test keeps the player's side of the selection answering. Skipped where
// Xvfb or xclip is missing, or the player was built without GTK.
#if QB_TEST_HAVE_GTK
// Before the X headers, whose macros (None) it would trip over.
#include <gtest/gtest.h>

#include <png.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "imaging/bitmap.h"
#include "imaging/clipboardbitmaps.h"
#include "platform/linux/sdl_backend.h"
#include "platform/platform.h"
#include "queued_events.h"
#include "xvfb/virtual_screen.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

void PumpFor(std::chrono::milliseconds span) {
    const auto end = Clock::now() + span;
    while (Clock::now() < end) {
        int error = 0;
        PumpNativeEvents(nullptr, &error);
        EXPECT_EQ(error, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

class XClipboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!VirtualScreen::Get().Ready()) GTEST_SKIP() << "Xvfb is not installed or did not start";
        if (!HaveTool("xclip")) GTEST_SKIP() << "xclip is not installed";
        dir_ = fs::temp_directory_path() / ("qb-xclip-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        SetPlatformBackend(&LinuxPlatformOps());
        InstallClipboardBitmapHooks();
        ASSERT_EQ(InitEventQueue(), 0);
        ASSERT_EQ(StartNativeUI(), 0);
        ASSERT_STREQ(SDL_GetCurrentVideoDriver(), "x11");
    }
    void TearDown() override {
        for (const pid_t pid : servers_) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        if (dir_.empty()) return;
        ShutdownPlatform();
        ClearEventQueue(nullptr);
        SetPlatformBackend(nullptr);
        fs::remove_all(dir_);
    }

    pid_t Spawn(std::vector<std::string> args, const fs::path& in, const fs::path& out) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        const int spawned = posix_spawnp(&pid, "xclip", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(spawned, 0);
        return spawned == 0 ? pid : -1;
    }

    // What xclip prints for the target, while the player answers it.
    std::string XclipOut(const char* target) {
        const fs::path out = dir_ / "out";
        const pid_t pid = Spawn({"xclip", "-o", "-selection", "clipboard", "-t", target}, "/dev/null", out);
        int status = -1;
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (pid > 0 && ::waitpid(pid, &status, WNOHANG) == 0) {
            if (Clock::now() > end) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                ADD_FAILURE() << "xclip -o did not end";
                break;
            }
            PumpFor(std::chrono::milliseconds(5));
        }
        std::ifstream in(out, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // xclip holds the clipboard with the bytes as the target until the test
    // ends; waits until the player sees the new owner's type.
    void XclipIn(const char* target, const std::string& bytes, int expectedType) {
        const fs::path in = dir_ / ("in" + std::to_string(servers_.size()));
        std::ofstream(in, std::ios::binary) << bytes;
        servers_.push_back(Spawn({"xclip", "-quiet", "-selection", "clipboard", "-t", target, "-i"}, in, "/dev/null"));
        int type = -1;
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < end) {
            PumpFor(std::chrono::milliseconds(20));
            ASSERT_EQ(GetClipboardType(&type), 0);
            if (type == expectedType) return;
        }
        FAIL() << "the clipboard type stayed " << type;
    }

    fs::path dir_;
    std::vector<pid_t> servers_;
};

struct BitmapFree {
    void operator()(qbBitmap* b) const { FreeBitmap(b); }
};

TEST_F(XClipboardTest, TextCrossesBothWaysAndEmptyingLeavesNothing) {
    qbClipboardData data;
    data.text = "Gr\xfc\xdf" "e\r1";
    ASSERT_EQ(WriteClipboard(kClipboardText, &data), 0);
    EXPECT_EQ(XclipOut("UTF8_STRING"), "Gr\xc3\xbc\xc3\x9f" "e\r1");

    XclipIn("UTF8_STRING", "5 \xe2\x82\xac\r\nfin", kClipboardText);
    qbClipboardData read;
    int type = -1;
    ASSERT_EQ(ReadClipboardContents(&read, &type), 0);
    EXPECT_EQ(type, kClipboardText);
    EXPECT_EQ(read.text, "5 ?\n\nfin");

    ASSERT_EQ(EmptyClipboard(), 0);
    ASSERT_EQ(GetClipboardType(&type), 0);
    EXPECT_EQ(type, kClipboardEmpty);
    EXPECT_EQ(XclipOut("UTF8_STRING"), "");
}

// libpng's view of a PNG: 0xAARRGGBB pixels.
std::vector<uint32_t> DecodePng(const std::string& bytes, int* width, int* height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return {};
    image.format = PNG_FORMAT_BGRA;
    std::vector<uint32_t> pixels(size_t(image.width) * image.height);
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
    *width = static_cast<int>(image.width);
    *height = static_cast<int>(image.height);
    return pixels;
}

TEST_F(XClipboardTest, PicturesGoOutAsPngWithAlphaAndComeBack) {
    const std::vector<uint32_t> colours = {0xFF0000, 0x00FF00, 0x0000FF, 0x808080, 0x102030, 0xFFFFFF};
    const std::vector<uint8_t> alpha = {255, 128, 0, 64, 255, 1};
    qbBitmap* raw = nullptr;
    ASSERT_EQ(CreateBitmapFromARGB(colours.data(), kNoKeyColour, 3, 2, 3, false, 0, 0, &raw, nullptr, nullptr), 0);
    const std::unique_ptr<qbBitmap, BitmapFree> bitmap(raw);
    qbClipboardData data;
    data.width = 3;
    data.height = 2;
    data.bitmap = bitmap.get();
    data.alpha = alpha;
    ASSERT_EQ(WriteClipboard(kClipboardImage, &data), 0);
    int type = -1;
    ASSERT_EQ(GetClipboardType(&type), 0);
    EXPECT_EQ(type, kClipboardImage);

    const std::string png = XclipOut("image/png");
    int width = 0, height = 0;
    const std::vector<uint32_t> pixels = DecodePng(png, &width, &height);
    ASSERT_EQ(width, 3);
    ASSERT_EQ(height, 2);
    for (size_t i = 0; i < pixels.size(); ++i) {
        EXPECT_EQ(pixels[i] >> 24, alpha[i]) << i;
        // Fully transparent pixels may lose their colour on the way.
        if (alpha[i]) {
            EXPECT_EQ(pixels[i] & 0xFFFFFF, colours[i]) << i;
        }
    }

    // The player's own picture read back, then the same PNG from another
    // program.
    for (int round = 0; round < 2; ++round) {
        if (round == 1) XclipIn("image/png", png, kClipboardImage);
        qbClipboardData read;
        ASSERT_EQ(ReadClipboardContents(&read, &type), 0);
        ASSERT_EQ(type, kClipboardImage);
        const std::unique_ptr<qbBitmap, BitmapFree> back(read.bitmap);
        ASSERT_EQ(read.width, 3);
        ASSERT_EQ(read.height, 2);
        EXPECT_EQ(read.alpha, alpha);
        const std::vector<uint32_t> argb =
            GetBitmapARGB(back.get(), 0, 0, 3, 2, nullptr, nullptr, kNoKeyColour, false, kLockReadOnly);
        ASSERT_EQ(argb.size(), 6u);
        for (size_t i = 0; i < argb.size(); ++i) {
            if (alpha[i]) {
                EXPECT_EQ(argb[i] & 0xFFFFFF, colours[i]) << i;
            }
        }
    }
}

TEST_F(XClipboardTest, OnlyAnUnknownTargetIsUnknown) {
    XclipIn("text/x-weird", "odd", kClipboardUnknown);
    qbClipboardData read;
    int type = -1;
    ASSERT_EQ(ReadClipboardContents(&read, &type), 0);
    EXPECT_EQ(type, kClipboardUnknown);
    EXPECT_EQ(read.text, "");
    EXPECT_EQ(read.bitmap, nullptr);
}

TEST_F(XClipboardTest, AnotherProgramsCopyIsHeardOnceByTheListeningDisplay) {
    int a = 0, b = 0;
    qbDisplay* quiet = reinterpret_cast<qbDisplay*>(&a);
    qbDisplay* listening = reinterpret_cast<qbDisplay*>(&b);
    qbWindowView quietView, listeningView;
    listeningView.hasClipboardHandler = 1;
    for (auto [display, view] : {std::pair{quiet, &quietView}, std::pair{listening, &listeningView}}) {
        ASSERT_EQ(AllocNativeWindowRec(view, display), 0);
        ASSERT_EQ(CreateNativeWindow(display, 1, nullptr, nullptr), 0);
    }
    ASSERT_EQ(WatchClipboardChanges(listening), 0);
    PumpFor(std::chrono::milliseconds(200));
    FlushEvents(nullptr, -1, 1);

    XclipIn("UTF8_STRING", "copied", kClipboardText);
    PumpFor(std::chrono::milliseconds(300));
    int notices = 0;
    for (const qbInputEvent& e : QueuedEvents()) {
        if (e.type != uint32_t{kEventClipboardChanged}) continue;
        EXPECT_EQ(e.display, listening);
        ++notices;
    }
    EXPECT_EQ(notices, 1);
}

}  // namespace

#endif  // QB_TEST_HAVE_GTK
