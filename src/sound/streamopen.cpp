// The sound loader chain and the stream operations that dispatch on the
// stream's format.
#include <algorithm>
#include <cstring>
#include <new>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/loadertags.h"
#include "core/plugincaps.h"
#include "platform/platform.h"
#include "sound/channels.h"
#include "sound/customstream.h"
#include "sound/soundplugins.h"
#include "sound/stream.h"

namespace {

bool Is(const uint8_t* bytes, size_t at, const char* tag) { return std::memcmp(bytes + at, tag, 4) == 0; }

int Fail(int error, const char* name) {
    SetErrorDetail(name);
    return error;
}

// The inbuilt readers: true with the stream set up, false to fall through.
bool OpenInbuilt(const char* name, const char* adapterTag, qbSample& s, bool* unreadable) {
    s.file.reset(FileOpen(name, kFileModeRead | kFileModeAdapters, adapterTag));
    *unreadable = !s.file;
    if (!s.file) return false;
    uint8_t head[kSniffBytes] = {};
    const size_t got = FileRead(s.file.get(), head, sizeof head);
    bool ok = false;
    if (got >= 12 && Is(head, 0, "FORM") && Is(head, 8, "8SVX")) {
        s.format = kStreamIFF8SVX;
        ok = ParseIFFHeader(s, false);
    } else if (got >= 12 && Is(head, 0, "FORM") && Is(head, 8, "16SV")) {
        s.format = kStreamIFF16SV;
        ok = ParseIFFHeader(s, true);
    } else if (got >= 12 && Is(head, 0, "RIFF") && Is(head, 8, "WAVE")) {
        s.format = kStreamWAVE;
        ok = ParseWAVEHeader(s);
    } else if (got == kSniffBytes && Is(head, kModuleTagOffset, "M.K.")) {
        s.format = kStreamModule;
        s.canSeek = false;
        ok = true;
    }
    if (!ok) {
        s.file.reset();
        s.format = 0;
    }
    return ok;
}

// A plugin's description of its stream, checked as the inbuilt readers
// check a header: a stream the mixer cannot play is closed again and the
// next loader gets the file.
bool TakePluginInfo(const qbSoundStreamInfo& info, qbSample& s) {
    if (info.bits != 8 && info.bits != 16) return false;
    if (info.channels != 1 && info.channels != 2) return false;
    if (info.rate <= 0 || info.rate > kMaxInbuiltRate) return false;
    s.format = kStreamPlugin;
    s.rate = static_cast<int32_t>(info.rate);
    s.channels = static_cast<int32_t>(info.channels);
    s.bits = static_cast<int32_t>(info.bits);
    s.bytesPerFrame = (s.bits == 16 ? 2 : 1) * s.channels;
    s.frames = s.framesTotal = static_cast<uint32_t>(std::clamp<int64_t>(info.frames, 0, UINT32_MAX));
    s.dataSize = uint64_t{s.frames} * static_cast<uint64_t>(s.bytesPerFrame);
    s.flags = ((info.flags & QBSOUND_BIGENDIAN) ? uint32_t{kPCMBigEndian} : 0u) |
              ((info.flags & QBSOUND_SIGNED) ? uint32_t{kPCMSigned} : 0u);
    s.canSeek = (info.flags & QBSOUND_CANSEEK) != 0;
    s.subsongs = static_cast<int32_t>(std::clamp<int64_t>(info.subsongs, 1, INT32_MAX));
    return true;
}

bool OpenThroughPlugins(const char* name, const char* tag, int32_t subsong, qbSample& s) {
    ParseLoaderTag(tag, PLUGINCAPS_SOUND);
    for (qbAdapterNode* node = GetPluginList(PLUGINCAPS_SOUND); node; node = node->next) {
        const qbAdapterPlugin* plugin = node->plugin;
        if (!plugin || plugin->skipAsLoader || !AdapterCallable(plugin)) continue;
        const qbSoundLoaderSlots* slots = GetSoundLoaderSlots(plugin);
        if (!slots || !slots->OpenStream || !slots->StreamSamples) continue;
        if (!LoaderAllowedByTag(tag, plugin->name, 1)) continue;
        if (plugin->onlyWhenNamed && !LoaderNamedByTag(tag, plugin->name)) continue;
        qbSoundStreamInfo info{};
        info.subsongs = 1;
        info.subsong = subsong;
        void* handle = slots->OpenStream(name, &info);
        if (!handle) continue;
        if (!TakePluginInfo(info, s)) {
            if (slots->CloseStream) slots->CloseStream(handle);
            continue;
        }
        s.pluginStream = handle;
        s.plugin = plugin;
        s.pluginSlots = slots;
        return true;
    }
    return false;
}

uint32_t ReadPluginFrames(qbSample& s, void* buffer, uint32_t frames, bool* done) {
    int32_t finished = 0;
    const int64_t got = s.pluginSlots->StreamSamples(s.pluginStream, buffer, frames, &finished);
    *done = finished != 0;
    return static_cast<uint32_t>(std::clamp<int64_t>(got, 0, frames));
}

uint32_t ReadNativeFrames(qbSample& s, void* buffer, uint32_t frames, bool* done) {
    qbAudioPacketInfo info;
    const size_t bytes = size_t{frames} * static_cast<size_t>(s.bytesPerFrame);
    if (ReadNativeAudioPackets(s.native, buffer, bytes, &info) != 0) {
        *done = true;
        return 0;
    }
    *done = info.endOfStream != 0;
    return static_cast<uint32_t>(std::clamp<int64_t>(info.packets, 0, frames));
}

}  // namespace

qbSample::qbSample() = default;

