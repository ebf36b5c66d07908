// The requester wrappers through a requester adapter: what each slot is sent,
// how its answers come back, that every answer goes back to the adapter, and
// that requesters the adapter does not take reach the platform.
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/plugin.h"
#include "display/requesters.h"
#include "display_fixture.h"
#include "platform/requesterrules.h"

namespace {

struct Sent {
    std::string title;
    std::string body;
    uint32_t style = 0;
    int mode = -1;
    std::vector<std::pair<uint32_t, std::string>> tags;  // text tags as text
    int requesterOpen = 0;
};

Sent sent;
std::string answer;      // what the next slot answers; "<null>" for none
uint32_t fontStyle = 0;  // the font slot's style cell
std::vector<int> freed;  // FreeRequest kinds
qbDisplay* current = nullptr;

void Record(const qbAdapterTag* tags, bool textSecond) {
    for (const qbAdapterTag* t = tags; t && t->tag; ++t) {
        const bool text = textSecond && t->tag == kRequestTagSecond;
        sent.tags.emplace_back(t->tag,
                               text ? std::string(reinterpret_cast<const char*>(t->value)) : std::to_string(t->value));
    }
    sent.requesterOpen = current ? current->view.requesterOpen : -1;
}

char* Answer() {
    if (answer == "<null>") return nullptr;
    // The adapter's own allocation, as a plugin makes it.
    char* copy = static_cast<char*>(std::malloc(answer.size() + 1));
    std::memcpy(copy, answer.data(), answer.size());
    copy[answer.size()] = 0;
    return copy;
}

qbDisplayAdapterSlots RequesterSlots() {
    qbDisplayAdapterSlots s;
    s.SystemRequest = [](void*, const char* title, const char* body, uint32_t style, int32_t* result,
                         const qbAdapterTag* tags) {
        sent.title = title;
        sent.body = body;
        sent.style = style;
        Record(tags, style & kSystemStyleCustom);
        *result = 2;
        return 0;
    };
    s.FileRequest = [](void*, const char*, int mode, char** result, const qbAdapterTag* tags) {
        sent.mode = mode;
        Record(tags, false);
        *result = Answer();
        return 0;
    };
    s.StringRequest = [](void*, const char*, const char*, uint32_t style, char** result, const qbAdapterTag* tags) {
        sent.style = style;
        Record(tags, true);
        *result = Answer();
        return 0;
    };
    s.FontRequest = [](void*, const char*, int, char** result, uint32_t* style, const qbAdapterTag* tags) {
        Record(tags, true);
        *result = Answer();
        *style = fontStyle;
        return 0;
    };
    s.PathRequest = [](void*, const char*, int mode, char** result, const qbAdapterTag* tags) {
        sent.mode = mode;
        Record(tags, true);
        *result = Answer();
        return 0;
    };
    s.ColorRequest = [](void*, const char*, int, int32_t* result, const qbAdapterTag* tags) {
        Record(tags, false);
        *result = answer == "<null>" ? -1 : std::stoi(answer);
        return 0;
    };
    s.FreeRequest = [](int kind, void* result) {
        freed.push_back(kind);
        std::free(result);
    };
    return s;
}

const qbDisplayAdapterSlots kSlots = RequesterSlots();

class RequesterAdapterTest : public DisplayWorld {
protected:
    void SetUp() override {
        DisplayWorld::SetUp();
        sent = {};
        answer.clear();
        fontStyle = 0;
        freed.clear();
        current = nullptr;
        plugin_.name = "requesters";
        plugin_.capabilities = PLUGINCAPS_REQUESTERADAPTER;
        plugin_.displaySlots = &kSlots;
    }
    void Install(uint32_t flags) {
        SetAdapterWindowOpen(true);
        ASSERT_EQ(SetRequesterAdapter(&plugin_, flags), 0);
        SetAdapterWindowOpen(false);
    }
    qbPlugin plugin_;
};

}  // namespace

TEST_F(RequesterAdapterTest, SystemRequesterStyleByButtonsAndIconWithCustomButtonsAsTag) {
    Install(kRequesterSystem);
    int result = -1;
    ASSERT_EQ(ShowSystemRequester(nullptr, nullptr, "t", "b", "Yes|No", 0, 7, &result), 0);
    EXPECT_EQ(sent.style, kSystemStyleYesNo | 32);
    EXPECT_EQ(result, 2);
    ASSERT_EQ(sent.tags.size(), 1u);
    EXPECT_EQ(sent.tags[0], std::make_pair(uint32_t{kRequestTagOption}, std::string("7")));

    sent = {};
    ASSERT_EQ(ShowSystemRequester(nullptr, nullptr, "t", "b", "Retry|Skip|Abort", kReqIconError, 0, &result), 0);
    EXPECT_EQ(sent.style, kSystemStyleCustom | 128);
    ASSERT_EQ(sent.tags.size(), 2u);
    EXPECT_EQ(sent.tags[1], std::make_pair(uint32_t{kRequestTagSecond}, std::string("Retry|Skip|Abort")));

    EXPECT_EQ(SystemRequesterStyle(nullptr, 1), kSystemStyleOk | 64);
    EXPECT_EQ(SystemRequesterStyle("ok|CANCEL", 4), kSystemStyleOkCancel | 0x200);
    EXPECT_EQ(SystemRequesterStyle("Yes|No|Cancel", 9), kSystemStyleYesNoCancel);
}

