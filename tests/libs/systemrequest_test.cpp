// The system library's requesters, clipboard, URLs and version on the
// in-memory backend, whose requesters answer from a queue and log what they
// were asked.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/applet.h"
#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "imaging/clipboardbitmaps.h"
#include "libs/system_calls.h"
#include "objects/brushes.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"

namespace {

using null_backend::RequesterAnswer;

class SystemRequestTest : public libstest::SystemCallTest {
protected:
    void SetUp() override {
        SystemCallTest::SetUp();
        SetPlatformBackend(nullptr);
        null_backend::Reset();
    }
    void TearDown() override {
        FreeAllBrushes(L);
        null_backend::Reset();
        SystemCallTest::TearDown();
    }

    static null_backend::RequesterCall LastCall() {
        const auto log = null_backend::RequesterLog();
        return log.empty() ? null_backend::RequesterCall{} : log.back();
    }
    void PushStrings(std::initializer_list<const char*> texts) {
        for (const char* t : texts) VmPushString(L, t);
    }
    // A field of the table at the absolute index idx.
    std::string FieldText(int idx, const char* key) {
        VmPushString(L, key);
        VmGetTableAt(L, idx);
        std::string s = Text(-1);
        VmSetTop(L, -2);
        return s;
    }
    double FieldNumber(int idx, const char* key) {
        VmPushString(L, key);
        VmGetTableAt(L, idx);
        const double d = Number(-1);
        VmSetTop(L, -2);
        return d;
    }
    std::string ListAt(int idx, int i) {
        VmRawGetIndex(L, idx, i);
        std::string s = VmType(L, -1) == kTypeString ? VmToCString(L, -1) : "<not a string>";
        VmSetTop(L, -2);
        return s;
    }
};

TEST_F(SystemRequestTest, SystemRequestReturnsTheButtonAndChecksTheIcon) {
    null_backend::QueueRequesterAnswer(RequesterAnswer{0, 2, {}, {}});
    PushStrings({"Save", "Keep changes?", "Yes|No|Maybe"});
    VmPushNumber(L, 4);
    ASSERT_EQ(Call(cmdSystemRequest, 4), 0);
    EXPECT_EQ(Number(-1), 2);
    EXPECT_EQ(LastCall().title, "Save");
    EXPECT_EQ(LastCall().initial, "Yes|No|Maybe");
    EXPECT_EQ(LastCall().number, 4);
    // A cancel is an answer; a requester that could not open is an error.
    null_backend::QueueRequesterAnswer(RequesterAnswer{ERR_USERABORT, 0, {}, {}});
    PushStrings({"t", "b", "OK"});
    EXPECT_EQ(Call(cmdSystemRequest, 3), 0);
    PushStrings({"t", "b", "OK"});
    EXPECT_EQ(Call(cmdSystemRequest, 3), ERR_WINDOW);
    PushStrings({"t", "b", "OK"});
    VmPushNumber(L, 5);
    EXPECT_EQ(Call(cmdSystemRequest, 4), ERR_WRONGUSAGE);
}

TEST_F(SystemRequestTest, StringRequestLimitsCutsAndCancels) {
    PushStrings({"t", "b", "x"});
    VmPushNumber(L, 0);
    VmPushNumber(L, 2000);
    EXPECT_EQ(Call(cmdStringRequest, 5), ERR_WRONGUSAGE);
    PushStrings({"t", "b", "x"});
    VmPushNumber(L, 1);
    EXPECT_EQ(Call(cmdStringRequest, 4), ERR_WRONGUSAGE);
    PushStrings({"t", "b", "12a"});
    VmPushNumber(L, 3);
    EXPECT_EQ(Call(cmdStringRequest, 4), ERR_WRONGUSAGE);
    EXPECT_TRUE(null_backend::RequesterLog().empty());

    null_backend::QueueRequesterAnswer(RequesterAnswer{0, 0, "abc", {}});
    PushStrings({"t", "b", "0123456789"});
    VmPushNumber(L, 3);
    VmPushNumber(L, 4);
    ASSERT_EQ(Call(cmdStringRequest, 5), 0);
    EXPECT_EQ(LastCall().initial, "0123");
    EXPECT_EQ(LastCall().number, 4);
    EXPECT_EQ(Text(-2), "abc");
    EXPECT_EQ(Number(-1), 1);

    VmSetTop(L, 0);
    null_backend::QueueRequesterAnswer(RequesterAnswer{ERR_USERABORT, 0, "typed", {}});
    PushStrings({"t", "b"});
    ASSERT_EQ(Call(cmdStringRequest, 2), 0);
    EXPECT_EQ(Text(-2), "");
    EXPECT_EQ(Number(-1), 0);
}

TEST_F(SystemRequestTest, FileRequestListsChoicesAndRemembersTheFolder) {
    VmPushString(L, "t");
    VmPushString(L, "");
    VmPushNumber(L, 3);
    EXPECT_EQ(Call(cmdFileRequest, 3), ERR_WRONGUSAGE);

    null_backend::QueueRequesterAnswer(RequesterAnswer{0, 2, "/data/pics/", std::string("a.png\0b.png\0", 12)});
    VmPushString(L, "t");
    VmPushString(L, "png");
    VmPushNumber(L, 1 + 65536);
    VmPushString(L, "/start/");
    ASSERT_EQ(Call(cmdFileRequest, 4), 0);
    EXPECT_EQ(LastCall().initial, "/start/");
    EXPECT_EQ(LastCall().number, 1);
    EXPECT_EQ(ListAt(-1, 0), "/data/pics/a.png");
    EXPECT_EQ(ListAt(-1, 1), "/data/pics/b.png");
    EXPECT_EQ(ListAt(-1, 2), "");
    EXPECT_EQ(CountListItems(L, VmGetTop(L), false), 3);

    // A count past the names the platform gave lists the names only.
    VmSetTop(L, 0);
    null_backend::QueueRequesterAnswer(RequesterAnswer{0, 3, "/data/pics/", std::string("a.png\0b.png\0", 12)});
    VmPushString(L, "t");
    VmPushString(L, "png");
    VmPushNumber(L, 1 + 65536);
    ASSERT_EQ(Call(cmdFileRequest, 3), 0);
    EXPECT_EQ(ListAt(-1, 1), "/data/pics/b.png");
    EXPECT_EQ(ListAt(-1, 2), "");
    EXPECT_EQ(CountListItems(L, VmGetTop(L), false), 3);

    VmSetTop(L, 0);
    null_backend::QueueRequesterAnswer(RequesterAnswer{0, 1, "/data/pics/", std::string("c.png\0", 6)});
    VmPushString(L, "t");
    ASSERT_EQ(Call(cmdFileRequest, 1), 0);
    EXPECT_EQ(LastCall().initial, "/data/pics/");
    EXPECT_EQ(Text(-1), "/data/pics/c.png");

    // A cancel gives an empty text and leaves the folder as it was.
    VmSetTop(L, 0);
    null_backend::QueueRequesterAnswer(RequesterAnswer{0, 0, {}, {}});
    VmPushString(L, "t");
    ASSERT_EQ(Call(cmdFileRequest, 1), 0);
    EXPECT_EQ(Text(-1), "");
    EXPECT_EQ(LastCall().initial, "/data/pics/");
}

TEST_F(SystemRequestTest, ListRequestChecksItsListAndDefault) {
    PushStrings({"t", "b"});
    VmPushNewTable(L);
    EXPECT_EQ(Call(cmdListRequest, 3), ERR_WRONGUSAGE);

    null_backend::QueueRequesterAnswer(RequesterAnswer{0, 1, {}, {}});
    PushStrings({"t", "b"});
    PushList({"one", "", "three"});
    VmPushNumber(L, -5);
    ASSERT_EQ(Call(cmdListRequest, 4), 0);
    EXPECT_EQ(Number(-1), 1);
    EXPECT_EQ(LastCall().number, -1);
    EXPECT_EQ(LastCall().initial, "one| |three");

    VmSetTop(L, 0);
    null_backend::QueueRequesterAnswer(RequesterAnswer{0, 0, {}, {}});
    PushStrings({"t", "b"});
    PushList({"one", "two"});
    VmPushNumber(L, 1);
    ASSERT_EQ(Call(cmdListRequest, 4), 0);
    EXPECT_EQ(LastCall().number, 1);
}

TEST_F(SystemRequestTest, AnEmptyTitleShowsTheAppletsTitle) {
    qbApplet applet;
    std::strcpy(applet.title, "My Applet");
    VmRegistrySetLightUserdata(L, "applet", &applet);
    null_backend::QueueRequesterAnswer(RequesterAnswer{0, 0, {}, {}});
    PushStrings({"", "body", "OK"});
    ASSERT_EQ(Call(cmdSystemRequest, 3), 0);
    EXPECT_EQ(LastCall().title, "My Applet");
    null_backend::QueueRequesterAnswer(RequesterAnswer{0, 0, "/x", {}});
    VmPushString(L, "");
    ASSERT_EQ(Call(cmdPathRequest, 1), 0);
    EXPECT_EQ(LastCall().title, "My Applet");
    EXPECT_EQ(Text(-1), "/x");
}

TEST_F(SystemRequestTest, ColourAndFontRequestersAnswer) {
    null_backend::QueueRequesterAnswer(RequesterAnswer{0, 0x123456, {}, {}});
    VmPushString(L, "c");
    VmPushNumber(L, 0xFF0000);
    ASSERT_EQ(Call(cmdColorRequest, 2), 0);
    EXPECT_EQ(Number(-1), 0x123456);
    EXPECT_EQ(LastCall().number, 0xFF0000);

    VmSetTop(L, 0);
    null_backend::QueueRequesterAnswer(RequesterAnswer{0, 14, "Sans", {}});
    VmPushString(L, "f");
    VmPushString(L, "Serif");
    VmPushNumber(L, 12);
    ASSERT_EQ(Call(cmdFontRequest, 3), 0);
    EXPECT_EQ(LastCall().initial, "Serif");
    EXPECT_EQ(LastCall().number, 12);
    const int font = VmGetTop(L);
    EXPECT_EQ(FieldText(font, "name"), "Sans");
    EXPECT_EQ(FieldNumber(font, "size"), 14);
    EXPECT_EQ(FieldNumber(font, "weight"), 80);
}

TEST_F(SystemRequestTest, ClipboardTextRoundTripsAndKindsAreChecked) {
    ASSERT_EQ(Call(cmdPeekClipboard, 0), 0);
    EXPECT_EQ(Number(-1), 0);
    VmSetTop(L, 0);
    VmPushNumber(L, 1);
    VmPushString(L, "hello");
    ASSERT_EQ(Call(cmdSetClipboard, 2), 0);
    ASSERT_EQ(Call(cmdPeekClipboard, 0), 0);
    EXPECT_EQ(Number(-1), 1);
    VmSetTop(L, 0);
    ASSERT_EQ(Call(cmdGetClipboard, 0), 0);
    ASSERT_EQ(VmGetTop(L), 2);
    EXPECT_EQ(Number(1), 1);
    EXPECT_EQ(Text(2), "hello");
    VmSetTop(L, 0);
    VmPushNumber(L, 3);
    VmPushString(L, "x");
    EXPECT_EQ(Call(cmdSetClipboard, 2), ERR_WRONGUSAGE);
    ASSERT_EQ(Call(cmdClearClipboard, 0), 0);
    ASSERT_EQ(Call(cmdGetClipboard, 0), 0);
    EXPECT_EQ(VmGetTop(L), 1);
    EXPECT_EQ(Number(1), 0);
}

TEST_F(SystemRequestTest, ABrushWithAlphaRoundTripsToANewBrush) {
    InstallClipboardBitmapHooks();
    qbBrush* source = nullptr;
    ASSERT_EQ(MakeFilledBrush(3, 2, 0, false, true, false, &source), 0);
    std::vector<uint32_t> want;
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            const uint32_t rgb = 0x102030u * static_cast<uint32_t>(1 + x + 3 * y);
            const uint8_t a = static_cast<uint8_t>(40 * (x + 3 * y) + 10);
            WriteBitmapPixel(source->bitmap, x, y, rgb, false);
            FillAlphaRect(source->alpha, x, y, 1, 1, a);
            want.push_back((uint32_t{a} << 24) | rgb);
        }
    }
    VmPushNumber(L, 2);
    PushObjectID(L, IDOf(*source));
    ASSERT_EQ(Call(cmdSetClipboard, 2), 0);
    ASSERT_EQ(Call(cmdGetClipboard, 0), 0);
    ASSERT_EQ(VmGetTop(L), 2);
    EXPECT_EQ(Number(1), 2);
    qbBrush* made = nullptr;
    ASSERT_EQ(GetBrushRecord(L, GetObjectIDArg(L, 2), &made, 0), 0);
    ASSERT_NE(made, source);
    ASSERT_EQ(made->width, 3);
    ASSERT_EQ(made->height, 2);
    ASSERT_NE(made->alpha, nullptr);
    EXPECT_EQ(GetBitmapARGB(made->bitmap, 0, 0, 3, 2, nullptr, made->alpha, kNoKeyColour, false, kLockReadOnly),
              want);
}

