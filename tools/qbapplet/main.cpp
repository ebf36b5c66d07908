// qbapplet: packs a chunk and header data into an applet container.
#include <cstdio>
#include <string>
#include <vector>

#include "lib/applet_cli.h"
#include "lib/file_util.h"

int main(int argc, char** argv) {
    AppletCommand command;
    std::string error;
    if (!ParseAppletCommand(std::vector<std::string>(argv + 1, argv + argc), command, error)) {
        std::fprintf(stderr, "qbapplet: %s\n%s", error.c_str(), AppletUsage());
        return 2;
    }
    if (command.help) {
        std::fputs(AppletUsage(), stdout);
        return 0;
    }
    if (!LoadCommandFiles(command, error)) {
        std::fprintf(stderr, "qbapplet: %s\n", error.c_str());
        return 1;
    }
    if (!WriteFileBytes(command.outPath, BuildApplet(command.spec), error)) {
        std::fprintf(stderr, "qbapplet: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
