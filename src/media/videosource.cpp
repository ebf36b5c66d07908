#include "media/videosource.h"

#include <algorithm>
#include <climits>
#include <map>
#include <new>
#include <vector>

#include "core/errcodes.h"
#include "core/loadertags.h"
#include "core/pluginadapters.h"
#include "core/plugincaps.h"
#include "media/cdxl.h"

namespace {

std::map<const qbAdapterPlugin*, const qbVideoPluginSlots*>& PluginSlots() {
    static std::map<const qbAdapterPlugin*, const qbVideoPluginSlots*> slots;
    return slots;
}

qbCDXLReader* Reader(void* handle) { return static_cast<qbCDXLReader*>(handle); }

void CDXLClose(void* handle) { CloseCDXL(Reader(handle)); }

int32_t CDXLNext(void* handle, qbVideoPacket* out) {
    qbCDXLPacketPtr packet;
    const int32_t result = CDXLNextPacket(Reader(handle), &packet);
    if (result != 0) return result;
    out->isAudio = packet->kind == kCDXLPacketAudio;
    out->size = static_cast<int32_t>(std::min<size_t>(packet->allocSize, INT32_MAX));
    out->pts = packet->pts;
    out->packet = packet.release();
    return 0;
}

void CDXLFree(void*, void* packet) { CDXLFreePacket(qbCDXLPacketPtr(static_cast<qbCDXLPacket*>(packet))); }

int32_t CDXLVideo(void* handle, void* packet, qbVideoFrame* frame) {
    const auto* p = static_cast<const qbCDXLPacket*>(packet);
    if (p->kind != kCDXLPacketVideo) return 0;
    return CDXLDecodeVideoFrame(Reader(handle), *p, frame->rgb, &frame->pts) ? 1 : -1;
}

int32_t CDXLAudio(void*, void* packet, void* out, int32_t capacity, int32_t* finished) {
    const auto* p = static_cast<const qbCDXLPacket*>(packet);
    *finished = 1;
    std::vector<int16_t> samples;
    const size_t bytes = CDXLDecodeAudioFrame(*p, &samples);
    if (bytes > static_cast<size_t>(capacity)) return -1;
    std::copy(samples.begin(), samples.end(), static_cast<int16_t*>(out));
    return static_cast<int32_t>(bytes);
}

int32_t CDXLSeekTo(void* handle, int64_t target) {
    CDXLSeek(Reader(handle), static_cast<uint32_t>(std::clamp<int64_t>(target, 0, UINT32_MAX)));
    return 0;
}

void NoFlush(void*) {}

const qbVideoSourceOps kCDXLOps{CDXLClose, CDXLNext, CDXLFree, CDXLVideo, CDXLAudio, CDXLSeekTo, NoFlush, NoFlush};

// A plugin that could be called only through the marshalling stub serves nothing.
const qbVideoPluginSlots* CallableVideoPlugin(const qbPlugin* plugin) {
    if (!plugin || plugin->skipAsLoader || !AdapterCallable(plugin)) return nullptr;
    const qbVideoPluginSlots* slots = GetVideoPluginSlots(plugin);
    if (!slots || !slots->open || !slots->ops.close || !slots->ops.nextPacket || !slots->ops.freePacket ||
        !slots->ops.decodeVideoFrame)
        return nullptr;
    return slots;
}

void ClearInfo(qbVideoStreamInfo* info) {
    *info = qbVideoStreamInfo{};
    info->fileSize = kVideoFileSizeNotGiven;
}

}  // namespace

qbVideoSource::~qbVideoSource() {
    if (handle && ops && ops->close) ops->close(handle);
}

void SetVideoPluginSlots(const qbAdapterPlugin* plugin, const qbVideoPluginSlots* slots) {
    if (slots)
        PluginSlots()[plugin] = slots;
    else
        PluginSlots().erase(plugin);
}

const qbVideoPluginSlots* GetVideoPluginSlots(const qbAdapterPlugin* plugin) {
    const auto found = PluginSlots().find(plugin);
    return found == PluginSlots().end() ? nullptr : found->second;
}

const qbVideoSourceOps& CDXLSourceOps() { return kCDXLOps; }

qbVideoSourcePtr OpenVideoSource(const char* name, const char* loaderTag, const char* adapterTag,
                                 qbVideoStreamInfo* info) {
    const char* tag = loaderTag ? loaderTag : "";
    qbVideoSourcePtr source(new (std::nothrow) qbVideoSource);
    if (!source || !name) return nullptr;
    ParseLoaderTag(tag, PLUGINCAPS_VIDEO);
    for (qbAdapterNode* node = GetPluginList(PLUGINCAPS_VIDEO); node; node = node->next) {
        qbPlugin* plugin = node->plugin;
        const qbVideoPluginSlots* slots = CallableVideoPlugin(plugin);
        if (!slots || !LoaderAllowedByTag(tag, plugin->name, 1)) continue;
        if (plugin->onlyWhenNamed && !LoaderNamedByTag(tag, plugin->name)) continue;
        ClearInfo(info);
        void* handle = slots->open(name, info, adapterTag);
        if (!handle) continue;
        source->plugin = plugin;
        source->handle = handle;
        source->kind = kVideoSourcePlugin;
        source->ops = &slots->ops;
        return source;
    }
    if (LoaderAllowedByTag(tag, "inbuilt", 0)) {
        ClearInfo(info);
        if (qbCDXLReader* reader = OpenCDXLFile(FileOpen(name, kFileModeRead | kFileModeAdapters, adapterTag), info)) {
            source->handle = reader;
            source->kind = kVideoSourceCDXL;
            source->ops = &kCDXLOps;
            return source;
        }
    }
    return nullptr;
}

int64_t VideoSourceFrameCount(const qbVideoSource* source) {
    if (!source || source->kind != kVideoSourceCDXL || !source->handle) return -1;
    return Reader(source->handle)->frameCount;
}

int SeekVideoSource(const qbVideoSource* source, int64_t target) {
    const qbVideoSourceOps* ops = source->ops;
    if (!ops->seek || ops->seek(source->handle, target) != 0) return ERR_SEEKRANGE;
    if (ops->flushAudio) ops->flushAudio(source->handle);
    if (ops->flushVideo) ops->flushVideo(source->handle);
    return 0;
}
