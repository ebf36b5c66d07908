// Checks and escapes of script-given request fields.
#include "libs/transferfields.h"

#include <cctype>

#include "core/errcodes.h"

int CheckHeaderValue(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos ? 0 : ERR_WRONGUSAGE;
}

int TakeCustomHeaders(std::string* lines) {
    if (lines->empty()) return 0;
    if (lines->size() < 2 || lines->compare(lines->size() - 2, 2, "\r\n") != 0) *lines += "\r\n";
    size_t start = 0;
    while (start < lines->size()) {
        const size_t end = lines->find("\r\n", start);
        const std::string_view line(lines->data() + start, end - start);
        if (line.empty() || CheckHeaderValue(line)) return ERR_WRONGUSAGE;
        start = end + 2;
    }
    return 0;
}

int CheckRequestTarget(std::string_view text) {
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x21 || b == 0x7F) return ERR_WRONGUSAGE;
    }
    return 0;
}

bool IsCredentialHeader(std::string_view line) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    std::string_view name = line.substr(0, colon);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    for (const std::string_view credential : {"authorization", "proxy-authorization", "cookie"}) {
        if (name.size() != credential.size()) continue;
        bool same = true;
        for (size_t i = 0; i < name.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(name[i])) == credential[i];
        if (same) return true;
    }
    return false;
}

std::string WithoutCredentialHeaders(const std::string& lines) {
    std::string kept;
    for (size_t start = 0; start < lines.size();) {
        size_t end = lines.find("\r\n", start);
        end = end == std::string::npos ? lines.size() : end + 2;
        const std::string_view line(lines.data() + start, end - start);
        if (!IsCredentialHeader(line)) kept += line;
        start = end;
    }
    return kept;
}

std::string FormDataQuoted(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '"') out += "%22";
        else if (c == '\r') out += "%0D";
        else if (c == '\n') out += "%0A";
        else out += c;
    }
    return out;
}
