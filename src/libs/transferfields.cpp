// Checks and escapes of script-given request fields.
#include "libs/transferfields.h"

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
    return text.find_first_of(" \t") == std::string_view::npos ? 0 : ERR_WRONGUSAGE;
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
