// qbapplet: packs a chunk and header data into an applet container, or links
// the applet into a copy of the player as a stand-alone executable.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "lib/applet_cli.h"
#include "lib/exe_link.h"
#include "lib/file_util.h"

int main(int argc, char** argv) {
    AppletCommand command;
    ExeLinkCommand link;
    std::string error;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!TakeExeLinkOptions(args, link, error) || !ParseAppletCommand(args, command, error)) {
        std::fprintf(stderr, "qbapplet: %s\n%s%s", error.c_str(), AppletUsage(), ExeLinkUsage());
        return 2;
    }
    if (command.help) {
        std::fputs(AppletUsage(), stdout);
        std::fputs(ExeLinkUsage(), stdout);
        return 0;
    }
    if (!LoadCommandFiles(command, error) || !LoadExeLinkFiles(link, error)) {
        std::fprintf(stderr, "qbapplet: %s\n", error.c_str());
        return 1;
    }
    AddDefaultInclude(command);
    if (!link.playerPath.empty()) {
        std::vector<uint8_t> player, linked;
        if (!ReadFileBytes(link.playerPath, player, error) ||
            !LinkExecutable(player, BuildApplet(command.desc), link.plugins, link.packPlugins, linked, error) ||
            !WriteExecutableFile(command.outPath, linked, error)) {
            std::fprintf(stderr, "qbapplet: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (!WriteFileBytes(command.outPath, BuildApplet(command.desc), error)) {
        std::fprintf(stderr, "qbapplet: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
