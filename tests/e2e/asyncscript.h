// Script text for the tests of asynchronous drawings: the drawing started
// and kept in the global "a", a frame of it, and a run to its end.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

// A table of numbers in register reg (reg + 1 holds each value on its way).
inline std::string NumberTable(int reg, const std::vector<std::pair<std::string, double>>& fields) {
    std::string s = "    NEWTABLE " + std::to_string(reg) + " 0 " + std::to_string(fields.size()) + "\n";
    for (const auto& [k, v] : fields)
        s += "    LOADK " + std::to_string(reg + 1) + " #" + std::to_string(static_cast<long long>(v)) +
             "\n    SETTABLE " + std::to_string(reg) + " \"" + k + "\" " + std::to_string(reg + 1) + "\n";
    return s;
}

// a = name(args..., {options}).
inline std::string StartAsync(const std::string& name, std::initializer_list<double> args,
                              const std::vector<std::pair<std::string, double>>& options) {
    std::string s = "    GETGLOBAL 0 \"" + name + "\"\n";
    int reg = 1;
    for (double a : args)
        s += "    LOADK " + std::to_string(reg++) + " #" + std::to_string(static_cast<long long>(a)) + "\n";
    return s + NumberTable(reg, options) + "    CALL 0 " + std::to_string(reg + 1) + " 2\n    SETGLOBAL 0 \"a\"\n";
}

// command(a).
inline std::string OnDraw(const std::string& command) {
    return "    GETGLOBAL 0 \"" + command + "\"\n    GETGLOBAL 1 \"a\"\n    CALL 0 2 1\n";
}

inline const std::string kFrame = OnDraw("asyncdrawframe");

// Steps the drawing to its end (AsyncDrawFrame answers 1 after the last).
inline const std::string kRunOut = R"(runout:
    GETGLOBAL 0 "asyncdrawframe"
    GETGLOBAL 1 "a"
    CALL 0 2 2
    EQ 1 0 #0
    JMP runout
)";

}  // namespace e2e
