// A folder or a developer file named as the applet: the system's own error
// stays as it is, and a line below it says what the file is and how to make
// an applet of it.
#include "player/appletadvice.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/errcodes.h"
#include "vm/opcodes.h"

namespace {

bool HasExtension(const std::filesystem::path& path, const char* extension) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == extension;
}

bool StartsWithChunkSignature(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    char head[sizeof kChunkSignature] = {};
    if (!in.read(head, sizeof head)) return false;
    return std::memcmp(head, kChunkSignature, sizeof head) == 0;
}

}  // namespace

std::string AppletPathAdvice(int code, const char* appletPath, const char* detail) {
    if (!appletPath || !detail || std::strcmp(appletPath, detail) != 0) return {};
    const std::filesystem::path path(appletPath);
    const std::string name = path.filename().string();
    std::string stem = path.stem().string();
    std::error_code ec;
    if (code == ERR_NOAPPLET && std::filesystem::is_directory(path, ec))
        return std::string(appletPath) + " is a folder: name the applet file (.qba) to run.";
    if (code != ERR_NOAPPLET) return {};
    // A FIFO or a device is never opened here: reading one would wait.
    if (std::filesystem::exists(path, ec) && !std::filesystem::is_regular_file(path, ec))
        return std::string(appletPath) + " is not a regular file: name the applet file (.qba) to run.";
    if (StartsWithChunkSignature(path))
        return name + " is a compiled bytecode chunk: qbapplet -o " + stem + ".qba --body " + name +
               " packs it into an applet (qbapplet is built into build/tools/).";
    if (HasExtension(path, ".qbs"))
        return name + " is the text form of a bytecode chunk: qbasm " + name + " assembles it into " + stem +
               ".qbb, and qbapplet -o " + stem + ".qba --body " + stem +
               ".qbb packs that into an applet (both are built into build/tools/).";
    return {};
}
