// Picture fixtures for the reader tests: a scratch folder, files written
// with libpng and libjpeg directly (independent of the player's writers),
// PPM files for the command-line tools (djpeg, cjpeg, ImageMagick),
// and reading pictures back through the file layer.
#pragma once

#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/file.h"
#include "imaging/imageformats.h"

namespace imagefixtures {

class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/qb-imaging-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline bool HaveTool(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

inline int RunQuietly(const std::string& command) { return std::system(("(" + command + ") >/dev/null 2>&1").c_str()); }

// Pixels 0x00RRGGBB with some structure (gradients) and some noise, so that
// JPEG and filters meet both.
inline std::vector<uint32_t> TestPicture(int width, int height, uint32_t seed, bool withAlpha = false) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> p(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t r = (x * 255 / (width > 1 ? width - 1 : 1)) & 255;
            const uint32_t g = (y * 255 / (height > 1 ? height - 1 : 1)) & 255;
            const uint32_t b = rng() & 255;
            const uint32_t a = withAlpha ? rng() & 255 : 0;
            p[static_cast<size_t>(y) * width + x] = a << 24 | r << 16 | g << 8 | b;
        }
    return p;
}

// A P6 file of the RGB bytes of the pixels.
inline void WritePPM(const std::string& path, int width, int height, const std::vector<uint32_t>& pixels) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    for (uint32_t v : pixels) {
        const char rgb[3] = {static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
        out.write(rgb, 3);
    }
}

// P6 or P5 with maxval 255 into 0x00RRGGBB; false when the file is not one.
inline bool ReadPPM(const std::string& path, int* width, int* height, std::vector<uint32_t>* pixels) {
    std::vector<uint8_t> bytes = ReadBytes(path);
    size_t pos = 0;
    auto token = [&]() {
        std::string t;
        while (pos < bytes.size()) {
            if (bytes[pos] == '#') {
                while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
            } else if (isspace(bytes[pos])) {
                if (!t.empty()) break;
                ++pos;
            } else {
                t += static_cast<char>(bytes[pos++]);
            }
        }
        return t;
    };
    const std::string magic = token();
    if (magic != "P6" && magic != "P5") return false;
    *width = std::atoi(token().c_str());
    *height = std::atoi(token().c_str());
    if (std::atoi(token().c_str()) != 255) return false;
    ++pos;  // the single whitespace byte after maxval
    const size_t channels = magic == "P6" ? 3 : 1;
    const size_t count = static_cast<size_t>(*width) * *height;
    if (bytes.size() < pos + count * channels) return false;
    pixels->resize(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* q = bytes.data() + pos + i * channels;
        (*pixels)[i] = channels == 3 ? uint32_t{q[0]} << 16 | uint32_t{q[1]} << 8 | q[2] : uint32_t{q[0]} * 0x010101u;
    }
    return true;
}

// A PNG written with libpng: rows of raw samples as the colour type and
// depth want them.
struct PngPicture {
    int width = 0;
    int height = 0;
    int colourType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<std::vector<uint8_t>> rows;
    std::vector<png_color> palette;
    std::vector<uint8_t> trnsAlpha;  // palette pictures
};

inline bool WritePngWithLibpng(const std::string& path, const PngPicture& pic) {
    // Everything with a destructor exists before the setjmp, so a jump back
    // to it skips none.
    std::vector<png_bytep> rows;
    for (const auto& r : pic.rows) rows.push_back(const_cast<png_bytep>(r.data()));
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, pic.width, pic.height, pic.bitDepth, pic.colourType,
                 pic.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!pic.palette.empty())
        png_set_PLTE(png, info, pic.palette.data(), static_cast<int>(pic.palette.size()));
    if (!pic.trnsAlpha.empty())
        png_set_tRNS(png, info, pic.trnsAlpha.data(), static_cast<int>(pic.trnsAlpha.size()), nullptr);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return true;
}

// An 8-bit RGB (or RGBA) PNG of 0xAARRGGBB pixels, written with libpng.
inline bool WriteRgbPng(const std::string& path, int width, int height, const std::vector<uint32_t>& pixels,
                        bool alpha, bool interlaced) {
    PngPicture pic;
    pic.width = width;
    pic.height = height;
    pic.colourType = alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    pic.interlaced = interlaced;
    for (int y = 0; y < height; ++y) {
        std::vector<uint8_t> row;
        for (int x = 0; x < width; ++x) {
            const uint32_t v = pixels[static_cast<size_t>(y) * width + x];
            row.push_back(static_cast<uint8_t>(v >> 16));
            row.push_back(static_cast<uint8_t>(v >> 8));
            row.push_back(static_cast<uint8_t>(v));
            if (alpha) row.push_back(static_cast<uint8_t>(v >> 24));
        }
        pic.rows.push_back(std::move(row));
    }
    return WritePngWithLibpng(path, pic);
}

// Opens the file through the file layer and runs a reader on it.
template <typename Reader>
int ReadThrough(const std::string& path, Reader reader) {
    qbFilePtr file(FileOpen(path.c_str(), kFileModeRead, nullptr));
    if (!file) return -1;
    return reader(file.get());
}

// A picture decoded by one of the readers (alpha only where it reports one).
struct Decoded {
    int err = -1;
    int32_t width = 0;
    int32_t height = 0;
    int32_t alpha = -1;
    std::vector<uint32_t> pixels;
};

// read(file, &width, &height, &pixels, &alpha) is one of the readers.
template <typename Read>
Decoded Decode(const std::string& path, Read read) {
    Decoded d;
    PixelBuffer px;
    d.err = ReadThrough(path, [&](qbFile* f) { return read(f, &d.width, &d.height, &px, &d.alpha); });
    if (d.err == 0 && px) d.pixels.assign(px.get(), px.get() + static_cast<size_t>(d.width) * d.height);
    return d;
}

}  // namespace imagefixtures
