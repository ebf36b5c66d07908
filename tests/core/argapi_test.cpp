// The argument layer as command handlers use it: object ids, percentages,
// "#NAME" constants and option-table fields, with the code each bad argument
// raises.
#include "core/argapi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "core/applet.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/memory.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "player/startup.h"
#include "vm/vm.h"

namespace {

using Body = std::function<void(ScriptState*)>;

// A pointer a script might pass; never a valid address.
void* const kStrangeHandle = reinterpret_cast<void*>(uintptr_t{0x10});

class ArgApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRuntimeSettings();
        SetErrorDetail("");
        SetErrorArgIndex(0);
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        SetMainState(L_);
    }
    void TearDown() override {
        SetMainState(nullptr);
        VmClose(L_);
        ResetRuntimeSettings();
    }

    // Runs body as a command handler with the arguments that push leaves on
    // the stack; the code it raised, 0 when none.
    int Run(const Body& push, const Body& body) {
        static const Body* current;
        current = &body;
        VmSetTop(L_, 0);
        VmPushCClosure(
            L_,
            [](ScriptState* L) {
                (*current)(L);
                return 0;
            },
            0);
        push(L_);
        const int code = VmPCall(L_, VmGetTop(L_) - 1, 0, 0);
        VmSetTop(L_, 0);
        return code;
    }

    // The option table that the field tests read, as the first argument.
    static void PushOptions(ScriptState* L) {
        VmPushNewTable(L);
        SetTableFieldFloat(L, "w", 10.7);
        SetTableFieldFloat(L, "n", -3.9);
        SetTableFieldInt(L, "c", -1);
        SetTableFieldFloat(L, "big", 5e9);
        SetTableFieldFloat(L, "num", 42);
        SetTableFieldString(L, "s", "hello");
        SetTableFieldString(L, "numtext", "12.5");
        SetTableFieldString(L, "pct", "25%");
        SetTableFieldString(L, "half", "50%");
        SetTableFieldString(L, "over", "150%");
        SetTableFieldString(L, "neg", "-5%");
        SetTableFieldString(L, "bad", "x%");
        SetTableFieldString(L, "lname", "top");
        SetTableFieldObjectID(L, "handle", ObjectID{0, kStrangeHandle});
        VmPushString(L, "flag");
        VmPushBoolean(L, 1);
        VmSetTableAt(L, -3);
        PushQuad(L, "quad", 4);
        PushQuad(L, "short", 3);
    }
    // t[key] = {[0] = 1, 2, ...} with count elements.
    static void PushQuad(ScriptState* L, const char* key, int count) {
        VmPushString(L, key);
        VmPushNewTable(L);
        for (int i = 0; i < count; ++i) {
            VmPushNumber(L, i + 1);
            VmRawSetIndex(L, -2, i);
        }
        VmSetTableAt(L, -3);
    }

    ScriptState* L_ = nullptr;
};

Body NoArgs() {
    return [](ScriptState*) {};
}
Body Number(double d) {
    return [d](ScriptState* L) { VmPushNumber(L, d); };
}
Body Text(const char* s) {
    return [s](ScriptState* L) { VmPushString(L, s); };
}
Body Nil() {
    return [](ScriptState* L) { VmPushNil(L); };
}
Body Table() {
    return [](ScriptState* L) { VmPushNewTable(L); };
}

}  // namespace

TEST_F(ArgApiTest, ObjectIdsFromHandlesAndNumbers) {
    ObjectID id;
    auto read = [&](ScriptState* L) { id = GetObjectIDArg(L, 1); };
    ASSERT_EQ(Run([](ScriptState* L) { VmPushLightUserdata(L, kStrangeHandle); }, read), 0);
    EXPECT_EQ(id, (ObjectID{0, kStrangeHandle}));
    ASSERT_EQ(Run(Number(-5.9), read), 0);
    EXPECT_EQ(id, (ObjectID{-5, nullptr}));
    ASSERT_EQ(Run(Number(1e12), read), 0);
    EXPECT_EQ(id.number, INT32_MAX);
    ASSERT_EQ(Run(Text("7"), read), 0);
    EXPECT_EQ(id.number, 7);
    EXPECT_EQ(Run(NoArgs(), read), ERR_NUMEXPECTED);
    EXPECT_EQ(Run(Table(), read), ERR_NUMEXPECTED);
    EXPECT_EQ(GetErrorArgIndex(), 1);
}

