// URL handling and reply parsing of the transfer engine.
#include "libs/transferurl.h"

#include <algorithm>
#include <cctype>

#include "core/errcodes.h"

namespace {

constexpr size_t kMaxCredential = 255;

bool NeedsEscape(unsigned char b) {
    if (b < 33 || b > 122) return true;
    return std::string_view("\"<>%\\^[]`+$,").find(static_cast<char>(b)) != std::string_view::npos;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(s[i]) != Lower(prefix[i])) return false;
    return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && StartsWithNoCase(a, b); }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// A control byte in a field would inject header lines or FTP commands.
bool HasControl(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos; }

// Decimal digits at the front of s into *value; the digit count, 0 when
// there are none or the number overflows 64 bits.
size_t ParseDecimal(std::string_view s, uint64_t* value) {
    uint64_t v = 0;
    size_t i = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        const uint64_t d = static_cast<uint64_t>(s[i] - '0');
        if (v > (UINT64_MAX - d) / 10) return 0;
        v = v * 10 + d;
    }
    *value = v;
    return i;
}

}  // namespace

int PercentEncodeUrl(std::string_view url, bool alreadyEncoded, std::string* out) {
    static constexpr char kHex[] = "0123456789abcdef";
    out->clear();
    out->reserve(url.size() * 3 + 1);
    for (size_t i = 0; i < url.size(); ++i) {
        const auto b = static_cast<unsigned char>(url[i]);
        if (alreadyEncoded) {
            if (b != '%') {
                out->push_back(static_cast<char>(b));
                continue;
            }
            size_t digits = 0;
            int value = 0;
            while (digits < 2 && i + 1 + digits < url.size() && HexValue(url[i + 1 + digits]) >= 0)
                value = value * 16 + HexValue(url[i + 1 + digits++]);
            if (digits == 0) return ERR_WRONGUSAGE;
            if (NeedsEscape(static_cast<unsigned char>(value)))
                out->append(url.substr(i, digits + 1));
            else
                out->push_back(static_cast<char>(value));
            i += digits;
        } else if (NeedsEscape(b)) {
            out->push_back('%');
            out->push_back(kHex[b >> 4]);
            out->push_back(kHex[b & 15]);
        } else {
            out->push_back(static_cast<char>(b));
        }
    }
    return 0;
}

std::string PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

int ParseTransferUrl(std::string_view url, TransferUrl* out) {
    *out = TransferUrl{};
    std::string_view rest;
    if (StartsWithNoCase(url, "http://")) {
        out->scheme = TransferScheme::kHttp;
        out->port = 80;
        rest = url.substr(7);
    } else if (StartsWithNoCase(url, "ftp://")) {
        out->scheme = TransferScheme::kFtp;
        out->port = 21;
        rest = url.substr(6);
    } else {
        return ERR_UNKPROTOCOL;
    }
    const size_t slash = rest.find('/');
    std::string_view hostPart = rest.substr(0, slash);
    out->path = slash == std::string_view::npos ? std::string("/") : std::string(rest.substr(slash));
    if (out->scheme == TransferScheme::kFtp && out->path.size() > 7) {
        const size_t at = out->path.size() - 7;
        if (StartsWithNoCase(std::string_view(out->path).substr(at), ";type=")) {
            const char t = Lower(out->path.back());
            if (t != 'i' && t != 'a') return ERR_BADURL;
            out->ftpType = t;
            out->path.resize(at);
        }
    }
    const size_t lastAt = hostPart.rfind('@');
    if (lastAt != std::string_view::npos) {
        const size_t colon = hostPart.find(':');
        if (colon == 0 || colon == std::string_view::npos || colon > lastAt || colon + 1 == lastAt) return ERR_BADURL;
        out->user = std::string(hostPart.substr(0, colon));
        out->password = std::string(hostPart.substr(colon + 1, lastAt - colon - 1));
        if (out->user.size() > kMaxCredential || out->password.size() > kMaxCredential) return ERR_BADURL;
        out->hasCredentials = true;
        hostPart.remove_prefix(lastAt + 1);
    }
    const size_t portColon = hostPart.find(':');
    if (portColon != std::string_view::npos) {
        uint64_t port = 0;
        const std::string_view digits = hostPart.substr(portColon + 1);
        const size_t n = ParseDecimal(digits, &port);
        if (n == 0 || n != digits.size() || port < 1 || port > 65535) return ERR_BADURL;
        out->port = static_cast<int>(port);
        hostPart = hostPart.substr(0, portColon);
    }
    out->host = std::string(hostPart);
    if (out->host.empty() || HasControl(out->host) || HasControl(out->user) || HasControl(out->password) ||
        HasControl(out->path))
        return ERR_BADURL;
    return 0;
}

