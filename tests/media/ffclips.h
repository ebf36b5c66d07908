// Movie clips made at test time by the ffmpeg command-line tool from
// generated pictures (testsrc2, color) and sound (sine). Each is made once
// per process and removed at its end.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/platform.h"

namespace ffclips {

class Made {
public:
    ~Made() {
        for (const auto& [name, path] : paths_) std::remove(path.c_str());
    }
    // The clip `name` (its extension picks the container) from the ffmpeg
    // arguments before the output; "" when ffmpeg fails.
    std::string Get(const std::string& name, const std::string& args) {
        const auto found = paths_.find(name);
        if (found != paths_.end()) return found->second;
        const std::string path = testing::TempDir() + "ffclip_" + std::to_string(getpid()) + "_" + name;
        const std::string command = "ffmpeg -nostdin -v error -y " + args + " '" + path + "'";
        const std::string made = std::system(command.c_str()) == 0 ? path : "";
        paths_[name] = made;
        return made;
    }

    // A file made here some other way, removed with the clips.
    std::string Keep(const std::string& name, const std::string& path) { return paths_[name] = path; }
    bool Has(const std::string& name) const { return paths_.count(name) != 0; }
    std::string Path(const std::string& name) const { return Has(name) ? paths_.at(name) : ""; }

private:
    std::map<std::string, std::string> paths_;
};

inline Made& Clips() {
    static Made made;
    return made;
}

inline std::string Pictures(const std::string& size, int rate, double seconds) {
    return "-f lavfi -i testsrc2=size=" + size + ":rate=" + std::to_string(rate) +
           ":duration=" + std::to_string(seconds);
}

inline std::string Sine(int rate, double seconds) {
    return "-f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate) +
           ":duration=" + std::to_string(seconds);
}

// H.264 + AAC, 64 x 48 at 25 pictures a second, 2 s, mono sound at 22050 Hz;
// a key frame every 10 pictures.
inline std::string SmallMP4() {
    return Clips().Get("small.mp4", Pictures("64x48", 25, 2) + " " + Sine(22050, 2) +
                                        " -c:v libx264 -g 10 -pix_fmt yuv420p -c:a aac -shortest");
}

// The pictures alone.
inline std::string SilentMP4() {
    return Clips().Get("silent.mp4", Pictures("64x48", 25, 2) + " -c:v libx264 -g 10 -pix_fmt yuv420p");
}

// The same at 4 s, for pausing and seeking while it plays.
inline std::string LongerMP4() {
    return Clips().Get("longer.mp4", Pictures("64x48", 25, 4) + " " + Sine(22050, 4) +
                                         " -c:v libx264 -g 10 -pix_fmt yuv420p -c:a aac -shortest");
}

// 1 s of pictures with 5.1 sound at 48000 Hz.
inline std::string SurroundMP4() {
    return Clips().Get("surround.mp4", Pictures("32x32", 25, 1) + " " + Sine(48000, 1) +
                                           " -c:v libx264 -pix_fmt yuv420p -c:a aac -ac 6 -shortest");
}

// VP8 + Vorbis in Matroska, 2 s, cut to half its bytes: the header still
// promises 2 s.
inline std::string TruncatedMKV() {
    if (Clips().Has("cut.mkv")) return Clips().Path("cut.mkv");
    const std::string whole =
        Clips().Get("whole.mkv", Pictures("64x48", 25, 2) + " " + Sine(22050, 2) + " -c:v libvpx -g 5 -c:a libvorbis");
    if (whole.empty()) return "";
    const std::string cut = whole + ".cut.mkv";
    std::FILE* in = std::fopen(whole.c_str(), "rb");
    std::FILE* out = std::fopen(cut.c_str(), "wb");
    if (!in || !out) {
        if (in) std::fclose(in);
        if (out) std::fclose(out);
        return "";
    }
    std::fseek(in, 0, SEEK_END);
    const long half = std::ftell(in) / 2;
    std::fseek(in, 0, SEEK_SET);
    for (long i = 0; i < half; ++i) std::fputc(std::fgetc(in), out);
    std::fclose(in);
    std::fclose(out);
    return Clips().Keep("cut.mkv", cut);
}

// One flat colour (0xRRGGBB) at 1280 x 720 in BT.709 studio range, 3
// pictures, its samples worked out here and coded losslessly.
inline std::string Flat709(uint32_t colour) {
    const std::string name = "flat709_" + std::to_string(colour) + ".mp4";
    if (Clips().Has(name)) return Clips().Path(name);
    const double r = (colour >> 16 & 255) / 255.0, g = (colour >> 8 & 255) / 255.0, b = (colour & 255) / 255.0;
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    const auto sample = [](double v) { return static_cast<char>(static_cast<int>(std::lround(v))); };
    constexpr size_t kLuma = 1280 * 720, kChroma = 640 * 360;
    std::string picture(kLuma, sample(16 + 219 * y));
    picture.append(kChroma, sample(128 + 224 * (b - y) / 1.8556));
    picture.append(kChroma, sample(128 + 224 * (r - y) / 1.5748));
    const std::string raw = testing::TempDir() + "ffclip_" + std::to_string(getpid()) + "_flat.yuv";
    std::FILE* f = std::fopen(raw.c_str(), "wb");
    if (!f) return "";
    for (int i = 0; i < 3; ++i) std::fwrite(picture.data(), 1, picture.size(), f);
    std::fclose(f);
    const std::string made = Clips().Get(name, "-f rawvideo -pix_fmt yuv420p -s 1280x720 -r 25 -i '" + raw +
                                                   "' -c:v libx264 -qp 0 -colorspace bt709 -color_primaries bt709 "
                                                   "-color_trc bt709 -color_range tv");
    std::remove(raw.c_str());
    return made;
}

// testsrc2 in 10-bit H.264, 3 pictures.
inline std::string TenBit() {
    return Clips().Get("tenbit.mkv", Pictures("64x48", 25, 0.12) + " -c:v libx264 -pix_fmt yuv420p10le");
}

// An odd size: 33 x 17 (testsrc, as testsrc2 keeps to even sizes), MJPEG
// (full-range 4:4:4) + PCM in AVI, 5 pictures.
inline std::string OddAVI() {
    return Clips().Get("odd.avi", "-f lavfi -i testsrc=size=33x17:rate=25:duration=0.2 " + Sine(8000, 0.2) +
                                      " -c:v mjpeg -c:a pcm_s16le -shortest");
}

// PNG pictures in QuickTime, 32 x 24, 5 pictures.
inline std::string PngMOV() {
    return Clips().Get("png_pictures.mov", Pictures("32x24", 25, 0.2) + " -c:v png");
}

// VP8 in Matroska whose container says 16 x 16: five pictures of that size,
// then five of 64 x 64, as VP8 key frames carry their own size.
inline std::string GrowingMKV() {
    if (Clips().Has("grow.mkv")) return Clips().Path("grow.mkv");
    const std::string small = Clips().Get("grow_small.ivf", Pictures("16x16", 25, 0.2) + " -c:v libvpx");
    const std::string large = Clips().Get("grow_large.ivf", Pictures("64x64", 25, 0.2) + " -c:v libvpx");
    if (small.empty() || large.empty()) return "";
    const std::string list = Clips().Keep("grow.txt", testing::TempDir() + "ffclip_" + std::to_string(getpid()) + "_grow.txt");
    std::FILE* f = std::fopen(list.c_str(), "w");
    if (!f) return "";
    std::fprintf(f, "file '%s'\nfile '%s'\n", small.c_str(), large.c_str());
    std::fclose(f);
    return Clips().Get("grow.mkv", "-f concat -safe 0 -i '" + list + "' -c copy");
}

// MJPEG of testsrc in full-range 4:2:0 (what ffmpeg's encoder takes by
// default) at any size, 3 pictures: the converter's stores run past the
// pictures of many widths.
inline std::string OddMJPEG(int width, int height) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    return Clips().Get("mjpeg_" + size + ".avi",
                       "-f lavfi -i testsrc=size=" + size + ":rate=10:duration=0.3 -c:v mjpeg -pix_fmt yuvj420p");
}

