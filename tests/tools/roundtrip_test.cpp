// Disassembly must reassemble to the very same bytes, for hand-written programs
// and randomly generated chunks (every byte in strings, every number pattern);
// unreadable layouts fail.
#include <gtest/gtest.h>

#include <random>

#include "lib/assembler.h"
#include "lib/chunk_codec.h"
#include "lib/disassembler.h"
#include "vm/opcodes.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_TRUE(AssembleText(text, out, error)) << error;
    return out;
}

std::string Dis(const std::vector<uint8_t>& bytes) {
    std::string text, error;
    EXPECT_TRUE(DisassembleChunk(bytes, text, error)) << error;
    return text;
}

void ExpectRoundTrip(const std::vector<uint8_t>& bytes) {
    std::string text = Dis(bytes);
    std::vector<uint8_t> again;
    std::string error;
    ASSERT_TRUE(AssembleText(text, again, error)) << error << "\n" << text;
    EXPECT_EQ(again, bytes) << text;
    EXPECT_EQ(Dis(again), text);
}

const char kNested[] = R"(
.function main vararg=1 maxstack=8
  .source "script.qbs"
  .local sum 0 end
  .local "odd name" -1 99
  .local raw"x" 2 1
.line 3
  GETGLOBAL 0 "debugprint"
  LOADK     1 "tab\there \"quoted\" \200\255"
  CALL      0 2 1
  CLOSURE   2 helper
  MOVE      0 0
  GETUPVAL  0 0
  CLOSURE   3 7
loop:
.line 4
  EQ        1 0 #-0
  JMP       kind=3 loop
  TEST      0 1 1
  JMP       end
  GOSUB     sub
  JMP       -100
  FORLOOP   2 999
sub:
  RETURN    0 1 1
end:
  RETURN    0 1
  .function helper params=2 upvalues=2 line=12
    .source "script.qbs"
    .upvalue outer
    .upvalue ""
    .line 12
    ADD       2 0 #1e300
    SUB       2 2 #-inf
    MUL       2 2 #inf
    DIV       2 2 #nan
    POW       2 2 #bits:7FF0000000000001
    MOD       2 2 #4.9406564584124654e-324
    SETTABLE  0 "" raw""
    SETTABLE  0 nil raw"zz"
    .word 0xFFFFFFFF 0x0000002B
    RETURN    2 2
    .function deep
      .source inherit
      .nolines
      .function deeper upvalues=3
        .lineinfo 5 6 7 8
        RETURN 0 1
      .end
      RETURN 0 1
    .end
  .end
  .function second line=0
    .source raw"no terminator"
    .lineinfo
    .noreturn
  .end
.end
)";

TEST(RoundTrip, NestedFunctionsAndEveryConstantKind) {
    ExpectRoundTrip(Bytes(kNested));
}

TEST(RoundTrip, BigEndianTwinDiffersOnlyInTheHeaderLine) {
    std::string little = kNested;
    std::string big = ".header bigendian\n" + little;
    auto littleBytes = Bytes(little), bigBytes = Bytes(big);
    ExpectRoundTrip(bigBytes);
    std::string littleText = Dis(littleBytes), bigText = Dis(bigBytes);
    EXPECT_NE(bigText.find(".header bigendian\n"), std::string::npos);
    bigText.erase(bigText.find(".header bigendian\n"), 18);
    EXPECT_EQ(littleText, bigText);
}

