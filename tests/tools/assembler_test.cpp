// Assembler: instruction encodings, symbols, the broken-chunk overrides and
// its error lines.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "lib/assembler.h"
#include "lib/chunk_codec.h"
#include "vm/opcodes.h"

namespace {

Chunk Assemble(const std::string& text) {
    Chunk chunk;
    std::string error;
    EXPECT_TRUE(AssembleChunk(text, chunk, error)) << error;
    return chunk;
}

std::vector<uint8_t> Bytes(const std::string& text) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_TRUE(AssembleText(text, out, error)) << error;
    return out;
}

std::string AssembleError(const std::string& text) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_FALSE(AssembleText(text, out, error)) << text;
    return error;
}

double Number(const Constant& k) { return std::bit_cast<double>(k.numberBits); }

// (The byte layout the assembler writes is pinned by the loader's tests:
// every chunk assembled there loads and dumps back to the same bytes.)

TEST(AssemblerLayout, HeaderOverrides) {
    auto bytes = Bytes(R"(.header order=7 sizes=4,4,4,6,8,9,9,9 test=31415926.9 signature="\027QBX"
.function
RETURN 0 1
.end)");
    ASSERT_GE(bytes.size(), 21u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "\x1bQBX");
    EXPECT_EQ(bytes[4], 7);
    EXPECT_EQ(bytes[12], 9);
    uint64_t bits = 0;  // order 7 means big-endian fields
    for (int i = 0; i < 8; ++i) bits = bits << 8 | bytes[13 + static_cast<size_t>(i)];
    EXPECT_EQ(std::bit_cast<double>(bits), 31415926.9);
}

TEST(AssemblerLayout, CountOverridesTruncationAndRawConstants) {
    Chunk chunk = Assemble(R"(.function
.nolines
.count code=5 k=-1 lineinfo=2 locals=3 upvalues=4 functions=6
.rawconst 7 ABCD
RETURN 0 1
.end
.tail 0102
.truncate 60)");
    const CountOverrides& c = chunk.main.counts;
    EXPECT_EQ(c.code, 5u);
    EXPECT_EQ(c.constants, 0xFFFFFFFFu);
    EXPECT_EQ(c.lineInfo, 2u);
    EXPECT_EQ(c.locals, 3u);
    EXPECT_EQ(c.upvalues, 4u);
    EXPECT_EQ(c.functions, 6u);
    EXPECT_EQ(chunk.tail, "\x01\x02");
    std::vector<uint8_t> bytes = WriteChunk(chunk);
    ASSERT_EQ(bytes.size(), 60u);
    // source, line, 4 bytes, then the counts: lineinfo 2, locals 3, upvalues 4, k -1.
    const uint8_t* p = bytes.data() + 21 + 4 + 4 + 4;
    EXPECT_EQ(p[0], 2);
    EXPECT_EQ(p[4], 3);
    EXPECT_EQ(p[8], 4);
    EXPECT_EQ(std::vector<uint8_t>(p + 12, p + 21),
              (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 7, 0xAB, 0xCD, 6, 0}));
    chunk.truncateAt.reset();
    EXPECT_EQ(WriteChunk(chunk).size(), 21u + 12 + 16 + 3 + 4 + 4 + 4 + 2);
}

TEST(AssemblerInstructions, OperandEncodings) {
    Chunk chunk = Assemble(R"(.function
    add 0 1 #1
    ADD 2 #1 k0
    LOADK 2 "hi"
    GETGLOBAL 0 "debugprint"
    EQ 1 0 #0
    SETTABLE 3 "key" nil
    LOADBOOL 4 1
    NEWTABLE 6 300 511
    SETLIST 7 33
    RETURN 0 1
.end)");
    const auto& code = chunk.main.code;
    ASSERT_EQ(code.size(), 10u);
    EXPECT_EQ(code[0], CreateABC(OP_ADD, 0, 1, 250));
    EXPECT_EQ(code[1], CreateABC(OP_ADD, 2, 250, 250));
    EXPECT_EQ(code[2], CreateABx(OP_LOADK, 2, 1));
    EXPECT_EQ(code[3], CreateABx(OP_GETGLOBAL, 0, 2));
    EXPECT_EQ(code[4], CreateABC(OP_EQ, 1, 0, 253));
    EXPECT_EQ(code[5], CreateABC(OP_SETTABLE, 3, 254, 255));
    EXPECT_EQ(code[6], CreateABC(OP_LOADBOOL, 4, 1, 0));
    EXPECT_EQ(code[7], CreateABC(OP_NEWTABLE, 6, 300, 511));
    EXPECT_EQ(code[8], CreateABx(OP_SETLIST, 7, 33));
    const auto& k = chunk.main.constants;
    ASSERT_EQ(k.size(), 6u);
    EXPECT_EQ(Number(k[0]), 1.0);
    EXPECT_EQ(k[1].string, MakeRawString("hi"));
    EXPECT_EQ(k[2].string, MakeRawString("debugprint"));
    EXPECT_EQ(Number(k[3]), 0.0);
    EXPECT_EQ(k[4].string, MakeRawString("key"));
    EXPECT_EQ(k[5].kind, ConstKind::Nil);
}