TEST_F(ArgApiTest, NewObjectIdsLeaveTheChoiceForNil) {
    NewObjectID id;
    auto read = [&](ScriptState* L) { id = GetNewObjectIDArg(L, 1); };
    ASSERT_EQ(Run(Nil(), read), 0);
    EXPECT_EQ(id.id, 0);
    EXPECT_EQ(id.chooseFlag, 1);
    ASSERT_EQ(Run(Number(12), read), 0);
    EXPECT_EQ(id.id, 12);
    EXPECT_EQ(id.chooseFlag, 0);
    EXPECT_EQ(Run(NoArgs(), read), ERR_NUMEXPECTED);
    EXPECT_EQ(Run([](ScriptState* L) { VmPushLightUserdata(L, kStrangeHandle); }, read), ERR_NUMEXPECTED);

}

TEST_F(ArgApiTest, NumbersAndPercentages) {
    double v = -1;
    int flag = -1;
    auto read = [&](int base, int allow) {
        return [&v, &flag, base, allow](ScriptState* L) { v = GetNumberOrPercentArg(L, 1, base, allow, &flag); };
    };
    ASSERT_EQ(Run(Text("50%"), read(640, 0)), 0);
    EXPECT_EQ(v, 320);
    EXPECT_EQ(flag, 0);
    ASSERT_EQ(Run(Text("50%"), read(0, 0)), 0);
    EXPECT_EQ(v, 0.5);
    EXPECT_EQ(flag, 1);
    ASSERT_EQ(Run(Text(" +25.5%"), read(200, 0)), 0);
    EXPECT_EQ(v, 51);
    ASSERT_EQ(Run(Number(7.25), read(640, 0)), 0);
    EXPECT_EQ(v, 7.25);
    EXPECT_EQ(flag, 0);
    ASSERT_EQ(Run(Text("150%"), read(640, 1)), 0);
    EXPECT_EQ(v, 960);
    ASSERT_EQ(Run(Nil(), read(640, 0)), 0);
    EXPECT_EQ(v, 0);

    EXPECT_EQ(Run(Text("150%"), read(640, 0)), ERR_PERCENTFORMAT);
    EXPECT_EQ(Run(Text("-5%"), read(640, 1)), ERR_PERCENTFORMAT);
    for (const char* bad : {"abc", "", "%", "-", "nan%", "inf", "1e999%"})
        EXPECT_EQ(Run(Text(bad), read(640, 1)), ERR_PERCENTFORMAT) << bad;
    EXPECT_EQ(GetErrorArgIndex(), 1);
    SetErrorArgIndex(0);
    EXPECT_EQ(Run(
                  [](ScriptState* L) {
                      VmPushNumber(L, 1);
                      VmPushNewTable(L);
                  },
                  [&](ScriptState* L) { GetNumberOrPercentArg(L, 2, 640, 0, nullptr); }),
              ERR_STRORNUM);
    EXPECT_EQ(GetErrorArgIndex(), 2);
    EXPECT_EQ(Run(NoArgs(), read(640, 0)), ERR_NUMEXPECTED);
}

TEST_F(ArgApiTest, ConstantReferencesInStrings) {
    const std::string longName(70, 'K');
    const std::string cut = longName.substr(0, 64);
    const ScriptConstant constants[] = {
        {"BRUSH", nullptr, 3}, {"TITLE", "Quenbrook", 0}, {cut.c_str(), nullptr, 64}, {nullptr, nullptr, 0}};
    VmRegisterConstants(L_, constants, 0);

    size_t length = 0;
    const char* text = "unset";
    double number = 0;
    EXPECT_EQ(ParseConstantString(L_, "#BRUSH", &length, &text, &number), 0);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(number, 3);
    // The name ends where its characters end, and compares without case.
    EXPECT_EQ(ParseConstantString(L_, "#brush+1", &length, &text, &number), 0);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(ParseConstantString(L_, "#TITLE", nullptr, &text, &number), 0);
    EXPECT_STREQ(text, "Quenbrook");
    EXPECT_EQ(number, 0);
    EXPECT_EQ(ParseConstantString(L_, ("#" + longName).c_str(), &length, nullptr, &number), 0);
    EXPECT_EQ(length, 65u);
    EXPECT_EQ(number, 64);

    EXPECT_EQ(ParseConstantString(L_, "BRUSH", &length, &text, &number), ERR_WRONGUSAGE);
    EXPECT_EQ(ParseConstantString(L_, nullptr, &length, &text, &number), ERR_WRONGUSAGE);
    EXPECT_EQ(ParseConstantString(L_, "#1BRUSH", &length, &text, &number), ERR_SYNTAXERROR);
    EXPECT_EQ(ParseConstantString(L_, "#", &length, &text, &number), ERR_SYNTAXERROR);
    EXPECT_EQ(ParseConstantString(L_, "#NOPE_$!", &length, &text, &number), ERR_FINDCST);
}