std::string ResolveLocation(std::string_view current, std::string_view location) {
    const size_t scheme = location.find("://");
    if (scheme != std::string_view::npos && location.find('/') > scheme) return std::string(location);
    const size_t currentScheme = current.find("://");
    const size_t authorityStart = currentScheme == std::string_view::npos ? 0 : currentScheme + 3;
    if (location.substr(0, 2) == "//")
        return std::string(current.substr(0, authorityStart - 2)) + std::string(location);
    const size_t pathStart = std::min(current.find('/', authorityStart), current.size());
    if (!location.empty() && location.front() == '/')
        return std::string(current.substr(0, pathStart)) + std::string(location);
    std::string_view base = current.substr(0, current.find_first_of("?#", pathStart));
    const size_t lastSlash = base.rfind('/');
    if (lastSlash == std::string_view::npos || lastSlash < pathStart)
        return std::string(base) + "/" + std::string(location);
    return std::string(base.substr(0, lastSlash + 1)) + std::string(location);
}

int ParseStatusLine(std::string_view line, int* status, long* detail) {
    *status = 0;
    if (line.substr(0, 5) != "HTTP/") {
        *detail = 1001;
        return ERR_HTTPERROR;
    }
    line.remove_prefix(5);
    size_t i = 0;
    while (i < line.size() && (std::isdigit(static_cast<unsigned char>(line[i])) || line[i] == '.')) ++i;
    if (i == 0 || !std::isdigit(static_cast<unsigned char>(line[0]))) {
        *detail = 1002;
        return ERR_HTTPERROR;
    }
    if (i >= line.size() || line[i] != ' ') {
        *detail = 1003;
        return ERR_HTTPERROR;
    }
    uint64_t code = 0;
    const size_t n = ParseDecimal(line.substr(i + 1, 9), &code);
    *status = n ? static_cast<int>(code) : 0;
    return 0;
}

int ParseHeaderLine(std::string_view line, HttpHeaders* h, long* detail) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return 0;
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = Trim(line.substr(colon + 1));
    if (EqualsNoCase(name, "content-length")) {
        uint64_t length = 0;
        const size_t n = ParseDecimal(value, &length);
        if (n == 0 || n != value.size()) {
            *detail = 1004;
            return ERR_HTTPERROR;
        }
        h->hasLength = true;
        h->length = length;
    } else if (EqualsNoCase(name, "transfer-encoding")) {
        if (EqualsNoCase(value, "chunked"))
            h->chunked = true;
        else if (!EqualsNoCase(value, "identity"))
            return ERR_HTTPTE;
    } else if (EqualsNoCase(name, "location")) {
        h->location = std::string(value);
    }
    return 0;
}

bool ParseChunkSize(std::string_view line, uint64_t* size) {
    size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    uint64_t v = 0;
    size_t digits = 0;
    for (; i < line.size() && HexValue(line[i]) >= 0; ++i, ++digits) {
        if (v >> 60) return false;
        v = v * 16 + static_cast<uint64_t>(HexValue(line[i]));
    }
    *size = v;
    return digits > 0;
}

int FtpReplyCode(std::string_view line) {
    uint64_t code = 0;
    const size_t n = ParseDecimal(line.substr(0, 9), &code);
    return n ? static_cast<int>(code) : -1;
}

bool FtpReplyContinues(std::string_view line) { return line.size() >= 4 && line[3] == '-'; }

bool ParsePasvReply(std::string_view line, int* port) {
    if (line.size() <= 4) return false;
    std::string_view s = line.substr(4);
    const size_t first = s.find_first_of("0123456789");
    if (first == std::string_view::npos) return false;
    s.remove_prefix(first);
    uint64_t numbers[6] = {};
    int count = 0;
    for (;;) {
        uint64_t v = 0;
        const size_t n = ParseDecimal(s.substr(0, 10), &v);
        if (n == 0) break;
        if (count == 6) return false;
        if (v > 255) return false;
        numbers[count++] = v;
        const size_t comma = s.find(',');
        if (comma == std::string_view::npos) break;
        s.remove_prefix(comma + 1);
        while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    }
    if (count != 6) return false;
    const uint64_t p = numbers[4] * 256 + numbers[5];
    if (p < 1 || p > 65535) return false;
    *port = static_cast<int>(p);
    return true;
}

uint64_t ParseFtpSize(std::string_view line) {
    for (size_t at = line.size(); at-- > 5;) {
        if (!StartsWithNoCase(line.substr(at), " bytes")) continue;
        size_t start = at;
        while (start > 4 && std::isdigit(static_cast<unsigned char>(line[start - 1]))) --start;
        if (start == at) return 0;
        uint64_t size = 0;
        return ParseDecimal(line.substr(start, at - start), &size) == at - start ? size : 0;
    }
    return 0;
}
