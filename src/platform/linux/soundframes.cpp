#include "platform/linux/soundframes.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <bit>
#include <cstddef>
#include <string_view>

namespace av_common {

namespace {

// Opus's table of contents: its frames' length at 48 kHz times their count.
int64_t OpusSamples(const uint8_t* d, size_t size) {
    if (size < 1) return -1;
    const int config = d[0] >> 3;
    static const int kSilk[4] = {480, 960, 1920, 2880};
    static const int kCelt[4] = {120, 240, 480, 960};
    const int frame = config < 12 ? kSilk[config & 3] : config < 16 ? (config & 1 ? 960 : 480) : kCelt[config & 3];
    int frames = 1;
    switch (d[0] & 3) {
    case 0: frames = 1; break;
    case 1:
    case 2: frames = 2; break;
    default:
        if (size < 2) return -1;
        frames = d[1] & 0x3F;
    }
    const int64_t samples = int64_t{frame} * frames;
    // A packet is at most 120 ms.
    return frames > 0 && samples <= 5760 ? samples : -1;
}

// The length of FLAC's coded frame number, from its first byte's leading ones.
size_t FlacNumberBytes(uint8_t first) {
    const int lead = std::countl_one(first);
    return lead == 0 ? 1 : static_cast<size_t>(lead);
}

int64_t FlacSamples(const uint8_t* d, size_t size) {
    if (size < 6 || d[0] != 0xFF || (d[1] & 0xFE) != 0xF8) return -1;
    const int code = d[2] >> 4;
    const size_t at = 4 + FlacNumberBytes(d[4]);
    if (code == 1) return 192;
    if (code >= 2 && code <= 5) return int64_t{576} << (code - 2);
    if (code >= 8) return int64_t{256} << (code - 8);
    if (code == 6) return at < size ? d[at] + 1 : -1;
    if (code == 7) return at + 1 < size ? (d[at] << 8 | d[at + 1]) + 1 : -1;
    return -1;
}

// One MPEG audio frame, its length matching the packet's; else -1.
int64_t MpegSamples(const uint8_t* d, size_t size) {
    if (size < 4 || d[0] != 0xFF || (d[1] & 0xE0) != 0xE0) return -1;
    const int version = (d[1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = 4 - ((d[1] >> 1) & 3);  // 1, 2 or 3
    const int bitrateIndex = d[2] >> 4, rateIndex = (d[2] >> 2) & 3, padding = (d[2] >> 1) & 1;
    if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return -1;
    static const int kRates[3] = {44100, 48000, 32000};
    const int rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    static const int kBitrates[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    const int64_t bitrate = int64_t{kBitrates[version == 3 ? 0 : 1][layer - 1][bitrateIndex]} * 1000;
    const int samples = layer == 1 ? 384 : layer == 2 || version == 3 ? 1152 : 576;
    const int64_t bytes = layer == 1 ? (12 * bitrate / rate + padding) * 4 : samples / 8 * bitrate / rate + padding;
    return bytes == static_cast<int64_t>(size) ? samples : -1;
}

// Bits of a byte string, most significant first; reads past its end give
// zeros and set `past`.
struct BitReader {
    const uint8_t* data;
    size_t bits;
    size_t at = 0;
    bool past = false;
    uint32_t Read(int count) {
        uint32_t v = 0;
        for (int i = 0; i < count; ++i, ++at) {
            past = past || at >= bits;
            v = v << 1 | (!past && (data[at / 8] >> (7 - at % 8) & 1) ? 1u : 0u);
        }
        return v;
    }
};

// A LOAS frame (sync 0x2B7, 13-bit length) whose AudioMuxElement carries a
// StreamMuxConfig: its AudioSpecificConfig's object type, rate index (or
// rate) and channel configuration as one code.
int64_t LatmRateCode(const uint8_t* d, size_t size) {
    if (size < 4 || d[0] != 0x56 || (d[1] & 0xE0) != 0xE0) return -1;
    BitReader r{d + 3, (size - 3) * 8};
    if (r.Read(1)) return kSameRateCode;  // useSameStreamMux
    const uint32_t version = r.Read(1);
    if (version && r.Read(1)) return -1;  // audioMuxVersionA: reserved
    // LatmGetValue: two bits name how many bytes follow.
    auto value = [&r] { return r.Read(8 * (static_cast<int>(r.Read(2)) + 1)); };
    if (version) value();  // taraBufferFullness
    r.Read(1 + 6);         // allStreamsSameTimeFraming, numSubFrames
    if (r.Read(4) != 0 || r.Read(3) != 0) return -1;  // one program of one layer
    if (version) value();  // the AudioSpecificConfig's length
    int64_t type = r.Read(5);
    if (type == 31) type = 32 + r.Read(6);
    const int64_t index = r.Read(4);
    const int64_t rate = index == 15 ? r.Read(24) : 0;
    const int64_t channels = r.Read(4);
    if (r.past) return -1;
    return ((type << 4 | index) << 24 | rate) << 4 | channels;
}

}  // namespace

int64_t HeaderRateCode(AVCodecID codec, const AVPacket& packet) {
    const uint8_t* d = packet.data;
    const auto size = static_cast<size_t>(std::max(packet.size, 0));
    if (d && codec == AV_CODEC_ID_AAC_LATM) return LatmRateCode(d, size);
    if (!d || size < 4 || d[0] != 0xFF) return -1;
    switch (codec) {
    case AV_CODEC_ID_AAC: return size >= 7 && (d[1] & 0xF6) == 0xF0 ? (d[2] >> 2) & 15 : -1;
    case AV_CODEC_ID_MP1:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3: return (d[1] & 0xE0) == 0xE0 ? ((d[1] >> 3) & 3) << 2 | ((d[2] >> 2) & 3) : -1;
    case AV_CODEC_ID_FLAC: {
        if ((d[1] & 0xFE) != 0xF8) return -1;
        const int code = d[2] & 15;
        if (code < 12 || code > 14) return code;
        // The rate follows the coded frame number and any block size bytes.
        size_t at = 4 + FlacNumberBytes(d[4]);
        const int block = d[2] >> 4;
        at += block == 6 ? 1 : block == 7 ? 2 : 0;
        const size_t bytes = code == 12 ? 1 : 2;
        if (at + bytes > size) return code;
        return int64_t{code} << 16 | (bytes == 1 ? d[at] : d[at] << 8 | d[at + 1]);
    }
    default: return -1;
    }
}

// Plain PCM: whole samples of every channel, or -1 (0 for other codecs).
int64_t PcmSamples(AVCodecID codec, int channels, size_t size) {
    const int bits = av_get_exact_bits_per_sample(codec);
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec);
    if (bits < 8 || bits % 8 != 0 || channels < 1 || !descriptor ||
        std::string_view(descriptor->name).substr(0, 4) != "pcm_")
        return 0;
    const size_t frame = static_cast<size_t>(bits / 8) * static_cast<size_t>(channels);
    return size % frame == 0 ? static_cast<int64_t>(size / frame) : -1;
}

bool StartPacketCounter(const AVCodecParameters& stream, PacketCounter* out) {
    *out = PacketCounter{};
    out->codec = stream.codec_id;
    out->channels = stream.ch_layout.nb_channels;
    switch (stream.codec_id) {
    case AV_CODEC_ID_OPUS:
    case AV_CODEC_ID_FLAC:
    case AV_CODEC_ID_MP1:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3: return true;
    case AV_CODEC_ID_VORBIS:
        if (!stream.extradata || stream.extradata_size <= 0) return false;
        out->vorbis.reset(av_vorbis_parse_init(stream.extradata, stream.extradata_size));
        return out->vorbis != nullptr;
    default: return PcmSamples(stream.codec_id, out->channels, 1) != 0;
    }
}

int64_t PacketSamples(PacketCounter& c, const AVPacket& packet) {
    const uint8_t* d = packet.data;
    const auto size = static_cast<size_t>(std::max(packet.size, 0));
    if (!d || size == 0) return -1;
    switch (c.codec) {
    case AV_CODEC_ID_OPUS: return OpusSamples(d, size);
    case AV_CODEC_ID_FLAC: return FlacSamples(d, size);
    case AV_CODEC_ID_MP1:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3: return MpegSamples(d, size);
    case AV_CODEC_ID_VORBIS: {
        if (!c.vorbis) return -1;
        const int samples = av_vorbis_parse_frame(c.vorbis.get(), d, static_cast<int>(size));
        if (samples < 0) return -1;
        // The decoder's first block only primes its overlap.
        const bool first = !c.started;
        c.started = true;
        return first ? 0 : samples;
    }
    default: {
        const int64_t samples = PcmSamples(c.codec, c.channels, size);
        return samples > 0 ? samples : -1;
    }
    }
}

int64_t DecoderStartSkip(const AVCodecParameters& stream) {
    const uint8_t* d = stream.extradata;
    if (stream.codec_id != AV_CODEC_ID_OPUS || !d || stream.extradata_size < 19 ||
        std::string_view(reinterpret_cast<const char*>(d), 8) != "OpusHead")
        return 0;
    return d[10] | d[11] << 8;
}

}  // namespace av_common
