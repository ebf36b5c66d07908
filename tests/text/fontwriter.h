// Writes ".font" fixtures from the format: font files (one-colour or colour,
// with optional spacing and kerning tables) and contents files, plus a few
// ready-made fonts and a plain reading of their glyphs for reference
// renderers. Tests break them with the Put helpers at the format's offsets.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace fontfixture {

using Bytes = std::vector<uint8_t>;

// Offsets of the font file's fields.
enum : size_t {
    kAtFileId = 50,
    kAtYSize = 110,
    kAtStyle = 112,
    kAtFlags = 113,
    kAtXSize = 114,
    kAtBaseline = 116,
    kAtLoChar = 122,
    kAtHiChar = 123,
    kAtCharData = 124,
    kAtModulo = 128,
    kAtCharLoc = 130,
    kAtCharSpace = 134,
    kAtCharKern = 138,
    kAtDepth = 144,
    kAtPlanePick = 148,
    kAtColourDesc = 150,
    kAtPlanes = 154,
    kHeaderEnd = 186,
};
constexpr uint32_t kStored = 32;  // stored offsets count from here

inline void Put8(Bytes& b, size_t at, uint32_t v) { b.at(at) = static_cast<uint8_t>(v); }
inline void Put16(Bytes& b, size_t at, uint32_t v) {
    b.at(at) = static_cast<uint8_t>(v >> 8);
    b.at(at + 1) = static_cast<uint8_t>(v);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + static_cast<size_t>(i)) = static_cast<uint8_t>(v >> (24 - 8 * i));
}
inline uint32_t Get32(const Bytes& b, size_t at) {
    return static_cast<uint32_t>(b.at(at)) << 24 | b.at(at + 1) << 16 | b.at(at + 2) << 8 | b.at(at + 3);
}

struct FontLayout {
    int ySize = 8;
    int xSize = 8;
    int baseline = 6;
    int loChar = 'a';
    int hiChar = 'c';
    int flags = 0;  // 0x20 proportional
    int modulo = 4;
    // One-colour: modulo x ySize bytes. Colour: one such plane per depth bit
    // (an empty plane is written as offset 0).
    Bytes strip;
    std::vector<uint32_t> charLoc;  // count = hiChar - loChar + 2 entries
    std::vector<int16_t> space;     // empty: no table
    std::vector<int16_t> kern;
    bool colour = false;
    int depth = 0;
    int planePick = 0;
    std::vector<Bytes> planes;
    std::vector<uint16_t> colours;  // 0x0RGB
    int count() const { return hiChar - loChar + 2; }
};

// Appends by resize and copy: g++ 12 at -O3 warns wrongly about
// vector::insert at the end.
inline void AppendBytes(Bytes& to, const Bytes& from) {
    const size_t at = to.size();
    to.resize(at + from.size());
    if (!from.empty()) std::memcpy(to.data() + at, from.data(), from.size());
}

// Appends data to a font file; its stored offset.
inline uint32_t Append(Bytes& file, const Bytes& data) {
    const auto at = static_cast<uint32_t>(file.size());
    AppendBytes(file, data);
    return at - kStored;
}

inline Bytes WriteFontFile(const FontLayout& s) {
    Bytes f(kHeaderEnd, 0);
    Put16(f, kAtFileId, 0x0F80);
    Put16(f, kAtYSize, static_cast<uint32_t>(s.ySize));
    Put8(f, kAtStyle, s.colour ? 0x40 : 0);
    Put8(f, kAtFlags, static_cast<uint32_t>(s.flags));
    Put16(f, kAtXSize, static_cast<uint32_t>(s.xSize));
    Put16(f, kAtBaseline, static_cast<uint32_t>(s.baseline));
    Put8(f, kAtLoChar, static_cast<uint32_t>(s.loChar));
    Put8(f, kAtHiChar, static_cast<uint32_t>(s.hiChar));
    Put16(f, kAtModulo, static_cast<uint32_t>(s.modulo));
    if (!s.colour) Put32(f, kAtCharData, Append(f, s.strip));
    Bytes loc;
    for (uint32_t v : s.charLoc) {
        loc.resize(loc.size() + 4);
        Put32(loc, loc.size() - 4, v);
    }
    Put32(f, kAtCharLoc, Append(f, loc));
    auto table = [&](const std::vector<int16_t>& t, size_t at) {
        if (t.empty()) return;
        Bytes b;
        for (int16_t v : t) {
            b.resize(b.size() + 2);
            Put16(b, b.size() - 2, static_cast<uint16_t>(v));
        }
        Put32(f, at, Append(f, b));
    };
    table(s.space, kAtCharSpace);
    table(s.kern, kAtCharKern);
    if (s.colour) {
        Put8(f, kAtDepth, static_cast<uint32_t>(s.depth));
        Put8(f, kAtPlanePick, static_cast<uint32_t>(s.planePick));
        Bytes colours;
        for (uint16_t c : s.colours) {
            colours.resize(colours.size() + 2);
            Put16(colours, colours.size() - 2, c);
        }
        const uint32_t tableAt = Append(f, colours);
        Bytes desc(8, 0);
        Put16(desc, 2, static_cast<uint32_t>(s.colours.size()));
        Put32(desc, 4, tableAt);
        Put32(f, kAtColourDesc, Append(f, desc));
        for (size_t i = 0; i < s.planes.size() && i < 8; ++i)
            if (!s.planes[i].empty()) Put32(f, kAtPlanes + 4 * i, Append(f, s.planes[i]));
    }
    return f;
}