TEST_F(RequesterAdapterTest, TheDisplayHasItsRequesterOpenFlagOnlyWhileTheRequesterIsShown) {
    Install(kRequesterSystem);
    current = Make(1);
    ASSERT_EQ(ShowSystemRequester(nullptr, current, "t", "b", "OK", 0, 0, nullptr), 0);
    EXPECT_EQ(sent.requesterOpen, 1);
    EXPECT_EQ(current->view.requesterOpen, 0);
}

TEST_F(RequesterAdapterTest, FileResultsSplitIntoFolderAndNamesAndACancelIsNoError) {
    Install(kRequesterFile);
    qbFileRequestResult r;
    answer = std::string("/data/one.qba\0\0", 15);
    ASSERT_EQ(ShowFileRequester(nullptr, nullptr, "t", "qba", kReqMultiSelect, "/data", "x", 3, &r), 0);
    EXPECT_EQ(sent.mode, 1);
    EXPECT_EQ(r.folder, "/data/");
    EXPECT_EQ(r.files, std::string("one.qba\0", 8));
    EXPECT_EQ(r.count, 1);
    EXPECT_EQ(r.chosen, 1);
    // The pattern tag is left out for a pattern that shows everything.
    ASSERT_EQ(sent.tags.size(), 4u);
    EXPECT_EQ(sent.tags[1].first, kRequestTagSecond);

    answer = std::string("/a/x.png\0/a/y.png\0\0", 19);
    ASSERT_EQ(ShowFileRequester(nullptr, nullptr, "t", "#?", kReqMultiSelect, nullptr, nullptr, 0, &r), 0);
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(r.files, std::string("x.png\0y.png\0", 12));

    answer = "<null>";
    sent = {};
    ASSERT_EQ(ShowFileRequester(nullptr, nullptr, "t", "*", kReqSaveMode, nullptr, nullptr, 0, &r), 0);
    EXPECT_EQ(sent.mode, 2);
    EXPECT_EQ(sent.tags.size(), 3u);
    EXPECT_EQ(r.chosen, 0);
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(freed, (std::vector<int>{kFreeRequestFile, kFreeRequestFile}));
}

// One file chosen, a folder and a colour: each answer as the adapter gave
// it, a cancel as nothing, every text answer given back to the adapter.
TEST_F(RequesterAdapterTest, SingleFilesFoldersAndColoursComeBackAsAnswered) {
    Install(kRequesterFile | kRequesterPath | kRequesterColour);
    qbFileRequestResult r;
    answer = "/data/pic.png";
    ASSERT_EQ(ShowFileRequester(nullptr, nullptr, "t", "png", 0, nullptr, nullptr, 0, &r), 0);
    EXPECT_EQ(r.folder, "/data/");
    EXPECT_EQ(r.files, std::string("pic.png\0", 8));
    EXPECT_EQ(r.count, 1);

    sent = {};
    answer = "/home/me/pictures";
    std::optional<std::string> path;
    ASSERT_EQ(ShowPathRequester(nullptr, nullptr, "t", 0, "/home", 5, &path), 0);
    EXPECT_EQ(path, std::optional<std::string>("/home/me/pictures"));
    EXPECT_EQ(sent.mode, 2);
    EXPECT_EQ(sent.tags, (std::vector<std::pair<uint32_t, std::string>>{{kRequestTagOption, "5"},
                                                                         {kRequestTagSecond, "/home"}}));
    answer = "<null>";
    path = "x";
    ASSERT_EQ(ShowPathRequester(nullptr, nullptr, "t", 0, nullptr, 0, &path), 0);
    EXPECT_EQ(path, std::nullopt);
    EXPECT_EQ(freed, (std::vector<int>{kFreeRequestFile, kFreeRequestPath}));

    sent = {};
    answer = "1193046";
    int32_t colour = 0;
    ASSERT_EQ(ShowColorRequester(nullptr, nullptr, "t", 0x00FF00, 3, &colour), 0);
    EXPECT_EQ(colour, 0x123456);
    EXPECT_EQ(sent.tags, (std::vector<std::pair<uint32_t, std::string>>{{kRequestTagOption, "3"},
                                                                         {kRequestTagSecond, "65280"}}));
    sent = {};
    answer = "<null>";
    ASSERT_EQ(ShowColorRequester(nullptr, nullptr, "t", -1, 0, &colour), 0);
    EXPECT_EQ(colour, -1);
    EXPECT_EQ(sent.tags.size(), 1u) << "no initial colour: no tag";
}

