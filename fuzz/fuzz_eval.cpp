// Fuzz target of Eval's evaluator: an expression and up to four variables
// from the input. Every answer is a number or one of Eval's errors; deep
// nesting stops at the limit.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "libs/eval.h"
#include "fuzznote.h"

// Input: a byte whose low bits give the number of variables (0 to 4), their
// names one per line, then the expression.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const double kValues[] = {4, -2147483648.0, 4294967296.0, std::numeric_limits<double>::quiet_NaN(),
                                     std::numeric_limits<double>::infinity(), -0.5, 0, 1e300};
    const size_t count = data[0] % 5;
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<qbEvalVariable> vars;
    for (size_t i = 0; i < count; ++i) {
        const size_t nl = rest.find('\n');
        if (nl == std::string::npos) break;
        qbEvalVariable v;
        v.name = rest.substr(0, nl);
        v.value = kValues[(data[0] >> 3 ^ i) % (sizeof kValues / sizeof kValues[0])];
        // The command refuses other names; the evaluator must cope either way.
        if (IsEvalVariableName(v.name) || (data[0] & 0x80)) vars.push_back(v);
        rest.erase(0, nl + 1);
    }
    double result = 0;
    const int err = EvaluateExpression(rest.c_str(), vars, &result);
    switch (err) {
    case 0:
    case ERR_MEM:
    case ERR_SYNTAXERROR:
    case ERR_VALUEEXPECTED:
    case ERR_ZERODIVISION:
    case ERR_STACK:
    case ERR_UNMPARENTHESES:
    case ERR_WRONGOPCST: break;
    default: __builtin_trap();
    }
    FuzzNoteValue(static_cast<int64_t>(vars.size()));
    FuzzNoteValue(err);
    if (err == 0) FuzzNoteNumber(result);
    return 0;
}
