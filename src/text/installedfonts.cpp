// The installed-font list. Every count, offset and length read from a font
// file is checked against the file (or the table it lies in) before use: a
// face that does not fit is skipped.
#include "text/installedfonts.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "core/chars.h"
#include "core/fileops.h"
#include "text/font.h"

namespace {

std::vector<qbInstalledFont>& List() {
    static std::vector<qbInstalledFont> list;
    return list;
}

constexpr size_t kMaxNameLength = 511;

const qbWeightName kWeightNames[] = {
    {"Thin", false, 0},         {"Extralight", false, 40}, {"Extra-light", false, 40}, {"Ultralight", false, 40},
    {"Ultra-light", false, 40}, {"Light", false, 50},      {"Book", false, 75},        {"Normal", false, 80},
    {"Regular", false, 80},     {"Medium", false, 100},    {"Semibold", false, 180},   {"Semi-bold", false, 180},
    {"Semi", false, 180},       {"Demibold", false, 180},  {"Demi-bold", false, 180},  {"Demi", false, 180},
    {"Bold", false, 200},       {"Extrabold", false, 205}, {"Extra-bold", false, 205}, {"Ultrabold", false, 205},
    {"Ultra-bold", false, 205}, {"Heavy", false, 210},     {"Black", false, 210},      {"Extrablack", false, 215},
    {"Extra-black", false, 215}, {"Ultrablack", false, 215}, {"Ultra-black", false, 215}, {"Roman", true, 0},
    {"Italic", true, 100},      {"Oblique", true, 110},
};

// Bounded reads of a file of known size.
struct Reader {
    qbFile* file;
    int64_t size;
    bool Read(int64_t at, void* buffer, size_t count) const {
        if (at < 0 || at + static_cast<int64_t>(count) > size) return false;
        if (FileSeek(file, at, kSeekBeginning) < 0) return false;
        return FileRead(file, buffer, count) == count;
    }
    bool U16(int64_t at, uint32_t* v) const {
        uint8_t b[2];
        if (!Read(at, b, 2)) return false;
        *v = static_cast<uint32_t>(b[0]) << 8 | b[1];
        return true;
    }
    bool U32(int64_t at, uint32_t* v) const {
        uint8_t b[4];
        if (!Read(at, b, 4)) return false;
        *v = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 | static_cast<uint32_t>(b[2]) << 8 | b[3];
        return true;
    }
};

bool EnglishWindowsLanguage(uint32_t language) {
    for (uint32_t l : {1033u, 2057u, 3081u, 4105u, 5129u, 6153u, 7177u, 16393u})
        if (language == l) return true;
    return false;
}

// The face's table directory is at base; table offsets count from
// tableBase; everything must lie before end.
int ReadNames(const Reader& r, int64_t base, int64_t tableBase, int64_t end, std::string* family, std::string* style) {
    uint32_t version = 0, tables = 0;
    if (!r.U32(base, &version) || !r.U16(base + 4, &tables)) return 0;
    if (version != 0x00010000 && version != 0x4F54544F && version != 0x74727565) return 0;
    if (base + 12 + int64_t{tables} * 16 > end) return 0;
    int64_t nameAt = -1, nameEnd = 0;
    for (uint32_t i = 0; i < tables; ++i) {
        const int64_t rec = base + 12 + int64_t{i} * 16;
        uint32_t tag = 0, offset = 0, length = 0;
        if (!r.U32(rec, &tag) || !r.U32(rec + 8, &offset) || !r.U32(rec + 12, &length)) return 0;
        if (tag != 0x6E616D65) continue;
        nameAt = tableBase + offset;
        nameEnd = nameAt + length;
        break;
    }
    if (nameAt < 0 || nameEnd > end || nameAt + 6 > nameEnd) return 0;
    uint32_t count = 0, storage = 0;
    if (!r.U16(nameAt + 2, &count) || !r.U16(nameAt + 4, &storage)) return 0;
    if (nameAt + 6 + int64_t{count} * 12 > nameEnd) return 0;
    family->clear();
    style->clear();
    for (uint32_t i = 0; i < count && (family->empty() || style->empty()); ++i) {
        const int64_t rec = nameAt + 6 + int64_t{i} * 12;
        uint32_t platform = 0, language = 0, id = 0, length = 0, offset = 0;
        if (!r.U16(rec, &platform) || !r.U16(rec + 4, &language) || !r.U16(rec + 6, &id) ||
            !r.U16(rec + 8, &length) || !r.U16(rec + 10, &offset))
            return 0;
        if (id != 1 && id != 2) continue;
        if (platform == 1 && language != 0) continue;
        if (platform == 3 && !EnglishWindowsLanguage(language)) continue;
        std::string* target = id == 1 ? family : style;
        if (!target->empty()) continue;
        if (length > kMaxNameLength) return 0;
        const int64_t at = nameAt + storage + offset;
        if (at + length > nameEnd) return 0;
        char text[kMaxNameLength];
        if (!r.Read(at, text, length)) return 0;
        for (uint32_t k = 0; k < length; ++k)
            if (text[k] != 0) target->push_back(text[k]);
    }
    return family->empty() ? 0 : 1;
}

bool EndsWith(const std::string& name, const char* ext) {
    const size_t n = std::char_traits<char>::length(ext);
    return name.size() >= n && StrCmpNoCase(name.c_str() + name.size() - n, ext) == 0;
}

void StyleWords(const std::string& style, int32_t* weight, int32_t* slant) {
    size_t i = 0;
    while (i < style.size()) {
        while (i < style.size() && style[i] == ' ') ++i;
        size_t j = i;
        while (j < style.size() && style[j] != ' ') ++j;
        if (j > i)
            if (const qbWeightName* w = FindWeightName(style.substr(i, j - i))) (w->isSlant ? *slant : *weight) = w->value;
        i = j;
    }
}

void AddInstalledFont(qbInstalledFont font, const std::string& style) {
    font.fullName = style.empty() ? font.family : font.family + " " + style;
    for (const qbInstalledFont& f : List())
        if (StrCmpNoCase(f.fullName.c_str(), font.fullName.c_str()) == 0) return;
    StyleWords(style, &font.weight, &font.slant);
    List().push_back(std::move(font));
}

void AddFace(const Reader& r, const std::string& path, int listing, int64_t base, int64_t tableBase, int64_t end,
             int64_t dataOffset, int64_t dataSize, int64_t directory) {
    std::string family, style;
    if (!ReadNames(r, base, tableBase, end, &family, &style)) return;
    qbInstalledFont font;
    font.family = family;
    font.path = path;
    font.dataOffset = dataOffset;
    font.dataSize = dataSize;
    font.directoryOffset = directory;
    font.packed = dataSize > 0 || directory > 0;
    AddInstalledFont(font, style);
    if (listing == 0 && IsRegularStyleName(style)) AddInstalledFont(font, "");
}

void ScanSfntFile(const std::string& path, int listing) {
    qbFilePtr file(FileOpen(path.c_str(), kFileModeRead, nullptr));
    if (!file) return;
    const Reader r{file.get(), GetFileSize(file.get())};
    if (r.size <= 0) return;
    if (EndsWith(path, ".dfont")) {
        int64_t at = 256;
        uint32_t length = 0;
        while (r.U32(at, &length)) {
            const int64_t face = at + 4;
            if (length == 0 || face + length > r.size) break;
            AddFace(r, path, listing, face, face, face + length, face, length, 0);
            at = face + length;
        }
    } else if (EndsWith(path, ".ttc")) {
        uint32_t tag = 0, count = 0;
        if (!r.U32(0, &tag) || tag != 0x74746366 || !r.U32(8, &count)) return;
        if (12 + int64_t{count} * 4 > r.size) return;
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t offset = 0;
            if (!r.U32(12 + int64_t{i} * 4, &offset) || offset == 0) continue;
            AddFace(r, path, listing, offset, 0, r.size, 0, 0, offset);
        }
    } else {
        AddFace(r, path, listing, 0, 0, r.size, 0, 0, 0);
    }
}

