// qbapplet's declaration options: objects the applet declares, plugins with
// their tags, display declarations and menu trees.
#include <cstring>

#include "lib/applet_cli.h"
#include "lib/text_syntax.h"

namespace {

constexpr uint8_t kTypePlugin = 12;
constexpr uint8_t kTypeDisplay = 10;
constexpr uint8_t kTypeMenu = 13;
constexpr uint8_t kLastType = 255;
constexpr int kMaxTreeDepth = 200;  // deep enough for trees that must be refused

// TREE: items separated by ',', each NAME[#ID][{TREE}].
bool ParseMenuLevel(const std::string& text, size_t& pos, std::vector<MenuItemDesc>& items, int depth) {
    if (depth > kMaxTreeDepth) return false;
    for (;;) {
        MenuItemDesc item;
        while (pos < text.size() && std::strchr(",{}#", text[pos]) == nullptr) item.name += text[pos++];
        if (pos < text.size() && text[pos] == '#') {
            ++pos;
            while (pos < text.size() && std::strchr(",{}", text[pos]) == nullptr) item.id += text[pos++];
        }
        if (pos < text.size() && text[pos] == '{') {
            ++pos;
            if (!ParseMenuLevel(text, pos, item.submenu, depth + 1)) return false;
            if (pos >= text.size() || text[pos] != '}') return false;
            ++pos;
        }
        items.push_back(std::move(item));
        if (pos >= text.size() || text[pos] != ',') return true;
        ++pos;
    }
}

bool ParseDeclare(const std::string& value, AppletDesc& desc) {
    std::vector<std::string> f;
    DeclarationDesc d;
    uint32_t type = 0;
    if (!SplitFields(value, ':', 2, 4, f) || !ParseU32(f[0], type) || type > kLastType || !ParseU32(f[1], d.id))
        return false;
    d.type = static_cast<uint8_t>(type);
    if (f.size() > 2 && !ParseU32(f[2], d.sourceLine)) return false;
    if (f.size() > 3) d.name = f[3];
    desc.declarations.push_back(std::move(d));
    return true;
}

bool ParsePlugin(const std::string& value, AppletDesc& desc) {
    std::vector<std::string> f;
    DeclarationDesc d;
    d.type = kTypePlugin;
    d.valueA = 0;
    SplitFields(value, ':', 1, 3, f);
    if (f[0].empty() || f.size() == 2) return false;
    d.name = f[0];
    if (f.size() == 3 && !(ParseU32(f[1], d.valueA) && ParseU32(f[2], d.valueB))) return false;
    desc.declarations.push_back(std::move(d));
    return true;
}

bool ParsePluginTag(const std::string& value, AppletDesc& desc) {
    if (desc.declarations.empty() || desc.declarations.back().type != kTypePlugin) return false;
    size_t eq = value.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    PluginTagDesc tag;
    tag.key = value.substr(0, eq);
    std::string text = value.substr(eq + 1);
    uint64_t bits = 0;
    if (ParseNumber(text, bits)) {
        std::memcpy(&tag.number, &bits, sizeof bits);
    } else {
        tag.isText = true;
        tag.text = text;
    }
    desc.declarations.back().pluginTags.push_back(tag);
    return true;
}

bool ParseDisplay(const std::string& value, AppletDesc& desc) {
    std::vector<std::string> f;
    DeclarationDesc d;
    d.type = kTypeDisplay;
    if (!SplitFields(value, ':', 3, 4, f)) return false;
    // The height may carry the declaration's flag word: "200+0x8000000".
    std::string height = f[2];
    if (const size_t plus = height.find('+'); plus != std::string::npos) {
        if (!ParseU32(height.substr(plus + 1), d.display.flags)) return false;
        height.resize(plus);
    }
    if (!ParseU32(f[0], d.id) || !ParseU32(f[1], d.display.width) || !ParseU32(height, d.display.height))
        return false;
    if (f.size() == 4) d.display.title = f[3];
    desc.declarations.push_back(std::move(d));
    return true;
}

bool ParseMenu(const std::string& value, AppletDesc& desc) {
    std::vector<std::string> f;
    DeclarationDesc d;
    d.type = kTypeMenu;
    if (!SplitFields(value, ':', 2, 2, f) || !ParseU32(f[0], d.id) || f[1].empty()) return false;
    size_t pos = 0;
    if (!ParseMenuLevel(f[1], pos, d.menu, 1) || pos != f[1].size()) return false;
    desc.declarations.push_back(std::move(d));
    return true;
}

}  // namespace

bool ParseDeclarationOption(const std::string& option, const std::string& value, AppletDesc& desc) {
    if (option == "--declare") return ParseDeclare(value, desc);
    if (option == "--plugin") return ParsePlugin(value, desc);
    if (option == "--plugin-tag") return ParsePluginTag(value, desc);
    if (option == "--display-decl") return ParseDisplay(value, desc);
    if (option == "--menu") return ParseMenu(value, desc);
    return false;
}
