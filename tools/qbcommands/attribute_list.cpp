// GetAttribute's entry against GetAttribute's own table: for every object
// type the entry names, after "#TYPE:", exactly the attributes the player
// answers for that type (the #ATTR constants up to the next "#TYPE:"; other
// constants may stand between them), and it names every type that answers
// any.
#include "attribute_list.h"

#include <cctype>
#include <cstdio>
#include <map>
#include <set>

#include "core/chars.h"
#include "core/settings.h"
#include "draw/attributes.h"

namespace {

// The value of a script constant of any library, by its name without "#".
bool ConstantValue(const std::string& name, int32_t& value) {
    for (const CommandTableNode& node : RegisteredCommandTables())
        for (const ScriptConstant* c = node.constants; c && c->name; ++c)
            if (!c->str && StrCmpNoCase(c->name, name.c_str()) == 0) {
                value = static_cast<int32_t>(c->num);
                return true;
            }
    return false;
}

// The name of an ATTR constant, for the messages.
std::string AttributeName(int32_t attribute) {
    for (const CommandTableNode& node : RegisteredCommandTables())
        for (const ScriptConstant* c = node.constants; c && c->name; ++c)
            if (!c->str && c->num == attribute && std::string(c->name).rfind("ATTR", 0) == 0)
                return std::string("#") + c->name;
    return "attribute " + std::to_string(attribute);
}

std::string Names(const std::set<int32_t>& attributes) {
    std::string text;
    for (int32_t a : attributes) text += (text.empty() ? "" : ", ") + AttributeName(a);
    return text;
}

// Every "#NAME" of the text, with whether a colon follows it at once.
struct Word {
    std::string name;
    bool opensType;
};

std::vector<Word> HashWords(const std::string& text) {
    std::vector<Word> words;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '#') continue;
        size_t end = i + 1;
        while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_')) ++end;
        if (end == i + 1) continue;
        words.push_back({text.substr(i + 1, end - i - 1), end < text.size() && text[end] == ':'});
        i = end - 1;
    }
    return words;
}

}  // namespace

bool CheckAttributeList(const std::vector<SignatureEntry>& entries, const char* path) {
    const SignatureEntry* entry = nullptr;
    for (const SignatureEntry& e : entries)
        if (e.name == "GetAttribute") entry = &e;
    if (!entry) return true;  // the missing entry is reported with the others
    bool sound = true;
    auto complain = [&](const std::string& what) {
        std::fprintf(stderr, "%s:%d: GetAttribute: %s\n", path, entry->line, what.c_str());
        sound = false;
    };
    // The attributes the entry lists, by type.
    std::map<int32_t, std::set<int32_t>> listed;
    int32_t type = -1;
    for (const Word& w : HashWords(entry->text)) {
        int32_t value = 0;
        if (w.opensType) {
            if (!ConstantValue(w.name, value) || value < 1 || value >= kFirstPluginObjectType) {
                complain("#" + w.name + ": names no object type");
                type = -1;
            } else if (listed.count(value)) {
                complain("#" + w.name + ": is listed twice");
                type = -1;
            } else {
                type = value;
                listed[type];
            }
        } else if (!ConstantValue(w.name, value)) {
            complain("#" + w.name + " is no constant");
        } else if (type >= 0 && w.name.rfind("ATTR", 0) == 0) {
            listed[type].insert(value);
        }
    }
    for (int32_t t = 1; t < kFirstPluginObjectType; ++t) {
        std::set<int32_t> answered;
        for (int32_t a = 0; a < kAttrSlots; ++a)
            if (a != kAttrCount && HasAttributeRow(t, a)) answered.insert(a);
        const auto it = listed.find(t);
        if (it == listed.end()) {
            if (!answered.empty()) complain("type " + std::to_string(t) + " is not listed; it answers " + Names(answered));
            continue;
        }
        std::set<int32_t> missing, extra;
        for (int32_t a : answered)
            if (!it->second.count(a)) missing.insert(a);
        for (int32_t a : it->second)
            if (!answered.count(a)) extra.insert(a);
        if (!missing.empty())
            complain("type " + std::to_string(t) + " also answers " + Names(missing));
        if (!extra.empty())
            complain("type " + std::to_string(t) + " does not answer " + Names(extra));
    }
    return sound;
}
