// Option table and value parsers of qbapplet.
#include "lib/applet_cli.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>

#include "lib/file_util.h"
#include "lib/text_syntax.h"

const char* AppletUsage() {
    return "usage: qbapplet -o OUT.qba --body CHUNK.qbb [options]\n"
           "  --title TEXT --version-string TEXT --author TEXT --copyright TEXT\n"
           "  --description TEXT --identifier TEXT   header strings (tags 11-15, 34)\n"
           "  --applet-version M.N                    version section (default 6.1)\n"
           "  --no-version                            leave the version section out\n"
           "  --label NAME=VALUE                      label (tag 9), VALUE a whole number, repeatable\n"
           "  --include FILE:FIRST:LAST:OFFSET[:SOURCE]  include entry, repeatable: the\n"
           "      chunk's lines FIRST to LAST (the numbers in its line info) come\n"
           "      from FILE, and error texts report line L as line OFFSET + 1 + L - FIRST\n"
           "      of FILE (hello.qbs:1:1000:0 keeps the numbers; lib.qbs:10:20:4 reports\n"
           "      line 12 as line 7 of lib.qbs). SOURCE is the source name of the\n"
           "      functions that the entry covers (their .source text); leave it out for\n"
           "      functions without one. Without any --include, one entry maps every\n"
           "      line from 1 on, unchanged, to the file named by the chunk's source\n"
           "      name; for a chunk without one, to X.qbs beside a body X.qbb (the\n"
           "      text qbasm made it from), else to the body file's name.\n"
           "  --include-form plain|named|complemented    include table tag 8, 27 or 33\n"
           "      (the plain form stores no SOURCE: the player takes the applet's path)\n"
           "  --compress                              write a compressed (QBZ) applet\n"
           "  --icon W:H:FLAGS:FILE                   icon block entry, repeatable\n"
           "  --padding N                             zero bytes after the body\n"
           "  --link NAME=FILE  --link-far NAME=FILE  --link-dropped NAME   linked files (tag 26)\n"
           "  --constant NAME=NUMBER  --string-constant NAME=TEXT            user constants (tag 31)\n"
           "  --timer FLAGS[:V1:V2:BYTE]              timer settings (tag 32)\n"
           "declarations (tag 2):\n"
           "  --declare TYPE:ID[:LINE[:NAME]]         any type with its default record\n"
           "  --plugin NAME[:VERSION:REVISION]  --plugin-tag KEY=VALUE (to the last plugin)\n"
           "  --display-decl ID:WIDTH:HEIGHT[+FLAGS][:TITLE]\n"
           "  --menu ID:TREE                          TREE: Name[#id][{sub,items}],...\n"
           "older display sections:\n"
           "  --display-size W:H  --display-title TEXT  --display-color N  --display-position X:Y\n"
           "  --desktop  --screen-mode N  --screen-size W:H  --screen-depth N  --title-bar N\n"
           "  --display-flag TAG:VALUE (tags 18-20, 24, 25, 30)  --scale KIND:W:H:SMOOTH\n"
           "  --override-lock\n"
           "broken-applet options:\n"
           "  --magic TEXT          magic instead of QBA (NUL-padded to 4 bytes)\n"
           "  --raw-section TAG:HEX section written verbatim before the body, repeatable\n"
           "  --body-size N         declared body size instead of the real one\n"
           "  --truncate N          cut the file to N bytes\n"
           "  --no-body             leave the body section out\n";
}