void ScanBitmapFont(const std::string& path, const std::string& fileName) {
    qbFilePtr file(FileOpen(path.c_str(), kFileModeRead, nullptr));
    if (!file) return;
    const Reader r{file.get(), GetFileSize(file.get())};
    uint32_t id = 0, count = 0;
    if (!r.U16(0, &id) || !r.U16(2, &count)) return;
    qbInstalledFont font;
    font.family = fileName.substr(0, fileName.size() - 5);
    font.path = path;
    if (id == 0x0F00 || id == 0x0F02) {
        font.bitmapFont = true;
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t size = 0;
            if (!r.U16(4 + int64_t{i} * 260 + 256, &size)) break;
            const auto byte = static_cast<uint8_t>(size);
            if (std::find(font.sizes.begin(), font.sizes.end(), byte) == font.sizes.end()) font.sizes.push_back(byte);
        }
    } else if (id != 0x0F03) {
        return;
    }
    AddInstalledFont(std::move(font), "");
}

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

}  // namespace

const qbWeightName* FindWeightName(const std::string& word) {
    for (const qbWeightName& w : kWeightNames)
        if (StrCmpNoCase(word.c_str(), w.name) == 0) return &w;
    return nullptr;
}

bool IsRegularStyleName(const std::string& style) {
    for (const char* s : {"regular", "plain", "normal", "book", "roman"})
        if (StrCmpNoCase(style.c_str(), s) == 0) return true;
    return false;
}

