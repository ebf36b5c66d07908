// The expression evaluator: numbers, variables, the arithmetic, integer,
// bit, comparison and logic operators, each binary operator with a left and
// a right priority (a right priority below the left groups to the right).
#include "libs/eval.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "core/errcodes.h"
#include "core/numbers.h"

namespace {

struct EvalError {
    int code;
};

enum TokenKind {
    kTokNumber,
    kTokByte,  // any other single byte; the zero byte ends the text
    kTokShl,
    kTokShr,
    kTokConcat,
    kTokNotEqual,
    kTokLessEqual,
    kTokGreaterEqual,
    kTokAnd,
    kTokOr,
    kTokNot,
};

struct Word {
    const char* text;
    TokenKind kind;
};
// Tried in this order; a word counts only when no letter or digit follows.
constexpr Word kWords[] = {
    {"<<", kTokShl}, {">>", kTokShr},  {"..", kTokConcat}, {"<>", kTokNotEqual}, {"<=", kTokLessEqual},
    {">=", kTokGreaterEqual}, {"and", kTokAnd}, {"or", kTokOr}, {"not", kTokNot},
};

constexpr int kUnaryPriority = 12;

bool IsLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 0xC0 && c != 0xD7 && c != 0xF7);
}
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

struct Token {
    TokenKind kind = kTokByte;
    unsigned char byte = 0;
    double value = 0;
};

struct Priority {
    int left;
    int right;
};

// The priorities of a binary operator; left 0 for a token that is none.
Priority BinaryPriority(const Token& t) {
    switch (t.kind) {
    case kTokShl:
    case kTokShr: return {9, 9};
    case kTokConcat: return {5, 4};
    case kTokNotEqual:
    case kTokLessEqual:
    case kTokGreaterEqual: return {3, 3};
    case kTokAnd: return {2, 2};
    case kTokOr: return {1, 1};
    case kTokByte: break;
    default: return {0, 0};
    }
    switch (t.byte) {
    case '^': return {14, 13};
    case '*':
    case '/':
    case '\\':
    case '%': return {11, 11};
    case '+':
    case '-': return {10, 10};
    case '&': return {8, 8};
    case '~': return {7, 7};
    case '|': return {6, 6};
    case '=':
    case '<':
    case '>': return {3, 3};
    default: return {0, 0};
    }
}

// Unsigned 32 bits for the bit operators: negatives as their two's
// complement, values from 2^32 on saturated, NaN as 0.
uint32_t ToBits(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 4294967296.0) return 0xFFFFFFFFu;
    if (v >= 0) return static_cast<uint32_t>(v);
    return static_cast<uint32_t>(ClampToInt32(v));
}

double Combine(const Token& op, double a, double b) {
    switch (op.kind) {
    case kTokShl: return static_cast<double>(ToBits(a) << (ToBits(b) & 31));
    case kTokShr: return static_cast<double>(ToBits(a) >> (ToBits(b) & 31));
    case kTokConcat: throw EvalError{ERR_WRONGOPCST};
    case kTokNotEqual: return a != b ? 1 : 0;
    case kTokLessEqual: return a <= b ? 1 : 0;
    case kTokGreaterEqual: return a >= b ? 1 : 0;
    case kTokAnd: return (a == 0 || b == 0) ? 0 : b;
    case kTokOr: return a != 0 ? a : b;
    default: break;
    }
    switch (op.byte) {
    case '^': return std::pow(a, b);
    case '*': return a * b;
    case '/':
        if (b == 0) throw EvalError{ERR_ZERODIVISION};
        return a / b;
    case '\\':
    case '%': {
        // In 64 bits, so that the smallest integer over -1 cannot trap.
        const int64_t x = ClampToInt32(a), y = ClampToInt32(b);
        if (y == 0) throw EvalError{ERR_ZERODIVISION};
        return static_cast<double>(op.byte == '\\' ? x / y : x % y);
    }
    case '+': return a + b;
    case '-': return a - b;
    case '&': return static_cast<double>(ToBits(a) & ToBits(b));
    case '~': return static_cast<double>(ToBits(a) ^ ToBits(b));
    case '|': return static_cast<double>(ToBits(a) | ToBits(b));
    case '=': return a == b ? 1 : 0;
    case '<': return a < b ? 1 : 0;
    case '>': return a > b ? 1 : 0;
    default: return 0;
    }
}

