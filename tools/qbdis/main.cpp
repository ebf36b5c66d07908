// qbdis: prints a precompiled chunk, or the script body of an applet, in the
// text form that qbasm reads back.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "lib/applet_reader.h"
#include "lib/disassembler.h"
#include "lib/file_kind.h"
#include "lib/file_util.h"

namespace {

const char kUsage[] =
    "usage: qbdis FILE.qbb [-o OUT.qbs]   (default output: stdout)\n"
    "       qbdis --applet APPLET.qba [-o OUT.qbs]\n"
    "  --applet   disassemble the script body of an applet (plain or compressed)\n";

// Why bytes of this kind are not what was asked for, and what to do instead.
std::string WrongKind(FileKind kind, bool wantApplet) {
    std::string text = std::string(wantApplet ? "not an applet" : "not a compiled chunk") + ": this is " +
                       FileKindName(kind);
    if (!wantApplet && (kind == FileKind::Applet || kind == FileKind::CompressedApplet)) text += "; use --applet";
    if (wantApplet && kind == FileKind::Chunk) text += "; leave out --applet";
    if (kind == FileKind::Text) text += " (qbasm assembles the text form)";
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::string in, out = "-";
    std::map<std::string, bool> flags = {{"--applet", false}};
    if (int status = ParseInOutArgs(argc, argv, kUsage, in, out, &flags)) return status < 0 ? 0 : status;
    const bool applet = flags["--applet"];
    std::vector<uint8_t> bytes;
    std::string text, error;
    if (!ReadFileBytes(in, bytes, error)) {
        std::fprintf(stderr, "qbdis: %s\n", error.c_str());
        return 1;
    }
    const FileKind kind = DetectFileKind(bytes);
    const bool kindFits = applet ? kind == FileKind::Applet || kind == FileKind::CompressedApplet
                                 : kind == FileKind::Chunk;
    if (!kindFits) error = WrongKind(kind, applet);
    std::vector<uint8_t> body;
    if (error.empty() && applet && ReadAppletBody(bytes, body, error)) bytes = std::move(body);
    if (error.empty()) DisassembleChunk(bytes, text, error);
    if (!error.empty()) {
        std::fprintf(stderr, "qbdis: %s: %s\n", in.c_str(), error.c_str());
        return 1;
    }
    if (!WriteTextFile(out, text, error)) {
        std::fprintf(stderr, "qbdis: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
