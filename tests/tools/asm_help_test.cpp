// qbasm --help against what the assembler really does: every mnemonic it
// reads has a row, the rows say which operands take constants as the opcode
// table does, and the constant spellings it promises assemble.
#include <gtest/gtest.h>

#include <map>

#include "lib/assembler.h"
#include "vm/opcodes.h"

namespace {

// The help's instruction rows by mnemonic: the row and its continuation lines.
std::map<std::string, std::string> InstructionRows(const std::string& help) {
    std::map<std::string, std::string> rows;
    const size_t start = help.find("\nInstruction set");
    std::string* current = nullptr;
    for (size_t at = help.find('\n', start + 1); at != std::string::npos && at + 1 < help.size();) {
        const size_t end = help.find('\n', at + 1);
        const std::string line = help.substr(at + 1, end - at - 1);
        at = end;
        if (line.rfind("  ", 0) != 0) break;  // the rows end at the first unindented line
        if (line[2] != ' ') {
            current = &rows[line.substr(2, line.find(' ', 2) - 2)];
            *current = line;
        } else if (current) {
            *current += "\n" + line;
        }
    }
    return rows;
}

bool Assembles(const std::string& text, std::string& error) {
    std::vector<uint8_t> out;
    return AssembleText(text, out, error);
}

TEST(AssemblerHelp, HasARowForEveryMnemonicTheAssemblerReads) {
    const std::map<std::string, std::string> rows = InstructionRows(AssemblerHelp());
    const std::vector<std::string> mnemonics = AssemblerMnemonics();
    EXPECT_EQ(rows.size(), mnemonics.size());
    for (const std::string& name : mnemonics) {
        EXPECT_TRUE(rows.count(name)) << name;
        std::string error;
        Assembles(".function\n" + name + " 0 0\n.end", error);
        EXPECT_EQ(error.find("unknown instruction"), std::string::npos) << name << ": " << error;
    }
    std::string error;
    EXPECT_FALSE(Assembles(".function\nNOP\nRETURN 0 1\n.end", error));
}

TEST(AssemblerHelp, RowsNameTheConstantOperandsOfTheOpcodeTable) {
    const std::map<std::string, std::string> rows = InstructionRows(AssemblerHelp());
    for (int op = 0; op < kNumOpcodes; ++op) {
        const std::string& row = rows.at(kOpNames[op]);
        const bool abc = GetOpMode(op) == iABC;
        EXPECT_EQ(row.find("RK(B)") != std::string::npos, abc && TestOpFlag(op, kOpBRK)) << row;
        // CONCAT's C carries the table's RK flag, yet it names the last
        // register of the range (the loader wants it below 250).
        EXPECT_EQ(row.find("RK(C)") != std::string::npos, abc && TestOpFlag(op, kOpCRK) && op != OP_CONCAT) << row;
        EXPECT_EQ(row.find("K(Bx)") != std::string::npos, TestOpFlag(op, kOpBxConst)) << row;
    }
}

TEST(AssemblerHelp, ConstantSpellingsItPromises) {
    const std::string help = AssemblerHelp();
    for (const char* word : {"#42", "#-0", "#1.5e9", "#0x1F", "#0x1p-3", "#nan", "#inf", "#-inf",
                             "#bits:7FF8000000000001", "raw\"\"", "nil"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
        std::string error;
        EXPECT_TRUE(Assembles(std::string(".function\nLOADK 0 ") + word + "\nRETURN 0 1\n.end", error))
            << word << ": " << error;
    }
    EXPECT_NE(help.find("#CENTER is #-100000"), std::string::npos);
    for (const char* word : {"#CENTER", "#NAN", "#infinity", "#$FF"}) {
        std::string error;
        EXPECT_FALSE(Assembles(std::string(".function\nLOADK 0 ") + word + "\nRETURN 0 1\n.end", error)) << word;
    }
}

// Each directive for broken chunks says what it turns off, on its line or
// the lines under it before the next directive.
TEST(AssemblerHelp, EachBrokenChunkDirectiveNamesWhatItTurnsOff) {
    const std::string help = AssemblerHelp();
    for (const char* directive :
         {".unchecked", ".noreturn", ".rawconst", ".lineinfo", ".count", ".word", ".truncate", ".tail", ".header ..."}) {
        const size_t at = help.find(std::string("\n  ") + directive);
        ASSERT_NE(at, std::string::npos) << directive;
        const size_t next = help.find("\n  .", at + 1);
        EXPECT_NE(help.substr(at, next - at).find("(off: "), std::string::npos) << directive;
    }
}

}  // namespace

namespace {

// The rule a newcomer cannot see from the instruction rows: a call may
// overwrite the caller's registers from its base up.
TEST(AssemblerHelp, SaysWhichRegistersACallMayOverwrite) {
    EXPECT_NE(AssemblerHelp().find("CALL A may overwrite every register from R(A) up"), std::string::npos);
}

}  // namespace