class Evaluator {
public:
    Evaluator(const char* text, const std::vector<qbEvalVariable>& vars) : p_(text), vars_(vars) {}

    double Run() {
        Next();
        const double v = Expression(0);
        if (tok_.kind != kTokByte || tok_.byte != 0) throw EvalError{ERR_SYNTAXERROR};
        return v;
    }

private:
    // Whether text starts at p_ and no letter or digit follows it.
    bool WordAt(const char* text, size_t len) const {
        // Byte by byte, so that the text's end stops the comparison even
        // when a name holds a zero byte.
        for (size_t i = 0; i < len; ++i)
            if (p_[i] == 0 || p_[i] != text[i]) return false;
        const auto after = static_cast<unsigned char>(p_[len]);
        return !IsLetter(after) && !IsDigit(after);
    }

    void Next() {
        while (*p_ == ' ' || *p_ == '\t') ++p_;
        const auto c = static_cast<unsigned char>(*p_);
        if (IsDigit(c) || c == '$') {
            size_t used = 0;
            int err = 0;
            tok_.value = StringToNumber(p_, &used, &err);
            if (err) throw EvalError{err};
            tok_.kind = kTokNumber;
            p_ += used;
            return;
        }
        for (const Word& w : kWords) {
            const size_t len = std::strlen(w.text);
            if (WordAt(w.text, len)) {
                tok_.kind = w.kind;
                p_ += len;
                return;
            }
        }
        for (const qbEvalVariable& v : vars_) {
            if (!v.name.empty() && WordAt(v.name.c_str(), v.name.size())) {
                tok_.kind = kTokNumber;
                tok_.value = v.value;
                p_ += v.name.size();
                return;
            }
        }
        tok_.kind = kTokByte;
        tok_.byte = c;
        if (c) ++p_;
    }

    bool IsByte(unsigned char b) const { return tok_.kind == kTokByte && tok_.byte == b; }

    double Expression(int limit) {
        struct DepthGuard {
            explicit DepthGuard(int& d) : depth(d) {
                if (++depth > kMaxEvalDepth) throw EvalError{ERR_STACK};
            }
            ~DepthGuard() { --depth; }
            int& depth;
        } guard(depth_);
        double v;
        if (IsByte('-') || IsByte('~') || tok_.kind == kTokNot) {
            const Token op = tok_;
            Next();
            const double x = Expression(kUnaryPriority);
            if (op.kind == kTokNot)
                v = x == 0 ? 1 : 0;
            else if (op.byte == '-')
                v = -x;
            else
                v = static_cast<double>(~(x < 0 ? 0u : ToBits(x)));
        } else if (IsByte('(')) {
            Next();
            v = Expression(0);
            if (!IsByte(')')) throw EvalError{ERR_UNMPARENTHESES};
            Next();
        } else if (tok_.kind == kTokNumber) {
            v = tok_.value;
            Next();
        } else {
            throw EvalError{ERR_VALUEEXPECTED};
        }
        for (Priority pr = BinaryPriority(tok_); pr.left > limit; pr = BinaryPriority(tok_)) {
            const Token op = tok_;
            Next();
            const double r = Expression(pr.right);
            v = Combine(op, v, r);
        }
        return v;
    }

    const char* p_;
    const std::vector<qbEvalVariable>& vars_;
    Token tok_;
    int depth_ = 0;
};

}  // namespace

bool IsEvalVariableName(const std::string& name) {
    if (name.empty() || name.size() > kMaxEvalNameLength) return false;
    const auto first = static_cast<unsigned char>(name[0]);
    if (!IsLetter(first) && first != '_') return false;
    for (char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (!IsLetter(c) && !IsDigit(c) && c != '_' && c != '$' && c != '!') return false;
    }
    return true;
}

int EvaluateExpression(const char* text, const std::vector<qbEvalVariable>& variables, double* result) {
    try {
        *result = Evaluator(text, variables).Run();
    } catch (const EvalError& e) {
        return e.code;
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 0;
}
