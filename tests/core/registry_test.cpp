// The plugins' side of the runtime lists: hooks run by kind, capability lists
// with their applet-version check, and what shutdown leaves of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/applet.h"
#include "core/context.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/plugincaps.h"
#include "core/pluginhooks.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "player/startup.h"
#include "vm/vm.h"

namespace {

std::vector<std::string> calls;

// User data of a test hook: its name and the answers it gives in turn (the
// last one repeats).
struct HookScript {
    std::string name;
    std::vector<int> answers{0};
    size_t calls = 0;
    int Next() {
        const int answer = answers[std::min(calls, answers.size() - 1)];
        ++calls;
        return answer;
    }
};

int Kind0(void* data) {
    auto* h = static_cast<HookScript*>(data);
    calls.push_back(h->name);
    return h->Next();
}
int Kind1(void* argument, void* data) {
    auto* h = static_cast<HookScript*>(data);
    calls.push_back(h->name + ":" + static_cast<const char*>(argument));
    return h->Next();
}
int Kind2(intptr_t value, void* data) {
    auto* h = static_cast<HookScript*>(data);
    calls.push_back(h->name + "=" + std::to_string(value));
    return h->Next();
}

template <typename Fn>
PluginHookFn AsHook(Fn fn) {
    return reinterpret_cast<PluginHookFn>(fn);
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRuntimeSettings();
        calls.clear();
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        VmRegistrySetLightUserdata(L_, "applet", &applet_);
        SetMainState(L_);
    }
    void TearDown() override {
        SetMainState(nullptr);
        VmClose(L_);
        ResetRuntimeSettings();
    }

    static std::vector<std::string> Names(uint32_t capability) {
        std::vector<std::string> names;
        for (qbAdapterNode* n = GetPluginList(capability); n; n = n->next) names.push_back(n->plugin->name);
        return names;
    }

    ScriptState* L_ = nullptr;
    qbApplet applet_;
};

}  // namespace

TEST_F(RegistryTest, PumpHooksAnswerInOrder) {
    HookScript a{"a"}, b{"b", {7}}, c{"c", {9}}, other{"x"};
    EXPECT_EQ(AddPluginHook(3, AsHook(Kind1), &a, 0), nullptr);
    EXPECT_EQ(AddPluginHook(1, nullptr, &a, 0), nullptr);
    AddPluginHook(1, AsHook(Kind1), &a, 0);
    qbPluginHook* hb = AddPluginHook(1, AsHook(Kind1), &b, 0);
    AddPluginHook(2, AsHook(Kind2), &other, 0);
    AddPluginHook(1, AsHook(Kind1), &c, 0);

    EXPECT_EQ(RunPluginHooks(const_cast<char*>("d"), 1, 0), 7);
    EXPECT_EQ(calls, (std::vector<std::string>{"a:d", "b:d"}));
    calls.clear();
    EXPECT_EQ(SetPluginHookDisabled(hb, 1), hb);
    EXPECT_EQ(RunPluginHooks(const_cast<char*>("d"), 1, 0), 9);
    EXPECT_EQ(calls, (std::vector<std::string>{"a:d", "c:d"}));

    calls.clear();
    EXPECT_EQ(RunPluginHooks(nullptr, 2, 42), 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"x=42"}));
}

TEST_F(RegistryTest, LoopHookRunsUntilItIsDone) {
    HookScript loop{"loop", {0, 0, 5}}, ender{"end", {0, -1}}, later{"later", {1}};
    qbPluginHook* h = AddPluginHook(0, AsHook(Kind0), &loop, 0);
    AddPluginHook(0, AsHook(Kind0), &later, 0);
    EXPECT_EQ(RunPluginHooks(nullptr, 0, 0), 5);
    EXPECT_EQ(calls, (std::vector<std::string>{"loop", "loop", "loop"}));

    RemovePluginHook(h);
    calls.clear();
    EXPECT_EQ(RunPluginHooks(nullptr, 0, 0), 1);
    EXPECT_EQ(calls, (std::vector<std::string>{"later"}));

    ResetRuntimeSettings();
    calls.clear();
    AddPluginHook(0, AsHook(Kind0), &ender, 0);
    EXPECT_EQ(RunPluginHooks(nullptr, 0, 0), 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"end", "end"}));

    // A marshalled hook cannot be called here and would answer 0 for ever.
    ResetRuntimeSettings();
    calls.clear();
    AddPluginHook(0, AsHook(Kind0), &loop, 1);
    EXPECT_EQ(RunPluginHooks(nullptr, 0, 0), 0);
    AddPluginHook(1, AsHook(Kind1), &loop, 1);
    EXPECT_EQ(RunPluginHooks(const_cast<char*>("d"), 1, 0), 0);
    EXPECT_TRUE(calls.empty());
}

// A hook that takes itself out while the hooks run.
qbPluginHook* selfRemoving;
int RemoveSelf(intptr_t, void*) {
    calls.push_back("self");
    RemovePluginHook(selfRemoving);
    return 0;
}