TEST(RoundTrip, HeaderOddities) {
    ExpectRoundTrip(Bytes(R"(.header order=2 sizes=4,4,4,6,8,9,9,9 test=31415926.9 signature=raw"\027QB\000"
.function
.noreturn
.end
.tail 00FF)"));
    ExpectRoundTrip(Bytes(".header test=nan\n.function\nRETURN 0 1\n.end"));
}

// Random but layout-valid chunks: arbitrary words, constants, debug data.
FunctionRecord RandomFunction(std::mt19937& rng, int depth) {
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    auto randomString = [&]() {
        RawString s;
        uint32_t n = pick(6);
        for (uint32_t i = 0; i < n; ++i) s += static_cast<char>(pick(256));
        return s;
    };
    FunctionRecord f;
    if (pick(2)) f.source = randomString();
    f.lineDefined = static_cast<int32_t>(rng());
    f.nups = static_cast<uint8_t>(pick(256));
    f.numParams = static_cast<uint8_t>(pick(256));
    f.isVararg = static_cast<uint8_t>(pick(256));
    f.maxStack = static_cast<uint8_t>(pick(256));
    uint32_t ncode = pick(40);
    for (uint32_t i = 0; i < ncode; ++i) f.code.push_back(static_cast<uint32_t>(rng()));
    uint32_t lines = pick(3) == 0 ? pick(5) : (pick(2) ? ncode : 0);
    for (uint32_t i = 0; i < lines; ++i) f.lineInfo.push_back(static_cast<int32_t>(rng() % 7) - 2);
    for (uint32_t i = pick(4); i > 0; --i)
        f.locals.push_back({randomString(), static_cast<int32_t>(rng()), static_cast<int32_t>(rng())});
    for (uint32_t i = pick(4); i > 0; --i) f.upvalueNames.push_back(randomString());
    for (uint32_t i = pick(12); i > 0; --i) {
        Constant k;
        switch (pick(3)) {
            case 0: break;
            case 1:
                k.kind = ConstKind::Number;
                k.numberBits = static_cast<uint64_t>(rng()) << 32 | rng();
                break;
            default:
                k.kind = ConstKind::String;
                k.string = randomString();
        }
        f.constants.push_back(k);
    }
    if (depth < 3)
        for (uint32_t i = pick(3); i > 0; --i) f.functions.push_back(RandomFunction(rng, depth + 1));
    return f;
}

TEST(RoundTrip, RandomChunks) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 200; ++round) {
        Chunk chunk;
        chunk.header.order = static_cast<uint8_t>(round % 3);
        chunk.main = RandomFunction(rng, 0);
        SCOPED_TRACE(round);
        ExpectRoundTrip(WriteChunk(chunk));
        if (HasFatalFailure()) return;
    }
}

TEST(Disassembler, RefusesBrokenLayouts) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {".function\nRETURN 0 1\n.end\n.truncate 3", "offset 0: unexpected end of data in signature"},
        {".function\nRETURN 0 1\n.end\n.truncate 20", "offset 13: unexpected end of data in test number"},
        {".function\n.nolines\n.count code=2\nRETURN 0 1\n.end", "offset 57: instruction count exceeds"},
        {".function\n.noreturn\n.count k=-1\n.end", "offset 49: negative constant count"},
        {".function\n.noreturn\n.rawconst 7\n.end", "offset 49: unknown constant type 7"},
        {".function\n.noreturn\n.count functions=1\n.end", "offset 53: function count exceeds"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = Bytes(c.text);
        std::string text, error;
        EXPECT_FALSE(DisassembleChunk(bytes, text, error)) << c.text;
        EXPECT_EQ(error.rfind(c.expected, 0), 0u) << c.text << "\n" << error;
    }
}

TEST(Disassembler, ReadableOutput) {
    std::string text = Dis(Bytes(R"(.function
  GETGLOBAL 0 "print"
top:
  ADD 1 1 #1
  JMP top
  CLOSURE 2 f
  RETURN 0 1
  .function f
  RETURN 0 1
  .end
.end)"));
    EXPECT_NE(text.find("GETGLOBAL 0 k0"), std::string::npos) << text;
    EXPECT_NE(text.find("; \"print\""), std::string::npos) << text;
    EXPECT_NE(text.find("L1:\n"), std::string::npos) << text;
    EXPECT_NE(text.find("JMP       L1"), std::string::npos) << text;
    EXPECT_NE(text.find("CLOSURE   2 f0"), std::string::npos) << text;
    EXPECT_NE(text.find(".function f0 "), std::string::npos) << text;
}

}  // namespace
