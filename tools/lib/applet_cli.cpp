// Option table and value parsers of qbapplet.
#include "lib/applet_cli.h"

#include <cstdint>

#include "lib/text_syntax.h"

const char* AppletUsage() {
    return "usage: qbapplet -o OUT.qba --body CHUNK.qbb [options]\n"
           "  --title TEXT --version-string TEXT --author TEXT --copyright TEXT\n"
           "  --description TEXT --identifier TEXT   header strings (tags 11-15, 34)\n"
           "  --applet-version M.N                    version section (default 6.1)\n"
           "  --no-version                            leave the version section out\n"
           "  --label NAME=VALUE                      label (tag 9), repeatable\n"
           "  --include FILE:FIRST:LAST:OFFSET[:SOURCE]  include entry (tag 27), repeatable\n"
           "broken-applet options:\n"
           "  --magic TEXT          magic instead of QBA (NUL-padded to 4 bytes)\n"
           "  --raw-section TAG:HEX section written verbatim before the body, repeatable\n"
           "  --body-size N         declared body size instead of the real one\n"
           "  --truncate N          cut the file to N bytes\n"
           "  --no-body             leave the body section out\n";
}

namespace {

bool ParseU32(const std::string& text, uint32_t& value) {
    int64_t v = 0;
    if (!ParseInteger(text, v) || v < INT32_MIN || v > UINT32_MAX) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool ParseInclude(const std::string& text, AppletInclude& include) {
    std::vector<std::string> parts;
    size_t start = 0;
    // The source chunk name is the rest of the text, so it may hold colons itself.
    while (parts.size() < 4) {
        size_t colon = text.find(':', start);
        if (colon == std::string::npos) break;
        parts.push_back(text.substr(start, colon - start));
        start = colon + 1;
    }
    if (parts.size() < 3) return false;
    if (parts.size() == 3) {
        parts.push_back(text.substr(start));
    } else {
        include.source = text.substr(start);
    }
    include.file = parts[0];
    return ParseU32(parts[1], include.first) && ParseU32(parts[2], include.last) &&
           ParseU32(parts[3], include.offset);
}

bool ParseVersion(const std::string& text, std::pair<uint8_t, uint8_t>& version) {
    size_t dot = text.find('.');
    int64_t major = 0, minor = 0;
    if (dot == std::string::npos || !ParseInteger(text.substr(0, dot), major) ||
        !ParseInteger(text.substr(dot + 1), minor) || major < 0 || major > 255 || minor < 0 ||
        minor > 255)
        return false;
    version = {static_cast<uint8_t>(major), static_cast<uint8_t>(minor)};
    return true;
}

bool ParseRawSection(const std::string& text, AppletSection& section) {
    size_t colon = text.find(':');
    int64_t tag = 0;
    std::string payload;
    if (colon == std::string::npos || !ParseInteger(text.substr(0, colon), tag) || tag < 0 ||
        tag > 255 || !ParseHexBytes(text.substr(colon + 1), payload))
        return false;
    section.tag = static_cast<uint8_t>(tag);
    section.payload.assign(payload.begin(), payload.end());
    return true;
}

const std::pair<const char*, uint8_t> kHeaderOptions[] = {
    {"--title", kTagTitle},         {"--version-string", kTagVersionString},
    {"--copyright", kTagCopyright}, {"--author", kTagAuthor},
    {"--description", kTagDescription}, {"--identifier", kTagIdentifier},
};

}  // namespace

bool ParseAppletCommand(const std::vector<std::string>& args, AppletCommand& command,
                        std::string& error) {
    AppletSpec& spec = command.spec;
    bool noBody = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i], value;
        bool inlineValue = false;
        if (size_t eq = option.find('='); option.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = option.substr(eq + 1);
            option = option.substr(0, eq);
            inlineValue = true;
        }
        if (option == "-h" || option == "--help") {
            command.help = true;
            return true;
        }
        if (option == "--no-body" || option == "--no-version") {
            if (inlineValue) {
                error = option + " takes no value";
                return false;
            }
            if (option == "--no-body") noBody = true;
            else spec.version.reset();
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                error = option + " needs a value";
                return false;
            }
            value = args[++i];
        }
        bool ok = true;
        bool known = true;
        if (option == "-o") {
            command.outPath = value;
        } else if (option == "--body") {
            command.bodyPath = value;
        } else if (option == "--applet-version") {
            std::pair<uint8_t, uint8_t> version;
            ok = ParseVersion(value, version);
            spec.version = version;
        } else if (option == "--label") {
            size_t eq = value.find('=');
            AppletLabel label;
            ok = eq != std::string::npos && eq > 0 && ParseU32(value.substr(eq + 1), label.value);
            label.name = value.substr(0, eq);
            spec.labels.push_back(label);
        } else if (option == "--include") {
            AppletInclude include;
            ok = ParseInclude(value, include);
            spec.includes.push_back(include);
        } else if (option == "--magic") {
            spec.magic = value;
        } else if (option == "--raw-section") {
            AppletSection section;
            ok = ParseRawSection(value, section);
            spec.rawSections.push_back(section);
        } else if (option == "--body-size") {
            uint32_t size = 0;
            ok = ParseU32(value, size);
            spec.bodySizeOverride = size;
        } else if (option == "--truncate") {
            int64_t size = 0;
            ok = ParseInteger(value, size) && size >= 0;
            spec.truncateAt = static_cast<size_t>(size);
        } else {
            known = false;
            for (const auto& [name, tag] : kHeaderOptions)
                if (option == name) {
                    spec.headerStrings[tag] = value;
                    known = true;
                }
        }
        if (!known) {
            error = "unknown option " + option;
            return false;
        }
        if (!ok) {
            error = "bad value for " + option + ": " + value;
            return false;
        }
    }
    if (command.outPath.empty()) {
        error = "no output file (-o)";
        return false;
    }
    if (noBody) {
        if (!command.bodyPath.empty()) {
            error = "--no-body and --body exclude each other";
            return false;
        }
    } else if (command.bodyPath.empty()) {
        error = "no script body (--body)";
        return false;
    }
    return true;
}