// Bytes, as hex digits, in a file of the clips' folder.
inline std::string HexFile(const std::string& name, const std::string& hex) {
    if (Clips().Has(name)) return Clips().Path(name);
    const std::string path = testing::TempDir() + "ffclip_" + std::to_string(getpid()) + "_" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return "";
    for (size_t i = 0; i + 1 < hex.size(); i += 2) std::fputc(std::stoi(hex.substr(i, 2), nullptr, 16), f);
    std::fclose(f);
    return Clips().Keep(name, path);
}

// AV1 in IVF whose sequence header names a matrix (16) past FFmpeg's
// enumerators, which FFmpeg copies to the stream and its pictures.
inline std::string AV1UnknownMatrix() {
    return HexFile("av1_matrix16.ivf", "444b49460000200041563031406d657461646100010000000500000060400000fd6d0000e903"
                                       "0100000012000a0d00000002aff79b2f2202020249");
}
// The same class in the pictures themselves.
inline std::string AV1UnknownMatrixInPictures() {
    return HexFile("av1_matrix_pictures.ivf", "444b494600002000415630314020000002aff79b5f24ffff6176315f6d6574616423"
                                              "200001000100a2f000000a0d20000002aff79b5f24ffff6176315f6d657461642320"
                                              "0001000100a2");
}