inline Bytes WriteContents(const std::vector<std::pair<std::string, int>>& entries, uint32_t id = 0x0F00) {
    Bytes c(4, 0);
    Put16(c, 0, id);
    Put16(c, 2, static_cast<uint32_t>(entries.size()));
    for (const auto& [name, size] : entries) {
        Bytes e(260, 0);
        std::memcpy(e.data(), name.data(), std::min<size_t>(name.size(), 256));
        Put16(e, 256, static_cast<uint32_t>(size));
        AppendBytes(c, e);
    }
    return c;
}

inline Bytes RandomBits(size_t n, std::mt19937& rng) {
    Bytes b(n);
    for (uint8_t& v : b) v = static_cast<uint8_t>(rng());
    return b;
}

// Monospaced, 'a'..'c' 8 pixels each.
inline FontLayout Monospaced() {
    std::mt19937 rng(1);
    FontLayout s;
    s.strip = RandomBits(static_cast<size_t>(s.modulo * s.ySize), rng);
    s.charLoc = {0u << 16 | 8, 8u << 16 | 8, 16u << 16 | 8, 24u << 16 | 8};
    return s;
}

// Proportional 'a'..'e' of widths 3 to 9 with spacing and (when kerned)
// kerning, one negative, and an outside glyph.
inline FontLayout Proportional(bool kerned) {
    std::mt19937 rng(2);
    FontLayout s;
    s.ySize = 7;
    s.baseline = 5;
    s.xSize = 6;
    s.loChar = 'a';
    s.hiChar = 'e';
    s.flags = 0x20;
    s.modulo = 5;
    s.strip = RandomBits(static_cast<size_t>(s.modulo * s.ySize), rng);
    s.charLoc = {0u << 16 | 3, 3u << 16 | 9, 12u << 16 | 5, 17u << 16 | 7, 24u << 16 | 4, 30u << 16 | 6};
    s.space = {4, 10, 6, 7, 5, 7};
    if (kerned) s.kern = {0, -2, 1, -1, 2, 0};
    return s;
}

// Colour font of the given depth over 'a'..'c' with 2^depth - 1 colours in
// its table (so the top index has none).
inline FontLayout Colour(int depth) {
    std::mt19937 rng(static_cast<uint32_t>(3 + depth));
    FontLayout s;
    s.colour = true;
    s.flags = 0x20;
    s.ySize = 6;
    s.baseline = 4;
    s.modulo = 3;
    s.depth = depth;
    s.planePick = (1 << depth) - 1;
    for (int i = 0; i < depth; ++i) s.planes.push_back(RandomBits(static_cast<size_t>(s.modulo * s.ySize), rng));
    for (int i = 0; i < (1 << depth) - 1; ++i) s.colours.push_back(static_cast<uint16_t>(0x123 * (i + 1) & 0xFFF));
    s.charLoc = {0u << 16 | 6, 6u << 16 | 8, 14u << 16 | 7, 21u << 16 | 3};
    s.space = {7, 8, 8, 4};
    s.kern = {0, -1, 0, 1};
    return s;
}

// Font files with one fault each, every one of which the loader must
// refuse; size is the size they are listed at.
struct BrokenFont {
    std::string what;
    Bytes bytes;
    int size = 0;
};

