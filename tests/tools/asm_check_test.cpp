// qbasm refuses what the player's code checker refuses, naming the function,
// the line and the reason; the directives that write broken chunks on
// purpose still let such code through.
#include <gtest/gtest.h>

#include "lib/assembler.h"
#include "lib/disassembler.h"

namespace {

std::string CheckedError(const std::string& text) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_FALSE(AssembleChecked(text, out, error)) << text;
    return error;
}

struct FaultCase {
    const char* text;
    const char* place;   // how the error begins: the line and the function
    const char* reason;  // part of the checker's reason
};

// One chunk for each kind of code the checker refuses and a text can
// describe without a broken-chunk directive (an unknown opcode, line info of
// the wrong length and a function without RETURN need those, or are
// refused by the assembler itself).
TEST(AssemblerCheck, RefusesEveryFaultOfThePlayersCheckerWithFunctionAndLine) {
    const FaultCase cases[] = {
        // A frame too small for the registers the code names.
        {".function main maxstack=2\nLOADK 0 #1\nMOVE 2 0\nRETURN 0 1\n.end",
         "line 3: function 'main' (maxstack=2): the player refuses 'MOVE 2 0' with \"Bad bytecode!\"",
         "register A is outside the frame (maxstack)"},
        // A test without the JMP that must follow it.
        {".function main\nLOADK 0 #1\nEQ 1 0 #3   ; no JMP\nLOADK 0 #2\nRETURN 0 1\n.end",
         "line 3: function 'main' (maxstack=2): the player refuses 'EQ 1 0 #3' with", "must be followed by a JMP"},
        {".function main maxstack=251\nRETURN 0 1\n.end", "line 1: function 'main' (maxstack=251): the player "
         "refuses the function", "above the VM's limit"},
        {".function main params=4 maxstack=3\nRETURN 0 1\n.end", "line 1: function 'main'", "its parameters"},
        {".function main upvalues=1\nRETURN 0 1\n.end", "line 1: function 'main'", "cannot have upvalues"},
        {".function\nCLOSURE 0 f\nMOVE 0 0\nRETURN 0 1\n.function f upvalues=1\n.upvalue a\n.upvalue b\n"
         "RETURN 0 1\n.end\n.end",
         "line 5: function 'f'", "different number of upvalues"},
        {".function main maxstack=4\nMOVE 0 7\nRETURN 0 1\n.end", "line 2: function 'main'", "register B is outside"},
        {".function main maxstack=4\nADD 0 7 #1\nRETURN 0 1\n.end", "line 2:", "operand B is neither"},
        {".function main maxstack=4\nADD 0 #1 7\nRETURN 0 1\n.end", "line 2:", "operand C is neither"},
        {".function main\nLOADK 0 k5\nRETURN 0 1\n.end", "line 2:", "beyond the constant pool"},
        {".function main\nLOADBOOL 0 1 1\nRETURN 0 1\n.end", "line 2:", "skips the next instruction"},
        {".function main\nGETUPVAL 0 0\nRETURN 0 1\n.end", "line 2:", "beyond the function's upvalues"},
        {".function main\nGETGLOBAL 0 #5\nRETURN 0 1\n.end", "line 2:", "is not a string"},
        {".function main\nNEWTABLE 0 0 200\nRETURN 0 1\n.end", "line 2:", "table sizes"},
        {".function main maxstack=4\nCONCAT 0 2 1\nRETURN 0 1\n.end", "line 2:", "registers B to C"},
        {".function main\nJMP 5\nRETURN 0 1\n.end", "line 2:", "jumps outside the code"},
        {".function main maxstack=4\nCALL 0 9 1\nRETURN 0 1\n.end", "line 2:", "its arguments"},
        {".function main\nCALL 0 1 0\nRETURN 0 1\n.end", "line 2:", "leaves its results open"},
        {".function main maxstack=4\nCALL 0 1 9\nRETURN 0 1\n.end", "line 2:",
         "its results (registers A to A + C - 2)"},
        {".function main maxstack=4\nRETURN 0 9\n.end", "line 2:", "its results (registers A to A + B - 2)"},
        {".function main maxstack=4\nFORLOOP 2 -1\nRETURN 0 1\n.end", "line 2:", "loop registers"},
        {".function main\nFORLOOP 0 40\nRETURN 0 1\n.end", "line 2:", "jumps outside the code"},
        {".function main maxstack=4\nTFORPREP 3 0\nRETURN 0 1\n.end", "line 2:", "registers A and A + 1"},
        {".function main maxstack=8\nTFORLOOP 0 0 5\nJMP 0\nRETURN 0 1\n.end", "line 2:", "call slots"},
        {".function main maxstack=4\nSETLIST 0 5\nRETURN 0 1\n.end", "line 2:", "values it stores"},
        {".function main\nCLOSURE 0 3\nRETURN 0 1\n.end", "line 2:", "nested function Bx does not exist"},
        {".function\nCLOSURE 0 f\nRETURN 0 1\n.function f upvalues=2\nRETURN 0 1\n.end\n.end", "line 2:",
         "runs past the code"},
        {".function\nCLOSURE 0 f\nLOADK 1 #1\nRETURN 0 1\n.function f upvalues=1\nRETURN 0 1\n.end\n.end",
         "line 3: the main function", "listed by a MOVE or GETUPVAL"},
        {".function main maxstack=4\nSELF 3 0 #1\nRETURN 0 1\n.end", "line 2:", "register A + 1"},
        // Refused by the loader before the checker sees the function.
        {".function main\nLOADK 0 raw\"\"\nRETURN 0 1\n.end", "line 1: function 'main' (maxstack=2): the player "
         "refuses the function as it loads", "a string constant has no text"},
    };
    for (const FaultCase& c : cases) {
        const std::string error = CheckedError(c.text);
        EXPECT_EQ(error.rfind(c.place, 0), 0u) << c.text << "\n" << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << "\n" << error;
    }
}

