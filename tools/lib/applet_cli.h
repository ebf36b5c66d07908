// Command line of qbapplet, parsed into an AppletDesc; the files it names
// (body, icons, linked files) are read by LoadCommandFiles.
#pragma once

#include <string>
#include <vector>

#include "lib/applet_writer.h"

struct AppletCommand {
    AppletDesc desc;
    std::string outPath;
    std::string bodyPath;  // empty with --no-body
    std::vector<std::string> iconPaths;    // one per desc.icons entry
    std::vector<std::string> linkedPaths;  // one per desc.linkedFiles entry, empty for dropped ones
    bool help = false;
};

const char* AppletUsage();

// args excludes the program name.
bool ParseAppletCommand(const std::vector<std::string>& args, AppletCommand& command, std::string& error);
// Reads the body, icon and linked files into the desc.
bool LoadCommandFiles(AppletCommand& command, std::string& error);

// The pieces of the option syntax, shared by the declaration options.
bool ParseU32(const std::string& text, uint32_t& value);
bool SplitFields(const std::string& text, char separator, size_t minCount, size_t maxCount,
                 std::vector<std::string>& fields);
// --include FILE:FIRST:LAST:OFFSET[:SOURCE]. False for a malformed value, with
// why set when the value is well-formed but maps lines the player can't report.
bool ParseIncludeOption(const std::string& text, AppletInclude& include, std::string& why);
// Without any --include: one entry that maps every line, unchanged, to the
// file named by the chunk's source name (or to the body file, for a chunk
// without one), so that the player's errors name a file and a line.
void AddDefaultInclude(AppletCommand& command);

// Declaration options: --declare, --plugin, --plugin-tag, --display-decl, --menu.
bool ParseDeclarationOption(const std::string& option, const std::string& value, AppletDesc& desc);
