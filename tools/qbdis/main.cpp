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
    std::string in, out = "-";
    if (int status = ParseInOutArgs(argc, argv, kUsage, in, out)) return status < 0 ? 0 : status;
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
