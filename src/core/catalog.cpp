// Catalog files: IFF CTLG with its STRS entries, and text catalogs. Catalogs
// come from users and translators, so every entry is checked against the data
// before a text is handed out.
#include "core/catalog.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/chars.h"
#include "core/file.h"
#include "core/locale.h"
#include "core/memory.h"
#include "platform/platform.h"

struct CatalogRecord {
    std::vector<char> data;  // the file (IFF) or the converted text with a NUL behind it
    bool iff = false;
    size_t firstEntry = 0;  // IFF: the first STRS entry
    size_t entriesEnd = 0;  // IFF: where the STRS chunk (or the file) ends
    size_t textLength = 0;  // text: bytes of converted text
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

bool ParseIff(CatalogRecord* c, size_t size) {
    const char* d = c->data.data();
    if (std::memcmp(d + 8, "CTLGFVER", 8) != 0) return false;
    for (size_t offset = 16; offset + 8 <= size; offset += 2) {
        if (std::memcmp(d + offset, "STRS", 4) != 0) continue;
        c->firstEntry = offset + 8;
        const uint64_t length = ReadBE32(d + offset + 4);
        c->entriesEnd = length < size - c->firstEntry ? c->firstEntry + static_cast<size_t>(length) : size;
        c->iff = true;
        return true;
    }
    return false;
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
    const char* d = c->data.data();
    size_t p = c->firstEntry;
    const size_t end = c->entriesEnd;
    while (p < end && end - p >= 8) {
        const uint32_t entryId = ReadBE32(d + p);
        if (entryId == kEndMark) break;
        const uint64_t length = ReadBE32(d + p + 4);
        const size_t text = p + 8;
        const uint64_t padded = (length + 3) & ~uint64_t{3};
        const size_t room = end - text;
        if (length > room) break;
        if (entryId == id) {
            const size_t span = padded < room ? static_cast<size_t>(padded) : room;
            return std::memchr(d + text, 0, span) ? d + text : defaultText;
        }
        if (padded > room) break;
        p = text + static_cast<size_t>(padded);
    }
    return defaultText;
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

CatalogRecord* MakeCatalogFromData(const void* data, size_t size) {
    auto catalog = std::make_unique<CatalogRecord>();
    const char* bytes = static_cast<const char*>(data);
    if (size >= kMinIffSize && std::memcmp(bytes, "FORM", 4) == 0) {
        catalog->data.assign(bytes, bytes + size);
        if (!ParseIff(catalog.get(), size)) return nullptr;
    } else {
        ConvertText(catalog.get(), bytes ? bytes : "", bytes ? size : 0);
    }
    return catalog.release();
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
            void* data = nullptr;
            int64_t size = 0;
            if (LoadFileToMemory(path.c_str(), nullptr, file.get(), &data, &size, 1, 8) != 0) return nullptr;
            CatalogRecord* catalog = MakeCatalogFromData(data, static_cast<size_t>(size));
            FreeMemory(data);
            return catalog;
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