TEST_F(RegistryTest, RemovedHooksLeaveTheRestInOrderEvenDuringAWalk) {
    HookScript a{"a"}, b{"b"}, c{"c"};
    qbPluginHook* ha = AddPluginHook(2, AsHook(Kind2), &a, 0);
    selfRemoving = AddPluginHook(2, AsHook(RemoveSelf), nullptr, 0);
    AddPluginHook(2, AsHook(Kind2), &b, 0);
    AddPluginHook(2, AsHook(Kind2), &c, 0);
    RemovePluginHook(ha);
    RemovePluginHook(ha);
    int stranger = 0;
    RemovePluginHook(reinterpret_cast<qbPluginHook*>(&stranger));
    EXPECT_EQ(SetPluginHookDisabled(ha, 1), nullptr);
    RunPluginHooks(nullptr, 2, 1);
    RunPluginHooks(nullptr, 2, 2);
    EXPECT_EQ(calls, (std::vector<std::string>{"self", "b=1", "c=1", "b=2", "c=2"}));
}

TEST_F(RegistryTest, CapabilityLists) {
    EXPECT_TRUE(HasPluginList(PLUGINCAPS_DIRADAPTER));
    EXPECT_FALSE(HasPluginList(PLUGINCAPS_LIBRARY));
    EXPECT_FALSE(HasPluginList(PLUGINCAPS_IMAGE | PLUGINCAPS_ANIM));

    qbPlugin png, gif;
    png.name = "png";
    gif.name = "gif";
    EXPECT_EQ(AddPluginToCapabilityList(&png, PLUGINCAPS_LIBRARY), ERR_WRONGUSAGE);
    EXPECT_EQ(AddPluginToCapabilityList(nullptr, PLUGINCAPS_IMAGE), ERR_WRONGUSAGE);
    EXPECT_EQ(AddPluginToCapabilityList(&png, PLUGINCAPS_IMAGE), 0);
    EXPECT_EQ(AddPluginToCapabilityList(&gif, PLUGINCAPS_IMAGE), 0);
    EXPECT_EQ(AddPluginToCapabilityList(&png, PLUGINCAPS_IMAGE), 0);
    EXPECT_EQ(AppendPluginListEntry(PLUGINCAPS_FILEADAPTER, &gif), 0);
    EXPECT_EQ(Names(PLUGINCAPS_IMAGE), (std::vector<std::string>{"png", "gif"}));
    EXPECT_EQ(Names(PLUGINCAPS_FILEADAPTER), (std::vector<std::string>{"gif"}));
    EXPECT_TRUE(Names(PLUGINCAPS_ANIM).empty());
    RemovePluginFromCapabilityList(&png, PLUGINCAPS_IMAGE);
    RemovePluginFromCapabilityList(&png, PLUGINCAPS_LIBRARY);
    EXPECT_EQ(Names(PLUGINCAPS_IMAGE), (std::vector<std::string>{"gif"}));

    EXPECT_EQ(SetPluginAttrTag(&gif, 16384, 1), 0);
    EXPECT_EQ(gif.fileAdapterFlags, 1u);
    EXPECT_EQ(SetPluginAttrTag(&gif, 16385, 0), 0);
    EXPECT_EQ(gif.fileAdapterFlags, 1u);

}

TEST_F(RegistryTest, OlderAppletsKeepPluginsOffTheLists) {
    qbPlugin png;
    png.name = "png";
    applet_.appletFlag = 1;
    applet_.versionMajor = 5;
    applet_.versionMinor = 3;
    EXPECT_EQ(AppendPluginListEntry(PLUGINCAPS_IMAGE, &png), ERR_OLDAPPLET);
    EXPECT_STREQ(GetErrorDetail(), "6.0");
    EXPECT_EQ(AddPluginToCapabilityList(&png, PLUGINCAPS_DIRADAPTER), ERR_OLDAPPLET);
    EXPECT_TRUE(Names(PLUGINCAPS_IMAGE).empty());
    EXPECT_TRUE(Names(PLUGINCAPS_DIRADAPTER).empty());
    applet_.versionMajor = 6;
    applet_.versionMinor = 0;
    EXPECT_EQ(AppendPluginListEntry(PLUGINCAPS_IMAGE, &png), 0);
}

TEST_F(RegistryTest, ShutdownEmptiesEveryList) {
    HookScript a{"a"};
    AddPluginHook(2, AsHook(Kind2), &a, 0);
    EXPECT_EQ(AddUserErrorCode("Mine!"), ERR_FIRST_USER);
    qbPlugin png;
    png.name = "png";
    AddPluginToCapabilityList(&png, PLUGINCAPS_SOUND);
    SetCurrentSourceName("game.qbs");

    FreeRuntimeLists(L_);
    RunPluginHooks(nullptr, 2, 0);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(AddUserErrorCode("Again"), ERR_FIRST_USER);
    EXPECT_TRUE(Names(PLUGINCAPS_SOUND).empty());
    EXPECT_STREQ(GetCurrentSourceName(), "?");
}
