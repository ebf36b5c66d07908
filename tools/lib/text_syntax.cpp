// Literal parsing and printing for the assembler text form.
#include "lib/text_syntax.h"

#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr uint64_t kCanonicalNaN = 0x7FF8000000000000ull;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Unescape(const std::string& body, std::string& out, std::string& error) {
    out.clear();
    for (size_t i = 0; i < body.size(); ++i) {
        char c = body[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= body.size()) {
            error = "escape at end of string";
            return false;
        }
        char e = body[i];
        switch (e) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case '\\': out += '\\'; break;
            case '"': out += '"'; break;
            case 'x': {
                int hi = i + 1 < body.size() ? HexDigit(body[i + 1]) : -1;
                int lo = i + 2 < body.size() ? HexDigit(body[i + 2]) : -1;
                if (hi < 0 || lo < 0) {
                    error = "\\x needs two hex digits";
                    return false;
                }
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default: {
                if (!std::isdigit(static_cast<unsigned char>(e))) {
                    error = std::string("unknown escape \\") + e;
                    return false;
                }
                int value = 0;
                size_t n = 0;
                while (n < 3 && i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) {
                    value = value * 10 + (body[i] - '0');
                    ++i;
                    ++n;
                }
                --i;
                if (value > 255) {
                    error = "escape \\" + std::to_string(value) + " is above 255";
                    return false;
                }
                out += static_cast<char>(value);
            }
        }
    }
    return true;
}

}  // namespace

bool SplitWords(const std::string& line, std::vector<std::string>& words, std::string& error) {
    words.clear();
    std::string current;
    bool inWord = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') {
            size_t start = i++;
            while (i < line.size() && line[i] != '"') i += line[i] == '\\' ? 2 : 1;
            if (i >= line.size()) {
                error = "unterminated string";
                return false;
            }
            current.append(line, start, i - start + 1);
            inWord = true;
        } else if (c == ';') {
            break;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            if (inWord) words.push_back(current);
            current.clear();
            inWord = false;
        } else {
            current += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(current);
    return true;
}

bool IsStringLiteral(const std::string& word) {
    return !word.empty() && (word[0] == '"' || word.rfind("raw\"", 0) == 0);
}

bool ParseStringLiteral(const std::string& word, RawString& out, std::string& error) {
    bool raw = word.rfind("raw\"", 0) == 0;
    size_t open = raw ? 3 : 0;
    if (word.size() < open + 2 || word[open] != '"' || word.back() != '"') {
        error = "bad string literal " + word;
        return false;
    }
    std::string body = word.substr(open + 1, word.size() - open - 2);
    if (!Unescape(body, out, error)) return false;
    if (!raw) out += '\0';
    return true;
}

std::string QuoteBytes(const std::string& bytes) {
    std::string out = "\"";
    for (char c : bytes) {
        auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (u < 0x20 || u >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\%03u", static_cast<unsigned>(u));
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string FormatStringLiteral(const RawString& value) {
    if (!value.empty() && value.back() == '\0')
        return QuoteBytes(value.substr(0, value.size() - 1));
    return "raw" + QuoteBytes(value);
}

bool ParseNumber(const std::string& text, uint64_t& bits) {
    if (text == "nan") {
        bits = kCanonicalNaN;
        return true;
    }
    if (text.rfind("bits:", 0) == 0) {
        std::string hex = text.substr(5);
        if (hex.rfind("0x", 0) == 0 || hex.rfind("0X", 0) == 0) hex = hex.substr(2);
        if (hex.empty() || hex.size() > 16) return false;
        bits = 0;
        for (char c : hex) {
            int d = HexDigit(c);
            if (d < 0) return false;
            bits = bits << 4 | static_cast<uint64_t>(d);
        }
        return true;
    }
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    // strtod would also take "nan(...)" and "infinity"; only the spellings above
    // and plain numbers are part of the syntax.
    std::string lower;
    for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find('n') != std::string::npos && lower != "inf" && lower != "-inf" && lower != "+inf")
        return false;
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return false;
    if (errno == ERANGE && std::isinf(v)) return false;  // underflow to a subnormal is fine
    bits = std::bit_cast<uint64_t>(v);
    return true;
}

std::string FormatNumber(uint64_t bits) {
    double v = std::bit_cast<double>(bits);
    if (std::isnan(v)) {
        if (bits == kCanonicalNaN) return "nan";
        char buf[32];
        std::snprintf(buf, sizeof buf, "bits:%016llX", static_cast<unsigned long long>(bits));
        return buf;
    }
    char buf[40];
    // Whole numbers read best without an exponent; 2^53 keeps them exact.
    if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) <= 9007199254740992.0) {
        std::snprintf(buf, sizeof buf, "%.0f", v);
        return buf;
    }
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, v);
        if (std::bit_cast<uint64_t>(std::strtod(buf, nullptr)) == bits) break;
    }
    return buf;
}

bool ParseInteger(const std::string& text, int64_t& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int base = 10;
    if (text.size() - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return false;
    uint64_t v = 0;
    for (; i < text.size(); ++i) {
        int d = base == 16 ? HexDigit(text[i])
                           : (std::isdigit(static_cast<unsigned char>(text[i])) ? text[i] - '0' : -1);
        if (d < 0) return false;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (v > (uint64_t{1} << 40)) return false;  // far beyond every field
    }
    value = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    return true;
}

bool ParseHexBytes(const std::string& text, std::string& bytes) {
    std::string hex = text;
    if (hex.rfind("0x", 0) == 0 || hex.rfind("0X", 0) == 0) hex = hex.substr(2);
    if (hex.size() % 2 != 0) return false;
    bytes.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

std::string FormatHexBytes(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        auto u = static_cast<unsigned char>(c);
        out += kDigits[u >> 4];
        out += kDigits[u & 15];
    }
    return out;
}

bool IsIdentifier(const std::string& text) {
    if (text.empty() || std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    for (char c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    return true;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}
