#include "media/animfile.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/loadertags.h"
#include "core/plugincaps.h"
#include "imaging/gif.h"
#include "media/animplugins.h"
#include "media/avireader.h"

namespace {

constexpr size_t kProbeBytes = 12;

int FailWithName(int code, const char* name) {
    SetErrorDetail(name ? name : "");
    return code;
}

// A marshalled plugin can't be called on this platform: it serves nothing.
const qbAnimLoaderSlots* CallableAnimLoader(const qbPlugin* plugin) {
    if (!plugin || plugin->skipAsLoader || !AdapterCallable(plugin)) return nullptr;
    const qbAnimLoaderSlots* slots = GetAnimLoaderSlots(plugin);
    if (!slots || !slots->OpenAnim || !slots->LoadFrame || !slots->CloseAnim) return nullptr;
    return slots;
}

struct Opened {
    void* reader = nullptr;
    uint32_t format = 0;
    int32_t width = 0, height = 0, frames = 0, transparency = 0;
    qbPlugin* plugin = nullptr;
};

bool OpenThroughPlugins(const char* name, const char* tag, uint32_t openFlags, bool loadTransparency, Opened* o) {
    ParseLoaderTag(tag, PLUGINCAPS_ANIM);
    for (qbAdapterNode* node = GetPluginList(PLUGINCAPS_ANIM); node; node = node->next) {
        qbPlugin* plugin = node->plugin;
        const qbAnimLoaderSlots* slots = CallableAnimLoader(plugin);
        if (!slots || !LoaderAllowedByTag(tag, plugin->name, 1)) continue;
        if (plugin->onlyWhenNamed && !LoaderNamedByTag(tag, plugin->name)) continue;
        qbAnimOpenRequest request;
        request.openFlags = openFlags;
        if (loadTransparency) request.flags |= kAnimRequestTransparency;
        void* anim = slots->OpenAnim(name, &request);
        if (!anim) continue;
        o->reader = anim;
        o->format = kAnimFormatPlugin;
        o->plugin = plugin;
        o->width = request.width;
        o->height = request.height;
        o->frames = request.frameCount;
        o->transparency = request.transparency;
        return true;
    }
    return false;
}

// The inbuilt readers, chosen by the first 12 bytes. 0 with o->reader set
// or not, or ERR_READFILE, ERR_SEEKFILE, ERR_READ.
int OpenInbuilt(const char* name, const char* adapterTag, int32_t deinterlace, bool loadTransparency, Opened* o) {
    qbFilePtr file(FileOpen(name, kAnimOpenMode, adapterTag));
    if (!file) return FailWithName(ERR_READFILE, name);
    if (IsFileNoSeek(file.get())) return ERR_SEEKFILE;
    uint8_t head[kProbeBytes];
    if (FileRead(file.get(), head, kProbeBytes) != kProbeBytes) return ERR_READ;
    uint32_t format = 0;
    if (std::memcmp(head, "FORM", 4) == 0 && std::memcmp(head + 8, "ANIM", 4) == 0)
        format = kAnimFormatIFF;
    else if (std::memcmp(head, "GIF87", 5) == 0 || std::memcmp(head, "GIF89", 5) == 0)
        format = kAnimFormatGIF;
    else if (std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0)
        format = kAnimFormatAVI;
    if (format == 0 || FileSeek(file.get(), 0, kSeekBeginning) < 0) return 0;
    switch (format) {
    case kAnimFormatIFF:
        o->reader = OpenIFFAnim(file.release(), deinterlace, &o->width, &o->height, &o->frames, loadTransparency);
        break;
    case kAnimFormatGIF:
        o->reader = OpenGIFReader(file.release(), &o->width, &o->height, &o->frames, false, false, loadTransparency);
        break;
    default: o->reader = OpenAVIReader(file.release(), &o->width, &o->height, &o->frames); break;
    }
    if (o->reader) o->format = format;
    return 0;
}

void CloseReader(uint32_t format, void* reader, qbPlugin* plugin) {
    if (!reader) return;
    switch (format) {
    case kAnimFormatIFF: CloseIFFAnim(static_cast<qbIFFAnimReader*>(reader)); break;
    case kAnimFormatGIF: CloseGIFReader(static_cast<qbGIFReader*>(reader)); break;
    case kAnimFormatAVI: CloseAVIReader(static_cast<qbAVIReader*>(reader)); break;
    case kAnimFormatPlugin:
        if (const qbAnimLoaderSlots* slots = GetAnimLoaderSlots(plugin)) slots->CloseAnim(reader);
        break;
    default: break;
    }
}

}  // namespace

