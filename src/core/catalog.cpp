// Catalog files: IFF CTLG with its STRS entries, and text catalogs. Catalogs
// come from users and translators, so every entry is checked against the data
// before a text is handed out.
#include "core/catalog.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/chars.h"
#include "core/file.h"
#include "core/locale.h"
#include "core/memory.h"
#include "platform/platform.h"

struct CatalogRecord {
    bool iff = false;
    std::unordered_map<uint32_t, std::string> texts;  // IFF: each id's text, as far as its first NUL
    std::vector<char> data;  // text: the converted text with a NUL behind it
    size_t textLength = 0;   // text: bytes of converted text
};

namespace {

CatalogRecord* playerCatalog = nullptr;

constexpr size_t kMinIffSize = 101;
constexpr uint32_t kEndMark = 0xFFFFFFFF;
constexpr int kEnglish = 0;

struct LanguageFolders {
    const char* english;
    const char* native;
};

// Indexed by LANGUAGE_*; Russian (17) has no folder of its own.
constexpr LanguageFolders kFolders[] = {
    {"english", "english"},   {"german", "deutsch"},      {"dutch", "nederlands"},
    {"italian", "italiano"},  {"french", "fran\xE7" "ais"}, {"spanish", "espa\xF1ol"},
    {"portuguese", "portugu\xEAs"}, {"swedish", "svenska"}, {"danish", "dansk"},
    {"finnish", "suomi"},     {"norwegian", "norsk"},     {"polish", "polski"},
    {"hungarian", "magyar"},  {"greek", "greek"},
    // The Czech name can't be written in ISO 8859-1; a folder on a Linux disk
    // carries it in UTF-8, which the file layer passes through unchanged.
    {"czech", "\xC4\x8D" "e\xC5\xA1" "tina"},
    {"turkish", "t\xFCrk\xE7" "e"}, {"croatian", "hrvatski"}, {"unknown", "unknown"},
};
constexpr int kFolderCount = static_cast<int>(sizeof kFolders / sizeof kFolders[0]);

uint32_t ReadBE32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
           (static_cast<uint32_t>(b[2]) << 8) | b[3];
}

// Bytes of a catalog file at a position: as many as it holds there, up to
// the count asked.
using CatalogBytes = std::function<size_t(uint64_t position, char* buffer, size_t count)>;

constexpr size_t kTextStep = 4096;

// An IFF catalog keeps its STRS entries, found by walking the chunks from
// the version chunk, and nothing else of the file: what a chunk's or an
// entry's length claims is never read beyond the entries themselves. A text
// is kept to its first NUL, all that is handed out of it; an entry with no
// NUL inside it has no text. An id met a second time ends the entries (a
// catalog names each string once, and the first is the one looked up), so
// a run of zeros, a hole in the file, ends them at once.
bool ParseIff(CatalogRecord* c, const CatalogBytes& read, uint64_t size) {
    char header[16];
    if (read(0, header, 16) != 16 || std::memcmp(header + 8, "CTLGFVER", 8) != 0) return false;
    uint64_t strs = 0, strsEnd = 0;
    for (uint64_t offset = 12; offset + 8 <= size;) {
        char chunk[8];
        if (read(offset, chunk, 8) != 8) return false;
        const uint64_t length = ReadBE32(chunk + 4);
        if (std::memcmp(chunk, "STRS", 4) == 0) {
            strs = offset + 8;
            strsEnd = std::min(strs + length, size);
            break;
        }
        offset += 8 + length + (length & 1);
    }
    if (strs == 0) return false;
    c->iff = true;
    std::unordered_set<uint32_t> seen;
    for (uint64_t p = strs; p < strsEnd && strsEnd - p >= 8;) {
        char entry[8];
        if (read(p, entry, 8) != 8) break;
        const uint32_t id = ReadBE32(entry);
        if (id == kEndMark || !seen.insert(id).second) break;
        const uint64_t length = ReadBE32(entry + 4);
        const uint64_t text = p + 8, room = strsEnd - text;
        const uint64_t padded = (length + 3) & ~uint64_t{3};
        if (length > room) break;
        // The text is the string up to the first NUL within the padded entry.
        const uint64_t span = std::min(padded, room);
        std::string kept;
        bool ended = false;
        for (uint64_t at = 0; at < span && !ended;) {
            char step[kTextStep];
            const size_t want = static_cast<size_t>(std::min<uint64_t>(span - at, kTextStep));
            const size_t got = read(text + at, step, want);
            const void* nul = std::memchr(step, 0, got);
            const size_t take = nul ? static_cast<size_t>(static_cast<const char*>(nul) - step) : got;
            kept.append(step, take);
            ended = nul != nullptr;
            if (got != want) break;
            at += got;
        }
        if (ended) c->texts.emplace(id, std::move(kept));
        if (padded > room) break;
        p = text + padded;
    }
    return true;
}

