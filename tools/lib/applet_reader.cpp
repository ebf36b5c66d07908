// The section walk to an applet's script body. Each section is skipped by
// the layout of its tag (and of the applet version read so far), the same
// layouts the applet writer produces; every count and size is checked
// against the bytes that are left before anything is skipped.
#include "lib/applet_reader.h"

#include <zlib.h>

#include <cstring>

#include "lib/applet_writer.h"

namespace {

constexpr size_t kMagicSize = 4;
constexpr size_t kPackHeaderSize = 8;           // magic and the plain size
constexpr size_t kMaxInflatedSize = 1u << 30;   // refuses pack bombs
constexpr uint8_t kLastTag = kTagIdentifier;
constexpr uint32_t kLinkedElsewhere = 0xFFFFFFFF;
constexpr uint32_t kLinkedDropped = 0xFFFFFFFE;
constexpr uint8_t kComplementedEnd = 0xFF;
constexpr int kMaxMenuDepth = 1000;
constexpr uint8_t kMenuNextEnd = 0;
constexpr uint8_t kMenuNextSubmenu = 2;

enum : uint8_t { kBGPic = 0, kBrush = 1, kAnim = 2, kButton = 5, kSprite = 7, kDisplay = 10, kPlugin = 12, kMenu = 13 };

struct Walker {
    explicit Walker(const std::vector<uint8_t>& b) : bytes(b) {}

    const std::vector<uint8_t>& bytes;
    size_t pos = kMagicSize;
    AppletVersionPair version{0, 0};  // until the version section
    std::string error;