int ReadSfntNames(qbFile* file, std::string* family, std::string* style, int64_t base) {
    if (!file) return 0;
    const Reader r{file, GetFileSize(file)};
    return ReadNames(r, base, 0, r.size, family, style);
}

void ScanFontDirectory(const std::string& folder, int listing, bool nested) {
    namespace fs = std::filesystem;
    // The folders being scanned, each with its entries (in name order:
    // directory order is arbitrary, names give a stable scan) and the next
    // one to look at: a list, not calls, so a deep tree costs memory, never
    // the stack.
    struct Level {
        std::vector<fs::path> entries;
        size_t next = 0;
    };
    std::vector<Level> levels;
    auto enter = [&levels](const fs::path& path) {
        std::error_code ec;
        Level level;
        for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
            level.entries.push_back(it->path());
        std::sort(level.entries.begin(), level.entries.end());
        levels.push_back(std::move(level));
    };
    enter(folder);
    while (!levels.empty()) {
        Level& top = levels.back();
        if (top.next == top.entries.size()) {
            levels.pop_back();
            continue;
        }
        const fs::path p = top.entries[top.next++];
        const std::string name = p.filename().string();
        std::error_code ec;
        // Links to folders are not followed: no loop, no tree outside.
        if (nested && fs::is_directory(fs::symlink_status(p, ec))) {
            enter(p);
            continue;
        }
        if (name.size() < 6 || !fs::is_regular_file(p, ec)) continue;
        if (EndsWith(name, ".ttf") || EndsWith(name, ".otf") || EndsWith(name, ".ttc") || EndsWith(name, ".dfont"))
            ScanSfntFile(p.string(), listing);
        else if (EndsWith(name, ".font"))
            ScanBitmapFont(p.string(), name);
    }
}

void ScanFontDirectories(int listing) {
    if (!List().empty()) return;
    for (const std::string& folder : FontSearchPaths()) ScanFontDirectory(folder, listing, false);
    const std::string home = EnvOr("HOME", "");
    const std::string dataHome = EnvOr("XDG_DATA_HOME", home.empty() ? "" : home + "/.local/share");
    if (!dataHome.empty()) ScanFontDirectory(dataHome + "/fonts", listing, true);
    if (!home.empty()) ScanFontDirectory(home + "/.fonts", listing, true);
    const std::string dirs = EnvOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    size_t i = 0;
    while (i <= dirs.size()) {
        const size_t j = std::min(dirs.find(':', i), dirs.size());
        if (j > i) ScanFontDirectory(dirs.substr(i, j - i) + "/fonts", listing, true);
        i = j + 1;
    }
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) ScanFontDirectory((exe.parent_path() / "Fonts").string(), listing, false);
}

