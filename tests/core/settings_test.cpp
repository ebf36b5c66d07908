// Runtime settings through tag lists, the tag hooks, and the command-table registry.
#include <gtest/gtest.h>

#include <vector>

#include "core/settings.h"

namespace {

struct HookLog {
    std::vector<int> tags;
    std::vector<intptr_t> values;
    void* arg = nullptr;
};
HookLog hookLog;

int TakeTag99(void* arg, int tag, intptr_t value) {
    hookLog.arg = arg;
    hookLog.tags.push_back(tag);
    hookLog.values.push_back(value);
    return tag == 99;
}

int TakeEverything(void*, int tag, intptr_t) {
    hookLog.tags.push_back(-tag);
    return 1;
}

int AnswerTag6(void*, int tag, intptr_t address) {
    if (tag != 6) return 0;
    *reinterpret_cast<int*>(address) = 77;
    return 1;
}

int Noop(ScriptState*) { return 0; }

class RuntimeSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRuntimeSettings();
        hookLog = {};
    }
    void TearDown() override { ResetRuntimeSettings(); }
};

}  // namespace

TEST_F(RuntimeSettingsTest, CallbackNestingCounts) {
    const RuntimeTagItem items[] = {{kTagCallbackNesting, 1}, {kTagCallbackNesting, 1}, {kTagCallbackNesting, 0}};
    EXPECT_EQ(SetRuntimeTags(nullptr, items, 3), 3);
    EXPECT_EQ(GetRuntimeTag(kTagCallbackNesting), 1);
    SetRuntimeTag(kTagCallbackNesting, 0);
    SetRuntimeTag(kTagCallbackNesting, 0);
    EXPECT_EQ(GetRuntimeTag(kTagCallbackNesting), 0);
    SetRuntimeTag(kTagCallbackNesting, 5);
    EXPECT_EQ(GetRuntimeTag(kTagCallbackNesting), 1);
}

TEST_F(RuntimeSettingsTest, UnknownTagsGoToTheHooksInOrder) {
    const RuntimeTagItem items[] = {{kTagQuiet, 1}, {99, 42}};
    EXPECT_EQ(SetRuntimeTags(nullptr, items, 2), 1);
    EXPECT_EQ(GetRuntimeTag(kTagQuiet), 1);
    // Tag 0 ends a list.
    const RuntimeTagItem ended[] = {{kTagDeclaring, 1}, {0, 0}, {kTagQuiet, 0}};
    EXPECT_EQ(SetRuntimeTags(nullptr, ended, 3), 1);
    EXPECT_EQ(GetRuntimeTag(kTagQuiet), 1);

    ASSERT_EQ(AddSetTagHook(TakeTag99), 0);
    // A library opened again adds its hook once.
    ASSERT_EQ(AddSetTagHook(TakeTag99), 0);
    ASSERT_EQ(AddSetTagHook(TakeEverything), 0);
    int arg = 0;
    const RuntimeTagItem more[] = {{99, 42}, {98, 7}};
    EXPECT_EQ(SetRuntimeTags(&arg, more, 2), 2);
    // Tag 99 stopped at the first hook; tag 98 went on to the second.
    EXPECT_EQ(hookLog.tags, (std::vector<int>{99, 98, -98}));
    EXPECT_EQ(hookLog.values[0], 42);
    EXPECT_EQ(hookLog.arg, &arg);
}

TEST_F(RuntimeSettingsTest, GetRuntimeTagsAnswersOwnTagsAndAsksHooksForTheRest) {
    SetRuntimeTag(kTagRaiseErrors, 0);
    SetRuntimeTag(kTagFileAndLine, 1);
    int raise = -1, fileAndLine = -1, alpha = -1;
    const RuntimeTagItem items[] = {{kTagRaiseErrors, reinterpret_cast<intptr_t>(&raise)},
                                    {kTagFileAndLine, reinterpret_cast<intptr_t>(&fileAndLine)},
                                    {6, reinterpret_cast<intptr_t>(&alpha)}};
    EXPECT_EQ(GetRuntimeTags(nullptr, items, 3), 1);
    EXPECT_EQ(raise, 0);
    EXPECT_EQ(fileAndLine, -1);
    EXPECT_EQ(GetRuntimeTag(kTagFileAndLine), 1);

    ASSERT_EQ(AddGetTagHook(AnswerTag6), 0);
    EXPECT_EQ(GetRuntimeTags(nullptr, items, 3), 2);
    EXPECT_EQ(alpha, 77);
}

TEST_F(RuntimeSettingsTest, CommandSpellingComesFromTheRegisteredTables) {
    static const ScriptCommand brush[] = {{"DisplayBrush", Noop}, {"Placeholder", nullptr}, {nullptr, nullptr}};
    static const ScriptCommand sound[] = {{"PlaySample", Noop}, {nullptr, nullptr}};
    EXPECT_EQ(FindCommandSpelling("displaybrush"), nullptr);
    ASSERT_EQ(RegisterCommandTable(brush, "brush"), 0);
    ASSERT_EQ(RegisterCommandTable(sound, "sound"), 0);
    // A library opened again is recorded once.
    ASSERT_EQ(RegisterCommandTable(brush, "brush"), 0);
    EXPECT_EQ(RegisteredCommandTables().size(), 2u);
    EXPECT_EQ(FindCommandSpelling("DISPLAYBRUSH"), brush[0].name);
    EXPECT_EQ(FindCommandSpelling("playsample"), sound[0].name);
    EXPECT_EQ(FindCommandSpelling("placeholder"), nullptr);
    EXPECT_EQ(FindCommandSpelling("Display"), nullptr);
    EXPECT_EQ(FindCommandSpelling(nullptr), nullptr);

    FreeRuntimeLists(nullptr);
    EXPECT_EQ(FindCommandSpelling("PlaySample"), nullptr);
}

TEST_F(RuntimeSettingsTest, InitKeepsSettingsButEmptiesTheLists) {
    static const ScriptCommand table[] = {{"Wait", Noop}, {nullptr, nullptr}};
    SetRuntimeTag(kTagQuiet, 1);
    RegisterCommandTable(table, "system");
    AddSetTagHook(TakeEverything);
    EXPECT_EQ(InitRuntimeCore(), 0);
    EXPECT_EQ(GetRuntimeTag(kTagQuiet), 1);
    EXPECT_EQ(FindCommandSpelling("wait"), nullptr);
    SetRuntimeTag(50, 1);
    EXPECT_TRUE(hookLog.tags.empty());

    ResetRuntimeSettings();
    EXPECT_EQ(GetRuntimeTag(kTagQuiet), 0);
}