// Escapes become their characters; a raw CR or LF ends a line (the LF of a
// CR LF pair goes with the CR); line ends are stored as NULs.
void ConvertText(CatalogRecord* c, const char* in, size_t size) {
    std::vector<char>& out = c->data;
    out.clear();
    out.reserve(size + 1);
    for (size_t i = 0; i < size; ++i) {
        const char ch = in[i];
        if (ch == '\\' && i + 1 < size) {
            const char next = in[++i];
            out.push_back(next == 'r' ? '\r' : next == 't' ? '\t' : next == 'n' ? '\n' : '\\');
        } else if (ch == '\r') {
            out.push_back(0);
            if (i + 1 < size && in[i + 1] == '\n') ++i;
        } else if (ch == '\n') {
            out.push_back(0);
        } else {
            out.push_back(ch);
        }
    }
    c->textLength = out.size();
    out.push_back(0);
}

const char* IffText(const CatalogRecord* c, uint32_t id, const char* defaultText) {
    const auto found = c->texts.find(id);
    return found == c->texts.end() ? defaultText : found->second.c_str();
}

const char* PlainText(const CatalogRecord* c, int id, const char* defaultText) {
    if (c->textLength == 0) return defaultText;
    const char* d = c->data.data();
    if (id <= 0) return d;
    size_t start = 0;
    for (int seen = 0; seen < id; ++seen) {
        const void* nul = std::memchr(d + start, 0, c->textLength - start);
        if (!nul) return defaultText;
        start = static_cast<size_t>(static_cast<const char*>(nul) - d) + 1;
        if (start >= c->textLength) return defaultText;
    }
    return d + start;
}

std::string JoinPath(const std::string& base, const char* folder, const char* name) {
    std::string path = base;
    for (const char* part : {"Catalogs", folder, name}) {
        if (!path.empty() && path.back() != '/') path += '/';
        path += part;
    }
    return path;
}

std::string ExecutableFolder() {
    char path[PATH_MAX] = {};
    GetExecutablePath(path, sizeof path);
    *const_cast<char*>(GetPathFilePart(path)) = 0;
    return path;
}

}  // namespace

const char* GetCatalogFolderName(int language, int native) {
    if (language < 0 || language >= kFolderCount) return nullptr;
    return native ? kFolders[language].native : kFolders[language].english;
}

namespace {

// A text catalog is its text up to the first NUL, which no text file holds:
// past it lies no line (a hole in the file, or bytes that are not text).
CatalogRecord* MakeCatalog(const CatalogBytes& read, uint64_t size) {
    auto catalog = std::make_unique<CatalogRecord>();
    char start[4];
    if (size >= kMinIffSize && read(0, start, 4) == 4 && std::memcmp(start, "FORM", 4) == 0)
        return ParseIff(catalog.get(), read, size) ? catalog.release() : nullptr;
    std::string text;
    for (uint64_t at = 0; at < size;) {
        char step[kTextStep];
        const size_t want = static_cast<size_t>(std::min<uint64_t>(size - at, kTextStep));
        const size_t got = read(at, step, want);
        const void* nul = std::memchr(step, 0, got);
        text.append(step, nul ? static_cast<size_t>(static_cast<const char*>(nul) - step) : got);
        if (nul || got != want) break;
        at += got;
    }
    ConvertText(catalog.get(), text.data(), text.size());
    return catalog.release();
}

}  // namespace

CatalogRecord* MakeCatalogFromData(const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    if (!bytes) size = 0;
    return MakeCatalog(
        [&](uint64_t position, char* buffer, size_t count) -> size_t {
            if (position >= size) return 0;
            const size_t n = static_cast<size_t>(std::min<uint64_t>(count, size - position));
            std::memcpy(buffer, bytes + position, n);
            return n;
        },
        size);
}

CatalogRecord* LoadCatalog(const char* name) {
    const int language = GetLocaleLanguage();
    if (!name || language == kEnglish || language < 0 || language >= kFolderCount) return nullptr;
    const std::string bases[] = {std::string(), ExecutableFolder()};
    for (const std::string& base : bases) {
        for (int native = 0; native < 2; ++native) {
            const std::string path = JoinPath(base, GetCatalogFolderName(language, native), name);
            qbFilePtr file(FileOpen(path.c_str(), kFileModeRead | kFileModeAdapters, nullptr));
            if (!file) continue;
            // Read where the entries are, never whole: a file's length says
            // nothing of what a catalog holds.
            const int64_t known = GetFileSize(file.get());
            if (known < 0 && known != kUnknownFileSize) return nullptr;
            const uint64_t size = known == kUnknownFileSize ? UINT64_MAX : static_cast<uint64_t>(known);
            qbFile* f = file.get();
            return MakeCatalog(
                [f](uint64_t position, char* buffer, size_t count) -> size_t {
                    if (position > INT64_MAX || FileSeek(f, static_cast<int64_t>(position), kSeekBeginning) < 0)
                        return 0;
                    return FileRead(f, buffer, count);
                },
                size);
        }
    }
    return nullptr;
}

const char* GetCatalogText(const CatalogRecord* catalog, int id, const char* defaultText) {
    if (!catalog) return defaultText;
    if (catalog->iff) return IffText(catalog, static_cast<uint32_t>(id), defaultText);
    return PlainText(catalog, id, defaultText);
}

void FreeCatalog(CatalogRecord* catalog) { std::unique_ptr<CatalogRecord> owner(catalog); }

CatalogRecord* GetPlayerCatalog() { return playerCatalog; }

void SetPlayerCatalog(CatalogRecord* catalog) { playerCatalog = catalog; }