// The loader checks each function's nested functions before its own code,
// so the fault reported is the one the player meets first; a function
// nested two deep is named, at its own line.
TEST(AssemblerCheck, NamesTheNestedFunctionAndLineInFileOrder) {
    const std::string text = R"(.function main
    CLOSURE 0 outer
    MOVE 9 9                 ; main's own fault, met after the nested ones
    RETURN 0 1
    .function outer
      CLOSURE 0 inner
      RETURN 0 1
      .function inner maxstack=2
        LOADK 0 #1
        LT 0 0 #2
        RETURN 0 1
      .end
    .end
.end)";
    const std::string error = CheckedError(text);
    EXPECT_EQ(error.rfind("line 10: function 'inner' (maxstack=2): the player refuses 'LT 0 0 #2'", 0), 0u)
        << error;
}

// Each directive for broken chunks lets through the break it writes, and
// nothing else: a fault beside it, in its own function or another, is still
// refused. .unchecked alone lets everything through.
TEST(AssemblerCheck, BrokenChunkDirectivesLetThroughTheirOwnBreakAlone) {
    const char* const letThrough[] = {
        ".unchecked\n.function main maxstack=2\nMOVE 5 0\nRETURN 0 1\n.end",
        ".function main maxstack=2\nMOVE 5 0\nRETURN 0 1\n.unchecked\n.end",
        ".function\nLOADK 0 #1\n.noreturn\n.end",
        ".function\nEQ 0 0 0\n.word 0x00000022\n.end",
        ".header signature=\"XQBB\"\n.function\nRETURN 0 1\n.end",
        ".function\nRETURN 0 1\n.end\n.tail 00",
        ".function\nRETURN 0 1\n.end\n.truncate 10",
        ".function\n.rawconst 9 00\nGETGLOBAL 0 k0\nRETURN 0 1\n.end",
        ".function\n.lineinfo 1 2 3\nRETURN 0 1\n.end",
        ".function\n.count k=5 code=9\nRETURN 0 1\n.end",
    };
    for (const char* text : letThrough) {
        std::vector<uint8_t> checked, plain;
        std::string error;
        EXPECT_TRUE(AssembleChecked(text, checked, error)) << text << "\n" << error;
        EXPECT_TRUE(AssembleText(text, plain, error)) << text;
        EXPECT_EQ(checked, plain) << text;
    }
    // The fault is MOVE 5 0 in a frame of two registers, beside each directive.
    const char* const faultBeside[] = {
        ".function main maxstack=2\nCLOSURE 0 f\nMOVE 5 0\nRETURN 0 1\n.function f\nLOADK 0 #1\n.noreturn\n"
        ".end\n.end",
        ".function main maxstack=2\nCLOSURE 0 f\nMOVE 5 0\nRETURN 0 1\n.function f\n.word 0x00000022\n.end\n.end",
        ".function main maxstack=2\nCLOSURE 0 f\nMOVE 5 0\nRETURN 0 1\n.function f\n.rawconst 9 00\nRETURN 0 1\n"
        ".end\n.end",
        ".function main maxstack=2\n.lineinfo 1\nMOVE 5 0\nRETURN 0 1\n.end",
        ".function main maxstack=2\n.count locals=3\nMOVE 5 0\nRETURN 0 1\n.end",
        ".header bigendian\n.function main maxstack=2\nMOVE 5 0\nRETURN 0 1\n.end",
        ".function main maxstack=2\nMOVE 5 0\nRETURN 0 1\n.end\n.tail 00",
        ".function main maxstack=2\nMOVE 5 0\nRETURN 0 1\n.end\n.truncate 10",
    };
    for (const char* text : faultBeside) {
        const std::string error = CheckedError(text);
        EXPECT_NE(error.find("function 'main' (maxstack=2): the player refuses 'MOVE 5 0'"), std::string::npos)
            << text << "\n" << error;
    }
    // A directive lifts only its own check in its own function: .noreturn
    // leaves the test without its JMP refused.
    EXPECT_NE(CheckedError(".function main\nEQ 0 0 0\n.noreturn\n.end").find("must be followed by a JMP"),
              std::string::npos);
    // Code the player takes assembles to the same bytes either way.
    std::vector<uint8_t> checked, plain;
    std::string error;
    const char* good = ".function main params=2\nLT 0 0 1\nJMP 0\nRETURN 0 1\n.end";
    EXPECT_TRUE(AssembleChecked(good, checked, error)) << error;
    EXPECT_TRUE(AssembleText(good, plain, error));
    EXPECT_EQ(checked, plain);
}

// A chunk the player refuses disassembles into text that says .unchecked,
// so that it assembles back to the same bytes.
TEST(AssemblerCheck, DisassemblyOfARefusedChunkReassembles) {
    std::vector<uint8_t> bytes, again;
    std::string text, error;
    ASSERT_TRUE(AssembleText(".function\nEQ 0 0 0\nRETURN 0 1\n.end", bytes, error));
    ASSERT_TRUE(DisassembleChunk(bytes, text, error)) << error;
    EXPECT_NE(text.find(".unchecked"), std::string::npos) << text;
    ASSERT_TRUE(AssembleChecked(text, again, error)) << error;
    EXPECT_EQ(again, bytes);
    ASSERT_TRUE(AssembleText(".function\nRETURN 0 1\n.end", bytes, error));
    ASSERT_TRUE(DisassembleChunk(bytes, text, error));
    EXPECT_EQ(text.find(".unchecked"), std::string::npos) << text;
}

}  // namespace
