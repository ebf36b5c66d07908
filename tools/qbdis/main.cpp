// qbdis: prints a precompiled chunk in the text form that qbasm reads back.
#include <cstdio>
#include <string>
#include <vector>

#include "lib/disassembler.h"
#include "lib/file_util.h"

namespace {

const char kUsage[] = "usage: qbdis FILE.qbb [-o OUT.qbs]   (default output: stdout)\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string in, out = "-";
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-h" || args[i] == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (args[i] == "-o" && i + 1 < args.size()) {
            out = args[++i];
        } else if (in.empty() && (args[i] == "-" || args[i][0] != '-')) {
            in = args[i];
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (in.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::vector<uint8_t> bytes;
    std::string text, error;
    if (!ReadFileBytes(in, bytes, error)) {
        std::fprintf(stderr, "qbdis: %s\n", error.c_str());
        return 1;
    }
    if (!DisassembleChunk(bytes, text, error)) {
        std::fprintf(stderr, "qbdis: %s: %s\n", in.c_str(), error.c_str());
        return 1;
    }
    if (!WriteTextFile(out, text, error)) {
        std::fprintf(stderr, "qbdis: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