qbSample::~qbSample() {
    if (native) CloseNativeAudioFile(native);
    if (pluginStream && pluginSlots && pluginSlots->CloseStream) pluginSlots->CloseStream(pluginStream);
}

int OpenSoundStream(const char* name, const char* loaderTag, const char* adapterTag, qbSamplePtr* out,
                    int32_t subsong) {
    out->reset();
    qbSamplePtr s(new (std::nothrow) qbSample);
    if (!s) return ERR_MEM;
    const char* tag = loaderTag ? loaderTag : "";
    bool opened = false;
    bool unreadable = false;
    opened = OpenThroughPlugins(name, tag, subsong, *s);
    if (!opened && LoaderAllowedByTag(tag, "inbuilt", 0)) opened = OpenInbuilt(name, adapterTag, *s, &unreadable);
    if (!opened && LoaderAllowedByTag(tag, "native", 0) && !IsNativeDecodingRefused()) {
        qbNativeAudioFile* native = nullptr;
        const int error = OpenNativeAudioFile(name, 0, &native);
        if (error == ERR_OPENSOUND2 && unreadable) return Fail(ERR_READFILE, name);
        if (error == ERR_OPENSOUND2 || error == ERR_READFILE) return Fail(error, name);
        if (error) return error;
        qbPCMFormat format;
        s->native = native;
        if (GetNativeStreamFormat(native, &format) != 0) return Fail(ERR_OPENSOUND2, name);
        s->format = kStreamNative;
        s->rate = format.rate;
        s->bits = format.bits;
        s->bytesPerFrame = format.bytesPerFrame;
        s->channels = format.channels;
        s->flags = format.flags;
        s->kbps = format.kbps;
        // With no buffer the decoder reports the whole length.
        qbAudioPacketInfo length;
        if (format.bytesPerFrame <= 0 || ReadNativeAudioPackets(native, nullptr, 0, &length) != 0)
            return Fail(ERR_AFILEPROP, name);
        s->frames = s->framesTotal = static_cast<uint32_t>(std::clamp<int64_t>(length.packets, 0, UINT32_MAX));
        s->dataSize = uint64_t{s->frames} * static_cast<uint64_t>(format.bytesPerFrame);
        opened = true;
    }
    if (!opened) return Fail(unreadable ? ERR_READFILE : ERR_OPENSOUND2, name);
    s->outBytesPerFrame = s->bytesPerFrame;
    s->pcmCode = PCMCodeOf(s->bits, s->channels, s->flags);
    *out = std::move(s);
    return 0;
}

uint32_t ReadSoundFrames(qbSample& s, void* buffer, uint32_t frames, bool* ended) {
    uint32_t got = 0;
    bool done = false;
    switch (s.format) {
        case kStreamIFF8SVX:
        case kStreamIFF16SV:
        case kStreamWAVE: got = ReadInbuiltFrames(s, buffer, frames); break;
        case kStreamPlugin: got = ReadPluginFrames(s, buffer, frames, &done); break;
        case kStreamNative: got = ReadNativeFrames(s, buffer, frames, &done); break;
        case kStreamCustom: got = ReadCustomFrames(s, buffer, frames, &done); break;
        default: break;
    }
    s.position += got;
    s.lastFrames = got;
    s.lastBytes = uint64_t{got} * static_cast<uint64_t>(std::max(s.bytesPerFrame, 0));
    if (ended) *ended = done || got < frames;
    return got;
}

void SeekSoundStream(qbSample& s, uint32_t frame) {
    switch (s.format) {
        case kStreamIFF8SVX:
        case kStreamIFF16SV:
        case kStreamWAVE:
            if (frame < s.frames) s.position = frame;
            break;
        case kStreamPlugin:
            if ((s.canSeek || frame == 0) && s.pluginSlots->SeekStream &&
                s.pluginSlots->SeekStream(s.pluginStream, frame) != 0)
                s.position = frame;
            break;
        case kStreamNative:
            if (frame < s.frames && LimitPacketPosition(s.native, frame) == frame) s.position = frame;
            break;
        default: break;
    }
    if (s.rate > 0) {
        s.seconds = frame / static_cast<uint32_t>(s.rate);
        s.micros = static_cast<int64_t>(uint64_t{frame % static_cast<uint32_t>(s.rate)} * 1000000 /
                                        static_cast<uint64_t>(s.rate));
    }
    s.pauseOffset = 0;
}

int IsSoundSample(const char* name, const char* loaderTag, const char* adapterTag) {
    qbSamplePtr s;
    if (OpenSoundStream(name, loaderTag, adapterTag, &s) != 0) return 0;
    return s->dataSize > 0 && s->bytesPerFrame > 0 && s->bits > 0 ? 1 : 0;
}

const char* SoundLoaderName(const qbSample& s) {
    switch (s.format) {
        case kStreamNative: return "native";
        case kStreamPlugin: return s.plugin ? s.plugin->name : "";
        default: return "inbuilt";
    }
}

const char* SoundFormatName(const qbSample& s) {
    switch (s.format) {
        case kStreamIFF8SVX: return "IFF 8SVX";
        case kStreamIFF16SV: return "IFF 16SV";
        case kStreamWAVE: return "RIFF WAVE";
        case kStreamNative: return GetNativeAudioFormatName(s.native);
        case kStreamPlugin: {
            const char* name = s.pluginSlots->GetFormatName ? s.pluginSlots->GetFormatName(s.pluginStream) : nullptr;
            return name ? name : "Unknown";
        }
        case kStreamCustom: return "Custom stream";
        case kStreamModule: return "Protracker";
        default: return "Unknown";
    }
}
