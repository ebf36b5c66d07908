// The call tracer's lines, byte for byte, for every kind of argument and for
// functions without a name. (How a called function is named is the debug
// layer's, tested in debug_test.cpp; the switches that turn the tracer on are
// the system library's, tested with it.)
#include <cstdio>
#include <string>
#include <vector>

#include "vm_fixture.h"

namespace {

int Nothing(ScriptState*) { return 0; }

class TracerTest : public vmtest::VmFixture {
protected:
    void SetUp() override {
        VmFixture::SetUp();
        RegisterClosure("nothing", Nothing);
    }
    void TearDown() override {
        SetNativeCallExtra(kCallExtraTrace, false);
        VmFixture::TearDown();
    }

    // Calls the function below the nargs values on top from native code with
    // the tracer on, and answers what it printed.
    std::string Traced(int nargs) {
        SetNativeCallExtra(kCallExtraTrace, true);
        testing::internal::CaptureStdout();
        int rc = VmPCall(L, nargs, 0, 0);
        std::string text = testing::internal::GetCapturedStdout();
        SetNativeCallExtra(kCallExtraTrace, false);
        EXPECT_EQ(rc, 0);
        return text;
    }

    static std::string Pointer(const void* p) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%p", p);
        return buf;
    }
};

TEST_F(TracerTest, EachKindOfArgumentHasItsForm) {
    PushGlobal("nothing");
    VmPushNil(L);
    VmPushNumber(L, 1.5);
    VmPushNumber(L, 123456789);  // "%g", not the script's "%.14g"
    VmPushNumber(L, -0.25);
    VmPushString(L, "two words");
    VmPushNewTable(L);
    const void* table = VmToPointer(L, -1);
    PushGlobal("emit");
    const void* function = VmToPointer(L, -1);
    VmPushBoolean(L, 1);
    VmPushLightUserdata(L, &out);
    VmNewUserdata(L, 4);
    EXPECT_EQ(Traced(10),
              "Now calling nothing() with arguments #1=(NIL) #2=(NUMBER)1.5 #3=(NUMBER)1.23457e+08 "
              "#4=(NUMBER)-0.25 #5=(STRING)\"two words\" #6=(TABLE)" +
                  Pointer(table) + " #7=(FUNCPTR)" + Pointer(function) +
                  " #8=(INTERNAL)1 #9=(INTERNAL)2 #10=(INTERNAL)7 \n");
}

TEST_F(TracerTest, TextsArePrintedWholeUpToANul) {
    std::string longText(3000, 'q');
    PushGlobal("nothing");
    VmPushString(L, longText.c_str());
    VmPushLString(L, "ab\0cd", 5);
    VmPushString(L, "");
    EXPECT_EQ(Traced(3), "Now calling nothing() with arguments #1=(STRING)\"" + longText +
                             "\" #2=(STRING)\"ab\" #3=(STRING)\"\" \n");
}

TEST_F(TracerTest, UnnamedFunctionsShowTheKeyTheyWereAskedFor) {
    auto anonymous = [&] { VmPushCClosure(L, Nothing, 0); };
    anonymous();
    VmPushNil(L);
    VmPushString(L, "size");
    EXPECT_EQ(Traced(2), "Now trying to find metamethod size() with arguments #1=(NIL) #2=(STRING)\"size\" \n");
    anonymous();
    VmPushNil(L);
    VmPushNumber(L, 0.5);
    EXPECT_EQ(Traced(2), "Now trying to find metamethod 0.5() with arguments #1=(NIL) #2=(NUMBER)0.5 \n");
    // The argument the handler gets is not turned into a string.
    EXPECT_EQ(VmGetTop(L), 0);
    anonymous();
    VmPushNil(L);
    VmPushNil(L);
    EXPECT_EQ(Traced(2), "Now calling <unknown>() with arguments #1=(NIL) #2=(NIL) \n");
    anonymous();
    EXPECT_EQ(Traced(0), "Now calling <unknown>()\n");
}

// The interpreter's own call path traces too, naming by the calling code.
TEST_F(TracerTest, ScriptCallsAreTraced) {
    SetNativeCallExtra(kCallExtraTrace, true);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Run(".function main maxstack=4\n    GETGLOBAL 0 \"nothing\"\n    LOADK 1 #3\n    CALL 0 2 1\n"
                  "    RETURN 0 1\n.end\n"),
              0);
    std::string text = testing::internal::GetCapturedStdout();
    SetNativeCallExtra(kCallExtraTrace, false);
    EXPECT_EQ(text, "Now calling nothing() with arguments #1=(NUMBER)3 \n");
}

}  // namespace
