// The platform sound decoder on FFmpeg. The file is read through the file
// layer by an AVIOContext, so applet chunks, ":::memory" names and adapter
// files decode with no temporary copy; none of the demuxers may open
// further files. The output is 16-bit signed native-order PCM, more than
// two channels downmixed to stereo by libswresample.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/errcodes.h"
#include "core/file.h"
#include "platform/linux/avdecoder.h"
#include "platform/linux/avfields.h"
#include "platform/linux/avresample.h"
#include "platform/linux/mpegbitrate.h"
#include "platform/linux/nativesound.h"
#include "platform/linux/soundframes.h"

namespace {

constexpr int kIOBufferBytes = 64 * 1024;
constexpr size_t kNameBytes = 65;
// Frames decoded and dropped before a frame sought back to: enough for
// every decoder state to be that of a decode from the start (MP3's bit
// reservoir and overlap, Vorbis's and AAC's previous block).
constexpr int64_t kSeekPreroll = 16384;
// Lengths are 32-bit frame counts; a placement far beyond is damage.
constexpr int64_t kMaxPlacement = int64_t{1} << 40;

using av_common::FormatClose;
using av_common::FrameFree;
using av_common::IOFree;
using av_common::PacketFree;

// The demuxer, decoder and converter over the file. A seek back moves the
// demuxer and flushes the decoder; where the frames after it could not be
// placed exactly, a new pass from the start is made instead.
struct Pass {
    // The format context refers to the I/O context: it goes first.
    std::unique_ptr<AVIOContext, IOFree> io;
    std::unique_ptr<AVFormatContext, FormatClose> format;
    av_common::StreamDecoder codec;
    av_common::SampleConverter samples;
    std::unique_ptr<AVFrame, FrameFree> frame;
    std::unique_ptr<AVPacket, PacketFree> packet;
    int stream = -1;
    std::vector<int16_t> pending;  // converted samples not yet handed out
    bool holding = false;          // frame holds samples not yet converted
    int frameDone = 0;             // frame's samples converted
    bool damaged = false;          // a frame could not be converted (its rate)
    size_t pendingAt = 0;
    int64_t pendingFrame = 0;  // the frame of pending's first sample
    int64_t nextFrame = 0;     // the frame the decoder's next output starts at
    bool placeByTime = false;  // after a seek: the next output's time places it
    bool lost = false;         // the first output after a seek could not be placed
    bool flushed = false;  // the decoder was told the input ended
    bool drained = false;  // and has given everything

    Pass() = default;
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;
    ~Pass() {
        // The format context must not outlive its I/O context's buffer.
        format.reset();
    }
};

using av_common::SilenceLog;

}  // namespace

struct qbNativeAudioFile {
    qbFilePtr file;
    std::unique_ptr<Pass> pass;
    int channels = 0;
    int rate = 0;
    int64_t frames = 0;    // the length: what reading to the end delivers
    int64_t position = 0;  // frames handed out since the start
    uint32_t kbps = 0;     // MPEG audio's bitrate, else 0
    // The time of frame 0 in the stream's time base, taken from the first
    // output of the pass from the start: seeks back are placed by it.
    int64_t origin = AV_NOPTS_VALUE;
    char name[kNameBytes] = {};
};

