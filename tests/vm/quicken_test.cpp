// The interpreter runs arithmetic and comparisons through handlers fixed at
// load time for each mix of register and constant operands: every mix must
// give the same value, error code and error text.
#include <string>
#include <vector>

#include "vm_fixture.h"

namespace {

const char* const kArith[] = {"ADD", "SUB", "MUL", "DIV", "DIVINT", "MOD", "LSH", "RSH", "OR", "AND", "XOR", "POW"};
const char* const kCompare[] = {"EQ", "LT", "LE"};
// Operands as assembler literals; "nil" can only sit in a register.
const char* const kValues[] = {"#7", "#-7.5", "#2", "#0", "#-1", "\"3\"", "\"abc\"", "nil"};

class QuickenTest : public vmtest::VmFixture {
protected:
    // Loads an operand into register r, or "" to leave it a constant.
    static std::string Load(int r, const std::string& v) {
        if (v == "nil") return "LOADNIL " + std::to_string(r) + " " + std::to_string(r) + "\n";
        return "LOADK " + std::to_string(r) + " " + v + "\n";
    }
    // Runs `body` with b in register 0 or as a constant, c likewise in
    // register 1; the result text with the error detail.
    std::string Form(const std::string& b, const std::string& c, bool bConst, bool cConst, const std::string& op,
                     const std::string& tail) {
        std::string text = ".function main maxstack=4\n";
        if (!bConst) text += Load(0, b);
        if (!cConst) text += Load(1, c);
        text += op + " " + (bConst ? b : "0") + " " + (cConst ? c : "1") + "\n" + tail + ".end\n";
        vmtest::Hosted().detail.clear();
        std::string result = Eval(text);
        return result + " [" + Detail() + "]";
    }
    // Every form that the operands allow gives what the all-register form gives.
    void ExpectFormsAgree(const std::string& op, const std::string& tail) {
        for (const char* b : kValues) {
            for (const char* c : kValues) {
                const std::string rr = Form(b, c, false, false, op, tail);
                const bool bNil = std::string(b) == "nil", cNil = std::string(c) == "nil";
                if (!cNil) {
                    EXPECT_EQ(Form(b, c, false, true, op, tail), rr) << op << " R" << b << " K" << c;
                }
                if (!bNil) {
                    EXPECT_EQ(Form(b, c, true, false, op, tail), rr) << op << " K" << b << " R" << c;
                }
                if (!bNil && !cNil) {
                    EXPECT_EQ(Form(b, c, true, true, op, tail), rr) << op << " K" << b << " K" << c;
                }
            }
        }
    }
};

TEST_F(QuickenTest, ArithmeticAgreesInEveryOperandForm) {
    for (const char* op : kArith) ExpectFormsAgree(std::string(op) + " 2", "RETURN 2 2\n");
    // The forms are not all wrong alike.
    EXPECT_EQ(Form("\"3\"", "#4", false, true, "MUL 2", "RETURN 2 2\n"), "12 []");
}

TEST_F(QuickenTest, ComparisonsAgreeInEveryOperandFormAndSense) {
    const std::string tail = "JMP no\nLOADK 2 \"yes\"\nRETURN 2 2\nno:\nLOADK 2 \"no\"\nRETURN 2 2\n";
    for (const char* op : kCompare) {
        ExpectFormsAgree(std::string(op) + " 0", tail);
        ExpectFormsAgree(std::string(op) + " 1", tail);
    }
    // A true comparison with A = 1 takes the jump that follows.
    EXPECT_EQ(Form("#2", "#7", true, true, "LT 1", tail), "\"no\" []");
    EXPECT_EQ(Form("#2", "#7", false, true, "LT 0", tail), "\"yes\" []");
}

}  // namespace
