// Command line of qbapplet, parsed into an AppletSpec (the body file is read by
// the caller).
#pragma once

#include <string>
#include <vector>

#include "lib/applet_writer.h"

struct AppletCommand {
    AppletSpec spec;
    std::string outPath;
    std::string bodyPath;  // empty with --no-body
    bool help = false;
};

const char* AppletUsage();

// args excludes the program name.
bool ParseAppletCommand(const std::vector<std::string>& args, AppletCommand& command,
                        std::string& error);