namespace linux_sound {

namespace {

// The demuxer and decoder over the file from its start.
int StartPass(qbNativeAudioFile& f) {
    if (FileSeek(f.file.get(), 0, kSeekBeginning) < 0) return ERR_SEEKFILE;
    auto pass = std::make_unique<Pass>();
    av_common::FileInput input;
    const int opened = av_common::OpenFileInput(f.file.get(), kIOBufferBytes, &input);
    // The format context goes before the I/O context it reads through.
    pass->io = std::move(input.io);
    pass->format = std::move(input.format);
    if (opened == AVERROR(ENOMEM)) return ERR_MEM;
    if (opened < 0) return ERR_OPENSOUND2;
    AVFormatContext* format = pass->format.get();
    const AVCodec* decoder = nullptr;
    pass->stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (pass->stream < 0 || !decoder) return ERR_OPENSOUND2;
    const AVStream* stream = format->streams[pass->stream];
    pass->frame.reset(av_frame_alloc());
    pass->packet.reset(av_packet_alloc());
    if (!pass->frame || !pass->packet) return ERR_MEM;
    if (int err = av_common::OpenStreamDecoder(pass->codec, stream, decoder, -1); err < 0)
        return err == AVERROR(ENOMEM) ? ERR_MEM : ERR_OPENSOUND2;
    f.pass = std::move(pass);
    return 0;
}

// The next piece of the frame's samples (null: what the converter holds at
// the end) into pass.pending, converted.
int Convert(qbNativeAudioFile& f, Pass& p, const AVFrame* frame) {
    p.pending.clear();
    p.pendingAt = 0;
    const int err = frame ? av_common::ConvertSamples(p.samples, *frame, &p.frameDone, f.channels, f.rate, p.pending)
                          : av_common::DrainSamples(p.samples, f.channels, p.pending);
    const auto made = static_cast<int64_t>(p.pending.size() / static_cast<size_t>(f.channels));
    p.pendingFrame = p.nextFrame;
    p.nextFrame += made;
    if (err == AVERROR(ENOMEM)) return ERR_MEM;
    if (err == AVERROR_INVALIDDATA) p.damaged = true;
    return err < 0 ? ERR_OPENSOUND2 : 0;
}

// Where the decoder's output goes: on from the last output, but the first
// output after a seek is placed by its time. The first output of the pass
// from the start fixes the time of frame 0.
void Place(qbNativeAudioFile& f, Pass& p, const AVFrame* frame) {
    const int64_t time = frame->best_effort_timestamp;
    if (p.nextFrame == 0 && !p.placeByTime && f.origin == AV_NOPTS_VALUE) f.origin = time;
    if (!p.placeByTime) return;
    p.placeByTime = false;
    int64_t since = 0;
    if (time == AV_NOPTS_VALUE || f.origin == AV_NOPTS_VALUE || __builtin_sub_overflow(time, f.origin, &since)) {
        p.lost = true;
        return;
    }
    const AVRational base = p.format->streams[p.stream]->time_base;
    p.nextFrame = av_rescale_q(since, base, AVRational{1, f.rate});
    // A damaged time could place it anywhere; no sound is this long.
    if (p.nextFrame < -kMaxPlacement || p.nextFrame > kMaxPlacement) p.lost = true;
}

// Decodes until some samples are pending or the decoder has given all.
void DecodeMore(qbNativeAudioFile& f) {
    Pass& p = *f.pass;
    while (!p.drained) {
        if (p.holding) {
            // A piece of the frame at a time: what is pending stays bounded
            // however long the frame and however far its rate is converted.
            const int converted = Convert(f, p, p.frame.get());
            if (converted != 0 || p.frameDone >= p.frame->nb_samples) {
                p.holding = false;
                av_frame_unref(p.frame.get());
            }
            if (converted != 0) p.drained = true;
            if (!p.pending.empty()) return;
            continue;
        }
        const int received = av_common::ReceiveFromDecoder(p.codec, p.frame.get());
        if (received == 0) {
            Place(f, p, p.frame.get());
            p.holding = true;
            p.frameDone = 0;
            continue;
        }
        if (p.flushed) {
            // The end: the converter gives what its filter held back.
            p.drained = true;
            Convert(f, p, nullptr);
            return;
        }
        // A frame the decoder could not make is damage, as a refused packet.
        if (received != AVERROR(EAGAIN) && received != AVERROR_EOF) continue;
        if (av_read_frame(p.format.get(), p.packet.get()) < 0) {
            p.flushed = true;
            av_common::SendToDecoder(p.codec, nullptr);
            continue;
        }
        // A packet the decoder refuses is damage: the rest still plays.
        if (p.packet->stream_index == p.stream) av_common::SendToDecoder(p.codec, p.packet.get());
        av_packet_unref(p.packet.get());
    }
}

// Up to count frames into out (or dropped with no out); the frames given.
int64_t TakeFrames(qbNativeAudioFile& f, int16_t* out, int64_t count) {
    Pass& p = *f.pass;
    int64_t got = 0;
    const auto channels = static_cast<size_t>(f.channels);
    while (got < count) {
        if (p.pendingAt >= p.pending.size()) {
            DecodeMore(f);
            if (p.pendingAt >= p.pending.size()) break;
        }
        const auto have = static_cast<int64_t>((p.pending.size() - p.pendingAt) / channels);
        const int64_t n = std::min(have, count - got);
        const size_t samples = static_cast<size_t>(n) * channels;
        if (out) std::memcpy(out + static_cast<size_t>(got) * channels, p.pending.data() + p.pendingAt, samples * 2);
        p.pendingAt += samples;
        got += n;
    }
    return got;
}

// Whether the packet shows the stream changing form after its first
// packet, so that the packets' durations (and Ogg's granules) no longer
// count its frames: a chained stream's new metadata or parameters, a frame
// header naming another rate, or a time that goes back, where a chained
// Ogg link (of any codec: Vorbis, Opus, FLAC...) starts its granules again.
bool ChangesForm(AVCodecID codec, const AVPacket& packet, bool first, int64_t* rateCode, int64_t* lastTime) {
    const int64_t code = av_common::HeaderRateCode(codec, packet);
    const int64_t time = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    const bool back = time != AV_NOPTS_VALUE && *lastTime != AV_NOPTS_VALUE && time < *lastTime;
    if (time != AV_NOPTS_VALUE) *lastTime = time;
    if (first) {
        *rateCode = code;
        return false;
    }
    const bool otherRate = code != av_common::kSameRateCode && code != *rateCode;
    if (code != av_common::kSameRateCode) *rateCode = code;
    return back || otherRate || av_packet_get_side_data(&packet, AV_PKT_DATA_METADATA_UPDATE, nullptr) ||
           av_packet_get_side_data(&packet, AV_PKT_DATA_NEW_EXTRADATA, nullptr) ||
           av_packet_get_side_data(&packet, AV_PKT_DATA_PARAM_CHANGE, nullptr);
}

// The length by a demux-only pass: the audio packets' durations (or, with
// byHeaders, the samples each packet's own header names) less the samples
// the stream asks the decoder to skip at its start and drop at its end. -1
// where a packet shows the stream changing form (ChangesForm): the decoder
// follows the change, the durations do not; and, by headers, where a
// packet names no samples.
int64_t CountFrames(qbNativeAudioFile& f, bool byHeaders) {
    Pass& p = *f.pass;
    const AVStream* stream = p.format->streams[p.stream];
    const AVRational base = stream->time_base;
    const AVCodecID codec = stream->codecpar->codec_id;
    av_common::PacketCounter counter;
    if (byHeaders && !av_common::StartPacketCounter(*stream->codecpar, &counter)) return -1;
    int64_t duration = 0, samples = 0, trimmed = 0, first = -1, rateCode = -1, lastTime = AV_NOPTS_VALUE;
    bool skipsAtStart = false;
    while (av_read_frame(p.format.get(), p.packet.get()) >= 0) {
        if (p.packet->stream_index == p.stream) {
            const int64_t named = byHeaders ? av_common::PacketSamples(counter, *p.packet) : 0;
            if (named < 0 || ChangesForm(codec, *p.packet, first < 0, &rateCode, &lastTime)) {
                av_packet_unref(p.packet.get());
                return -1;
            }
            samples += named;
            size_t size = 0;
            const uint8_t* skip = av_packet_get_side_data(p.packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
            if (skip && size >= 8) trimmed += int64_t{AV_RL32(skip)} + int64_t{AV_RL32(skip + 4)};
            if (first < 0) {
                first = std::max<int64_t>(p.packet->duration, 0);
                skipsAtStart = skip && size >= 8 && AV_RL32(skip) > 0;
            }
            if (p.packet->duration > 0) duration += p.packet->duration;
        }
        av_packet_unref(p.packet.get());
    }
    // A decoder told nothing at the start drops what its stream header says.
    if (byHeaders && !skipsAtStart) trimmed += av_common::DecoderStartSkip(*stream->codecpar);
    if (byHeaders) return std::clamp<int64_t>(samples - trimmed, 0, UINT32_MAX);
    int64_t packets = av_rescale_q(duration, base, AVRational{1, f.rate});
    // Ogg's granule positions count the decoded samples themselves, but a
    // sound on one page starts its times at 0 and claims one packet too
    // many: the packets bound it, less the first, which a Vorbis decoder
    // only primes on (so a damaged granule cannot claim hours either).
    if (std::strcmp(p.format->iformat->name, "ogg") == 0 && stream->duration > 0) {
        if (stream->codecpar->codec_id == AV_CODEC_ID_VORBIS && first > 0 && first < duration)
            packets -= av_rescale_q(first, base, AVRational{1, f.rate});
        return std::clamp<int64_t>(av_rescale_q(stream->duration, base, AVRational{1, f.rate}), 0,
                                   std::min<int64_t>(packets, UINT32_MAX));
    }
    return std::clamp<int64_t>(packets - trimmed, 0, UINT32_MAX);
}

// Whether the packets' times can place every sample: a time base coarser
// than one sample (Matroska's milliseconds, one tick per packet) rounds
// each packet's duration, and some demuxers give none.
bool TimesPlaceSamples(const qbNativeAudioFile& f) {
    const AVRational base = f.pass->format->streams[f.pass->stream]->time_base;
    return base.num > 0 && base.den > 0 && int64_t{base.num} * f.rate <= int64_t{base.den};
}

// The length by decoding the whole stream: what reading to the end delivers.
int64_t DecodedFrames(qbNativeAudioFile& f) { return TakeFrames(f, nullptr, UINT32_MAX); }

// Moves the demuxer back to before frame and decodes up to it, so that
// the next output is frame's. False where the output could not be placed
// exactly (a format not known to allow it, a demuxer that cannot seek or
// lands after the preroll, outputs without times): the caller then starts
// again from the start.
bool SeekBack(qbNativeAudioFile& f, int64_t frame) {
    if (!f.pass || f.origin == AV_NOPTS_VALUE) return false;
    Pass& p = *f.pass;
    // Where the frames after a seek are known to be those of the full
    // decode. AAC in MP4, for one, comes back a step off here and there,
    // and sought to its start it does not drop its priming again.
    struct Exact {
        const char* demuxer;
        AVCodecID codec;
    };
    static const Exact kExact[] = {
        {"mp3", AV_CODEC_ID_MP3}, {"ogg", AV_CODEC_ID_VORBIS}, {"flac", AV_CODEC_ID_FLAC}};
    const AVCodecID codec = p.format->streams[p.stream]->codecpar->codec_id;
    if (std::none_of(std::begin(kExact), std::end(kExact), [&](const Exact& e) {
            return e.codec == codec && std::strcmp(p.format->iformat->name, e.demuxer) == 0;
        }))
        return false;
    const AVRational base = p.format->streams[p.stream]->time_base;
    const int64_t from = std::max<int64_t>(frame - kSeekPreroll, 0);
    int64_t time = 0;
    if (__builtin_add_overflow(f.origin, av_rescale_q(from, AVRational{1, f.rate}, base), &time)) return false;
    if (av_seek_frame(p.format.get(), p.stream, time, AVSEEK_FLAG_BACKWARD) < 0) return false;
    av_common::FlushDecoder(p.codec);
    av_common::ResetSamples(p.samples);
    p.pending.clear();
    p.pendingAt = 0;
    if (p.holding) av_frame_unref(p.frame.get());
    p.holding = false;
    p.flushed = p.drained = p.lost = false;
    p.placeByTime = true;
    DecodeMore(f);
    // The decoder settles over the preroll (or starts as at the start): a
    // demuxer that landed later would leave it unsettled.
    if (p.lost || p.pending.empty() || p.pendingFrame > from) return false;
    while (p.pendingFrame + static_cast<int64_t>(p.pending.size()) / f.channels <= frame) {
        p.pending.clear();
        DecodeMore(f);
        if (p.pending.empty()) return false;
    }
    p.pendingAt = static_cast<size_t>(frame - p.pendingFrame) * static_cast<size_t>(f.channels);
    f.position = frame;
    return true;
}

const char* NameOf(const AVInputFormat* format, bool aifc) {
    struct Known {
        const char* demuxer;
        const char* name;
    };
    static const Known kKnown[] = {
        {"wav", "RIFF WAVE"},     {"mp3", "MPEG Audio"}, {"ac3", "AC-3"},
        {"aac", "AAC ADTS"},      {"caf", "Core Audio"}, {"au", "NeXT"},
        {"mov,mp4,m4a,3gp,3g2,mj2", "MPEG Audio"},
    };
    if (std::strcmp(format->name, "aiff") == 0) return aifc ? "AIFC" : "AIFF";
    for (const Known& k : kKnown)
        if (std::strcmp(format->name, k.demuxer) == 0) return k.name;
    return format->long_name ? format->long_name : format->name;
}

size_t ReadAt(void* file, int64_t offset, void* buffer, size_t count) {
    auto* f = static_cast<qbFile*>(file);
    return FileSeek(f, offset, kSeekBeginning) < 0 ? 0 : FileRead(f, buffer, count);
}

int Open(const char* name, qbNativeAudioFile& f) {
    f.file.reset(FileOpen(name, kFileModeRead | kFileModeAdapters, nullptr));
    if (!f.file) return ERR_READFILE;
    if (IsFileNoSeek(f.file.get())) return ERR_SEEKFILE;
    if (GetFileSize(f.file.get()) < 0) return ERR_FILESIZE;
    uint8_t head[12] = {};
    const bool aifc = FileRead(f.file.get(), head, sizeof head) == sizeof head && std::memcmp(head, "FORM", 4) == 0 &&
                      std::memcmp(head + 8, "AIFC", 4) == 0;
    if (const int error = StartPass(f)) return error;
    const AVCodecParameters* par = f.pass->format->streams[f.pass->stream]->codecpar;
    if (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0) return ERR_AFILEPROP;
    f.rate = par->sample_rate;
    f.channels = par->ch_layout.nb_channels == 1 ? 1 : 2;
    std::snprintf(f.name, sizeof f.name, "%s", NameOf(f.pass->format->iformat, aifc));
    // A new pass frees the parameters of the one before.
    const AVCodecID codec = par->codec_id;
    // Where the packets' times cannot place samples, their headers may
    // count them without a decode (an hour of Opus in Matroska decodes in
    // seconds, its headers read in a tenth of one).
    f.frames = CountFrames(f, !TimesPlaceSamples(f));
    if (f.frames < 0) {
        if (const int error = StartPass(f)) return error;
        f.frames = DecodedFrames(f);
    }
    // A frame at a rate no sound has (a damaged header) ends no sound
    // quietly: the file is refused.
    if (f.pass->damaged) return ERR_OPENSOUND2;
    if (codec == AV_CODEC_ID_MP1 || codec == AV_CODEC_ID_MP2 || codec == AV_CODEC_ID_MP3) {
        const MPEGBitrate bitrate = AnalyseMPEGBitrate(&ReadAt, f.file.get());
        f.kbps = AverageBitrate(bitrate, GetFileSize(f.file.get()), f.frames, f.rate);
    }
    return StartPass(f);
}

}  // namespace

int OpenNativeAudioFile(const char* name, uint32_t, qbNativeAudioFile** out) {
    if (!out) return ERR_OPENSOUND2;
    *out = nullptr;
    if (!name) return ERR_READFILE;
    SilenceLog();
    auto f = std::unique_ptr<qbNativeAudioFile>(new (std::nothrow) qbNativeAudioFile);
    if (!f) return ERR_MEM;
    if (const int error = Open(name, *f)) return error;
    *out = f.release();
    return 0;
}

int ReadNativeAudioPackets(qbNativeAudioFile* f, void* buffer, size_t size, qbAudioPacketInfo* info) {
    qbAudioPacketInfo result{};
    if (!f) {
        if (info) *info = result;
        return ERR_OPENSOUND2;
    }
    const int64_t bytesPerFrame = 2 * f->channels;
    if (!buffer) {
        result.packets = f->frames;
        result.bytes = f->frames * bytesPerFrame;
        if (info) *info = result;
        return 0;
    }
    const auto asked = static_cast<int64_t>(size / static_cast<size_t>(bytesPerFrame));
    const int64_t remain = f->frames - f->position;
    const int64_t n = std::min(asked, remain);
    auto* out = static_cast<int16_t*>(buffer);
    const int64_t got = f->pass ? TakeFrames(*f, out, n) : 0;
    // A decoder that ends short of the counted length ends in silence, so
    // the length always holds.
    std::fill(out + got * f->channels, out + n * f->channels, int16_t{0});
    f->position += n;
    result.packets = n;
    result.bytes = n * bytesPerFrame;
    result.endOfStream = asked > remain ? 1 : 0;
    if (info) *info = result;
    return 0;
}

void CloseNativeAudioFile(qbNativeAudioFile* f) { delete f; }

int SetDecoderPacketBuffer(qbNativeAudioFile*, int) { return 0; }

int64_t LimitPacketPosition(qbNativeAudioFile* f, int64_t frame) {
    if (!f || frame < 0 || frame >= f->frames) return -1;
    if (frame < f->position && !SeekBack(*f, frame)) {
        if (StartPass(*f) != 0) {
            f->pass.reset();
            return -1;
        }
        f->position = 0;
    }
    if (!f->pass) return -1;
    // Frames the decoder does not have count as the silence a read gives.
    TakeFrames(*f, nullptr, frame - f->position);
    f->position = frame;
    return frame;
}

int GetNativeStreamFormat(qbNativeAudioFile* f, qbPCMFormat* out) {
    if (!f || !out) return ERR_AFILEPROP;
    *out = qbPCMFormat{f->rate, 16, 2 * f->channels, f->channels, kPCMSigned, f->kbps};
    return 0;
}

const char* GetNativeAudioFormatName(qbNativeAudioFile* f) {
    static char name[kNameBytes];
    std::snprintf(name, sizeof name, "%s", f ? f->name : "");
    return name;
}

}  // namespace linux_sound