    bool Fail(const std::string& what) {
        if (error.empty()) error = "offset " + std::to_string(pos) + ": " + what;
        return false;
    }
    bool Skip(uint64_t n) {
        if (n > bytes.size() - pos) return Fail("the applet ends inside a section");
        pos += static_cast<size_t>(n);
        return true;
    }
    bool U8(uint8_t& v) {
        if (pos >= bytes.size()) return Fail("the applet ends inside a section");
        v = bytes[pos++];
        return true;
    }
    bool U32(uint32_t& v) {
        if (bytes.size() - pos < 4) return Fail("the applet ends inside a section");
        v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | bytes[pos++];
        return true;
    }
    bool SkipUntil(uint8_t end) {
        const void* at = std::memchr(bytes.data() + pos, end, bytes.size() - pos);
        if (!at) return Fail("a string runs past the end of the applet");
        pos = static_cast<size_t>(static_cast<const uint8_t*>(at) - bytes.data()) + 1;
        return true;
    }
    bool CString() { return SkipUntil(0); }
    bool ShortString() {
        if (bytes.size() - pos < 2) return Fail("the applet ends inside a section");
        const auto n = static_cast<int16_t>(bytes[pos] << 8 | bytes[pos + 1]);
        if (n < 0) return Fail("negative string length");
        pos += 2;
        return Skip(static_cast<uint64_t>(n));
    }
    bool Since(int major, int minor) const { return VersionAtLeast(version, major, minor); }
};

bool SkipGradient(Walker& w) {
    uint8_t stops = 0;
    return w.Skip(1 + 16) && w.U8(stops) && w.Skip(8u * stops);
}

bool SkipBackfill(Walker& w) {
    uint8_t type = 0;
    if (!w.U8(type)) return false;
    switch (type) {
    case 1: return w.Skip(4);
    case 2: return w.Skip(8);
    case 3: return w.Skip(4);
    case 4: return w.Skip(20 + (w.Since(3, 2) ? 1 : 0) + (w.Since(6, 0) ? 1 : 0));
    default: return true;
    }
}

bool SkipRegions(Walker& w) {
    uint32_t count = 0;
    return w.U32(count) && w.Skip(uint64_t{count} * 20);
}

bool SkipDisplay(Walker& w) {
    if (!w.Skip(40) || !SkipRegions(w) || !SkipRegions(w) || !w.ShortString()) return false;
    if (w.Since(4, 7) && !w.Skip(1 + 4 + 2 + 12)) return false;
    if (w.Since(5, 0) && !SkipGradient(w)) return false;
    if (w.Since(5, 2) && !w.ShortString()) return false;
    if (w.Since(5, 3) && !w.Skip(1)) return false;
    if (!w.Since(6, 0)) return true;
    return w.Skip(1 + 1 + 4 + 1 + 1 + 2 + 2 + 1 + 1) && SkipBackfill(w) && w.ShortString() && w.ShortString() &&
           w.ShortString();
}

bool SkipMenu(Walker& w, int depth) {
    if (depth > kMaxMenuDepth) return w.Fail("menu tree nested too deep");
    for (;;) {
        uint8_t next = 0;
        if (!w.ShortString() || !w.ShortString() || !w.ShortString() || !w.Skip(4) || !w.U8(next)) return false;
        if (next == kMenuNextSubmenu && (!SkipMenu(w, depth + 1) || !w.U8(next))) return false;
        if (next == kMenuNextEnd) return true;
    }
}

bool SkipPluginTags(Walker& w) {
    uint32_t count = 0;
    if (!w.U32(count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t kind = 0;
        if (!w.Skip(4) || !w.CString() || !w.U8(kind) || !(kind ? w.CString() : w.Skip(8))) return false;
    }
    return true;
}

bool SkipTypeRecord(Walker& w, uint8_t type) {
    switch (type) {
    case kBGPic:
        if (!w.Since(4, 7)) return true;
        if (!w.Skip(1 + 4 + 4 + 2 + 12)) return false;
        if (w.Since(5, 0) && !SkipGradient(w)) return false;
        return !w.Since(5, 3) || w.Skip(12);
    case kBrush:
        return w.Skip(10 + (w.Since(5, 0) ? 1 : 0) + (w.Since(5, 3) ? 12 : 0) + (w.Since(6, 0) ? 4 : 0));
    case kAnim:
        return w.Skip((w.Since(3, 0) ? 1 : 0) + (w.Since(4, 1) ? 12 : 0) + (w.Since(5, 3) ? 2 : 0));
    case kButton: return w.Skip(8);
    case kSprite: return w.Skip(12);
    case kDisplay: return SkipDisplay(w);
    case kPlugin: return !w.Since(6, 0) || SkipPluginTags(w);
    case kMenu: return SkipMenu(w, 1);
    default: return true;
    }
}

bool SkipDeclarations(Walker& w) {
    uint32_t count = 0;
    if (!w.U32(count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t type = 0;
        if (!w.U8(type) || !w.Skip(8 * 4)) return false;
        if (w.Since(6, 0) && (!w.ShortString() || !w.ShortString())) return false;
        if (!SkipTypeRecord(w, type)) return false;
    }
    return true;
}

bool SkipIncludeTable(Walker& w, uint8_t tag) {
    uint32_t count = 0;
    if (!w.U32(count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        if (!w.Skip(12)) return false;
        bool ok = tag == kTagIncludePlain    ? w.CString()
                  : tag == kTagIncludeNamed ? w.CString() && w.CString()
                                            : w.SkipUntil(kComplementedEnd) && w.SkipUntil(kComplementedEnd);
        if (!ok) return false;
    }
    return true;
}

bool SkipLinkedFiles(Walker& w) {
    uint32_t count = 0, size = 0;
    if (!w.U32(count) || !w.Skip(4)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        if (!w.CString() || !w.U32(size)) return false;
        if (size == kLinkedElsewhere ? !w.Skip(8) : size != kLinkedDropped && !w.Skip(size)) return false;
    }
    return true;
}

bool SkipConstants(Walker& w) {
    for (;;) {
        if (w.pos >= w.bytes.size()) return w.Fail("the applet ends inside a section");
        if (w.bytes[w.pos] == 0) return w.Skip(1);  // the empty name ends the list
        uint8_t kind = 0;
        if (!w.CString() || !w.U8(kind) || !(kind ? w.CString() : w.Skip(8))) return false;
    }
}

// Skips one section other than the body.
bool SkipSection(Walker& w, uint8_t tag) {
    uint32_t n = 0;
    switch (tag) {
    case kTagSkip: return w.U32(n) && w.Skip(n);
    case kTagDeclarations: return SkipDeclarations(w);
    case kTagDisplaySize: case kTagScreenSize: return w.Skip(4);
    case kTagDisplayTitle: return w.ShortString();
    case kTagDisplayColor: return w.Skip(4);
    case kTagDisplayPosition: return w.Skip(8);
    case kTagDesktop: case kTagOverrideLock: return true;
    case kTagIncludePlain: case kTagIncludeNamed: case kTagIncludeComplemented: return SkipIncludeTable(w, tag);
    case kTagLabels: {
        if (!w.U32(n)) return false;
        for (uint32_t i = 0; i < n; ++i)
            if (!w.Skip(4) || !w.CString()) return false;
        return true;
    }
    case kTagVersion: return w.U8(w.version.first) && w.U8(w.version.second);
    case kTagTitle: case kTagVersionString: case kTagCopyright: case kTagAuthor: case kTagDescription:
    case kTagIdentifier:
        return w.CString();
    case kTagBackfill: return SkipBackfill(w);
    case kTagLinkedFiles: return SkipLinkedFiles(w);
    case kTagScale: return w.Skip(10);
    case kTagConstants: return SkipConstants(w);
    case kTagTimer: return w.Skip(4 + (w.Since(6, 0) ? 9 : 0));
    default: return w.Skip(1);  // the one-byte settings: 16, 18-21, 23-25, 30
    }
}

}  // namespace

bool InflateApplet(const std::vector<uint8_t>& packed, std::vector<uint8_t>& plain, std::string& error) {
    if (packed.size() < kPackHeaderSize || std::memcmp(packed.data(), "QBZ", kMagicSize) != 0) {
        error = "not a compressed applet";
        return false;
    }
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        error = "zlib failed to start";
        return false;
    }
    z.next_in = const_cast<Bytef*>(packed.data() + kPackHeaderSize);
    z.avail_in = static_cast<uInt>(packed.size() - kPackHeaderSize);
    plain.clear();
    int status = Z_OK;
    while (status == Z_OK && plain.size() < kMaxInflatedSize) {
        uint8_t piece[65536];
        z.next_out = piece;
        z.avail_out = sizeof piece;
        status = inflate(&z, Z_NO_FLUSH);
        plain.insert(plain.end(), piece, piece + (sizeof piece - z.avail_out));
    }
    inflateEnd(&z);
    if (status != Z_STREAM_END) {
        error = plain.size() >= kMaxInflatedSize ? "the compressed applet inflates beyond 1 GiB"
                                                  : "the compressed applet's stream is damaged";
        return false;
    }
    return true;
}

bool ReadAppletBody(const std::vector<uint8_t>& applet, std::vector<uint8_t>& body, std::string& error) {
    std::vector<uint8_t> inflated;
    const std::vector<uint8_t>* plain = &applet;
    if (applet.size() >= kMagicSize && std::memcmp(applet.data(), "QBZ", kMagicSize) == 0) {
        if (!InflateApplet(applet, inflated, error)) return false;
        plain = &inflated;
    }
    if (plain->size() < kMagicSize || std::memcmp(plain->data(), "QBA", kMagicSize) != 0) {
        error = "not an applet (it does not start with QBA or QBZ)";
        return false;
    }
    Walker w(*plain);
    while (w.error.empty()) {
        if (w.pos >= plain->size()) {
            error = "the applet has no script body";
            return false;
        }
        const uint8_t tag = plain->at(w.pos);
        if (tag > kLastTag) {
            w.Fail("unknown section tag " + std::to_string(tag));
            break;
        }
        ++w.pos;
        if (tag == kTagBody) {
            uint32_t size = 0;
            if (!w.U32(size) || size > plain->size() - w.pos) {
                w.Fail("the script body runs past the end of the applet");
                break;
            }
            body.assign(plain->begin() + static_cast<std::ptrdiff_t>(w.pos),
                        plain->begin() + static_cast<std::ptrdiff_t>(w.pos + size));
            return true;
        }
        SkipSection(w, tag);
    }
    error = w.error;
    return false;
}