TEST_F(ArgApiTest, FlagsReadAsTheScriptsIfAndRangedNumbersRefuseWhatTheyCannotServe) {
    bool flags[5] = {};
    int32_t into[3] = {-1, -1, 7};
    ASSERT_EQ(Run(PushOptions,
                  [&](ScriptState* L) {
                      VmPushNumber(L, 0.5);
                      VmPushNumber(L, -0.25);
                      VmPushBoolean(L, 1);
                      flags[0] = GetFlagArg(L, 2, false);
                      flags[1] = GetFlagArg(L, 3, false);
                      flags[2] = GetFlagArg(L, 4, false);
                      flags[3] = GetFlagArg(L, 9, true);  // left out
                      flags[4] = GetTableFieldFlag(L, 1, "none");
                      GetTableFieldFlagInto(L, 1, "w", &into[0], nullptr);
                      GetTableFieldFlagInto(L, 1, "flag", &into[1], nullptr);
                      GetTableFieldFlagInto(L, 1, "none", &into[2], nullptr);
                  }),
              0);
    EXPECT_TRUE(flags[0] && flags[1] && flags[2] && flags[3]);
    EXPECT_FALSE(flags[4]);
    EXPECT_EQ(into[0], 1);
    EXPECT_EQ(into[1], 1);
    EXPECT_EQ(into[2], 7);
    EXPECT_EQ(Run(Text("yes"), [](ScriptState* L) { GetFlagArg(L, 1, false); }), ERR_NUMEXPECTED);
    EXPECT_EQ(Run(PushOptions, [](ScriptState* L) { GetTableFieldFlag(L, 1, "s"); }), ERR_NUMTABLEARG);

    // A count, size, rate or speed: finite and in range, else refused.
    for (double v : {HUGE_VAL, -HUGE_VAL, std::nan(""), 1e300, 2147483648.0, -1.0, 101.0}) {
        int err = -1;
        int32_t out = 55;
        ASSERT_EQ(Run(Number(v), [&](ScriptState* L) { err = GetIntArgWithin(L, 1, 0, 100, &out); }), 0);
        EXPECT_EQ(err, ERR_WRONGUSAGE) << v;
        EXPECT_EQ(out, 55);
    }
    int32_t out = 0;
    ASSERT_EQ(Run(Number(100.9), [&](ScriptState* L) { EXPECT_EQ(GetIntArgWithin(L, 1, 0, 100, &out), 0); }), 0);
    EXPECT_EQ(out, 100);
    ASSERT_EQ(Run(Number(-HUGE_VAL), [&](ScriptState* L) { EXPECT_EQ(GetFiniteIntArg(L, 1, &out), ERR_WRONGUSAGE); }), 0);
    ASSERT_EQ(Run(Number(-1e300), [&](ScriptState* L) { out = GetIntArg(L, 1); }), 0);
    EXPECT_EQ(out, INT32_MIN);
}

