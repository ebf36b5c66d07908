// qbapplet's --link-exe: finding and patching the player's link marker, the
// plugin block, and the executable it writes.
#include "lib/exe_link.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>

#include "core/linkeddata.h"
#include "core/packfile.h"
#include "lib/applet_writer.h"
#include "lib/file_util.h"

namespace {

// The name as the marker holds it: NUL-padded to its field.
std::array<uint8_t, kLinkMarkerNameSize> MarkerNameField() {
    std::array<uint8_t, kLinkMarkerNameSize> field{};
    std::memcpy(field.data(), kLinkMakerName, sizeof kLinkMakerName - 1);
    return field;
}

bool MarkerTailAt(const std::vector<uint8_t>& exe, size_t at) {
    const size_t magicAt = at + kLinkMarkerOffsetAt + 4;
    if (exe.size() < at + kLinkMarkerSize) return false;
    return std::equal(std::begin(kLinkMarkerMagic), std::end(kLinkMarkerMagic), exe.begin() + magicAt) &&
           exe[at + kLinkMarkerSize - 1] == 0;
}

uint32_t WordAt(const std::vector<uint8_t>& b, size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

bool SplitNamePath(const std::string& text, std::string& name, std::string& path) {
    const size_t eq = text.find('=');
    // An empty name would end the plugin block early.
    if (eq == std::string::npos || eq == 0 || eq + 1 >= text.size()) return false;
    name = text.substr(0, eq);
    path = text.substr(eq + 1);
    return true;
}

}  // namespace

const char* ExeLinkUsage() {
    return "stand-alone executables:\n"
           "  --link-exe PLAYER        write a copy of PLAYER that runs the applet on its own\n"
           "  --link-plugin NAME=FILE  link a plugin into it (extracted as NAME.qbp), repeatable\n"
           "  --pack-plugins           store the linked plugins as PLPK pack streams\n";
}

bool TakeExeLinkOptions(std::vector<std::string>& args, ExeLinkCommand& command, std::string& error) {
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i], value;
        bool inlineValue = false;
        if (size_t eq = option.find('='); option.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = option.substr(eq + 1);
            option = option.substr(0, eq);
            inlineValue = true;
        }
        if (option == "--pack-plugins") {
            if (inlineValue) {
                error = option + " takes no value";
                return false;
            }
            command.packPlugins = true;
            continue;
        }
        if (option != "--link-exe" && option != "--link-plugin") {
            rest.push_back(args[i]);
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                error = option + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (option == "--link-exe") {
            if (value.empty()) {
                error = "bad value for --link-exe";
                return false;
            }
            command.playerPath = value;
            continue;
        }
        LinkedPluginInput plugin;
        std::string path;
        if (!SplitNamePath(value, plugin.name, path)) {
            error = "bad value for --link-plugin: " + value;
            return false;
        }
        command.plugins.push_back(std::move(plugin));
        command.pluginPaths.push_back(path);
    }
    if (!command.plugins.empty() && command.playerPath.empty()) {
        error = "--link-plugin needs --link-exe";
        return false;
    }
    args = std::move(rest);
    return true;
}

bool LoadExeLinkFiles(ExeLinkCommand& command, std::string& error) {
    for (size_t i = 0; i < command.plugins.size() && i < command.pluginPaths.size(); ++i)
        if (!ReadFileBytes(command.pluginPaths[i], command.plugins[i].data, error)) return false;
    return true;
}

bool FindLinkMarker(const std::vector<uint8_t>& exe, size_t& at, std::string& error) {
    const auto name = MarkerNameField();
    const std::boyer_moore_horspool_searcher searcher(name.begin(), name.end());
    size_t found = 0;
    for (auto it = exe.begin();;) {
        it = std::search(it, exe.end(), searcher);
        if (it == exe.end()) break;
        const size_t pos = static_cast<size_t>(it - exe.begin());
        if (MarkerTailAt(exe, pos)) {
            if (found++ == 0) at = pos;
        }
        ++it;
    }
    if (found == 0) {
        error = "no link marker found: not a player executable";
        return false;
    }
    if (found > 1) {
        error = "more than one link marker found";
        return false;
    }
    if (WordAt(exe, at + kLinkMarkerOffsetAt) != kNoLinkedData) {
        error = "the executable already carries linked data";
        return false;
    }
    return true;
}

void PatchLinkMarker(std::vector<uint8_t>& exe, size_t at, uint32_t offset) {
    uint8_t* word = exe.data() + at + kLinkMarkerOffsetAt;
    word[0] = static_cast<uint8_t>(offset >> 24);
    word[1] = static_cast<uint8_t>(offset >> 16);
    word[2] = static_cast<uint8_t>(offset >> 8);
    word[3] = static_cast<uint8_t>(offset);
}

std::vector<uint8_t> PackPluginStream(const std::vector<uint8_t>& plain) {
    // The same pack stream as a compressed applet's, under the plugins' magic.
    std::vector<uint8_t> out = CompressApplet(plain);
    if (out.size() >= kPackMagicSize) std::memcpy(out.data(), kPluginPackMagic, kPackMagicSize);
    return out;
}

std::vector<uint8_t> BuildPluginBlock(const std::vector<LinkedPluginInput>& plugins, bool packed) {
    std::vector<uint8_t> out(kLinkedPluginMagic, kLinkedPluginMagic + 4);
    PutU32BE(out, packed ? kLinkedPluginsPacked : 0);
    for (const LinkedPluginInput& plugin : plugins) {
        PutCString(out, plugin.name);
        const std::vector<uint8_t> data = packed ? PackPluginStream(plugin.data) : plugin.data;
        PutU32BE(out, static_cast<uint32_t>(data.size()));
        out.insert(out.end(), data.begin(), data.end());
    }
    out.push_back(0);
    return out;
}

bool LinkExecutable(const std::vector<uint8_t>& player, const std::vector<uint8_t>& applet,
                    const std::vector<LinkedPluginInput>& plugins, bool packed, std::vector<uint8_t>& out,
                    std::string& error) {
    size_t at = 0;
    if (!FindLinkMarker(player, at, error)) return false;
    if (player.size() > UINT32_MAX) {
        error = "the player is too large for the marker's offset word";
        return false;
    }
    out = player;
    PatchLinkMarker(out, at, static_cast<uint32_t>(player.size()));
    if (!plugins.empty()) {
        const std::vector<uint8_t> block = BuildPluginBlock(plugins, packed);
        out.insert(out.end(), block.begin(), block.end());
    }
    out.insert(out.end(), applet.begin(), applet.end());
    return true;
}

bool WriteExecutableFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    if (!WriteFileBytes(path, bytes, error)) return false;
    if (path != "-" && chmod(path.c_str(), 0755) != 0) {
        error = "cannot make " + path + " executable";
        return false;
    }
    return true;
}
