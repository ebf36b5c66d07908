// Tests of the command layer: command and constant registration, lookups,
// argument checkers, references, named metatables and the string buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "core/errcodes.h"
#include "vm/internal.h"
#include "vm_fixture.h"

namespace {

using Body = vmtest::NativeBody;

int ReturnUpvalue(ScriptState* L) {
    VmPushValue(L, VmUpvalueIndex(1));
    return 1;
}

int ReturnSeven(ScriptState* L) {
    VmPushNumber(L, 7);
    return 1;
}

class CmdLayerTest : public vmtest::NativeFixture {
protected:
    int GlobalType(const char* name) {
        VmPushString(L, name);
        VmRawGet(L, kGlobalsIndex);
        int t = VmType(L, -1);
        VmSetTop(L, -2);
        return t;
    }
};

// ---- commands ------------------------------------------------------------------

TEST_F(CmdLayerTest, CommandsAreStoredUnderFoldedNamesOfAtMost127Characters) {
    std::string longest(127, 'A'), tooLong(128, 'b');
    const ScriptCommand cmds[] = {{"DisplayBrush", ReturnSeven}, {"Skipped", nullptr}, {"\xC4RGER", ReturnSeven},
                                  {longest.c_str(), ReturnSeven}, {tooLong.c_str(), ReturnSeven}, {nullptr, nullptr}};
    VmPushValue(L, kGlobalsIndex);
    EXPECT_EQ(VmRegisterCommands(L, nullptr, cmds, 0), 1);
    EXPECT_EQ(VmGetTop(L), 1);
    EXPECT_EQ(GlobalType("displaybrush"), kTypeFunction);
    EXPECT_EQ(GlobalType("DisplayBrush"), kTypeNil);
    EXPECT_EQ(GlobalType("skipped"), kTypeNil);
    EXPECT_EQ(GlobalType("\xE4rger"), kTypeFunction);  // Latin-1 letters fold too
    EXPECT_EQ(GlobalType(std::string(127, 'a').c_str()), kTypeFunction);
    EXPECT_EQ(GlobalType(tooLong.c_str()), kTypeNil);

    VmPushString(L, "displaybrush");
    VmGetTableAt(L, kGlobalsIndex);
    ASSERT_EQ(VmPCall(L, 0, 1, 0), 0);
    EXPECT_EQ(VmToNumber(L, -1), 7);
}

TEST_F(CmdLayerTest, LibraryTablesAreCreatedOnceAndShareUpvalues) {
    const ScriptCommand first[] = {{"One", ReturnUpvalue}, {nullptr, nullptr}};
    const ScriptCommand second[] = {{"Two", ReturnUpvalue}, {nullptr, nullptr}};
    // A table without handlers registers nothing, not even its library.
    const ScriptCommand none[] = {{"a", nullptr}, {nullptr, nullptr}};
    VmPushNumber(L, 1);
    EXPECT_EQ(VmRegisterCommands(L, "lib", none, 1), 0);
    EXPECT_EQ(VmRegisterCommands(L, "lib", nullptr, 1), 0);
    EXPECT_EQ(GlobalType("lib"), kTypeNil);
    VmSetTop(L, 0);

    VmPushString(L, "shared");
    EXPECT_EQ(VmRegisterCommands(L, "MyLib", first, 1), 1);
    ASSERT_EQ(VmGetTop(L), 1);  // the library table, upvalue popped
    EXPECT_EQ(VmType(L, 1), kTypeTable);
    VmPushNumber(L, 5);
    EXPECT_EQ(VmRegisterCommands(L, "MyLib", second, 1), 1);
    ASSERT_EQ(VmGetTop(L), 2);
    EXPECT_TRUE(VmRawEqual(L, 1, 2));  // the same table again
    VmSetTop(L, 0);

    VmPushString(L, "MyLib");  // library names are kept as given
    VmRawGet(L, kGlobalsIndex);
    ASSERT_EQ(VmType(L, 1), kTypeTable);
    VmPushString(L, "one");
    VmRawGet(L, 1);
    ASSERT_EQ(VmPCall(L, 0, 1, 0), 0);
    EXPECT_EQ(StringAt(-1), "shared");
    VmPushString(L, "two");
    VmRawGet(L, 1);
    ASSERT_EQ(VmPCall(L, 0, 1, 0), 0);
    EXPECT_EQ(VmToNumber(L, -1), 5);
}

TEST_F(CmdLayerTest, RegistrationNeedsItsUpvaluesOnTheStack) {
    const ScriptCommand cmds[] = {{"A", ReturnSeven}, {nullptr, nullptr}};
    EXPECT_EQ(Run([&](ScriptState* S) { return VmRegisterCommands(S, "lib", cmds, 2); }), ERR_STACK);
}

// ---- constants and labels -------------------------------------------------------

TEST_F(CmdLayerTest, ConstantsAreFoundIgnoringCase) {
    const ScriptConstant builtin[] = {
        {"CENTER", nullptr, -100000}, {"Greeting", "hello", 0}, {"center", nullptr, 5}, {nullptr, nullptr, 0}};
    const ScriptConstant user[] = {{"Mine", nullptr, 3}, {"GREETING", "user", 0}, {nullptr, nullptr, 0}};
    VmRegisterConstants(L, builtin, 0);
    VmRegisterConstants(L, user, 1);
    EXPECT_EQ(VmGetTop(L), 0);

    const char* text = "unset";
    double num = -1;
    ASSERT_EQ(VmLookupConstant(L, "CeNtEr", &text, &num), 1);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(num, 5);  // the later row of the same folded name wins
    num = -1;
    ASSERT_EQ(VmLookupConstant(L, "greeting", &text, &num), 1);
    EXPECT_STREQ(text, "hello");  // "constants" is searched before "userconstants"
    EXPECT_EQ(num, -1);
    ASSERT_EQ(VmLookupConstant(L, "MINE", &text, &num), 1);
    EXPECT_EQ(num, 3);
    EXPECT_EQ(VmLookupConstant(L, "absent", &text, &num), 0);
    EXPECT_EQ(VmLookupConstant(L, "mine", nullptr, nullptr), 1);
    EXPECT_EQ(VmLookupConstant(L, std::string(200, 'm').c_str(), nullptr, nullptr), 0);
}

TEST_F(CmdLayerTest, LabelsReadAsTruncatedNumbers) {
    EXPECT_EQ(VmLookupLabel(L, "start"), -1);  // no "labels" table yet
    VmPushString(L, "labels");
    VmPushNewTable(L);
    VmPushString(L, "start");
    VmPushNumber(L, 12.7);
    VmRawSet(L, -3);
    VmPushString(L, "named");
    VmPushString(L, "12");
    VmRawSet(L, -3);
    VmPushString(L, "huge");
    VmPushNumber(L, 1e300);
    VmRawSet(L, -3);
    VmRawSet(L, kRegistryIndex);
    EXPECT_EQ(VmLookupLabel(L, "START"), 12);
    EXPECT_EQ(VmLookupLabel(L, "named"), -1);
    EXPECT_EQ(VmLookupLabel(L, "huge"), -1);
    EXPECT_EQ(VmLookupLabel(L, "missing"), -1);
}

// ---- checkers ------------------------------------------------------------------

TEST_F(CmdLayerTest, NumberCheckersTreatNilAsZeroAndAbsentAsMissing) {
    VmPushNil(L);
    VmPushString(L, "$10");
    EXPECT_EQ(Run([](ScriptState* S) {
                  EXPECT_EQ(VmCheckNumber(S, 1), 0);
                  EXPECT_EQ(VmCheckNumber(S, 2), 16);
                  EXPECT_EQ(VmOptNumber(S, 1, 9), 0);
                  EXPECT_EQ(VmOptNumber(S, 3, 9), 9);
                  EXPECT_EQ(VmOptInt(S, 3, 77u), 77u);
                  return 0;
              }, 2),
              0);
    VmPushNil(L);
    VmPushNumber(L, 1);
    vmtest::Hosted().argIndex = 0;
    EXPECT_EQ(Run([](ScriptState* S) { return static_cast<int>(VmCheckNumber(S, 3)); }, 2), ERR_NUMEXPECTED);
    EXPECT_EQ(vmtest::Hosted().argIndex, 3);
}

TEST_F(CmdLayerTest, CheckIntTruncatesNegativesAndClampsTheRest) {
    const struct {
        double in;
        uint32_t out;
    } cases[] = {
        {-1.9, 0xFFFFFFFFu}, {4294967296.0, 4294967295u}, {3000000000.0, 3000000000u}, {7.9, 7u},
        {-0.5, 0u},          {-3e9, 0x80000000u},         {1e300, 4294967295u},
        {std::nan(""), 0u},  {-1e300, 0x80000000u},
    };
    for (const auto& c : cases) {
        VmPushNumber(L, c.in);
        uint32_t got = 0;
        EXPECT_EQ(Run([&](ScriptState* S) { got = VmCheckInt(S, 1); return 0; }, 1), 0);
        EXPECT_EQ(got, c.out) << c.in;
        VmPushNumber(L, c.in);
        EXPECT_EQ(Run([&](ScriptState* S) { got = VmOptInt(S, 1, 5); return 0; }, 1), 0);
        EXPECT_EQ(got, c.out) << c.in;
        VmSetTop(L, 0);
    }
}

TEST_F(CmdLayerTest, StringCheckersConvertInPlace) {
    VmPushNil(L);
    VmPushNumber(L, 12);
    VmPushLString(L, "a\0b", 3);
    EXPECT_EQ(Run([](ScriptState* S) {
                  size_t len = 99;
                  EXPECT_STREQ(VmCheckString(S, 1, &len), "");
                  EXPECT_EQ(len, 0u);
                  EXPECT_EQ(VmType(S, 1), kTypeString);
                  EXPECT_STREQ(VmCheckString(S, 2, &len), "12");
                  EXPECT_EQ(VmType(S, 2), kTypeString);
                  VmCheckString(S, 3, &len);
                  EXPECT_EQ(len, 3u);
                  EXPECT_STREQ(VmOptString(S, 4, "dflt", &len), "dflt");
                  EXPECT_EQ(len, 4u);
                  EXPECT_EQ(VmOptString(S, 4, nullptr, &len), nullptr);
                  EXPECT_EQ(len, 0u);
                  EXPECT_STREQ(VmOptString(S, 1, "dflt", nullptr), "");
                  int err = -1;
                  EXPECT_STREQ(VmTryGetString(S, 2, nullptr, &err), "12");
                  EXPECT_EQ(err, 0);
                  return 0;
              }, 3),
              0);
}

TEST_F(CmdLayerTest, FailingCheckersRaiseTheirCodesWithTheArgumentIndex) {
    const struct {
        std::function<void(ScriptState*)> check;
        int code;
    } cases[] = {
        {[](ScriptState* S) { VmCheckNumber(S, 2); }, ERR_NUMEXPECTED},
        {[](ScriptState* S) { VmOptNumber(S, 2, 1); }, ERR_NUMEXPECTED},
        {[](ScriptState* S) { VmCheckInt(S, 2); }, ERR_NUMEXPECTED},
        {[](ScriptState* S) { VmCheckString(S, 2, nullptr); }, ERR_STREXPECTED},
        {[](ScriptState* S) { VmOptString(S, 2, "x", nullptr); }, ERR_STREXPECTED},
        {[](ScriptState* S) { VmCheckUserdata(S, 2); }, ERR_UDEXPECTED},
        {[](ScriptState* S) { VmCheckFunction(S, 2); }, ERR_FUNCEXPECTED},
        {[](ScriptState* S) { VmCheckTable(S, 1); VmCheckTable(S, 2); }, ERR_TABEXPECTED},
        {[](ScriptState* S) { VmCheckType(S, 2, kTypeString); }, ERR_STREXPECTED},
        {[](ScriptState* S) { VmCheckType(S, 2, kTypeNumber); }, ERR_NUMEXPECTED},
        {[](ScriptState* S) { VmCheckType(S, 2, kTypeTable); }, ERR_TABEXPECTED},
        {[](ScriptState* S) { VmCheckType(S, 2, kTypeFunction); }, ERR_FUNCEXPECTED},
        {[](ScriptState* S) { VmCheckType(S, 2, kTypeLightUserdata); }, ERR_UDEXPECTED},
    };
    for (size_t i = 0; i < std::size(cases); i++) {
        VmSetTop(L, 0);
        VmPushNewTable(L);
        VmPushBoolean(L, 1);  // argument 2 is of no kind any checker accepts
        vmtest::Hosted().argIndex = 0;
        const auto& c = cases[i];
        EXPECT_EQ(Run([&](ScriptState* S) { c.check(S); return 0; }, 2), c.code) << "case " << i;
        EXPECT_EQ(vmtest::Hosted().argIndex, 2) << "case " << i;
    }
    VmSetTop(L, 0);
    VmPushNumber(L, 1);
    EXPECT_EQ(Run([](ScriptState* S) { return VmCheckType(S, 1, kTypeNumber) == kTypeNumber ? 0 : 1; }, 1), 0);
}

TEST_F(CmdLayerTest, FieldCheckersNameTheField) {
    const struct {
        Body body;
        const char* field;
        int code;
    } cases[] = {
        {[](ScriptState* S) { return static_cast<int>(VmGetFieldNumber(S, 1, "width")); }, "width", ERR_NUMTABLEARG},
        {[](ScriptState* S) { return static_cast<int>(VmGetFieldInt(S, 1, "x")); }, "x", ERR_NUMTABLEARG},
        {[](ScriptState* S) { VmGetFieldString(S, 1, nullptr, "title"); return 0; }, "title", ERR_STRTABLEARG},
    };
    for (const auto& c : cases) {
        VmSetTop(L, 0);
        VmPushBoolean(L, 1);
        vmtest::Hosted().detail.clear();
        EXPECT_EQ(Run(c.body, 1), c.code);
        EXPECT_EQ(vmtest::Hosted().detail, c.field);
    }
    VmSetTop(L, 0);
    VmPushBoolean(L, 1);
    VmPushString(L, "5");
    EXPECT_EQ(Run([](ScriptState* S) {
                  EXPECT_EQ(VmGetFieldNumber(S, 2, "w"), 5);
                  EXPECT_EQ(VmGetFieldInt(S, 2, "w"), 5u);
                  size_t len = 0;
                  EXPECT_STREQ(VmGetFieldString(S, 2, &len, "t"), "5");
                  EXPECT_EQ(len, 1u);
                  return 0;
              }, 2),
              0);
}

TEST_F(CmdLayerTest, TryGettersReportInsteadOfRaising) {
    VmPushNewTable(L);
    VmPushString(L, "3");
    int err = -1;
    EXPECT_EQ(VmTryGetNumber(L, 1, &err), 0);
    EXPECT_EQ(err, ERR_NUMCALLBACK);
    EXPECT_EQ(VmTryGetNumber(L, 2, &err), 3);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(VmTryGetNumber(L, 5, &err), 0);
    EXPECT_EQ(err, ERR_NUMCALLBACK);
    size_t len = 9;
    EXPECT_EQ(VmTryGetString(L, 1, &len, &err), nullptr);
    EXPECT_EQ(err, ERR_STRCALLBACK);
    EXPECT_EQ(len, 0u);
    EXPECT_STREQ(VmTryGetString(L, 2, &len, &err), "3");
    EXPECT_EQ(err, 0);
}

// ---- references -----------------------------------------------------------------

TEST_F(CmdLayerTest, ReferencesStartAtThreeAndReuseReleasedNumbers) {
    VmPushNewTable(L);
    VmPushNil(L);
    EXPECT_EQ(VmMakeRef(L, 1), -1);
    EXPECT_EQ(VmGetTop(L), 1);
    for (int expected = 3; expected <= 6; expected++) {
        VmPushNumber(L, expected * 10);
        EXPECT_EQ(VmMakeRef(L, -2), expected);  // relative to the value being stored
    }
    EXPECT_EQ(VmGetTop(L), 1);
    EXPECT_EQ(VmGetN(L, 1), 6);
    VmRawGetIndex(L, 1, 4);
    EXPECT_EQ(VmToNumber(L, -1), 40);
    VmSetTop(L, 1);

    VmReleaseRef(L, 1, 5);
    VmPushString(L, "again");
    EXPECT_EQ(VmMakeRef(L, 1), 5);
    VmRawGetIndex(L, 1, 5);
    EXPECT_EQ(StringAt(-1), "again");
    VmSetTop(L, 1);

    VmReleaseRef(L, 1, 3);
    VmReleaseRef(L, 1, 4);
    VmReleaseRef(L, 1, -1);  // the nil reference: nothing
    VmReleaseRef(L, 1, 1);   // never handed out: nothing
    VmPushNumber(L, 1);
    EXPECT_EQ(VmMakeRef(L, 1), 4);
    VmPushNumber(L, 2);
    EXPECT_EQ(VmMakeRef(L, 1), 3);
    VmPushNumber(L, 3);
    EXPECT_EQ(VmMakeRef(L, 1), 7);
}

TEST_F(CmdLayerTest, ReferencesNeedATable) {
    VmPushNumber(L, 1);
    VmPushNumber(L, 2);
    EXPECT_EQ(Run([](ScriptState* S) { return VmMakeRef(S, 1) == -1 ? 0 : 1; }, 2), ERR_STACK);
}

// ---- named metatables and metafields ----------------------------------------------

TEST_F(CmdLayerTest, NamedMetatablesAreRegisteredBothWays) {
    EXPECT_EQ(VmNewNamedMetatable(L, "brush"), 1);
    EXPECT_EQ(VmNewNamedMetatable(L, "brush"), 0);
    ASSERT_EQ(VmGetTop(L), 2);
    EXPECT_TRUE(VmRawEqual(L, 1, 2));
    VmGetNamedMetatable(L, "brush");
    EXPECT_TRUE(VmRawEqual(L, 1, 3));
    VmPushValue(L, 1);
    VmRawGet(L, kRegistryIndex);
    EXPECT_EQ(StringAt(-1), "brush");
    VmSetTop(L, 1);

    void* block = VmNewUserdata(L, 4);
    VmPushValue(L, 1);
    VmSetMetatable(L, 2);
    EXPECT_EQ(VmCheckNamedUserdata(L, 2, "brush"), block);
    EXPECT_EQ(VmCheckNamedUserdata(L, 2, "sample"), nullptr);
    VmNewUserdata(L, 4);
    EXPECT_EQ(VmCheckNamedUserdata(L, 3, "brush"), nullptr);
    VmPushNewTable(L);
    VmPushValue(L, 1);
    VmSetMetatable(L, 4);
    EXPECT_EQ(VmCheckNamedUserdata(L, 4, "brush"), nullptr);
    EXPECT_EQ(VmGetTop(L), 4);
}

int DescribeSelf(ScriptState* S) {
    VmPushString(S, VmTypeName(S, VmType(S, 1)));
    return 1;
}

TEST_F(CmdLayerTest, MetafieldsAreFoundAndCalled) {
    VmPushNewTable(L);
    EXPECT_EQ(VmGetMetafield(L, 1, "__describe"), 0);
    VmPushNewTable(L);
    VmPushString(L, "__describe");
    VmPushCClosure(L, DescribeSelf, 0);
    VmRawSet(L, 2);
    VmSetMetatable(L, 1);
    ASSERT_EQ(VmGetTop(L), 1);
    EXPECT_EQ(VmGetMetafield(L, 1, "__other"), 0);
    EXPECT_EQ(VmGetTop(L), 1);
    EXPECT_EQ(VmGetMetafield(L, 1, "__describe"), 1);
    EXPECT_EQ(VmType(L, -1), kTypeFunction);
    VmSetTop(L, 1);
    EXPECT_EQ(VmCallMetafield(L, -1, "__describe"), 1);
    ASSERT_EQ(VmGetTop(L), 2);
    EXPECT_EQ(StringAt(-1), "table");
    EXPECT_EQ(VmCallMetafield(L, 2, "__describe"), 0);  // a string has no metatable
    EXPECT_EQ(VmGetTop(L), 2);
}

// ---- string buffer ---------------------------------------------------------------

std::string Piece(int i, size_t len) {
    std::string s(len, static_cast<char>('a' + i % 26));
    if (len > 0) s[0] = static_cast<char>('0' + i % 10);
    return s;
}

TEST_F(CmdLayerTest, BufferResultsEqualThePlainConcatenation) {
    const size_t sizes[] = {0, 1, 7, 1023, 1024, 1025, 5000};
    for (size_t pieceSize : sizes) {
        for (int count : {1, 3, 40, 400}) {
            VmSetTop(L, 0);
            VmPushNumber(L, 99);  // below the buffer, must survive untouched
            ScriptBuffer B;
            VmBufferInit(L, &B);
            std::string expected;
            int maxLevel = 0;
            for (int i = 0; i < count; i++) {
                std::string p = Piece(i, pieceSize);
                switch (i % 3) {
                    case 0: VmBufferAddLString(&B, p.data(), p.size()); break;
                    case 1:
                        VmPushLString(L, p.data(), p.size());
                        VmBufferAddValue(&B);
                        break;
                    default: VmBufferAddString(&B, p.c_str()); break;
                }
                expected += p;
                maxLevel = std::max(maxLevel, B.lvl);
            }
            VmBufferPushResult(&B);
            ASSERT_EQ(VmGetTop(L), 2) << pieceSize << " x " << count;
            EXPECT_EQ(StringAt(-1), expected) << pieceSize << " x " << count;
            EXPECT_EQ(VmToNumber(L, 1), 99);
            EXPECT_LT(maxLevel, kMinStackForHandler - 4) << pieceSize << " x " << count;
        }
    }
}

TEST_F(CmdLayerTest, BufferAddValueKeepsOrderAroundAFlush) {
    ScriptBuffer B;
    VmBufferInit(L, &B);
    VmBufferAddString(&B, "head-");
    std::string big(3000, 'x');
    VmPushLString(L, big.data(), big.size());
    VmBufferAddValue(&B);  // too big: the buffered head goes below it
    VmPushNumber(L, 12);
    VmBufferAddValue(&B);  // numbers read as their text
    VmBufferPushResult(&B);
    ASSERT_EQ(VmGetTop(L), 1);
    EXPECT_EQ(StringAt(-1), "head-" + big + "12");
}

TEST_F(CmdLayerTest, BufferPrepareLetsCallersWriteDirectly) {
    ScriptBuffer B;
    VmBufferInit(L, &B);
    VmBufferAddString(&B, "abc");
    char* p = VmBufferPrepare(&B);
    EXPECT_EQ(p, B.buffer);
    std::memset(p, 'z', kBufferSize);
    B.p += kBufferSize;
    VmBufferAddString(&B, "!");
    VmBufferPushResult(&B);
    EXPECT_EQ(StringAt(-1), "abc" + std::string(kBufferSize, 'z') + "!");

    VmSetTop(L, 0);
    VmBufferInit(L, &B);
    VmBufferPushResult(&B);
    ASSERT_EQ(VmGetTop(L), 1);
    EXPECT_EQ(StringAt(-1), "");
}

}  // namespace
