// The Linux backend's clipboard under SDL's dummy video driver, which keeps
// the text in the process as a desktop clipboard would.
#include <SDL.h>

#include "core/errcodes.h"
#include "linux_fixture.h"

namespace {

using ClipboardTest = LinuxBackendTest;

std::string ReadText(int expectedType) {
    qbClipboardData data;
    int type = -1;
    EXPECT_EQ(ReadClipboardContents(&data, &type), 0);
    EXPECT_EQ(type, expectedType);
    return data.text;
}

int WriteText(const std::string& text) {
    qbClipboardData data;
    data.text = text;
    return WriteClipboard(kClipboardText, &data);
}

std::string DesktopText() {
    char* utf8 = SDL_GetClipboardText();
    std::string text = utf8 ? utf8 : "";
    SDL_free(utf8);
    return text;
}

TEST_F(ClipboardTest, TextGoesOutAsUTF8AndComesBackAsLatin1WithLineFeeds) {
    int type = -1;
    EXPECT_EQ(GetClipboardType(&type), 0);
    EXPECT_EQ(type, kClipboardEmpty);
    EXPECT_EQ(ReadText(kClipboardEmpty), "");

    ASSERT_EQ(WriteText("a\rb"), 0);
    EXPECT_EQ(ReadText(kClipboardText), "a\nb");

    // Characters that Mac OS Roman lacks (one half) survive too.
    ASSERT_EQ(WriteText("Gr\xfc\xdf" "e \xbd"), 0);
    EXPECT_EQ(DesktopText(), "Gr\xc3\xbc\xc3\x9f" "e \xc2\xbd");
    EXPECT_EQ(ReadText(kClipboardText), "Gr\xfc\xdf" "e \xbd");

    // Another program's text beyond ISO 8859-1.
    ASSERT_EQ(SDL_SetClipboardText("5 \xe2\x82\xac\r\n"), 0);
    EXPECT_EQ(ReadText(kClipboardText), "5 ?\n\n");

    EXPECT_EQ(EmptyClipboard(), 0);
    EXPECT_EQ(GetClipboardType(&type), 0);
    EXPECT_EQ(type, kClipboardEmpty);
}

TEST_F(ClipboardTest, WhatSDLCannotCarryIsRefusedAndTheTextStays) {
    ASSERT_EQ(WriteText("kept"), 0);
    qbClipboardData image;
    image.width = 3;
    image.height = 2;
    EXPECT_EQ(WriteClipboard(kClipboardImage, &image), ERR_CLIPWRITE);
    EXPECT_EQ(WriteClipboard(3, &image), ERR_CLIPFORMAT);
    EXPECT_EQ(WriteClipboard(kClipboardText, nullptr), ERR_CLIPWRITE);
    EXPECT_EQ(ReadText(kClipboardText), "kept");
}

TEST_F(ClipboardTest, EachChangeIsReportedOnceToTheDisplaysThatListen) {
    qbWindowView listening;
    listening.hasClipboardHandler = 1;
    Open(Display(0), nullptr);
    Open(Display(1), &listening);
    EXPECT_EQ(WatchClipboardChanges(Display(1)), 0);

    auto notices = [this] {
        const auto events = Queued();
        DropQueued();
        int count = 0;
        for (const auto& e : events) {
            if (e.type != uint32_t{kEventClipboardChanged}) continue;
            EXPECT_EQ(e.display, Display(1));
            ++count;
        }
        return count;
    };
    SDL_Event update{};
    update.type = SDL_CLIPBOARDUPDATE;

    // The player's own write, and the desktop's echo of it.
    ASSERT_EQ(WriteText("one"), 0);
    Push(update);
    PumpAll();
    EXPECT_EQ(notices(), 1);
    EXPECT_EQ(EmptyClipboard(), 0);
    EXPECT_EQ(notices(), 1);

    // Another program copies, even what was there before.
    ASSERT_EQ(SDL_SetClipboardText("two"), 0);
    Push(update);
    PumpAll();
    EXPECT_EQ(notices(), 1);
    Push(update);
    PumpAll();
    EXPECT_EQ(notices(), 1);

    // Coming to the front reports only a clipboard that changed meanwhile.
    PushWindowEvent(WindowId(Display(1)), SDL_WINDOWEVENT_FOCUS_GAINED);
    PumpAll();
    EXPECT_EQ(notices(), 0);
    ASSERT_EQ(SDL_SetClipboardText("three"), 0);
    PushWindowEvent(WindowId(Display(0)), SDL_WINDOWEVENT_FOCUS_GAINED);
    PumpAll();
    EXPECT_EQ(notices(), 1);
}

TEST_F(ClipboardTest, NobodyListeningHearsNothing) {
    Open(Display(0), nullptr);
    ASSERT_EQ(WriteText("x"), 0);
    SDL_Event update{};
    update.type = SDL_CLIPBOARDUPDATE;
    Push(update);
    PumpAll();
    EXPECT_TRUE(Queued().empty());
}

}  // namespace