TEST_F(ArgApiTest, NumberFields) {
    double d = -1;
    int32_t i = -1;
    uint32_t u = 0;
    int found = 0;
    int present = -1;
    ASSERT_EQ(Run(PushOptions,
                  [&](ScriptState* L) {
                      present = GetTableFieldFloat(L, 1, "w", &d, &found);
                      EXPECT_EQ(VmGetTop(L), 1);
                      GetTableFieldInt(L, 1, "n", &i, nullptr);
                      GetTableFieldUInt(L, -1, "c", &u, nullptr);
                  }),
              0);
    EXPECT_EQ(present, 1);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(d, 10.7);
    EXPECT_EQ(i, -3);
    EXPECT_EQ(u, 0xFFFFFFFFu);

    ASSERT_EQ(Run(PushOptions,
                  [&](ScriptState* L) {
                      GetTableFieldUInt(L, 1, "big", &u, nullptr);
                      GetTableFieldInt(L, 1, "big", &i, nullptr);
                      GetTableFieldFloat(L, 1, "numtext", &d, nullptr);
                  }),
              0);
    EXPECT_EQ(u, 4294967295u);
    EXPECT_EQ(i, INT32_MAX);
    EXPECT_EQ(d, 12.5);

    // Absent fields leave the output and the found flag alone.
    d = 99;
    found = 0;
    ASSERT_EQ(Run(PushOptions, [&](ScriptState* L) { present = GetTableFieldFloat(L, 1, "none", &d, &found); }), 0);
    EXPECT_EQ(present, 0);
    EXPECT_EQ(d, 99);
    EXPECT_EQ(found, 0);

    EXPECT_EQ(Run(PushOptions, [&](ScriptState* L) { GetTableFieldFloat(L, 1, "flag", &d, nullptr); }),
              ERR_NUMTABLEARG);
    EXPECT_STREQ(GetErrorDetail(), "flag");
    EXPECT_EQ(Run(PushOptions, [&](ScriptState* L) { GetTableFieldUInt(L, 1, "s", &u, nullptr); }), ERR_NUMTABLEARG);
    EXPECT_STREQ(GetErrorDetail(), "s");

}

TEST_F(ArgApiTest, FieldsComeThroughTheIndexChain) {
    double d = 0;
    auto push = [](ScriptState* L) {
        VmPushNewTable(L);
        VmPushNewTable(L);
        VmPushString(L, "__index");
        VmPushNewTable(L);
        SetTableFieldFloat(L, "inherited", 5);
        VmSetTableAt(L, -3);
        VmSetMetatable(L, -2);
    };
    ASSERT_EQ(Run(push, [&](ScriptState* L) { EXPECT_EQ(GetTableFieldFloat(L, 1, "inherited", &d, nullptr), 1); }), 0);
    EXPECT_EQ(d, 5);
}

TEST_F(ArgApiTest, StringFields) {
    const char* text = nullptr;
    const char* numberText = nullptr;
    ASSERT_EQ(Run(PushOptions,
                  [&](ScriptState* L) {
                      GetTableFieldString(L, 1, "s", &text, nullptr);
                      EXPECT_STREQ(text, "hello");
                      // A number field's text must outlive the collections that follow.
                      GetTableFieldString(L, 1, "num", &numberText, nullptr);
                      VmSetGcThreshold(L, 0);
                      for (int i = 0; i < 2000; ++i) {
                          VmPushString(L, std::to_string(i).c_str());
                          VmSetTop(L, -2);
                      }
                      EXPECT_STREQ(numberText, "42");
                      EXPECT_EQ(VmType(L, 1), kTypeTable);
                  }),
              0);
    EXPECT_EQ(Run(PushOptions, [&](ScriptState* L) { GetTableFieldString(L, 1, "quad", &text, nullptr); }),
              ERR_STRTABLEARG);
    EXPECT_STREQ(GetErrorDetail(), "quad");
}

TEST_F(ArgApiTest, StringCopiesStayInTheirBuffer) {
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(Run(PushOptions, [&](ScriptState* L) { GetTableFieldStringCopy(L, 1, "s", buffer, 4, nullptr); }), 0);
    EXPECT_STREQ(buffer, "hel");
    EXPECT_EQ(buffer[4], '#');
    ASSERT_EQ(Run(PushOptions,
                  [&](ScriptState* L) {
                      GetTableFieldStringCopy(L, 1, "num", buffer, sizeof buffer, nullptr);
                      EXPECT_EQ(GetTableFieldStringCopy(L, 1, "s", buffer, 0, nullptr), 1);
                  }),
              0);
    EXPECT_STREQ(buffer, "42");

    char* copy = nullptr;
    size_t length = 0;
    int isFont = -1;
    ASSERT_EQ(Run(PushOptions,
                  [&](ScriptState* L) {
                      EXPECT_EQ(GetTableFieldStringDup(L, 1, "s", 0, &isFont, &copy, &length, nullptr), 1);
                  }),
              0);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "hello");
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(isFont, 0);
    FreeMemory(copy);

    // A font name becomes the applet's chunk name of the linked font.
    qbApplet applet;
    applet.linkedFiles.push_back({"::font:top", "/apps/x.qba", 100, 20});
    VmRegistrySetLightUserdata(L_, "applet", &applet);
    ASSERT_EQ(Run(PushOptions,
                  [&](ScriptState* L) {
                      EXPECT_EQ(GetTableFieldStringDup(L, 1, "lname", 1, &isFont, &copy, &length, nullptr), 1);
                  }),
              0);
    VmRegistrySetLightUserdata(L_, "applet", nullptr);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::string(copy, length), ":::chunk100:20*top?/apps/x.qba");
    EXPECT_EQ(isFont, 1);
    FreeMemory(copy);
    EXPECT_EQ(Run(PushOptions,
                  [&](ScriptState* L) { GetTableFieldStringDup(L, 1, "flag", 0, nullptr, &copy, nullptr, nullptr); }),
              ERR_STRTABLEARG);
}

