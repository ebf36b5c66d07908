// The interpreter's pre-decoded twin of a prototype's code: one 64-bit word
// per instruction, made once when the prototype is loaded. The code array
// itself stays as it was read (the dumper, the debug layer and error texts
// see only it); the interpreter dispatches on the twin's handler number and
// takes the operands of the specialised handlers from it, so that those
// decide nothing per operand at run time.
#pragma once

#include <cstdint>

#include "vm/opcodes.h"

struct ScriptProto;
struct ScriptState;

// Word layout: handler number in bits 0-7, A in bits 8-15, A as a byte
// offset into the frame in bits 16-31; for the arithmetic and comparison
// handlers the byte offsets of B and C (into the frame or the constants) in
// bits 32-47 and 48-63; for the numeric loop step its signed jump in bits
// 32-63. Any other instruction has only its opcode: its handler decodes the
// instruction itself.
using QuickWord = uint64_t;

// Handler numbers from kQuickBase on: four per arithmetic and comparison
// opcode, in the operand order register-register, register-constant,
// constant-register, constant-constant; then the loop step.
constexpr int kQuickBase = 64;
constexpr int kQuickArithOps = OP_POW - OP_ADD + 1;
constexpr int kQuickCompareBase = kQuickBase + 4 * kQuickArithOps;
constexpr int kQuickForLoop = kQuickCompareBase + 4 * 3;
constexpr int kQuickHandlers = kQuickForLoop + 1;

// The twin of one instruction.
QuickWord VmQuickenInstruction(Instruction i);
// Makes p->qcode from p->code (script memory; raises ERR_MEM).
void VmQuicken(ScriptState* L, ScriptProto* p);
