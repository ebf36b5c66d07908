// Reader of the signature file. Its form:
//   # a comment (in column 1) [library]  starts the entries of one library
//   Name(a, [b = 1], [c...]) -> results
//       what the command does, on indented lines
//       | an example, one line after each "|", kept as written
// An argument in brackets may be left out; one ending in "..." repeats
// without limit; one in braces takes a table. The argument counts follow from the call, so that the
// reference can be held against the counts the handlers check.
#include "signatures.h"

#include <cctype>
#include <fstream>

namespace {

std::string Trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

// The arguments between the call's outer parentheses, split at the commas
// that no bracket, brace or parenthesis encloses.
bool SplitArguments(const std::string& inner, std::vector<std::string>& args) {
    int depth = 0;
    std::string current;
    for (char c : inner) {
        if (c == '[' || c == '(' || c == '{') ++depth;
        if (c == ']' || c == ')' || c == '}') --depth;
        if (depth < 0) return false;
        if (c == ',' && depth == 0) {
            args.push_back(Trimmed(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (depth != 0) return false;
    if (!Trimmed(current).empty() || !args.empty()) args.push_back(Trimmed(current));
    for (const std::string& a : args)
        if (a.empty()) return false;
    return true;
}

// Counts from the arguments; an optional one may not come before a required one.
bool CountArguments(const std::vector<std::string>& args, SignatureEntry& entry, std::string& why) {
    entry.minArgs = entry.maxArgs = 0;
    bool optionalSeen = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool optional = a.front() == '[';
        if (optional && a.back() != ']') {
            why = "argument \"" + a + "\" opens a bracket it does not close";
            return false;
        }
        const bool repeats = a.find("...") != std::string::npos;
        if (repeats && i + 1 != args.size()) {
            why = "only the last argument may repeat";
            return false;
        }
        if (!optional && optionalSeen) {
            why = "required argument \"" + a + "\" after an optional one";
            return false;
        }
        optionalSeen = optionalSeen || optional;
        if (!optional) ++entry.minArgs;
        if (entry.maxArgs != kNoUpperBound) entry.maxArgs = repeats ? kNoUpperBound : entry.maxArgs + 1;
    }
    return true;
}

// The places of the braced names among the arguments; false when a brace
// holds anything but one name.
bool TablePlaces(const std::vector<std::string>& args, SignatureEntry& entry, std::string& why) {
    int place = 0;
    for (const std::string& a : args) {
        ++place;
        for (size_t i = 0; i < a.size(); ++i) {
            if (a[i] == ',') ++place;
            if (a[i] != '{') continue;
            const size_t close = a.find('}', i);
            const std::string name = a.substr(i + 1, close == std::string::npos ? 0 : close - i - 1);
            bool bare = !name.empty();
            for (char c : name) bare = bare && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
            if (!bare) {
                why = "argument \"" + a + "\" braces something other than one name";
                return false;
            }
            entry.tables.push_back(place);
            i = close;
        }
    }
    return true;
}

bool ParseHead(const std::string& head, SignatureEntry& entry, std::string& why) {
    const size_t open = head.find('(');
    if (open == std::string::npos || open == 0) {
        why = "an entry starts with Name(arguments)";
        return false;
    }
    entry.name = head.substr(0, open);
    for (char c : entry.name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') {
            why = "\"" + entry.name + "\" is no command name";
            return false;
        }
    const size_t arrow = head.find("->", open);
    const std::string call = Trimmed(head.substr(0, arrow));
    if (call.back() != ')') {
        why = "the arguments end with \")\"";
        return false;
    }
    entry.call = call;
    if (arrow != std::string::npos) {
        entry.results = Trimmed(head.substr(arrow + 2));
        if (entry.results.empty()) {
            why = "\"->\" without results";
            return false;
        }
    }
    std::vector<std::string> args;
    if (!SplitArguments(call.substr(open + 1, call.size() - open - 2), args)) {
        why = "unbalanced brackets or an empty argument";
        return false;
    }
    return CountArguments(args, entry, why) && TablePlaces(args, entry, why);
}

}  // namespace

bool ReadSignatures(const char* path, std::vector<SignatureEntry>& out, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = std::string("cannot read ") + path;
        return false;
    }
    std::string library, raw;
    int lineNo = 0;
    auto fail = [&](const std::string& why) {
        error = std::string(path) + ":" + std::to_string(lineNo) + ": " + why;
        return false;
    };
    while (std::getline(in, raw)) {
        ++lineNo;
        const std::string line = Trimmed(raw);
        if (line.empty() || raw.front() == '#') continue;
        if (std::isspace(static_cast<unsigned char>(raw.front()))) {
            if (out.empty() || out.back().library != library) return fail("text before any entry");
            if (line.front() == '|') {
                const size_t bar = raw.find('|');
                const size_t from = bar + (raw.size() > bar + 1 && raw[bar + 1] == ' ' ? 2 : 1);
                out.back().example += raw.substr(from) + "\n";
                continue;
            }
            std::string& text = out.back().text;
            text += (text.empty() ? "" : " ") + line;
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 3) return fail("a library is written [name]");
            library = line.substr(1, line.size() - 2);
            continue;
        }
        if (library.empty()) return fail("an entry before the first [library]");
        SignatureEntry entry;
        std::string why;
        if (!ParseHead(line, entry, why)) return fail(why);
        entry.library = library;
        entry.line = lineNo;
        out.push_back(std::move(entry));
    }
    for (const SignatureEntry& e : out)
        if (e.text.empty()) {
            lineNo = e.line;
            return fail(e.name + " says nothing of what it does");
        }
    return true;
}
