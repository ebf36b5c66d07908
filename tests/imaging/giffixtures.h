// GIF files made byte by byte for the reader tests: a header with a global
// table, graphic controls, and images from indices or from a raw list of
// codes (packed at the widths a decoder reads them with), plus opening
// them through the reader and taking frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/file.h"
#include "imaging/gif.h"
#include "imaging/loaderchain.h"
#include "imagefixtures.h"

namespace giffixtures {

struct Reader {
    qbGIFReaderPtr reader;
    int32_t width = 0, height = 0, frames = 0;
};

inline Reader OpenReader(const std::string& path, bool keyColours = false) {
    Reader r;
    r.reader.reset(OpenGIFReader(FileOpen(path.c_str(), kImageOpenMode, nullptr), &r.width, &r.height, &r.frames,
                                 false, false, keyColours));
    return r;
}

// The whole canvas after the frame; empty when it fails.
inline std::vector<uint32_t> Frame(Reader& r, uint32_t frame) {
    PixelBuffer p = GetGIFFrame(r.reader.get(), frame, nullptr);
    if (!p) return {};
    return std::vector<uint32_t>(p.get(), p.get() + static_cast<size_t>(r.width) * static_cast<size_t>(r.height));
}

class GifFile {
public:
    GifFile(int32_t width, int32_t height, int globalEntries = 4) : width_(width), height_(height), global(globalEntries) {}
    // Colours of the global table: distinct and easy to tell apart.
    static uint32_t Colour(int i) { return static_cast<uint32_t>(0x102030 + i * 0x010507) & 0xFFFFFF; }

    std::string version = "GIF89a";
    int background = 0;
    std::vector<uint8_t> trailing;

    void Control(int disposal, int transparent, int delay = 0) {
        // One byte at a time: g++ 12 at -O3 takes a list insert into an
        // empty body for an overflow.
        for (uint8_t b : {0x21, 0xF9, 4}) body_.push_back(b);
        body_.push_back(static_cast<uint8_t>((disposal << 2) | (transparent >= 0 ? 1 : 0)));
        body_.push_back(static_cast<uint8_t>(delay & 0xFF));
        body_.push_back(static_cast<uint8_t>(delay >> 8));
        body_.push_back(static_cast<uint8_t>(transparent >= 0 ? transparent : 0));
        body_.push_back(0);
    }
    // Literal codes only, with a clear code before the table fills.
    void Image(int32_t left, int32_t top, int32_t w, int32_t h, const std::vector<uint8_t>& indices, int minimum,
               bool interlaced = false) {
        const int clear = 1 << minimum;
        std::vector<int> codes = {clear};
        int made = 0;
        for (uint8_t v : indices) {
            codes.push_back(v);
            if (++made >= 3000) {
                codes.push_back(clear);
                made = 0;
            }
        }
        codes.push_back(clear + 1);
        Codes(left, top, w, h, codes, minimum, interlaced);
    }
    void Codes(int32_t left, int32_t top, int32_t w, int32_t h, const std::vector<int>& codes, int minimum,
               bool interlaced = false) {
        body_.push_back(0x2C);
        for (int32_t v : {left, top, w, h}) {
            body_.push_back(static_cast<uint8_t>(v & 0xFF));
            body_.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
        }
        body_.push_back(interlaced ? 0x40 : 0);
        body_.push_back(static_cast<uint8_t>(minimum));
        std::vector<uint8_t> data;
        const int clear = 1 << minimum;
        int width = minimum + 1, next = clear + 2;
        bool first = true;
        uint32_t bits = 0;
        int count = 0;
        for (int code : codes) {
            bits |= static_cast<uint32_t>(code) << count;
            count += width;
            while (count >= 8) {
                data.push_back(static_cast<uint8_t>(bits));
                bits >>= 8;
                count -= 8;
            }
            if (code == clear) {
                width = minimum + 1;
                next = clear + 2;
                first = true;
            } else if (code == clear + 1) {
                break;
            } else if (first) {
                first = false;
            } else if (next < 4096) {
                ++next;
                if (next == (1 << width) && width < 12) ++width;
            }
        }
        if (count > 0) data.push_back(static_cast<uint8_t>(bits));
        for (size_t at = 0; at < data.size(); at += 255) {
            const size_t n = std::min<size_t>(255, data.size() - at);
            body_.push_back(static_cast<uint8_t>(n));
            body_.insert(body_.end(), data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
        }
        body_.push_back(0);
    }
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> b(version.begin(), version.end());
        for (int32_t v : {width_, height_}) {
            b.push_back(static_cast<uint8_t>(v & 0xFF));
            b.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
        }
        int bits = 1;
        while ((1 << bits) < global) ++bits;
        b.push_back(static_cast<uint8_t>(0x80 | (bits - 1)));
        b.push_back(static_cast<uint8_t>(background));
        b.push_back(0);
        for (int i = 0; i < (1 << bits); ++i) {
            const uint32_t c = Colour(i);
            b.insert(b.end(), {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)});
        }
        b.insert(b.end(), body_.begin(), body_.end());
        b.push_back(0x3B);
        b.insert(b.end(), trailing.begin(), trailing.end());
        return b;
    }
    Reader Open(const imagefixtures::ScratchDir& dir, bool keyColours = false) const {
        const std::string path = dir.File("made" + std::to_string(serial_++) + ".gif");
        imagefixtures::WriteBytes(path, Bytes());
        return OpenReader(path, keyColours);
    }

private:
    int32_t width_, height_;

public:
    int global;

private:
    std::vector<uint8_t> body_;
    mutable int serial_ = 0;
};

}  // namespace giffixtures