// One AV1 key frame (16 x 16, libaom) in IVF followed by `damaged`
// one-byte packets the decoder refuses, none of them a key packet; ""
// without an AV1 encoder.
inline std::string AV1DamagedRun(int damaged) {
    const std::string name = "av1_run_" + std::to_string(damaged) + ".ivf";
    if (Clips().Has(name)) return Clips().Path(name);
    const std::string key = Clips().Get("av1_key.ivf", Pictures("16x16", 10, 0.1) + " -c:v libaom-av1 -cpu-used 8");
    if (key.empty()) return "";
    std::FILE* in = std::fopen(key.c_str(), "rb");
    if (!in) return "";
    unsigned char header[32], frame[12];
    std::string first;
    if (std::fread(header, 1, 32, in) == 32 && std::fread(frame, 1, 12, in) == 12) {
        const size_t size = frame[0] | frame[1] << 8 | frame[2] << 16 | static_cast<size_t>(frame[3]) << 24;
        first.assign(reinterpret_cast<const char*>(frame), 12);
        first.resize(12 + size);
        if (std::fread(first.data() + 12, 1, size, in) != size) first.clear();
    }
    std::fclose(in);
    if (first.empty()) return "";
    const uint32_t count = static_cast<uint32_t>(damaged) + 1;
    for (int i = 0; i < 4; ++i) header[24 + i] = static_cast<unsigned char>(count >> (8 * i));
    const std::string path = testing::TempDir() + "ffclip_" + std::to_string(getpid()) + "_" + name;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return "";
    std::fwrite(header, 1, 32, out);
    std::fwrite(first.data(), 1, first.size(), out);
    for (uint32_t n = 1; n < count; ++n) {
        // 0x12: an OBU header whose size field is missing, which the
        // decoder refuses as it is sent.
        unsigned char packet[13] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x12};
        for (int i = 0; i < 4; ++i) packet[4 + i] = static_cast<unsigned char>(n >> (8 * i));
        std::fwrite(packet, 1, sizeof packet, out);
    }
    std::fclose(out);
    return Clips().Keep(name, path);
}

// Ten MJPEG pictures of growing durations (43 to 91 ms) in Matroska with
// no frame rate: the muxer's DefaultDuration is made a Void element of the
// same size, and FFmpeg then guesses the time base's 1000 a second. With
// `times` (ms, of the picture number N) other pictures' times: at
// multiples of 40 ms its probe guesses 12.5 a second from their tick.
inline std::string RatelessMKV(const std::string& name = "rateless.mkv", const std::string& times = "N*N*3+N*40") {
    if (Clips().Has(name)) return Clips().Path(name);
    const std::string timed =
        Clips().Get("timed_" + name, Pictures("32x24", 10, 1) + " -vf settb=1/1000,setpts=" + times +
                                         " -fps_mode passthrough -enc_time_base 1:1000 -c:v mjpeg");
    if (timed.empty()) return "";
    std::FILE* in = std::fopen(timed.c_str(), "rb");
    if (!in) return "";
    std::string bytes;
    for (int c; (c = std::fgetc(in)) != EOF;) bytes.push_back(static_cast<char>(c));
    std::fclose(in);
    const size_t at = bytes.find("\x23\xE3\x83");
    if (at == std::string::npos || at + 4 > bytes.size()) return "";
    const size_t total = 4 + (static_cast<unsigned char>(bytes[at + 3]) & 0x7F);
    if (at + total > bytes.size() || total < 2 || total > 0x81) return "";
    bytes.replace(at, total, std::string(total, '\0'));
    bytes[at] = static_cast<char>(0xEC);
    bytes[at + 1] = static_cast<char>(0x80 | (total - 2));
    const std::string path = timed + ".rateless.mkv";
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return "";
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
    return Clips().Keep(name, path);
}

// Sound alone.
inline std::string AudioOnly() { return Clips().Get("sound.m4a", Sine(22050, 1) + " -c:a aac"); }

// The backend in use with the Linux backend's movie source in it, while it
// lives: movies decode, and everything else stays as the test had it.
class MovieSourceBackend {
public:
    MovieSourceBackend() : before_(&ActivePlatformOps()), mixed_(ActivePlatformOps()) {
#define QB_TAKE_MOVIE_SOURCE(ret, op, params, args) mixed_.op = LinuxPlatformOps().op;
        QB_PLATFORM_MOVIE_SOURCE_OPS(QB_TAKE_MOVIE_SOURCE)
#undef QB_TAKE_MOVIE_SOURCE
        SetPlatformBackend(&mixed_);
    }
    ~MovieSourceBackend() { SetPlatformBackend(before_); }
    MovieSourceBackend(const MovieSourceBackend&) = delete;
    MovieSourceBackend& operator=(const MovieSourceBackend&) = delete;

private:
    const qbPlatformOps* before_;
    qbPlatformOps mixed_;
};

}  // namespace ffclips
