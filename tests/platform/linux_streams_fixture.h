// Clips made by the ffmpeg tool for the sound and stream tests, ffmpeg's
// own counts of what it decodes from them, and the backend's: the movie
// source read to the end as the video engine reads it, and the sound
// decoder read whole.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fixtures/ffmpeg_fixtures.h"
#include "platform/platform.h"

namespace streamfixtures {

using namespace ffmpegfixtures;

// Garbles the payloads of chunks `first` to `last` (counted from 0) of one
// stream of an AVI ("00dc": pictures, "01wb": sound), past their first two
// bytes, so that a decoder refuses them; false when the file has fewer.
inline bool GarbleChunks(const std::string& path, const char tag[4], int first, int last) {
    std::vector<uint8_t> bytes = ReadBytes(path);
    const uint8_t movi[] = {'m', 'o', 'v', 'i'};
    auto at = std::search(bytes.begin(), bytes.end(), std::begin(movi), std::end(movi));
    if (at == bytes.end()) return false;
    size_t i = static_cast<size_t>(at - bytes.begin()) + 4;
    int n = 0;
    while (i + 8 <= bytes.size() && n <= last) {
        const uint32_t size = bytes[i + 4] | bytes[i + 5] << 8 | bytes[i + 6] << 16 | uint32_t{bytes[i + 7]} << 24;
        if (std::memcmp(&bytes[i], "idx1", 4) == 0) break;
        if (std::memcmp(&bytes[i], "LIST", 4) == 0) {
            i += 12;
            continue;
        }
        if (std::memcmp(&bytes[i], tag, 4) == 0) {
            if (n >= first)
                for (size_t k = i + 10; k < i + 8 + size && k < bytes.size(); ++k)
                    bytes[k] = static_cast<uint8_t>(bytes[k] * 7 + n + k);
            ++n;
        }
        i += 8 + size + (size & 1);
    }
    WriteBytes(path, bytes);
    return n > last;
}

// ffmpeg's decode of the file: pictures, and sound frames as 16-bit
// samples of `channels` channels. -1 when ffmpeg failed.
inline int64_t FFmpegPictures(const std::string& path) {
    const std::string out = path + ".crc";
    if (RunQuietly("ffmpeg -v quiet -nostdin -y -i '" + path + "' -map 0:v -f framecrc '" + out + "'") != 0) return -1;
    const std::vector<uint8_t> bytes = ReadBytes(out);
    int64_t lines = 0;
    bool start = true;
    for (uint8_t b : bytes) {
        if (start && b != '#') ++lines;
        start = b == '\n';
    }
    return lines;
}
inline int64_t FFmpegSoundFrames(const std::string& path, int channels) {
    const std::string out = path + ".raw";
    if (RunQuietly("ffmpeg -v quiet -nostdin -y -i '" + path + "' -map 0:a -ac " + std::to_string(channels) +
                   " -f s16le '" + out + "'") != 0)
        return -1;
    return static_cast<int64_t>(ReadBytes(out).size()) / (2 * channels);
}

// ffmpeg's decoded pictures as 0xAARRGGBB words, each once (no picture
// repeated to keep a constant rate).
inline std::vector<std::vector<uint32_t>> FFmpegPictureWords(const std::string& path, int width, int height) {
    const std::string raw = path + ".bgra";
    if (RunQuietly("ffmpeg -v quiet -nostdin -y -i '" + path + "' -map 0:v -fps_mode passthrough -sws_flags " +
                   kScalerFlags + " -f rawvideo -pix_fmt bgra '" + raw + "'") != 0)
        return {};
    const std::vector<uint8_t> bytes = ReadBytes(raw);
    const size_t frameBytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    std::vector<std::vector<uint32_t>> frames;
    for (size_t at = 0; frameBytes && at + frameBytes <= bytes.size(); at += frameBytes) {
        std::vector<uint32_t> words(frameBytes / 4);
        for (size_t i = 0; i < words.size(); ++i) {
            const uint8_t* b = bytes.data() + at + i * 4;
            words[i] = uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0];
        }
        frames.push_back(std::move(words));
    }
    return frames;
}

// A movie source read to the end: the pictures and the sound frames it
// gave, the sound asked for in `capacity` bytes at a time.
struct SourceRun {
    qbMovieSourceInfo info;
    int opened = -1;
    int64_t pictures = 0;
    int64_t soundFrames = 0;
};
inline SourceRun ReadSource(const std::string& path, int32_t capacity = 262144) {
    SourceRun run;
    qbMovieSource* source = nullptr;
    qbMovieSourceRequest request;
    run.opened = OpenMovieSource(path.c_str(), &request, &run.info, &source);
    if (run.opened != 0) return run;
    std::vector<uint8_t> sound(static_cast<size_t>(capacity));
    std::vector<uint32_t> words(ConvertedPictureWords(run.info.width, run.info.height));
    int64_t bytes = 0;
    for (int guard = 0; guard < 1000000; ++guard) {
        qbMoviePacket packet;
        const int32_t got = NextMoviePacket(source, &packet);
        if (got == -1) break;
        if (got != 0) continue;
        if (packet.isAudio) {
            // As the engine does: the packet until it is finished, and no
            // further once a call gives nothing.
            for (int32_t finished = 0; !finished;) {
                const int32_t n = DecodeMovieAudio(source, packet.packet, sound.data(), capacity, &finished);
                if (n <= 0) break;
                bytes += n;
            }
        } else {
            qbMoviePicture p;
            p.rgb = words.data();
            p.rgbWords = words.size();
            if (DecodeMovieVideo(source, packet.packet, &p) == 1) ++run.pictures;
        }
        FreeMoviePacket(source, packet.packet);
    }
    CloseMovieSource(source);
    if (run.info.audioChannels > 0) run.soundFrames = bytes / (2 * run.info.audioChannels);
    return run;
}

// The sound decoder's length and its frames read whole.
struct SoundRun {
    int opened = -1;
    qbPCMFormat format{};
    int64_t length = 0;
    std::vector<int16_t> samples;
};
inline SoundRun ReadSound(const std::string& path) {
    SoundRun run;
    qbNativeAudioFile* f = nullptr;
    run.opened = OpenNativeAudioFile(path.c_str(), 0, &f);
    if (run.opened != 0) return run;
    GetNativeStreamFormat(f, &run.format);
    qbAudioPacketInfo info;
    ReadNativeAudioPackets(f, nullptr, 0, &info);
    run.length = info.packets;
    run.samples.resize(static_cast<size_t>(run.length) * static_cast<size_t>(run.format.channels));
    ReadNativeAudioPackets(f, run.samples.data(), run.samples.size() * 2, &info);
    CloseNativeAudioFile(f);
    return run;
}

}  // namespace streamfixtures
