// What a sound packet's own frame header says: its rate (to see a stream
// change form where the container does not say so) and how many samples
// it decodes to (to count a stream whose container times cannot place
// samples without decoding it). Read from the bytes, never trusted beyond
// them: a header that does not fit the packet says nothing.
#pragma once

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavcodec/packet.h>
#include <libavcodec/vorbis_parser.h>
}

#include <cstdint>
#include <memory>

namespace av_common {

// The rate a frame header names, for the codecs whose frames each name one
// in whatever container carries them (raw, MPEG-TS, Matroska, AVI): the
// ADTS sampling index of AAC, FLAC's rate code (with the rate its header's
// tail may carry), MPEG audio's version and rate index, and LATM's
// StreamMuxConfig (its audio object type, rate and channels). -1 where the
// packet starts with no such header; kSameRateCode where it says it keeps
// the one before (LATM names its configuration only now and then).
constexpr int64_t kSameRateCode = -2;
int64_t HeaderRateCode(AVCodecID codec, const AVPacket& packet);

struct VorbisParseFree {
    void operator()(AVVorbisParseContext* c) const { av_vorbis_parse_free(&c); }
};

// What counting a stream's packets by their headers keeps between packets.
struct PacketCounter {
    AVCodecID codec = AV_CODEC_ID_NONE;
    int channels = 0;
    std::unique_ptr<AVVorbisParseContext, VorbisParseFree> vorbis;  // its modes' block sizes
    bool started = false;
};

// A counter for the stream's packets. False where no packet of its codec
// names its samples (its decoder must count them).
bool StartPacketCounter(const AVCodecParameters& stream, PacketCounter* out);

// The samples the next packet decodes to at the codec's own rate, read
// from its header (Opus's table of contents, Vorbis's mode, a FLAC or MPEG
// audio frame header, a PCM packet's bytes); -1 where the packet does not
// say (a header that does not fit, an MPEG audio packet of more than one
// frame).
int64_t PacketSamples(PacketCounter& c, const AVPacket& packet);

// The samples the decoder drops at the start of its own accord, where no
// packet says to: Opus's pre-skip from its stream header.
int64_t DecoderStartSkip(const AVCodecParameters& stream);

}  // namespace av_common
