// qbasm: assembles the bytecode text form into a precompiled chunk.
#include <cstdio>
#include <string>
#include <vector>

#include "lib/assembler.h"
#include "lib/file_util.h"

namespace {

std::string DefaultOutput(const std::string& in) {
    size_t slash = in.find_last_of('/');
    size_t dot = in.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return in + ".qbb";
    return in.substr(0, dot) + ".qbb";
}

}  // namespace

int main(int argc, char** argv) {
    std::string in, out;
    if (int status = ParseInOutArgs(argc, argv, AssemblerHelp(), in, out)) return status < 0 ? 0 : status;
    if (out.empty()) out = in == "-" ? "-" : DefaultOutput(in);
    std::string text, error;
    std::vector<uint8_t> bytes;
    if (!ReadTextFile(in, text, error)) {
        std::fprintf(stderr, "qbasm: %s\n", error.c_str());
        return 1;
    }
    if (!AssembleChecked(text, bytes, error)) {
        std::fprintf(stderr, "qbasm: %s: %s\n", in.c_str(), error.c_str());
        return 1;
    }
    if (!WriteFileBytes(out, bytes, error)) {
        std::fprintf(stderr, "qbasm: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
