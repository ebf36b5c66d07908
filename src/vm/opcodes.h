// Instruction encoding of the script VM and the per-opcode mode/flag table that
// the code checker, the disassembler and the assembler share.
#pragma once

#include <cstdint>

using Instruction = uint32_t;

enum OpCode : int {
    OP_MOVE = 0, OP_LOADK, OP_LOADBOOL, OP_LOADNIL, OP_GETUPVAL, OP_GETGLOBAL,
    OP_GETTABLE, OP_SETGLOBAL, OP_SETUPVAL, OP_SETTABLE, OP_NEWTABLE, OP_ADD,
    OP_SUB, OP_MUL, OP_DIV, OP_DIVINT, OP_MOD, OP_LSH, OP_RSH, OP_OR, OP_AND,
    OP_XOR, OP_POW, OP_UNM, OP_NOT, OP_BNOT, OP_CONCAT, OP_JMP, OP_EQ, OP_LT,
    OP_LE, OP_TEST, OP_CALL, OP_TAILCALL, OP_RETURN, OP_FORLOOP, OP_TFORLOOP,
    OP_TFORPREP, OP_SETLIST, OP_SETLISTO, OP_CLOSE, OP_CLOSURE, OP_SELF,
};

constexpr int kNumOpcodes = 43;

// Field layout: OP 0-5, C 6-14, B 15-23, A 24-31; Bx = B:C; sJ 6-29 (JMP only)
// with its kind in 30-31.
constexpr int kSizeOp = 6, kSizeA = 8, kSizeB = 9, kSizeC = 9, kSizeBx = 18, kSizeJ = 24;
constexpr int kPosOp = 0, kPosC = 6, kPosB = 15, kPosA = 24, kPosBx = 6, kPosJ = 6, kPosKind = 30;
constexpr int kMaxArgBx = (1 << kSizeBx) - 1;
constexpr int kBiasSBx = kMaxArgBx >> 1;           // 131071
constexpr int kBiasSJ = ((1 << kSizeJ) - 1) >> 1;   // 8388607
constexpr int kJumpKindGosub = 2;

// RK operands: values of 250 and above name constant (value - 250).
constexpr int kMaxStack = 250;
constexpr int kRKConstBase = 250;
constexpr int kFieldsPerFlush = 32;

constexpr int GetOpcode(Instruction i) { return static_cast<int>(i & 0x3F); }
constexpr int GetArgA(Instruction i) { return static_cast<int>(i >> kPosA); }
constexpr int GetArgB(Instruction i) { return static_cast<int>((i >> kPosB) & 0x1FF); }
constexpr int GetArgC(Instruction i) { return static_cast<int>((i >> kPosC) & 0x1FF); }
constexpr int GetArgBx(Instruction i) { return static_cast<int>((i >> kPosBx) & 0x3FFFF); }
constexpr int GetArgSBx(Instruction i) { return GetArgBx(i) - kBiasSBx; }
constexpr int GetArgSJ(Instruction i) { return static_cast<int>((i >> kPosJ) & 0xFFFFFF) - kBiasSJ; }
constexpr int GetJumpKind(Instruction i) { return static_cast<int>(i >> kPosKind); }

constexpr Instruction CreateABC(int op, int a, int b, int c) {
    return static_cast<Instruction>(op) | (static_cast<Instruction>(a) << kPosA) |
           (static_cast<Instruction>(b) << kPosB) | (static_cast<Instruction>(c) << kPosC);
}
constexpr Instruction CreateABx(int op, int a, int bx) {
    return static_cast<Instruction>(op) | (static_cast<Instruction>(a) << kPosA) |
           (static_cast<Instruction>(bx) << kPosBx);
}
constexpr Instruction CreateAsBx(int op, int a, int sbx) { return CreateABx(op, a, sbx + kBiasSBx); }
constexpr Instruction CreateJ(int sj, int kind) {
    return static_cast<Instruction>(OP_JMP) | (static_cast<Instruction>(sj + kBiasSJ) << kPosJ) |
           (static_cast<Instruction>(kind) << kPosKind);
}

enum OpMode : int { iABC = 0, iABx = 1, iAsBx = 2, isJ = 3 };

// Flag bits of the per-opcode byte.
constexpr uint8_t kOpModeMask = 0x03;
constexpr uint8_t kOpBReg = 0x04;
constexpr uint8_t kOpBRK = 0x08;
constexpr uint8_t kOpCRK = 0x10;
constexpr uint8_t kOpSetsA = 0x20;
constexpr uint8_t kOpBxConst = 0x40;
constexpr uint8_t kOpTest = 0x80;

inline constexpr uint8_t kOpModes[kNumOpcodes] = {
    0x24, 0x61, 0x20, 0x24, 0x20, 0x61, 0x34, 0x41, 0x00, 0x18, 0x20,  // MOVE..NEWTABLE
    0x38, 0x38, 0x38, 0x38, 0x38, 0x38, 0x38, 0x38, 0x38, 0x38, 0x38, 0x38,  // ADD..POW
    0x24, 0x24, 0x24, 0x34, 0x03,  // UNM NOT BNOT CONCAT JMP
    0x98, 0x98, 0x98, 0xa4,        // EQ LT LE TEST
    0x00, 0x00, 0x00, 0x02, 0x80, 0x02, 0x01, 0x01, 0x00, 0x21, 0x34,  // CALL..SELF
};

inline constexpr const char* kOpNames[kNumOpcodes] = {
    "MOVE", "LOADK", "LOADBOOL", "LOADNIL", "GETUPVAL", "GETGLOBAL", "GETTABLE",
    "SETGLOBAL", "SETUPVAL", "SETTABLE", "NEWTABLE", "ADD", "SUB", "MUL", "DIV",
    "DIVINT", "MOD", "LSH", "RSH", "OR", "AND", "XOR", "POW", "UNM", "NOT", "BNOT",
    "CONCAT", "JMP", "EQ", "LT", "LE", "TEST", "CALL", "TAILCALL", "RETURN",
    "FORLOOP", "TFORLOOP", "TFORPREP", "SETLIST", "SETLISTO", "CLOSE", "CLOSURE", "SELF",
};

constexpr OpMode GetOpMode(int op) { return static_cast<OpMode>(kOpModes[op] & kOpModeMask); }
constexpr bool TestOpFlag(int op, uint8_t flag) { return (kOpModes[op] & flag) != 0; }

// Chunk header constants.
constexpr unsigned char kChunkSignature[4] = {27, 'Q', 'B', 'B'};
constexpr unsigned char kChunkSizes[8] = {4, 4, 4, 6, 8, 9, 9, 8};
constexpr double kChunkTestNumber = 31415926.535897933;
constexpr int kChunkHeaderSize = 21;