TEST(AssemblerInstructions, PoolingKeepsExplicitDuplicatesAndDistinguishesZeros) {
    Chunk chunk = Assemble(R"(.function
    .const #1 #1 ""
    LOADK 0 #1
    LOADK 0 #-0
    LOADK 0 #0
    LOADK 0 #nan
    LOADK 0 #nan
    LOADK 0 ""
    LOADK 0 raw""
    RETURN 0 1
.end)");
    const auto& k = chunk.main.constants;
    ASSERT_EQ(k.size(), 7u);
    const auto& code = chunk.main.code;
    EXPECT_EQ(GetArgBx(code[0]), 0);
    EXPECT_EQ(GetArgBx(code[1]), 3);
    EXPECT_EQ(GetArgBx(code[2]), 4);
    EXPECT_EQ(GetArgBx(code[3]), 5);
    EXPECT_EQ(GetArgBx(code[4]), 5);
    EXPECT_EQ(GetArgBx(code[5]), 2);
    EXPECT_EQ(GetArgBx(code[6]), 6);
    EXPECT_EQ(k[2].string, RawString("", 1));
    EXPECT_TRUE(k[6].string.empty());
}

TEST(AssemblerInstructions, JumpsAndLabels) {
    Chunk chunk = Assemble(R"(.function
top:
    JMP end
    FORLOOP 0 top
    GOSUB sub
    JMP kind=1 top
    JMP kind=3 -3
    TFORPREP 0 end
sub: RETURN 0 1 1
end:
    RETURN 0 1
.end)");
    const auto& code = chunk.main.code;
    ASSERT_EQ(code.size(), 8u);
    EXPECT_EQ(code[0], CreateJ(6, 0));
    EXPECT_EQ(code[1], CreateAsBx(OP_FORLOOP, 0, -2));
    EXPECT_EQ(code[2], CreateJ(3, kJumpKindGosub));
    EXPECT_EQ(code[3], CreateJ(-4, 1));
    EXPECT_EQ(code[4], CreateJ(-3, 3));
    EXPECT_EQ(code[5], CreateAsBx(OP_TFORPREP, 0, 1));
    EXPECT_EQ(code[6], CreateABC(OP_RETURN, 0, 1, 1));
    EXPECT_EQ(GetJumpKind(code[3]), 1);
}