TEST_F(ArgApiTest, SizeAndPercentFields) {
    int32_t size = 0;
    ASSERT_EQ(Run(PushOptions,
                  [&](ScriptState* L) {
                      GetTableFieldSizeOrPercent(L, 1, "pct", 0, &size, nullptr);
                      EXPECT_EQ(size, -25);
                      GetTableFieldSizeOrPercent(L, 1, "numtext", 0, &size, nullptr);
                      EXPECT_EQ(size, 12);
                      GetTableFieldSizeOrPercent(L, 1, "w", 0, &size, nullptr);
                      EXPECT_EQ(size, 10);
                      GetTableFieldSizeOrPercent(L, 1, "over", 1, &size, nullptr);
                      EXPECT_EQ(size, -150);
                  }),
              0);
    for (const char* key : {"over", "neg", "bad", "flag"}) {
        EXPECT_EQ(Run(PushOptions, [&](ScriptState* L) { GetTableFieldSizeOrPercent(L, 1, key, 0, &size, nullptr); }),
                  ERR_PERCENTFORMATSTR)
            << key;
        EXPECT_STREQ(GetErrorDetail(), key);
    }

    double v = 0;
    int flag = -1;
    EXPECT_EQ(
        Run(PushOptions, [&](ScriptState* L) { GetTableFieldNumberOrPercent(L, 1, "neg", 0, 1, &v, &flag, nullptr); }),
        ERR_PERCENTFORMATSTR);
    EXPECT_EQ(
        Run(PushOptions, [&](ScriptState* L) { GetTableFieldNumberOrPercent(L, 1, "flag", 0, 1, &v, &flag, nullptr); }),
        ERR_NUMTABLEARG);
    EXPECT_STREQ(GetErrorDetail(), "flag");
}

TEST_F(ArgApiTest, QuadFields) {
    double quad[4] = {};
    ASSERT_EQ(Run(PushOptions, [&](ScriptState* L) { GetTableFieldQuad(L, 1, "quad", quad, nullptr); }), 0);
    EXPECT_EQ(quad[0], 1);
    EXPECT_EQ(quad[3], 4);
    EXPECT_EQ(Run(PushOptions, [&](ScriptState* L) { GetTableFieldQuad(L, 1, "short", quad, nullptr); }),
              ERR_MISSINGPARAMTR);
    EXPECT_EQ(Run(PushOptions, [&](ScriptState* L) { GetTableFieldQuad(L, 1, "w", quad, nullptr); }), ERR_TABEXPECTED);
}

TEST_F(ArgApiTest, LayerFields) {
    int32_t layer = 0;
    ASSERT_EQ(Run(PushOptions, [&](ScriptState* L) { GetTableFieldLayerID(L, 1, "n", &layer, nullptr); }), 0);
    EXPECT_EQ(layer, -3);
    EXPECT_EQ(Run(PushOptions, [&](ScriptState* L) { GetTableFieldLayerID(L, 1, "lname", &layer, nullptr); }),
              ERR_FINDLAYER);
    EXPECT_STREQ(GetErrorDetail(), "top");
    EXPECT_EQ(Run(PushOptions, [&](ScriptState* L) { GetTableFieldLayerID(L, 1, "flag", &layer, nullptr); }),
              ERR_WRONGUSAGE);
}

