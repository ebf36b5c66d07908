// Pre-decoding of loaded code for the interpreter (see quicken.h).
#include "vm/quicken.h"

#include "vm/internal.h"

namespace {

// The byte offset of an RK operand in the array it names, and whether that
// array is the constants.
uint64_t OperandOffset(int x, bool* constant) {
    *constant = x >= kRKConstBase;
    return static_cast<uint64_t>(*constant ? x - kRKConstBase : x) * sizeof(ScriptValue);
}

}  // namespace

QuickWord VmQuickenInstruction(Instruction i) {
    const int op = GetOpcode(i);
    const uint64_t a = static_cast<uint64_t>(GetArgA(i));
    const uint64_t aFields = (a << 8) | ((a * sizeof(ScriptValue)) << 16);
    int first = -1;
    if (op >= OP_ADD && op <= OP_POW)
        first = kQuickBase + 4 * (op - OP_ADD);
    else if (op >= OP_EQ && op <= OP_LE)
        first = kQuickCompareBase + 4 * (op - OP_EQ);
    if (first >= 0) {
        bool bConst, cConst;
        uint64_t b = OperandOffset(GetArgB(i), &bConst), c = OperandOffset(GetArgC(i), &cConst);
        uint64_t handler = static_cast<uint64_t>(first + (bConst ? 2 : 0) + (cConst ? 1 : 0));
        return handler | aFields | (b << 32) | (c << 48);
    }
    if (op == OP_FORLOOP) {
        uint64_t jump = static_cast<uint32_t>(GetArgSBx(i));
        return static_cast<uint64_t>(kQuickForLoop) | aFields | (jump << 32);
    }
    return static_cast<uint64_t>(op);
}

void VmQuicken(ScriptState* L, ScriptProto* p) {
    QuickWord* q = VmNewVector<QuickWord>(L, static_cast<size_t>(p->sizecode));
    for (int idx = 0; idx < p->sizecode; idx++) q[idx] = VmQuickenInstruction(p->code[idx]);
    p->qcode = q;
    p->qdelta = reinterpret_cast<uintptr_t>(q) - (reinterpret_cast<uintptr_t>(p->code) << 1);
}
