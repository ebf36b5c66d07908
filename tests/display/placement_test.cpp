// Displays that ask how they open (the mode buttons, then the list of the
// monitor's modes) through a requester adapter, and the placement a closing
// display leaves in the preferences table.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/plugin.h"
#include "core/preproc.h"
#include "display/displays.h"
#include "display/placement.h"
#include "display/requesters.h"
#include "displaylib_fixture.h"
#include "objects/bgpiclib.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"

namespace {

struct Asked {
    std::string title;
    std::string body;
    uint32_t style = 0;
    std::string buttons;
    std::vector<std::string> entries;
    int selected = -1;
};

std::vector<Asked> asked;
std::vector<int32_t> answers;  // one per requester, in order

int32_t NextAnswer() {
    if (answers.empty()) return -1;
    const int32_t a = answers.front();
    answers.erase(answers.begin());
    return a;
}

qbDisplayAdapterSlots ModeSlots() {
    qbDisplayAdapterSlots s;
    s.SystemRequest = [](void*, const char* title, const char* body, uint32_t style, int32_t* result,
                         const qbAdapterTag* tags) {
        Asked a{title, body, style, {}, {}, -1};
        for (const qbAdapterTag* t = tags; t && t->tag; ++t)
            if (t->tag == kRequestTagSecond) a.buttons = reinterpret_cast<const char*>(t->value);
        asked.push_back(a);
        *result = NextAnswer();
        return 0;
    };
    s.ListRequest = [](void*, const char* title, const char* body, const char* entries, int, int32_t* result,
                       const qbAdapterTag* tags) {
        Asked a{title, body, 0, {}, {}, -1};
        for (const char* e = entries; *e; e += std::strlen(e) + 1) a.entries.emplace_back(e);
        for (const qbAdapterTag* t = tags; t && t->tag; ++t)
            if (t->tag == kRequestTagSecond) a.selected = static_cast<int>(t->value);
        asked.push_back(a);
        *result = NextAnswer();
        return 0;
    };
    return s;
}

const qbDisplayAdapterSlots kModeSlots = ModeSlots();

// Full screens make their backfill through the BGPic and brush commands.
class FullScreenWorld : public DisplayLibWorld {
protected:
    void SetUp() override {
        DisplayLibWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        ASSERT_EQ(InitBrushLibrary(L_), 0);
        VmSetTop(L_, 0);
    }
    void TearDown() override {
        FreeAllDisplays(L_);
        FreeAllBGPics(L_);
        FreeAllBrushes(L_);
        DisplayLibWorld::TearDown();
    }
};

class ModeChoiceTest : public FullScreenWorld {
protected:
    void SetUp() override {
        FullScreenWorld::SetUp();
        asked.clear();
        answers.clear();
        null_backend::SetMonitors({{0, 0, 1024, 768}});
        null_backend::SetDisplayModes(0, {{1024, 768}, {640, 480}, {800, 600}, {800, 600, 75}});
        plugin_.name = "modes";
        plugin_.capabilities = PLUGINCAPS_REQUESTERADAPTER;
        plugin_.displaySlots = &kModeSlots;
        SetAdapterWindowOpen(true);
        ASSERT_EQ(SetRequesterAdapter(&plugin_, kRequesterSystem | kRequesterList), 0);
        SetAdapterWindowOpen(false);
    }

    // Display 1 of the size, asking in the mode, opened as at start-up.
    int Start(const char* mode, int32_t width = 700, int32_t height = 500) {
        EXPECT_EQ(Create(1, [&] {
                      Field("title", "Asking");
                      Field("width", width);
                      Field("height", height);
                      Field("mode", mode);
                  }),
                  0);
        return StartDisplays(L_);
    }

    qbPlugin plugin_;
};

}  // namespace