const std::vector<qbInstalledFont>& InstalledFonts() { return List(); }

void FreeInstalledFonts() { List().clear(); }

namespace {

// A collection member as a standalone font: its directory at the start,
// each table after it, the records pointing at the tables' new places.
bool ExtractMember(const std::string& path, int64_t directory, std::string* out, qbFileStamp* stamp) {
    qbFilePtr file(FileOpen(path.c_str(), kFileModeRead, nullptr));
    if (!file) return false;
    *stamp = StampOfOpenFile(file.get());
    const Reader r{file.get(), GetFileSize(file.get())};
    uint32_t tables = 0;
    if (!r.U16(directory + 4, &tables)) return false;
    const int64_t dirSize = 12 + int64_t{tables} * 16;
    if (directory + dirSize > r.size) return false;
    std::vector<uint8_t> head(static_cast<size_t>(dirSize));
    if (!r.Read(directory, head.data(), head.size())) return false;
    std::vector<uint8_t> body;
    for (uint32_t i = 0; i < tables; ++i) {
        uint8_t* rec = head.data() + 12 + i * 16;
        const int64_t offset = int64_t{rec[8]} << 24 | rec[9] << 16 | rec[10] << 8 | rec[11];
        const int64_t length = int64_t{rec[12]} << 24 | rec[13] << 16 | rec[14] << 8 | rec[15];
        if (offset + length > r.size) return false;
        const int64_t at = dirSize + static_cast<int64_t>(body.size());
        if (at > 0x7FFFFFFF) return false;
        body.resize(body.size() + static_cast<size_t>(length));
        if (length && !r.Read(offset, body.data() + body.size() - length, static_cast<size_t>(length))) return false;
        // Tables stay 4-byte aligned, as their checksums assume.
        body.resize((body.size() + 3) & ~size_t{3});
        rec[8] = static_cast<uint8_t>(at >> 24);
        rec[9] = static_cast<uint8_t>(at >> 16);
        rec[10] = static_cast<uint8_t>(at >> 8);
        rec[11] = static_cast<uint8_t>(at);
    }
    const std::string temp = MakeTempFileName();
    if (temp.empty()) return false;
    qbFilePtr outFile(FileOpen(temp.c_str(), kFileModeWrite, nullptr));
    bool ok = outFile && FileWrite(outFile.get(), head.data(), head.size()) == head.size() &&
              FileWrite(outFile.get(), body.data(), body.size()) == body.size();
    if (outFile) ok = FileClose(outFile.release()) && ok;
    if (!ok) {
        std::remove(temp.c_str());
        return false;
    }
    *out = temp;
    return true;
}

}  // namespace

int FindInstalledFont(const std::string& name, int32_t weight, int32_t slant, bool skipPacked, qbFoundFont* out) {
    ScanFontDirectories(0);
    for (const qbInstalledFont& f : List()) {
        if (f.bitmapFont || (skipPacked && f.packed)) continue;
        const bool match = weight < 0 ? StrCmpNoCase(f.fullName.c_str(), name.c_str()) == 0
                                      : StrCmpNoCase(f.family.c_str(), name.c_str()) == 0 && f.weight == weight &&
                                            f.slant == slant;
        if (!match) continue;
        *out = qbFoundFont{};
        if (f.directoryOffset > 0) {
            if (!ExtractMember(f.path, f.directoryOffset, &out->path, &out->source)) return 0;
            out->temporary = true;
            return 1;
        }
        out->path = f.path;
        out->dataOffset = f.dataOffset;
        out->dataSize = f.dataSize;
        return 1;
    }
    return 0;
}