int OpenAnimFile(const char* fileName, const char* loaderTag, const char* adapterTag, uint32_t openFlags, int32_t deinterlace,
                 bool loadTransparency, qbAnimFile** out, int32_t* width, int32_t* height, int32_t* frameCount,
                 int32_t* transparency, qbPlugin** plugin) {
    if (transparency) *transparency = 0;
    if (out) *out = nullptr;
    if (!fileName || !out) return ERR_MEM;
    Opened o;
    if (!OpenThroughPlugins(fileName, loaderTag, openFlags, loadTransparency, &o) &&
        LoaderAllowedByTag(loaderTag, "inbuilt", 0)) {
        if (int err = OpenInbuilt(fileName, adapterTag, deinterlace, loadTransparency, &o)) return err;
    }
    // The platform has no anim decoder of its own: "native" opens nothing.
    if (!o.reader) return FailWithName(ERR_OPENANIM2, fileName);
    auto* anim = new (std::nothrow) qbAnimFile;
    if (!anim) {
        CloseReader(o.format, o.reader, o.plugin);
        return ERR_MEM;
    }
    anim->reader = o.reader;
    anim->format = o.format;
    anim->loadTransparency = loadTransparency ? 1 : 0;
    anim->plugin = o.plugin;
    *out = anim;
    if (width) *width = o.width;
    if (height) *height = o.height;
    if (frameCount) *frameCount = o.frames;
    if (transparency) *transparency = o.transparency;
    if (plugin) *plugin = o.plugin;
    return 0;
}

uint32_t* LoadAnimFileFrame(qbAnimFile* anim, int32_t frame, int32_t argument, int32_t* transparency) {
    if (transparency) *transparency = 0;
    if (!anim || frame < 0) return nullptr;
    uint32_t keyed = 0;
    PixelBuffer pixels;
    switch (anim->format) {
    case kAnimFormatIFF: pixels = GetIFFAnimFrame(static_cast<qbIFFAnimReader*>(anim->reader), frame, &keyed); break;
    case kAnimFormatGIF:
        pixels = GetGIFFrame(static_cast<qbGIFReader*>(anim->reader), static_cast<uint32_t>(frame), &keyed);
        break;
    case kAnimFormatAVI: pixels = ReadAVIFrame(static_cast<qbAVIReader*>(anim->reader), frame); break;
    case kAnimFormatPlugin: {
        const qbAnimLoaderSlots* slots = GetAnimLoaderSlots(anim->plugin);
        if (!slots) return nullptr;
        qbAnimFrameRequest request;
        request.argument = argument;
        if (anim->loadTransparency) request.flags |= kAnimRequestTransparency;
        uint32_t* got = slots->LoadFrame(anim->reader, frame, &request);
        if (got && transparency) *transparency = request.transparency;
        return got;
    }
    default: return nullptr;
    }
    if (transparency) *transparency = static_cast<int32_t>(keyed);
    return pixels.release();
}

void FreeAnimFileFrame(qbAnimFile* anim, uint32_t* pixels) {
    if (!pixels) return;
    if (anim && anim->format == kAnimFormatPlugin) {
        const qbAnimLoaderSlots* slots = GetAnimLoaderSlots(anim->plugin);
        if (slots && slots->FreeFrame) slots->FreeFrame(anim->reader, pixels);
        return;
    }
    std::free(pixels);
}

uint32_t GetAnimFileFrameDelay(qbAnimFile* anim, int32_t frame) {
    if (!anim || frame < 0) return 0;
    switch (anim->format) {
    case kAnimFormatIFF: return GetIFFAnimFrameDelay(static_cast<qbIFFAnimReader*>(anim->reader), frame);
    case kAnimFormatGIF: return GetGIFFrameDelay(static_cast<qbGIFReader*>(anim->reader), static_cast<uint32_t>(frame));
    case kAnimFormatPlugin: {
        const qbAnimLoaderSlots* slots = GetAnimLoaderSlots(anim->plugin);
        if (!slots || !slots->GetFrameDelay) return 0;
        const int32_t ms = slots->GetFrameDelay(anim->reader, frame);
        return ms > 0 ? static_cast<uint32_t>(ms) : 0;
    }
    default: return 0;
    }
}

void CloseAnimFile(qbAnimFile* anim) {
    if (!anim) return;
    CloseReader(anim->format, anim->reader, anim->plugin);
    delete anim;
}

int IsAnimFile(const char* fileName, const char* loaderTag, const char* adapterTag, uint32_t openFlags) {
    qbAnimFile* anim = nullptr;
    int32_t frames = 0;
    if (OpenAnimFile(fileName, loaderTag, adapterTag, openFlags, kDeinterlaceDefault, false, &anim, nullptr, nullptr, &frames,
                     nullptr, nullptr) != 0)
        return 0;
    const bool still = anim->format == kAnimFormatGIF && frames <= 1;
    CloseAnimFile(anim);
    return still ? 0 : 1;
}

int IsIFFAnimFile(const qbAnimFile* anim) { return anim && anim->format == kAnimFormatIFF ? 1 : 0; }
