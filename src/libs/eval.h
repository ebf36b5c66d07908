// The expression evaluator behind Eval: a tokenizer and a precedence-
// climbing routine that computes while it parses. It knows nothing of the
// VM, so that fuzzing and tests reach it directly.
#pragma once

#include <string>
#include <vector>

// Nesting deeper than this (parentheses, unary operators, right operands)
// gives ERR_STACK rather than exhausting the native stack.
constexpr int kMaxEvalDepth = 200;
constexpr size_t kMaxEvalNameLength = 64;

struct qbEvalVariable {
    std::string name;
    double value = 0;
};

// Whether a name may be a variable: 1 to 64 bytes, a letter or "_" first,
// then letters, digits, "_", "$" and "!".
bool IsEvalVariableName(const std::string& name);

// Evaluates the text up to its first zero byte; variables are tried in
// their order. 0 with *result set, or an ERR_* code.
int EvaluateExpression(const char* text, const std::vector<qbEvalVariable>& variables, double* result);