TEST_F(ModeChoiceTest, TheModeQuestionOffersFourButtonsAndEachAnswerOpensItsWay) {
    answers = {2};
    ASSERT_EQ(Start("ask"), 0);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].title, "Asking");
    EXPECT_EQ(asked[0].body, "Please select desired display mode!");
    EXPECT_EQ(asked[0].style, kSystemStyleCustom | 0x200u);
    EXPECT_EQ(asked[0].buttons, "Full screen (best fit)|Windowed|Full screen (manual select)|Cancel");
    EXPECT_EQ(Find(1)->state, DISPSTATE_OPEN);
    EXPECT_EQ(Find(1)->fullScreen, 0);
    FreeAllDisplays(L_);

    answers = {1};
    ASSERT_EQ(Start("ask"), 0);
    EXPECT_EQ(Find(1)->fullScreen, 1);
    FreeAllDisplays(L_);

    // Cancel: no window at all.
    answers = {0};
    EXPECT_EQ(Start("ask"), ERR_USERABORT);
    EXPECT_EQ(Find(1)->state, DISPSTATE_CLOSED);
    EXPECT_EQ(null_backend::GetSurface(Find(1)), nullptr);
}

TEST_F(ModeChoiceTest, TheModeListPreselectsTheFirstModeTheDisplayFitsAndOpensFullScreenInTheChoice) {
    answers = {3, 2};
    ASSERT_EQ(Start("ask"), 0);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].entries, (std::vector<std::string>{"640x480", "800x600", "1024x768"}));
    EXPECT_EQ(asked[1].selected, 1);
    qbDisplay* d = Find(1);
    EXPECT_EQ(d->fullScreen, 1);
    EXPECT_EQ(null_backend::VirtualMode(0), (std::pair<int, int>{1024, 768}));
    FreeAllDisplays(L_);

    // Smaller than every mode: the first is preselected.
    asked.clear();
    answers = {0};
    ASSERT_EQ(Start("moderequester", 320, 200), 0);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].selected, 0);
    EXPECT_EQ(null_backend::VirtualMode(0), (std::pair<int, int>{640, 480}));
    FreeAllDisplays(L_);

    answers = {-1};
    EXPECT_EQ(Start("moderequester"), ERR_USERABORT);
    EXPECT_EQ(Find(1)->state, DISPSTATE_CLOSED);
}

// The list holds each size once, by width and then by height whatever
// order and repeats the system gives; the answer picks its entry, and an
// answer past the last entry is refused, not read.
TEST_F(ModeChoiceTest, TheModeListIsSortedByWidthThenHeightAndTheAnswerMustNameAnEntry) {
    null_backend::SetDisplayModes(
        0, {{800, 600}, {1024, 768}, {800, 480}, {640, 480}, {800, 600, 75}, {640, 400}, {1024, 600}});
    const std::vector<std::string> listed = {"640x400", "640x480", "800x480", "800x600", "1024x600", "1024x768"};
    struct Case {
        int32_t answer;
        int err;
        std::pair<int, int> mode;
    };
    const Case cases[] = {{1, 0, {640, 480}}, {2, 0, {800, 480}}, {4, 0, {1024, 600}}, {5, 0, {1024, 768}},
                          {6, ERR_WRONGUSAGE, {0, 0}}, {7, ERR_WRONGUSAGE, {0, 0}}, {-1, ERR_USERABORT, {0, 0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        asked.clear();
        answers = {c.answer};
        EXPECT_EQ(Start("moderequester", 640, 440), c.err);
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0].entries, listed);
        // 640x440 fits 640x480 first, on its width exactly.
        EXPECT_EQ(asked[0].selected, 1);
        EXPECT_EQ(Find(1)->state, c.err ? DISPSTATE_CLOSED : DISPSTATE_OPEN);
        EXPECT_EQ(null_backend::VirtualMode(0), c.mode);
        FreeAllDisplays(L_);
    }
}