TEST_F(RequesterAdapterTest, StringResultsAreCancelledEmptyOrCutTo1023Bytes) {
    Install(kRequesterString);
    char out[kStringResultSize];
    std::memset(out, 'z', sizeof out);
    answer = "<null>";
    EXPECT_EQ(ShowStringRequester(nullptr, nullptr, "t", "b", "def", 3, 10, 1, 0, out), ERR_USERABORT);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(sent.style, 4u | 16u);
    ASSERT_EQ(sent.tags.size(), 3u);
    EXPECT_EQ(sent.tags[1].second, "def");
    EXPECT_EQ(sent.tags[2].second, "10");

    // The buffer is followed by a guard that must stay untouched.
    struct {
        char text[kStringResultSize];
        char guard[8];
    } buffer;
    std::memset(buffer.guard, 'g', sizeof buffer.guard);
    answer.assign(5000, 'a');
    ASSERT_EQ(ShowStringRequester(nullptr, nullptr, "t", "b", nullptr, 1, 0, 0, 0, buffer.text), 0);
    EXPECT_EQ(std::strlen(buffer.text), 1023u);
    EXPECT_EQ(std::string(buffer.guard, 8), std::string(8, 'g'));
    EXPECT_EQ(freed, (std::vector<int>{kFreeRequestString}));
}

TEST_F(RequesterAdapterTest, FontResultsSplitAtTheTwoBarsWithTheStyleCellAndRefusedWithoutThem) {
    Install(kRequesterFont);
    qbFontRequest font;
    answer = "Sans|12|3";
    fontStyle = 0x100 | 0x1000 | (1u << 16);
    ASSERT_EQ(ShowFontRequester(nullptr, nullptr, "t", "", 0, 0, &font), 0);
    EXPECT_STREQ(font.name, "Sans");
    EXPECT_EQ(font.size, 12);
    EXPECT_EQ(font.weight, 205);
    EXPECT_EQ(font.slant, 100);
    EXPECT_EQ(font.bold, 1);
    EXPECT_EQ(font.italic, 0);
    EXPECT_EQ(sent.tags.size(), 1u);  // no name, no size

    answer = "Serif|14";
    EXPECT_EQ(ShowFontRequester(nullptr, nullptr, "t", "Mono", 9, 0, &font), ERR_WRONGUSAGE);
    EXPECT_STREQ(font.name, "Sans");
    EXPECT_EQ(font.size, 12);
    EXPECT_EQ(freed, (std::vector<int>{kFreeRequestFont, kFreeRequestFont}));

    // The first set weight bit wins; no bit is a normal weight.
    ASSERT_EQ(ParseAdapterFontResult("A|1|0", 0x2 | 0x80, &font), 0);
    EXPECT_EQ(font.weight, 40);
    ASSERT_EQ(ParseAdapterFontResult("A|1|0", 0, &font), 0);
    EXPECT_EQ(font.weight, 80);
}

TEST_F(RequesterAdapterTest, RequestersTheAdapterDoesNotTakeGoToThePlatform) {
    Install(kRequesterFile);
    null_backend::QueueRequesterAnswer({0, 1, {}, {}});
    int result = -1;
    ASSERT_EQ(ShowSystemRequester(nullptr, nullptr, "Title", "Body", "OK|Cancel", 0, 0, &result), 0);
    EXPECT_EQ(result, 1);
    const auto log = null_backend::RequesterLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].operation, "SystemRequesterNative");
    EXPECT_EQ(sent.style, 0u);
}

TEST_F(RequesterAdapterTest, TheErrorThatEndsThePlayerShowsInASystemRequesterUnlessSwitchedOff) {
    Install(kRequesterSystem);
    InstallErrorRequester();
    unsetenv("QB_NO_ERROR_BOX");
    ShowErrorRequester(nullptr, "Boom", 1, 5);
    EXPECT_EQ(sent.title, "QuenbrookPlayer");
    EXPECT_EQ(sent.body, "Boom");
    EXPECT_EQ(sent.style, kSystemStyleOk | 128);
    ASSERT_EQ(sent.tags.size(), 1u);
    EXPECT_EQ(sent.tags[0].second, "5");

    sent = {};
    setenv("QB_NO_ERROR_BOX", "1", 1);
    ShowErrorRequester(nullptr, "Boom", 1, 0);
    unsetenv("QB_NO_ERROR_BOX");
    SetErrorRequesterHook(nullptr);
    EXPECT_EQ(sent.title, "");
}

// The font name fills the record's field to its last byte but one: the
// longest fits whole, a longer one is cut there and still ends.
TEST(FontAnswer, TheNameFillsItsFieldAndEnds) {
    constexpr size_t kRoom = sizeof(qbFontRequest::name);
    for (size_t length : {kRoom - 1, kRoom, kRoom + 1, kRoom + 40}) {
        qbFontRequest font;
        const std::string text = std::string(length, 'f') + "|17|0";
        ASSERT_EQ(ParseAdapterFontResult(text.c_str(), 0, &font), 0) << length;
        ASSERT_NE(std::memchr(font.name, 0, kRoom), nullptr) << length;
        EXPECT_EQ(std::string(font.name), std::string(kRoom - 1, 'f')) << length;
        EXPECT_EQ(font.size, 17) << length;
    }
}
