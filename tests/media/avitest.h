// Shared by the AVI writer and anim stream tests: a small RIFF walker over
// written files, pictures to write, and ffprobe/ffmpeg cross-checks.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/imagefixtures.h"

namespace avitest {

using Bytes = std::vector<uint8_t>;

inline uint32_t U32(const Bytes& b, size_t at) {
    return at + 4 <= b.size()
               ? uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24
               : 0xDEADBEEFu;
}
inline uint16_t U16(const Bytes& b, size_t at) {
    return at + 2 <= b.size() ? static_cast<uint16_t>(b[at] | b[at + 1] << 8) : 0xBEEF;
}
inline uint64_t U64(const Bytes& b, size_t at) { return U32(b, at) | uint64_t{U32(b, at + 4)} << 32; }
inline std::string Tag(const Bytes& b, size_t at) {
    return at + 4 <= b.size() ? std::string(reinterpret_cast<const char*>(b.data() + at), 4) : "????";
}

struct Chunk {
    std::string id;    // "LIST"/"RIFF" for lists
    std::string type;  // the list's type
    size_t at = 0;     // of the tag
    uint32_t size = 0;
    size_t data() const { return at + 8; }
    size_t end() const { return at + 8 + size + (size & 1); }
};

// The chunks from begin to end, each followed by its pad byte; a chunk that
// runs past end fails the test.
inline std::vector<Chunk> Children(const Bytes& b, size_t begin, size_t end) {
    std::vector<Chunk> out;
    for (size_t at = begin; at + 8 <= end;) {
        Chunk c;
        c.id = Tag(b, at);
        c.at = at;
        c.size = U32(b, at + 4);
        if (c.id == "LIST" || c.id == "RIFF") c.type = Tag(b, at + 8);
        EXPECT_LE(c.data() + c.size, end) << c.id << " at " << at;
        if (c.data() + c.size > end) break;
        out.push_back(c);
        at = c.end();
    }
    return out;
}
inline std::vector<Chunk> Children(const Bytes& b, const Chunk& list) {
    return Children(b, list.data() + 4, list.data() + list.size);
}
inline const Chunk* Find(const std::vector<Chunk>& chunks, const std::string& id, const std::string& type = "") {
    for (const Chunk& c : chunks)
        if (c.id == id && c.type == type) return &c;
    return nullptr;
}

// Smooth shapes that JPEG keeps well: gradients and a soft-edged disc moved
// by the frame number.
inline std::vector<uint32_t> Scene(int width, int height, int frame) {
    std::vector<uint32_t> p(static_cast<size_t>(width) * static_cast<size_t>(height));
    const double cx = width * (0.3 + 0.02 * (frame % 10)), cy = height * 0.5, r = height * 0.25;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double gx = static_cast<double>(x) / std::max(width - 1, 1);
            const double gy = static_cast<double>(y) / std::max(height - 1, 1);
            // 1 inside the disc, 0 outside, a ramp of 16 pixels between.
            const double inside = std::clamp((r - std::hypot(x - cx, y - cy)) / 16.0 + 0.5, 0.0, 1.0);
            const double red = 255 * gx * (1 - inside) + 240 * inside;
            const double green = 255 * gy * (1 - inside) + 200 * inside;
            const double blue = 255 * (0.5 + 0.5 * std::sin((gx + gy + frame * 0.05) * 3)) * (1 - inside) + 40 * inside;
            p[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                static_cast<uint32_t>(red) << 16 | static_cast<uint32_t>(green) << 8 | static_cast<uint32_t>(blue);
        }
    return p;
}

inline BitmapPtr MakeBitmap(const std::vector<uint32_t>& pixels, int width, int height) {
    qbBitmap* made = nullptr;
    EXPECT_EQ(CreateBitmapFromARGB(pixels.data(), -1, width, height, width, false, 0, 0, &made, nullptr, nullptr), 0);
    return BitmapPtr(made);
}

inline std::string Capture(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> p(popen(command.c_str(), "r"), &pclose);
    if (!p) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p.get())) > 0) out.append(buffer, n);
    return out;
}

// "key=value" lines of the streams that ffprobe counts through.
inline std::string Probe(const std::string& path) {
    return Capture(
        "ffprobe -v error -count_frames -show_entries "
        "stream=codec_name,width,height,r_frame_rate,sample_rate,channels,nb_read_frames "
        "-of default=nw=1 '" +
        path + "' 2>&1");
}

// The frames ffmpeg decodes, as 0x00RRGGBB.
inline std::vector<std::vector<uint32_t>> Decode(const std::string& path, int width, int height) {
    const std::string raw = path + ".raw";
    std::vector<std::vector<uint32_t>> frames;
    if (std::system(("ffmpeg -v error -y -i '" + path + "' -f rawvideo -pix_fmt bgra '" + raw + "'").c_str()))
        return frames;
    const Bytes b = imagefixtures::ReadBytes(raw);
    std::remove(raw.c_str());
    const size_t frameBytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    for (size_t at = 0; at + frameBytes <= b.size(); at += frameBytes) {
        std::vector<uint32_t> f(frameBytes / 4);
        for (size_t i = 0; i < f.size(); ++i)
            f[i] = uint32_t{b[at + 4 * i + 2]} << 16 | uint32_t{b[at + 4 * i + 1]} << 8 | b[at + 4 * i];
        frames.push_back(std::move(f));
    }
    return frames;
}

inline double PSNR(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int shift : {0, 8, 16}) {
            const double d = static_cast<double>((a[i] >> shift) & 255) - static_cast<double>((b[i] >> shift) & 255);
            sum += d * d;
        }
    const double mse = sum / (3.0 * static_cast<double>(a.size()));
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace avitest