namespace {

// The preferences table kept in the test's memory.
int storedRef = 0;
int writes = 0;

int ReadStored(ScriptState* L) {
    if (storedRef == 0) return ERR_WRONGUSAGE;
    VmRawGetIndex(L, kRegistryIndex, storedRef);
    return 0;
}
int WriteStored(ScriptState* L, int idx) {
    ++writes;
    VmPushValue(L, idx);
    if (storedRef == 0) storedRef = VmMakeRef(L, kRegistryIndex);
    else VmRawSetIndex(L, kRegistryIndex, storedRef);
    return 0;
}

class PlacementSaveTest : public FullScreenWorld {
protected:
    void SetUp() override {
        FullScreenWorld::SetUp();
        storedRef = 0;
        writes = 0;
        null_backend::SetMonitors({{0, 0, 1024, 768}});
        SetPlacementStore(qbPlacementStore{&ReadStored, &WriteStored});
    }
    void TearDown() override {
        SetPlacementStore(qbPlacementStore{});
        FullScreenWorld::TearDown();
    }
    qbDisplay* Open(int32_t id, const char* mode, bool remember) {
        EXPECT_EQ(Create(id, [&] {
                      Field("width", 300);
                      Field("height", 200);
                      Field("x", 100);
                      Field("y", 80);
                      Field("mode", mode);
                      if (remember) Field("rememberposition", 1);
                  }),
                  0);
        qbDisplay* d = Find(id);
        EXPECT_EQ(OpenDisplayWindow(L_, d, 0), 0);
        return d;
    }
    // The keys of "__placement"[id], sorted, with their numbers.
    std::string Entry(int32_t id) {
        if (ReadStored(L_) != 0) return "<none>";
        VmPushString(L_, "__placement");
        VmRawGet(L_, -2);
        VmRawGetIndex(L_, -1, id);
        std::vector<std::string> keys;
        if (VmType(L_, -1) == kTypeTable) {
            VmPushNil(L_);
            while (VmNext(L_, -2)) {
                std::string text = VmToCString(L_, -2);
                text += "=";
                text += VmType(L_, -1) == kTypeString ? "'" + std::string(VmToCString(L_, -1)) + "'"
                                                      : std::to_string(static_cast<int>(VmToNumber(L_, -1)));
                keys.push_back(text);
                VmSetTop(L_, -2);
            }
        }
        VmSetTop(L_, 0);
        std::sort(keys.begin(), keys.end());
        std::string all;
        for (const std::string& k : keys) all += (all.empty() ? "" : " ") + k;
        return all;
    }
};

}  // namespace

TEST_F(PlacementSaveTest, AClosingWindowLeavesExactlyItsPlacementAndAFullScreenOnlyThatItWasNotActive) {
    qbDisplay* d = Open(2, "windowed", true);
    ASSERT_EQ(CloseDisplayCore(L_, d, 0), 0);
    EXPECT_EQ(Entry(2),
              "active=1 autoscale=0 height=200 layerscale=0 osdata='' scaleheight=0 scalewidth=0 sizeable=0 "
              "width=300 x=100 y=80");
    EXPECT_EQ(writes, 1);

    qbDisplay* full = Open(3, "fullscreen", true);
    ASSERT_EQ(CloseDisplayCore(L_, full, 0), 0);
    EXPECT_EQ(Entry(3), "active=0");
    // Display 2's entry stays beside it.
    EXPECT_NE(Entry(2), "");
}

TEST_F(PlacementSaveTest, DisplaysWithoutTheFlagOrANumberAndAStoreThatFailsWriteNothing) {
    ASSERT_EQ(CloseDisplayCore(L_, Open(2, "windowed", false), 0), 0);
    EXPECT_EQ(writes, 0);
    // An automatic id.
    qbDisplay* automatic = nullptr;
    ASSERT_EQ(CreateDisplay(L_, NewObjectID{0, 1}, nullptr, &automatic), 1);
    VmSetTop(L_, 0);
    automatic->flags |= kDispRememberPosition;
    ASSERT_EQ(OpenDisplayWindow(L_, automatic, 0), 0);
    ASSERT_EQ(CloseDisplayCore(L_, automatic, 0), 0);
    EXPECT_EQ(writes, 0);
    // A store that cannot write (no identifier) never stops the close.
    SetPlacementStore(qbPlacementStore{&ReadStored, [](ScriptState*, int) -> int { return ERR_WRONGUSAGE; }});
    qbDisplay* d = Open(4, "windowed", true);
    EXPECT_EQ(CloseDisplayCore(L_, d, 0), 0);
    EXPECT_EQ(d->state, DISPSTATE_CLOSED);
    EXPECT_EQ(VmGetTop(L_), 0);
}