inline std::vector<BrokenFont> BrokenFonts() {
    const Bytes plain = WriteFontFile(Proportional(true));
    const Bytes colour = WriteFontFile(Colour(3));
    const size_t locAt = Get32(plain, kAtCharLoc) + kStored;
    const auto end = [](const Bytes& b, int back) { return static_cast<uint32_t>(b.size()) - static_cast<uint32_t>(back); };
    std::vector<BrokenFont> out;
    auto add = [&](const char* what, const Bytes& base, auto breakIt) {
        Bytes b = base;
        breakIt(b);
        out.push_back({what, b, &base == &plain ? 7 : 6});
    };
    add("no font id", plain, [](Bytes& b) { Put16(b, kAtFileId, 0x0F81); });
    add("short header", plain, [](Bytes& b) { b.resize(141); });
    add("hiChar below loChar", plain, [](Bytes& b) { Put8(b, kAtHiChar, 'a' - 1); });
    add("char-loc past the strip", plain, [&](Bytes& b) { Put32(b, locAt + 4, 37u << 16 | 4); });
    add("char-loc table past the end", plain, [](Bytes& b) { Put32(b, kAtCharLoc, 0xFFFFFFF0u); });
    add("strip past the end", plain, [&](Bytes& b) { Put32(b, kAtCharData, end(b, 0)); });
    add("spacing past the end", plain, [&](Bytes& b) { Put32(b, kAtCharSpace, end(b, 0)); });
    add("kerning past the end", plain, [&](Bytes& b) { Put32(b, kAtCharKern, end(b, 40)); });
    add("file cut short", plain, [](Bytes& b) { b.resize(b.size() - 1); });
    add("depth 9", colour, [](Bytes& b) { Put8(b, kAtDepth, 9); });
    add("colour descriptor past the end", colour, [](Bytes& b) { Put32(b, kAtColourDesc, 0x7FFFFFFF); });
    add("colour table past the end", colour, [&](Bytes& b) {
        Put16(b, Get32(b, kAtColourDesc) + kStored + 2, 0xFFFF);
    });
    add("plane past the end", colour, [&](Bytes& b) { Put32(b, kAtPlanes + 4, end(b, 0)); });
    add("colour font header cut", colour, [](Bytes& b) { b.resize(170); });
    return out;
}

// Pixel (x, y) of a glyph strip: for one-colour fonts the bit, for colour
// fonts the colour index.
inline uint32_t StripPixel(const FontLayout& s, int x, int y) {
    const size_t byte = static_cast<size_t>(y * s.modulo + x / 8);
    const uint32_t bit = 0x80u >> (x % 8);
    if (!s.colour) return (s.strip[byte] & bit) ? 1 : 0;
    uint32_t index = 0;
    for (int i = 0; i < s.depth && i < static_cast<int>(s.planes.size()); ++i)
        if ((s.planePick & (1 << i)) && !s.planes[static_cast<size_t>(i)].empty() &&
            (s.planes[static_cast<size_t>(i)][byte] & bit))
            index |= 1u << i;
    return index;
}

inline uint32_t PaletteColour(const FontLayout& s, uint32_t index) {
    const uint32_t c = s.colours[index];
    return ((c >> 8) & 15) * 0x110000 | ((c >> 4) & 15) * 0x1100 | (c & 15) * 0x11;
}

// A scratch folder that goes with the fixture.
class ScratchFolder {
public:
    ScratchFolder() {
        char pattern[] = "/tmp/qb-fonts-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string Path(const std::string& name) const { return path_ + "/" + name; }
    std::string Write(const std::string& name, const Bytes& bytes) const {
        const std::string p = Path(name);
        std::filesystem::create_directories(std::filesystem::path(p).parent_path());
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                  static_cast<std::streamsize>(bytes.size()));
        return p;
    }
    // NAME.font listing NAME/SIZE for each font file given.
    std::string WriteFont(const std::string& name, const std::vector<std::pair<int, Bytes>>& sizes) const {
        std::vector<std::pair<std::string, int>> entries;
        for (const auto& [size, bytes] : sizes) {
            const std::string file = name + "/" + std::to_string(size);
            Write(file, bytes);
            entries.emplace_back(file, size);
        }
        return Write(name + ".font", WriteContents(entries));
    }

private:
    std::string path_;
};

}  // namespace fontfixture
