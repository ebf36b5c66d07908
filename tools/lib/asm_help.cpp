// qbasm --help: the text form, the literals and the instruction set. The
// instruction rows come from the opcode table (names and operand modes) and
// one line of meaning per opcode, kept in opcode order by the asserts below.
#include <cstdio>
#include <iterator>
#include <sstream>

#include "lib/assembler.h"
#include "vm/opcodes.h"

namespace {

const char kSyntax[] =
    "usage: qbasm IN.qbs [-o OUT.qbb]   (default output: IN with extension .qbb)\n"
    "\n"
    "Text form, one item per line, '; comment' to the end of a line:\n"
    "  .header [bigendian|littleendian] [order=N] [sizes=a,b,c,d,e,f,g,h]\n"
    "          [test=NUMBER] [signature=\"BYTES\"]     before the main .function\n"
    "  .function [NAME] [params=N] [vararg=N] [maxstack=N] [upvalues=N] [line=N]\n"
    "  .end                      closes it; functions nest, the first is the main one\n"
    "      defaults: line 0 (main) or 1, upvalues = number of .upvalue lines,\n"
    "      maxstack = highest register used + 1 (at least 2, and the parameters)\n"
    "  .source \"TEXT\" | inherit  the source name (errors of the player name the\n"
    "                            file through the applet's include table); without\n"
    "                            it the source is written with size 0\n"
    "  .const LITERAL...         appends pool entries (no pooling); kN names entry N\n"
    "  .local NAME START END     START/END are instruction indexes or labels\n"
    "  .upvalue NAME\n"
    "  .line N                   line of the following instructions (until the next\n"
    "                            .line); before it each instruction's line is the\n"
    "                            one it stands on in this text\n"
    "  .nolines                  this function gets no line info (errors in it name\n"
    "                            no line)\n"
    "  LABEL:                    names the next instruction's index\n"
    "  MNEMONIC operands         see the instruction set below; any letter case\n"
    "\n"
    "qbasm runs the player's own code checker over what it writes and refuses\n"
    "what the player would refuse with no more than \"Bad bytecode!\", naming the\n"
    "function, the line and the reason: code that does not end in RETURN, a\n"
    "register beyond maxstack, EQ, LT, LE or TEST without its JMP, a jump out\n"
    "of the code, a constant beyond the pool. The directives for broken\n"
    "chunks write what they are told for tests of the loader; each turns off\n"
    "only the checks named after it, those of a function's directive in that\n"
    "function alone, and the checker judges all the rest:\n"
    "  .unchecked                write the chunk even if the player refuses it\n"
    "                            (off: every check, whole chunk; anywhere in the text)\n"
    "  .noreturn                 let this function end in any instruction\n"
    "                            (off: that its code ends in RETURN)\n"
    "  .rawconst TYPE [HEX]      a constant of any type byte with raw payload bytes\n"
    "                            (off: the reading of that constant, and whether\n"
    "                            it is a string where it names a global)\n"
    "  .lineinfo N...            line-info entries given verbatim (any count)\n"
    "                            (off: that there is one line per instruction)\n"
    "  .count KEY=N...           written count instead of the real one; keys:\n"
    "                            lineinfo locals upvalues k functions code\n"
    "                            (off: the reading of this function's lists with\n"
    "                            those counts)\n"
    "  .word 0xHEX...            raw instruction words\n"
    "                            (off: every check of this function's instructions)\n"
    "  .truncate N               cut the output to N bytes\n"
    "                            (off: the reading of the chunk's end)\n"
    "  .tail HEX                 bytes appended after the main function\n"
    "                            (off: the reading of the chunk's end)\n"
    "  .header ...               (off: the check of the header)\n"
    "\n"
    "Operands:\n"
    "  A, B, C, Bx               plain numbers (A 0-255, B and C 0-511, Bx 0-262143);\n"
    "                            missing trailing operands of A B C instructions are 0\n"
    "  R(x)                      register x (0-249; maxstack must cover it)\n"
    "  RK(x)                     register or constant: a register number, or a\n"
    "                            constant written inline or as kN (pool entries\n"
    "                            0-261 only, as x = 250 + entry)\n"
    "  K(Bx)                     constant: written inline or as kN\n"
    "  TARGET                    a label, or a signed offset from the next instruction\n"
    "  FUNCTION                  a nested function's name or index\n"
    "Constants: #NUMBER, \"string\", raw\"bytes\", nil, or kN. Inline constants reuse\n"
    "  an equal pool entry.\n"
    "  #NUMBER                   decimal or C hex: #42 #-0 #1.5e9 #0x1F #0x1p-3;\n"
    "                            #nan, #inf, #-inf; #bits:7FF8000000000001 (exact\n"
    "                            IEEE-754 bits). Numbers are doubles: there are no\n"
    "                            booleans, true is 1.\n"
    "  #NAME                     not accepted: #CENTER, #TRUE and the other named\n"
    "                            constants belong to the script language; write\n"
    "                            their value (#CENTER is #-100000)\n"
    "  \"string\"                  escapes \\n \\t \\r \\\\ \\\" \\ddd \\xHH; written with its\n"
    "                            terminating zero; raw\"bytes\" exactly (raw\"\" is size 0)\n"
    "\n"
    "Instruction set (RK(B), RK(C) and K(Bx) take constants, see above):\n";

const char kTail[] =
    "\n"
    "A call: GETGLOBAL 0 \"debugprint\" / LOADK 1 \"hi\" / CALL 0 2 1 (commands are\n"
    "globals with lower-case names; B = 2: one argument, C = 1: no result).\n"
    "A counted loop (see examples/hello.qbs): index, limit and step in R(A),\n"
    "R(A+1), R(A+2), the index one step below the first value, then JMP to the\n"
    "FORLOOP, which adds the step and jumps back to the body while in range.\n"
    "Registers across a call: CALL A may overwrite every register from R(A) up.\n"
    "The called function's registers start at R(A+1): a script function clears\n"
    "them, and a command that runs script code (the event handlers CheckEvent,\n"
    "CheckEvents and WaitEvent run, callbacks) lends them to that code. Keep what\n"
    "must outlive a call (a loop's position, counters) in registers below A: a\n"
    "game loop holding x, y and a frame count in R10-R12 must make its calls at\n"
    "R13 or above, or hold them in R0-R2 and call at R3.\n";

struct OpHelp {
    OpCode op;
    int operands;  // how many of A B C an A B C instruction uses
    const char* meaning;
};

constexpr OpHelp kOpHelp[] = {
    {OP_MOVE, 2, "R(A) := R(B)"},
    {OP_LOADK, 0, "R(A) := K(Bx)"},
    {OP_LOADBOOL, 3, "R(A) := the number B (0 or 1); C not 0: skip the next instruction"},
    {OP_LOADNIL, 2, "R(A) ... R(B) := nil"},
    {OP_GETUPVAL, 2, "R(A) := upvalue B"},
    {OP_GETGLOBAL, 0, "R(A) := the global named by the string K(Bx) (nil when missing)"},
    {OP_GETTABLE, 3, "R(A) := R(B)[RK(C)]; a field missing from a table is an error"},
    {OP_SETGLOBAL, 0, "the global named by the string K(Bx) := R(A)"},
    {OP_SETUPVAL, 2, "upvalue B := R(A)"},
    {OP_SETTABLE, 3, "R(A)[RK(B)] := RK(C)"},
    {OP_NEWTABLE, 3, "R(A) := a new table with (B mod 8) << (B div 8) array slots and 2^C hash slots"},
    {OP_ADD, 3, "R(A) := RK(B) + RK(C)"},
    {OP_SUB, 3, "R(A) := RK(B) - RK(C)"},
    {OP_MUL, 3, "R(A) := RK(B) * RK(C)"},
    {OP_DIV, 3, "R(A) := RK(B) / RK(C)"},
    {OP_DIVINT, 3, "R(A) := RK(B) \\ RK(C), on 32-bit integers truncated toward zero"},
    {OP_MOD, 3, "R(A) := remainder of RK(B) \\ RK(C), with the sign of RK(B)"},
    {OP_LSH, 3, "R(A) := RK(B) shifted left by RK(C) (32-bit pattern)"},
    {OP_RSH, 3, "R(A) := RK(B) shifted right by RK(C) (32-bit pattern, zeros enter)"},
    {OP_OR, 3, "R(A) := RK(B) bitwise or RK(C)"},
    {OP_AND, 3, "R(A) := RK(B) bitwise and RK(C)"},
    {OP_XOR, 3, "R(A) := RK(B) bitwise exclusive or RK(C)"},
    {OP_POW, 3, "R(A) := RK(B) to the power RK(C)"},
    {OP_UNM, 2, "R(A) := -R(B)"},
    {OP_NOT, 2, "R(A) := 1 when R(B) is false (nil, 0 or \"\"), else 0"},
    {OP_BNOT, 2, "R(A) := bitwise complement of R(B)"},
    {OP_CONCAT, 3, "R(A) := R(B) .. R(B+1) .. ... .. R(C)"},
    {OP_JMP, 0, "jump to TARGET; kind=2 makes it a GOSUB, other kinds jump plainly"},
    {OP_EQ, 3,
     "compare RK(B) == RK(C); the next instruction must be a JMP: when the result "
     "(1 true, 0 false) equals A, that JMP is taken, otherwise it is skipped"},
    {OP_LT, 3, "as EQ with RK(B) < RK(C)"},
    {OP_LE, 3, "as EQ with RK(B) <= RK(C)"},
    {OP_TEST, 3,
     "the next instruction must be a JMP: with C = 1 it is skipped when R(B) is "
     "false, with C = 0 when R(B) is true; otherwise R(A) := R(B) and it is taken"},
    {OP_CALL, 3,
     "call R(A) with the B-1 arguments R(A+1)... (B = 0: up to the stack top); "
     "keep C-1 results in R(A)... (C = 0: all of them)"},
    {OP_TAILCALL, 3, "as CALL, in place of the running function"},
    {OP_RETURN, 3,
     "return R(A) ... R(A+B-2) (B = 1: nothing, B = 0: up to the stack top); "
     "C = 1: return from a GOSUB instead. Every function ends in RETURN"},
    {OP_FORLOOP, 0,
     "numeric loop over R(A) index, R(A+1) limit, R(A+2) step: adds the step "
     "first, then, while index <= limit (>= for a step <= 0), stores it and "
     "jumps to TARGET; so the index starts one step below the first value"},
    {OP_TFORLOOP, 3,
     "R(A+2) ... R(A+2+C) := R(A)(R(A+1), R(A+2)); the next instruction must be "
     "a JMP back into the loop, skipped (the loop ends) when R(A+2) is nil"},
    {OP_TFORPREP, 0, "if R(A) is a table: R(A+1) := R(A), R(A) := the global next; then jump to TARGET"},
    {OP_SETLIST, 0,
     "R(A)[k ... k+n-1] := R(A+1) ... R(A+n), n = 1 + Bx mod 32, "
     "k = Bx - Bx mod 32: keys count from 0"},
    {OP_SETLISTO, 0, "as SETLIST with every value up to the stack top"},
    {OP_CLOSE, 1, "close the upvalues at or above R(A)"},
    {OP_CLOSURE, 0,
     "R(A) := a closure of FUNCTION; its upvalues are listed by the next "
     "instructions, one per upvalue: MOVE 0 B (register B) or GETUPVAL 0 B (upvalue B)"},
    {OP_SELF, 3, "R(A+1) := R(B); R(A) := R(B)[RK(C)] (a method; nil when missing)"},
};

constexpr bool InOpcodeOrder() {
    for (size_t i = 0; i < std::size(kOpHelp); ++i)
        if (kOpHelp[i].op != static_cast<int>(i)) return false;
    return true;
}
static_assert(std::size(kOpHelp) == kNumOpcodes, "one help row per opcode");
static_assert(InOpcodeOrder(), "help rows in opcode order");

std::string OperandSyntax(const OpHelp& row) {
    switch (GetOpMode(row.op)) {
        case isJ: return "[kind=N] TARGET";
        case iAsBx: return "A TARGET";
        case iABx: return row.op == OP_CLOSURE ? "A FUNCTION" : "A Bx";
        case iABC: break;
    }
    static const char* const kAbc[] = {"", "A", "A B", "A B C"};
    return kAbc[row.operands];
}

// One row: mnemonic, operands, then the meaning, wrapped to the width of a
// terminal below the operands' column.
std::string Row(const std::string& name, const std::string& operands, const char* meaning) {
    constexpr size_t kWidth = 79;
    char head[64];
    std::snprintf(head, sizeof head, "  %-9s %-15s ", name.c_str(), operands.c_str());
    std::string text = head;
    const std::string indent(text.size(), ' ');
    size_t lineStart = 0;
    std::istringstream words(meaning);
    std::string word;
    bool first = true;
    while (words >> word) {
        if (!first && text.size() - lineStart + 1 + word.size() > kWidth) {
            text += '\n';
            lineStart = text.size();
            text += indent;
        } else if (!first) {
            text += ' ';
        }
        text += word;
        first = false;
    }
    return text + '\n';
}

}  // namespace

std::string AssemblerHelp() {
    std::string text = kSyntax;
    for (const OpHelp& row : kOpHelp) text += Row(kOpNames[row.op], OperandSyntax(row), row.meaning);
    text += Row("GOSUB", "TARGET", "JMP kind=2: remember the next instruction, then jump; RETURN 0 1 1 comes back to it");
    return text + kTail;
}