TEST(AssemblerFunctions, NestingNamesAndDefaults) {
    Chunk chunk = Assemble(R"(.function main
    CLOSURE 0 later
    CLOSURE 1 first
    CLOSURE 2 1
    .function first params=2 upvalues=1
      .function inner line=9
        RETURN 0 1
      .end
      RETURN 0 1
    .end
    MOVE 3 0
    .function later
      .source "other"
      .upvalue a
      .upvalue b
      .local i 0 done
      GETUPVAL 4 1
done: RETURN 0 1
    .end
    RETURN 0 1
.end)");
    const FunctionRecord& main = chunk.main;
    EXPECT_EQ(main.lineDefined, 0);
    EXPECT_TRUE(main.source.empty());
    ASSERT_EQ(main.functions.size(), 2u);
    EXPECT_EQ(main.code[0], CreateABx(OP_CLOSURE, 0, 1));
    EXPECT_EQ(main.code[1], CreateABx(OP_CLOSURE, 1, 0));
    EXPECT_EQ(main.code[2], CreateABx(OP_CLOSURE, 2, 1));
    EXPECT_EQ(main.code[3], CreateABC(OP_MOVE, 3, 0, 0));
    EXPECT_EQ(main.maxStack, 4);

    const FunctionRecord& first = main.functions[0];
    EXPECT_EQ(first.lineDefined, 1);
    EXPECT_EQ(first.numParams, 2);
    EXPECT_EQ(first.nups, 1);
    EXPECT_TRUE(first.upvalueNames.empty());
    EXPECT_TRUE(first.source.empty());
    EXPECT_EQ(first.maxStack, 2);  // the minimum
    ASSERT_EQ(first.functions.size(), 1u);
    EXPECT_EQ(first.functions[0].lineDefined, 9);

    const FunctionRecord& later = main.functions[1];
    EXPECT_EQ(later.source, MakeRawString("other"));
    EXPECT_EQ(later.nups, 2);
    ASSERT_EQ(later.locals.size(), 1u);
    EXPECT_EQ(later.locals[0].name, MakeRawString("i"));
    EXPECT_EQ(later.locals[0].endpc, 1);
    EXPECT_EQ(later.maxStack, 5);
    // Without .line each instruction keeps the line it stands on.
    EXPECT_EQ(later.lineInfo, (std::vector<int32_t>{17, 18}));
}