bool ParseU32(const std::string& text, uint32_t& value) {
    int64_t v = 0;
    if (!ParseInteger(text, v) || v < INT32_MIN || v > UINT32_MAX) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool SplitFields(const std::string& text, char separator, size_t minCount, size_t maxCount,
                 std::vector<std::string>& fields) {
    fields.clear();
    size_t start = 0;
    // The last field takes the rest of the text, separators and all.
    while (fields.size() + 1 < maxCount) {
        size_t at = text.find(separator, start);
        if (at == std::string::npos) break;
        fields.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    fields.push_back(text.substr(start));
    return fields.size() >= minCount;
}

namespace {

bool ParseI16(const std::string& text, int16_t& value) {
    int64_t v = 0;
    if (!ParseInteger(text, v) || v < INT16_MIN || v > UINT16_MAX) return false;
    value = static_cast<int16_t>(static_cast<uint16_t>(v));
    return true;
}

bool ParseU8(const std::string& text, uint8_t& value) {
    int64_t v = 0;
    if (!ParseInteger(text, v) || v < 0 || v > 255) return false;
    value = static_cast<uint8_t>(v);
    return true;
}

bool ParseVersion(const std::string& text, AppletVersionPair& version) {
    size_t dot = text.find('.');
    int64_t major = 0, minor = 0;
    if (dot == std::string::npos || !ParseInteger(text.substr(0, dot), major) ||
        !ParseInteger(text.substr(dot + 1), minor) || major < 0 || major > 255 || minor < 0 || minor > 255)
        return false;
    version = {static_cast<uint8_t>(major), static_cast<uint8_t>(minor)};
    return true;
}

bool ParseRawSection(const std::string& text, AppletSection& section) {
    size_t colon = text.find(':');
    int64_t tag = 0;
    std::string payload;
    if (colon == std::string::npos || !ParseInteger(text.substr(0, colon), tag) || tag < 0 || tag > 255 ||
        !ParseHexBytes(text.substr(colon + 1), payload))
        return false;
    section.tag = static_cast<uint8_t>(tag);
    section.payload.assign(payload.begin(), payload.end());
    return true;
}

// NAME=VALUE with a non-empty name.
bool SplitPair(const std::string& text, std::string& name, std::string& value) {
    size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    name = text.substr(0, eq);
    value = text.substr(eq + 1);
    return true;
}

bool ParseTwoI16(const std::string& text, int16_t& a, int16_t& b) {
    std::vector<std::string> f;
    return SplitFields(text, ':', 2, 2, f) && ParseI16(f[0], a) && ParseI16(f[1], b);
}

using ValueHandler = std::function<bool(const std::string&, AppletCommand&)>;

const std::map<std::string, uint8_t>& HeaderOptions() {
    static const std::map<std::string, uint8_t> options = {
        {"--title", kTagTitle},         {"--version-string", kTagVersionString}, {"--copyright", kTagCopyright},
        {"--author", kTagAuthor},       {"--description", kTagDescription},      {"--identifier", kTagIdentifier},
    };
    return options;
}

bool AddLink(AppletCommand& c, const std::string& text, LinkPlacement placement) {
    LinkedFileDesc file;
    std::string path;
    file.placement = placement;
    if (placement == LinkPlacement::Dropped) {
        if (text.empty()) return false;
        file.name = text;
    } else if (!SplitPair(text, file.name, path) || path.empty()) {
        return false;
    }
    c.desc.linkedFiles.push_back(file);
    c.linkedPaths.push_back(path);
    return true;
}

const std::map<std::string, ValueHandler>& ValueOptions() {
    static const std::map<std::string, ValueHandler> options = {
        {"-o", [](const std::string& v, AppletCommand& c) { c.outPath = v; return true; }},
        {"--body", [](const std::string& v, AppletCommand& c) { c.bodyPath = v; return true; }},
        {"--applet-version",
         [](const std::string& v, AppletCommand& c) {
             AppletVersionPair version;
             if (!ParseVersion(v, version)) return false;
             c.desc.version = version;
             return true;
         }},
        {"--label",
         [](const std::string& v, AppletCommand& c) {
             AppletLabel label;
             std::string value;
             if (!SplitPair(v, label.name, value) || !ParseU32(value, label.value)) return false;
             c.desc.labels.push_back(label);
             return true;
         }},
        {"--include-form",
         [](const std::string& v, AppletCommand& c) {
             if (v == "plain") c.desc.includeForm = IncludeForm::Plain;
             else if (v == "named") c.desc.includeForm = IncludeForm::Named;
             else if (v == "complemented") c.desc.includeForm = IncludeForm::Complemented;
             else return false;
             return true;
         }},
        {"--magic", [](const std::string& v, AppletCommand& c) { c.desc.magic = v; return true; }},
        {"--raw-section",
         [](const std::string& v, AppletCommand& c) {
             AppletSection section;
             if (!ParseRawSection(v, section)) return false;
             c.desc.rawSections.push_back(section);
             return true;
         }},
        {"--body-size",
         [](const std::string& v, AppletCommand& c) {
             uint32_t size = 0;
             if (!ParseU32(v, size)) return false;
             c.desc.bodySizeOverride = size;
             return true;
         }},
        {"--truncate",
         [](const std::string& v, AppletCommand& c) {
             int64_t size = 0;
             if (!ParseInteger(v, size) || size < 0) return false;
             c.desc.truncateAt = static_cast<size_t>(size);
             return true;
         }},
        {"--padding",
         [](const std::string& v, AppletCommand& c) {
             int64_t size = 0;
             if (!ParseInteger(v, size) || size < 0 || size > (1 << 30)) return false;
             c.desc.paddingAfterBody = static_cast<size_t>(size);
             return true;
         }},
        {"--icon",
         [](const std::string& v, AppletCommand& c) {
             std::vector<std::string> f;
             IconDesc icon;
             if (!SplitFields(v, ':', 4, 4, f) || !ParseI16(f[0], icon.width) || !ParseI16(f[1], icon.height) ||
                 !ParseU8(f[2], icon.flags) || f[3].empty())
                 return false;
             c.desc.icons.push_back(icon);
             c.iconPaths.push_back(f[3]);
             return true;
         }},
        {"--link", [](const std::string& v, AppletCommand& c) { return AddLink(c, v, LinkPlacement::Inline); }},
        {"--link-far", [](const std::string& v, AppletCommand& c) { return AddLink(c, v, LinkPlacement::Elsewhere); }},
        {"--link-dropped", [](const std::string& v, AppletCommand& c) { return AddLink(c, v, LinkPlacement::Dropped); }},
        {"--constant",
         [](const std::string& v, AppletCommand& c) {
             ConstantDesc k;
             std::string number;
             uint64_t bits = 0;
             if (!SplitPair(v, k.name, number) || !ParseNumber(number, bits)) return false;
             std::memcpy(&k.number, &bits, sizeof bits);
             c.desc.constants.push_back(k);
             return true;
         }},
        {"--string-constant",
         [](const std::string& v, AppletCommand& c) {
             ConstantDesc k;
             k.isText = true;
             if (!SplitPair(v, k.name, k.text)) return false;
             c.desc.constants.push_back(k);
             return true;
         }},
        {"--timer",
         [](const std::string& v, AppletCommand& c) {
             std::vector<std::string> f;
             TimerDesc t;
             SplitFields(v, ':', 1, 4, f);
             if ((f.size() != 1 && f.size() != 4) || !ParseU32(f[0], t.flags)) return false;
             if (f.size() == 4 && !(ParseU32(f[1], t.value1) && ParseU32(f[2], t.value2) && ParseU8(f[3], t.byte)))
                 return false;
             c.desc.timer = t;
             return true;
         }},
        {"--display-size",
         [](const std::string& v, AppletCommand& c) {
             int16_t w, h;
             if (!ParseTwoI16(v, w, h)) return false;
             c.desc.rawSections.push_back(DisplaySizeSection(w, h));
             return true;
         }},
        {"--display-title",
         [](const std::string& v, AppletCommand& c) {
             c.desc.rawSections.push_back(DisplayTitleSection(v));
             return true;
         }},
        {"--display-color",
         [](const std::string& v, AppletCommand& c) {
             uint32_t color;
             if (!ParseU32(v, color)) return false;
             c.desc.rawSections.push_back(DisplayColorSection(color));
             return true;
         }},
        {"--display-position",
         [](const std::string& v, AppletCommand& c) {
             std::vector<std::string> f;
             uint32_t x, y;
             if (!SplitFields(v, ':', 2, 2, f) || !ParseU32(f[0], x) || !ParseU32(f[1], y)) return false;
             c.desc.rawSections.push_back(DisplayPositionSection(x, y));
             return true;
         }},
        {"--screen-size",
         [](const std::string& v, AppletCommand& c) {
             int16_t w, h;
             if (!ParseTwoI16(v, w, h)) return false;
             c.desc.rawSections.push_back(ScreenSizeSection(w, h));
             return true;
         }},
        {"--screen-mode", [](const std::string& v, AppletCommand& c) {
             uint8_t b;
             if (!ParseU8(v, b)) return false;
             c.desc.rawSections.push_back(ByteSection(kTagScreenMode, b));
             return true;
         }},
        {"--screen-depth", [](const std::string& v, AppletCommand& c) {
             uint8_t b;
             if (!ParseU8(v, b)) return false;
             c.desc.rawSections.push_back(ByteSection(kTagScreenDepth, b));
             return true;
         }},
        {"--title-bar", [](const std::string& v, AppletCommand& c) {
             uint8_t b;
             if (!ParseU8(v, b)) return false;
             c.desc.rawSections.push_back(ByteSection(kTagTitleBar, b));
             return true;
         }},
        {"--display-flag",
         [](const std::string& v, AppletCommand& c) {
             std::vector<std::string> f;
             uint8_t tag, value;
             if (!SplitFields(v, ':', 2, 2, f) || !ParseU8(f[0], tag) || !ParseU8(f[1], value)) return false;
             static const uint8_t kFlagTags[] = {kTagBorderless, kTagFixed, kTagSizeable, kTagHidePointer,
                                                 kTagNoModeSwitch, kTagNoHide};
             bool known = false;
             for (uint8_t t : kFlagTags) known = known || t == tag;
             if (!known) return false;
             c.desc.rawSections.push_back(ByteSection(tag, value));
             return true;
         }},
        {"--scale",
         [](const std::string& v, AppletCommand& c) {
             std::vector<std::string> f;
             uint8_t kind, smooth;
             uint32_t w, h;
             if (!SplitFields(v, ':', 4, 4, f) || !ParseU8(f[0], kind) || !ParseU32(f[1], w) || !ParseU32(f[2], h) ||
                 !ParseU8(f[3], smooth))
                 return false;
             c.desc.rawSections.push_back(ScaleSection(kind, w, h, smooth));
             return true;
         }},
    };
    return options;
}

// Options without a value.
bool ApplyFlag(const std::string& option, AppletCommand& c, bool& noBody) {
    if (option == "--no-body") noBody = true;
    else if (option == "--no-version") c.desc.version.reset();
    else if (option == "--compress") c.desc.compress = true;
    else if (option == "--desktop") c.desc.rawSections.push_back(DesktopSection());
    else if (option == "--override-lock") c.desc.rawSections.push_back(OverrideLockSection());
    else return false;
    return true;
}

bool IsDeclarationOption(const std::string& option) {
    return option == "--declare" || option == "--plugin" || option == "--plugin-tag" || option == "--display-decl" ||
           option == "--menu";
}

}  // namespace

bool ParseAppletCommand(const std::vector<std::string>& args, AppletCommand& command, std::string& error) {
    AppletDesc& desc = command.desc;
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
        if (ApplyFlag(option, command, noBody)) {
            if (inlineValue) {
                error = option + " takes no value";
                return false;
            }
            continue;
        }
        const auto& handlers = ValueOptions();
        auto handler = handlers.find(option);
        auto header = HeaderOptions().find(option);
        const bool include = option == "--include";
        if (handler == handlers.end() && header == HeaderOptions().end() && !IsDeclarationOption(option) &&
            !include) {
            error = "unknown option " + option;
            return false;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                error = option + " needs a value";
                return false;
            }
            value = args[++i];
        }
        bool ok = true;
        std::string why;  // what is wrong with a well-formed value
        if (include) {
            AppletInclude entry;
            ok = ParseIncludeOption(value, entry, why);
            if (ok) desc.includes.push_back(entry);
        } else if (header != HeaderOptions().end()) {
            desc.headerStrings[header->second] = value;
        } else if (handler != handlers.end()) {
            ok = handler->second(value, command);
            // A label's value is a number the script reads, never a text.
            if (!ok && option == "--label") why = "NAME=VALUE, VALUE a whole number (-2147483648 to 4294967295)";
        } else {
            ok = ParseDeclarationOption(option, value, desc);
        }
        if (!ok) {
            error = "bad value for " + option + ": " + value + (why.empty() ? "" : ": " + why);
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

bool LoadCommandFiles(AppletCommand& command, std::string& error) {
    if (!command.bodyPath.empty()) {
        std::vector<uint8_t> body;
        if (!ReadFileBytes(command.bodyPath, body, error)) return false;
        command.desc.body = std::move(body);
    }
    for (size_t i = 0; i < command.iconPaths.size() && i < command.desc.icons.size(); ++i)
        if (!ReadFileBytes(command.iconPaths[i], command.desc.icons[i].data, error)) return false;
    for (size_t i = 0; i < command.linkedPaths.size() && i < command.desc.linkedFiles.size(); ++i)
        if (!command.linkedPaths[i].empty() &&
            !ReadFileBytes(command.linkedPaths[i], command.desc.linkedFiles[i].data, error))
            return false;
    return true;
}
