// Linking an applet into a copy of the player: the player's bytes with the
// offset word of its link marker pointing behind them, then an optional
// block of plugins, then the applet. The result runs its applet on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct LinkedPluginInput {
    std::string name;  // written as given, so that tests can link refused names
    std::vector<uint8_t> data;
};

struct ExeLinkCommand {
    std::string playerPath;  // empty: qbapplet writes a plain applet
    std::vector<LinkedPluginInput> plugins;
    std::vector<std::string> pluginPaths;  // one per plugin
    bool packPlugins = false;
};

const char* ExeLinkUsage();

// Takes --link-exe PLAYER, --link-plugin NAME=FILE and --pack-plugins out of
// args (the rest goes to the applet options).
bool TakeExeLinkOptions(std::vector<std::string>& args, ExeLinkCommand& command, std::string& error);
// Reads the plugin files.
bool LoadExeLinkFiles(ExeLinkCommand& command, std::string& error);

// Where the one link marker of an executable starts; false with a reason when
// there is none, more than one, or it is already patched.
bool FindLinkMarker(const std::vector<uint8_t>& exe, size_t& at, std::string& error);
void PatchLinkMarker(std::vector<uint8_t>& exe, size_t at, uint32_t offset);
// "PLPK", the plain size, the zlib stream; empty when zlib fails.
std::vector<uint8_t> PackPluginStream(const std::vector<uint8_t>& plain);
// "QBP!", the flags, the entries and the empty name that ends them.
std::vector<uint8_t> BuildPluginBlock(const std::vector<LinkedPluginInput>& plugins, bool packed);
// The whole linked executable from the player's bytes and the applet's.
bool LinkExecutable(const std::vector<uint8_t>& player, const std::vector<uint8_t>& applet,
                    const std::vector<LinkedPluginInput>& plugins, bool packed, std::vector<uint8_t>& out,
                    std::string& error);
// Writes the file and makes it executable.
bool WriteExecutableFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);