TEST_F(SystemRequestTest, OpenURLGoesToTheDesktopsOpener) {
    VmPushString(L, "https://example.org/");
    EXPECT_EQ(Call(cmdOpenURL, 1), ERR_UNSUPPORTEDFEAT);
    std::vector<std::string> opened;
    null_backend::SetURLOpener([&opened](const char* url) {
        opened.push_back(url);
        return 0;
    });
    VmPushString(L, "https://example.org/");
    EXPECT_EQ(Call(cmdOpenURL, 1), 0);
    EXPECT_EQ(opened, std::vector<std::string>{"https://example.org/"});
}

TEST_F(SystemRequestTest, VersionAndSystemInfo) {
    ASSERT_EQ(Call(cmdGetVersion, 0), 0);
    EXPECT_EQ(FieldText(1, "application"), "QuenbrookPlayer");
    EXPECT_EQ(FieldText(1, "platform"), "Linux");
    EXPECT_EQ(FieldText(1, "cpu"), "x86_64");
    EXPECT_EQ(FieldText(1, "version_date"), "05.03.16");
    EXPECT_EQ(FieldNumber(1, "bigendian"), 0);
    VmPushString(L, "plugins");
    VmGetTableAt(L, 1);
    EXPECT_EQ(VmType(L, -1), kTypeTable);
    VmSetTop(L, 0);
    ASSERT_EQ(Call(cmdGetSystemInfo, 0), 0);
    EXPECT_EQ(FieldText(1, "userhome"), null_backend::TemporaryHome());
    EXPECT_FALSE(FieldText(1, "username").empty());
}

}  // namespace
