// qbasm: assembles the bytecode text form into a precompiled chunk.
#include <cstdio>
#include <string>
#include <vector>

#include "lib/assembler.h"
#include "lib/file_util.h"

namespace {

const char kUsage[] =
    "usage: qbasm IN.qbs [-o OUT.qbb]   (default output: IN with extension .qbb)\n"
    "\n"
    "Text form, one item per line, '; comment' to the end of a line:\n"
    "  .header [bigendian|littleendian] [order=N] [sizes=a,b,c,d,e,f,g,h]\n"
    "          [test=NUMBER] [signature=\"BYTES\"]     before the main .function\n"
    "  .function [NAME] [params=N] [vararg=N] [maxstack=N] [upvalues=N] [line=N]\n"
    "  .end                      closes it; functions nest, the first is the main one\n"
    "      defaults: line 0 (main) or 1, upvalues = number of .upvalue lines,\n"
    "      maxstack = highest register used + 1 (at least 2)\n"
    "  .source \"TEXT\" | inherit  without it the source is written with size 0\n"
    "  .const LITERAL...         appends pool entries (no pooling); kN names entry N\n"
    "  .rawconst TYPE [HEX]      a constant of any type byte with raw payload bytes\n"
    "  .local NAME START END     START/END are instruction indexes or labels\n"
    "  .upvalue NAME\n"
    "  .line N                   line of the following instructions; a function with\n"
    "                            any .line gets line info, 0 before the first .line\n"
    "  .lineinfo N...            line-info entries given verbatim (any count)\n"
    "  .count KEY=N...           written count instead of the real one; keys:\n"
    "                            lineinfo locals upvalues k functions code\n"
    "  .word 0xHEX...            raw instruction words\n"
    "  .truncate N               cut the output to N bytes\n"
    "  .tail HEX                 bytes appended after the main function\n"
    "  LABEL:                    names the next instruction's index\n"
    "  MNEMONIC operands         A B C | A Bx | A sBx, in any letter case; missing\n"
    "                            trailing ABC operands are 0\n"
    "  JMP [kind=N] TARGET       GOSUB TARGET = JMP kind=2; TARGET: label or offset\n"
    "  FORLOOP/TFORPREP A TARGET CLOSURE A NAME (nested function) or index\n"
    "Constants (RK operands, Bx of LOADK/GETGLOBAL/SETGLOBAL): #NUMBER (#1e9, #-0,\n"
    "#nan, #inf, #-inf, #bits:7FF8000000000001), \"string\" (escapes \\n \\t \\r \\\\\n"
    "\\\" \\ddd \\xHH; written with its terminating zero), raw\"bytes\" (exact bytes, raw\"\"\n"
    "is size 0), nil, or kN. Inline constants reuse an equal pool entry.\n";

std::string DefaultOutput(const std::string& in) {
    size_t slash = in.find_last_of('/');
    size_t dot = in.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return in + ".qbb";
    return in.substr(0, dot) + ".qbb";
}

}  // namespace

int main(int argc, char** argv) {
    std::string in, out;
    if (int status = ParseInOutArgs(argc, argv, kUsage, in, out)) return status < 0 ? 0 : status;
    if (out.empty()) out = in == "-" ? "-" : DefaultOutput(in);
    std::string text, error;
    std::vector<uint8_t> bytes;
    if (!ReadTextFile(in, text, error)) {
        std::fprintf(stderr, "qbasm: %s\n", error.c_str());
        return 1;
    }
    if (!AssembleText(text, bytes, error)) {
        std::fprintf(stderr, "qbasm: %s: %s\n", in.c_str(), error.c_str());
        return 1;
    }
    if (!WriteFileBytes(out, bytes, error)) {
        std::fprintf(stderr, "qbasm: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