TEST(AssemblerFunctions, LineInfo) {
    Chunk chunk = Assemble(R"(.function
    MOVE 0 0
.line 4
    MOVE 0 0
    .word 0xFFFFFFFF
.line -2
    RETURN 0 1
    .function
      .lineinfo 1 2 3
      RETURN 0 1
    .end
    .function
      .nolines
      RETURN 0 1
    .end
.end)");
    EXPECT_EQ(chunk.main.lineInfo, (std::vector<int32_t>{2, 4, 4, -2}));
    EXPECT_EQ(chunk.main.code[2], 0xFFFFFFFFu);
    EXPECT_EQ(chunk.main.functions[0].lineInfo, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_TRUE(chunk.main.functions[1].lineInfo.empty());
}

TEST(AssemblerFunctions, MaxStackEstimateCoversRanges) {
    auto maxStack = [](const std::string& body) {
        return static_cast<int>(Assemble(".function\n" + body + "\nRETURN 0 1\n.end").main.maxStack);
    };
    EXPECT_EQ(maxStack("CALL 3 4 5"), 7);
    EXPECT_EQ(maxStack("LOADNIL 0 9"), 10);
    EXPECT_EQ(maxStack("FORLOOP 5 0"), 8);
    EXPECT_EQ(maxStack("ADD 0 #1 #2"), 2);
    EXPECT_EQ(maxStack("SETLIST 1 31"), 34);
    EXPECT_EQ(maxStack("MOVE 249 248"), 250);
    // The frame holds the parameters and the table of extra arguments even
    // where the code never names them.
    EXPECT_EQ(Assemble(".function params=5\nRETURN 0 1\n.end").main.maxStack, 5);
    EXPECT_EQ(Assemble(".function params=3 vararg=1\nRETURN 0 1\n.end").main.maxStack, 4);
}

struct ErrorCase {
    const char* text;
    const char* expected;
};

TEST(AssemblerErrors, ReportTheLine) {
    const ErrorCase cases[] = {
        {"", "line 1: no .function"},
        {".function\nRETURN 0 1", "line 1: .function without .end"},
        {".function\nFOO 1 2\n.end", "line 2: unknown instruction 'FOO'"},
        {".function\n\nADD 256 0 0\n.end", "line 3: operand A of ADD out of range 0..255: 256"},
        {".function\nMOVE 0 #1\n.end", "line 2: bad operand B of MOVE: '#1'"},
        {".function\nLOADK 1\n.end", "line 2: LOADK expects operands A Bx"},
        {".function\nLOADK 1 #abc\n.end", "line 2: bad constant '#abc'"},
        {".function\nLOADK 1 \"abc\n.end", "line 2: unterminated string"},
        {".function\nJMP\n.end", "line 2: JMP expects one jump target"},
        {".function\nGOSUB kind=1 x\n.end", "line 2: bad operand of GOSUB: 'kind=1'"},
        {".function\nRETURN 0 1\n\n\nJMP nowhere\n.end", "line 5: unknown label 'nowhere'"},
        {".function\nCLOSURE 0 f\n.end", "line 2: unknown nested function 'f'"},
        {".function\nx:\nx: RETURN 0 1\n.end", "line 3: label 'x' defined twice"},
        {".function\n.end\n.function\n.end", "line 3: a chunk has only one main function"},
        {".end", "line 1: .end without .function"},
        {"RETURN 0 1", "line 1: instruction outside a function"},
        {".function\n.end\n.header bigendian", "line 3: .header must come before .function"},
        {".header sizes=1,2,3\n", "line 1: sizes takes 8 values"},
        {".function maxstack=256\n.end", "line 1: maxstack out of range 0..255: 256"},
        {".function\n.line 1\n.lineinfo 1\n.end", "line 3: .line and .lineinfo can't be mixed"},
        {".function\n.nolines\n.line 1\n.end", "line 3: .line and .nolines can't be mixed"},
        {".function\n.frob\n.end", "line 2: unknown directive '.frob'"},
        {".function\nADD 0 1 k262\n.end", "line 2: constant 262 is out of reach of operand C of ADD"},
        {".function\nFORLOOP 0 131073\n.end", "line 2: operand sBx of FORLOOP out of range"},
        {".function\n.word 0x100000000\n.end", "line 2: instruction word out of range"},
        {".function\nLOADK 0 #CENTER\n.end",
         "line 2: bad constant '#CENTER': the assembler knows no #NAME constants, write the number"},
        {".function\nLOADK 0 #$FF0000\n.end", "line 2: bad constant '#$FF0000': write hexadecimal numbers as #0xFF0000"},
        // The reference's own colour notations get the same hint.
        {".function\nLOADK 0 $FF0000\n.end",
         "line 2: bad operand Bx of LOADK: '$FF0000': write hexadecimal numbers as #0xFF0000"},
        {".function\nADD 0 0 $ff\n.end", "line 2: bad operand C of ADD: '$ff': write hexadecimal numbers as #0xff"},
        {".function\nLOADK 0 #FF0000\n.end",
         "line 2: bad constant '#FF0000': the assembler knows no #NAME constants, write the number (write "
         "hexadecimal numbers as #0xFF0000)"},
        // Code must end in RETURN; the first function that doesn't is named
        // at its .end.
        {".function main\nRETURN 0 1\nloop: JMP loop\n.end",
         "line 4: function 'main' does not end in RETURN (its last instruction, on line 3, is JMP); the player "
         "would refuse it with \"Bad bytecode!\""},
        {".function\nRETURN 0 1\n  .function\n  .end\n.end",
         "line 4: the function opened on line 3 has no instructions, so it does not end in RETURN"},
        {".function\nGOSUB x\nx: RETURN 0 1\nGOSUB x\n.end",
         "line 5: the main function does not end in RETURN (its last instruction, on line 4, is GOSUB)"},
    };
    for (const ErrorCase& c : cases) {
        std::string error = AssembleError(c.text);
        EXPECT_EQ(error.rfind(c.expected, 0), 0u) << "text: " << c.text << "\nerror: " << error;
    }
}

// Only .noreturn, and .word, whose words the assembler cannot read, let
// code that does not end in RETURN through, and only for their function;
// the other directives for broken chunks need no such leave.
TEST(AssemblerFunctions, ReturnCheckGivesWayToNoreturnAndWordAlone) {
    const char* const optOuts[] = {
        ".function\n.noreturn\nJMP 0\n.end",
        ".function\nRETURN 0 1\n.function\n.word 0x0000002B\n.end\n.end",
    };
    for (const char* text : optOuts) {
        std::vector<uint8_t> out;
        std::string error;
        EXPECT_TRUE(AssembleText(text, out, error)) << text << "\n" << error;
    }
    const char* const refused[] = {
        ".function\n.count code=1\n.end",
        ".function\n.rawconst 9\n.end",
        ".function\n.lineinfo 1\nMOVE 0 0\n.end",
        ".header bigendian\n.function\n.end",
        ".function\n.end\n.truncate 30",
        ".function\nJMP 0\n.end\n.tail 00",
    };
    for (const char* text : refused)
        EXPECT_NE(AssembleError(text).find("does not end in RETURN"), std::string::npos) << text;
    // A function's own opt-out covers no other function.
    EXPECT_EQ(AssembleError(".function\n.function\n.noreturn\n.end\n.end").rfind("line 5: the main function", 0), 0u);
}

}  // namespace
