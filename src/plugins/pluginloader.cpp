// Loading one plugin file: the library, InitPlugin, the checks of the
// plugin's record, and the entry points its capabilities call for.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "core/chars.h"
#include "core/errors.h"
#include "core/plugincaps.h"
#include "plugins/elfcheck.h"
#include "plugins/plugin.h"
#include "plugins/pluginentries.h"
#include "plugins/pluginlibrary.h"
#include "plugins/pluginvector.h"
#include "vector/vectorengines.h"

namespace {

constexpr uint32_t kExtOnlyWhenNamed = QBPLUGIN_EXT_ONLYWHENNAMED;

// An entry point: its record word, its symbol, and whether it is resolved
// only when the capability's GetExtensions bit 0 is set.
struct EntryPoint {
    int word;
    const char* symbol;
    bool onlyWithExtension = false;
};

struct CapabilityEntries {
    uint32_t capability;
    std::vector<EntryPoint> entries;
};

// In the order they are resolved: the first missing symbol is the one reported.
const CapabilityEntries kEntryTable[] = {
    {PLUGINCAPS_VECTOR,
     {{80, "GetPathExtents"}, {81, "DrawPath"}, {82, "TranslatePath"}, {83, "GetCurrentPoint"},
      {84, "CreateVectorFont"}, {85, "FreeVectorFont"}, {86, "OpenFont"}, {87, "CloseFont"}}},
    {PLUGINCAPS_VIDEO,
     {{88, "OpenVideo"}, {89, "CloseVideo"}, {90, "NextPacket"}, {91, "FreePacket"}, {92, "DecodeVideoFrame"},
      {93, "DecodeAudioFrame"}, {94, "SeekVideo"}, {95, "FlushAudio"}, {96, "FlushVideo"}, {97, "GetVideoFrames"},
      {98, "GetVideoFormat"}}},
    {PLUGINCAPS_LIBRARY,
     {{99, "GetBaseTable"}, {100, "GetCommands"}, {101, "GetConstants"}, {102, "InitLibrary"}, {103, "FreeLibrary"},
      {104, "GetLibraryCount", true}, {105, "SetCurrentLibrary", true}}},
    {PLUGINCAPS_CONVERT, {{106, "GetScript"}, {107, "FreeScript"}}},
    {PLUGINCAPS_IMAGE,
     {{65, "IsImage"}, {66, "LoadImage"}, {67, "GetImage"}, {68, "FreeImage"}, {69, "TransformImage"}}},
    {PLUGINCAPS_ANIM, {{70, "OpenAnim"}, {71, "LoadFrame"}, {72, "FreeFrame"}, {73, "GetFrameDelay"}, {74, "CloseAnim"}}},
    {PLUGINCAPS_SOUND,
     {{75, "OpenStream"}, {76, "CloseStream"}, {77, "SeekStream"}, {78, "StreamSamples"}, {79, "GetFormatName"}}},
    {PLUGINCAPS_SAVEIMAGE, {{108, "RegisterImageSaver"}, {109, "SaveImage"}}},
    {PLUGINCAPS_SAVEANIM,
     {{111, "RegisterAnimSaver"}, {112, "BeginAnimStream"}, {113, "WriteAnimFrame"}, {114, "FinishAnimStream"}}},
    {PLUGINCAPS_SAVESAMPLE, {{116, "RegisterSampleSaver"}, {117, "SaveSample"}}},
    {PLUGINCAPS_REQUIRE, {{119, "RequirePlugin"}}},
    {PLUGINCAPS_DISPLAYADAPTER,
     {{120, "HandleEvents"},        {121, "WaitEvents"},        {122, "ForceEventLoopIteration"},
      {123, "Sleep"},               {124, "VWait"},             {125, "DetermineBorderSizes"},
      {126, "OpenDisplay"},         {127, "CloseDisplay"},      {128, "ChangeBufferSize"},
      {129, "ShowHideDisplay"},     {130, "SizeMoveDisplay"},   {131, "SetDisplayTitle"},
      {132, "ActivateDisplay"},     {133, "SetDisplayAttributes"}, {134, "CreatePointer"},
      {135, "FreePointer"},         {136, "SetPointer"},        {137, "ShowHidePointer"},
      {138, "MovePointer"},         {139, "GetMousePos"},       {140, "GetQualifiers"},
      {141, "BltBitMap"},           {142, "RectFill"},          {143, "WritePixel"},
      {144, "Line"},                {145, "GetMonitorInfo"},    {146, "FreeMonitorInfo"},
      {147, "GrabScreenPixels"},    {148, "FreeGrabScreenPixels"}, {149, "AdapterMainLoop", true},
      {150, "BeginDoubleBuffer"},   {151, "EndDoubleBuffer"},   {152, "Flip"},
      {153, "Cls"},                 {154, "AllocVideoBitMap"},  {155, "FreeVideoBitMap"},
      {156, "ReadVideoPixels"},     {157, "FreeVideoPixels"},   {158, "DoVideoBitMapMethod"},
      {159, "AllocBitMap"},         {160, "FreeBitMap"},        {161, "LockBitMap"},
      {162, "UnLockBitMap"},        {163, "GetBitMapAttr"}}},
    {PLUGINCAPS_TIMERADAPTER, {{164, "RegisterTimer"}, {165, "FreeTimer"}}},
    {PLUGINCAPS_REQUESTERADAPTER,
     {{166, "SystemRequest"}, {167, "FileRequest"}, {168, "PathRequest"}, {169, "StringRequest"},
      {170, "ListRequest"}, {171, "FontRequest"}, {172, "ColorRequest"}, {173, "FreeRequest"}}},
    {PLUGINCAPS_FILEADAPTER,
     {{174, "FOpen"}, {175, "FClose"}, {176, "FRead"}, {177, "FGetC"}, {178, "FWrite"}, {179, "FPutC"},
      {180, "FSeek"}, {181, "FFlush"}, {182, "FEof"}, {183, "FStat"}, {184, "Stat"}}},
    {PLUGINCAPS_DIRADAPTER, {{185, "OpenDir"}, {186, "CloseDir"}, {187, "NextDirEntry"}}},
    {PLUGINCAPS_AUDIOADAPTER,
     {{188, "OpenAudio"}, {189, "CloseAudio"}, {190, "AllocAudioChannel"}, {191, "FreeAudioChannel"},
      {192, "SetChannelAttributes"}}},
};

// The lists a plugin joins at load time, in this order.
constexpr uint32_t kListedCapabilities[] = {PLUGINCAPS_VIDEO, PLUGINCAPS_IMAGE, PLUGINCAPS_ANIM, PLUGINCAPS_SOUND};

uint32_t KnownCapabilities() {
    uint32_t mask = PLUGINCAPS_EXTENSIONS;
    for (const CapabilityEntries& c : kEntryTable) mask |= c.capability;
    return mask;
}

// Slot records copied straight from runs of record words: same order, one
// pointer each.
constexpr int kImageFirstWord = 65, kDisplayFirstWord = 120, kTimerFirstWord = 164, kRequesterFirstWord = 166,
              kFileFirstWord = 174;
constexpr int kDisplayWords = 44, kRequesterWords = 8;
constexpr int kSoundFirstWord = 75;
constexpr int kAnimFirstWord = 70;
constexpr int kVideoFirstWord = 88;
static_assert(sizeof(qbVideoPluginSlots) == 9 * sizeof(void*));
static_assert(offsetof(qbPluginRecord, OpenVideo) == 8 * kVideoFirstWord);
static_assert(sizeof(qbAnimLoaderSlots) == 5 * sizeof(void*));
static_assert(offsetof(qbPluginRecord, OpenAnim) == 8 * kAnimFirstWord);
static_assert(sizeof(qbSoundLoaderSlots) == 5 * sizeof(void*));
static_assert(offsetof(qbPluginRecord, OpenStream) == 8 * kSoundFirstWord);
static_assert(sizeof(qbImageLoaderSlots) == 5 * sizeof(void*));
// The host keeps the requester slots behind the display adapter's, in one
// record; the plugin record has the timer's two words between them.
static_assert(offsetof(qbDisplayAdapterSlots, SystemRequest) == kDisplayWords * sizeof(void*));
static_assert(sizeof(qbDisplayAdapterSlots) == (kDisplayWords + kRequesterWords) * sizeof(void*));
static_assert(sizeof(qbTimerAdapterSlots) == 2 * sizeof(void*));
static_assert(sizeof(qbAdapterSlots) == 14 * sizeof(void*));
static_assert(offsetof(qbPluginRecord, IsImage) == 8 * kImageFirstWord);
static_assert(offsetof(qbPluginRecord, HandleEvents) == 8 * kDisplayFirstWord);
static_assert(offsetof(qbPluginRecord, RegisterTimer) == 8 * kTimerFirstWord);
static_assert(offsetof(qbPluginRecord, SystemRequest) == 8 * kRequesterFirstWord);
static_assert(offsetof(qbPluginRecord, FOpen) == 8 * kFileFirstWord);

void SetWord(qbPluginRecord& record, int word, void* value) {
    std::memcpy(reinterpret_cast<char*>(&record) + 8 * word, &value, sizeof value);
}

template <class Slots>
void CopyWords(const qbPluginRecord& record, int firstWord, Slots& slots) {
    std::memcpy(&slots, reinterpret_cast<const char*>(&record) + 8 * firstWord, sizeof slots);
}

void CopyWords(const qbPluginRecord& record, int firstWord, int count, void* to) {
    std::memcpy(to, reinterpret_cast<const char*>(&record) + 8 * firstWord, 8 * size_t(count));
}

// The record's name against the file name less its last four characters:
// "_x.qbp" may hold "x", any other file only its own name, and never one of
// the player's own loader names.
bool NameAccepted(const char* recordName, const std::string& fileName) {
    if (!recordName) return false;
    const std::string stem = fileName.size() >= 4 ? fileName.substr(0, fileName.size() - 4) : std::string();
    if (!stem.empty() && stem[0] == '_' && StrCmpNoCase(stem.c_str() + 1, recordName) == 0) return true;
    return StrCmpNoCase(stem.c_str(), recordName) == 0 && !IsReservedPluginName(recordName);
}

int Fail(int code, const std::string& detail) {
    SetErrorDetail(detail.c_str());
    return code;
}

// GetExtensions' answer for every other capability bit of the mask.
int QueryExtensions(qbPluginHandle& h) {
    void* sym = dlsym(h.library, "GetExtensions");
    if (!sym) return Fail(ERR_PLUGINSYMBOL, "GetExtensions");
    SetWord(h.record, 193, sym);
    for (int bit = 0; bit < 32; ++bit) {
        const uint32_t value = uint32_t(1) << bit;
        if (value == PLUGINCAPS_EXTENSIONS || !(h.capabilities & value)) continue;
        h.record.extensions[bit] = h.record.GetExtensions(value, 0);
    }
    return 0;
}

uint64_t ExtensionsOf(const qbPluginHandle& h, uint32_t capability) {
    return h.record.extensions[FindLowestSetBit(capability)];
}

int ResolveEntryPoints(qbPluginHandle& h) {
    for (const CapabilityEntries& c : kEntryTable) {
        if (!(h.capabilities & c.capability)) continue;
        const bool extension = ExtensionsOf(h, c.capability) & 1;
        for (const EntryPoint& e : c.entries) {
            if (e.onlyWithExtension && !extension) continue;
            void* sym = dlsym(h.library, e.symbol);
            if (!sym) return Fail(ERR_PLUGINSYMBOL, e.symbol);
            SetWord(h.record, e.word, sym);
        }
    }
    return 0;
}

// The host's view, read from the record and the resolved words.
void FillView(qbPluginHandle& h) {
    const qbPluginRecord& r = h.record;
    qbPlugin& v = h.view;
    v.record = &h.record;
    RefreshPluginView(&h);
    v.displayAdapterFeatures = static_cast<uint32_t>(r.displayFeatures);
    v.capabilities = h.capabilities;
    CopyWords(r, kFileFirstWord, v.slots);
    if (h.capabilities & PLUGINCAPS_IMAGE) {
        CopyWords(r, kImageFirstWord, h.imageSlots);
        SetImageLoaderSlots(&v, &h.imageSlots);
    }
    if (h.capabilities & PLUGINCAPS_SOUND) {
        CopyWords(r, kSoundFirstWord, h.soundSlots);
        SetSoundLoaderSlots(&v, &h.soundSlots);
    }
    if (h.capabilities & PLUGINCAPS_ANIM) {
        CopyWords(r, kAnimFirstWord, h.animSlots);
        SetAnimLoaderSlots(&v, &h.animSlots);
    }
    if (h.capabilities & PLUGINCAPS_VIDEO) {
        CopyWords(r, kVideoFirstWord, h.videoSlots);
        SetVideoPluginSlots(&v, &h.videoSlots);
    }
    if (h.capabilities & PLUGINCAPS_DISPLAYADAPTER) {
        CopyWords(r, kDisplayFirstWord, kDisplayWords, &h.displaySlots);
        v.displaySlots = &h.displaySlots;
    }
    if (h.capabilities & PLUGINCAPS_REQUESTERADAPTER) {
        CopyWords(r, kRequesterFirstWord, kRequesterWords, &h.displaySlots.SystemRequest);
        v.displaySlots = &h.displaySlots;
    }
    if (h.capabilities & PLUGINCAPS_TIMERADAPTER) {
        CopyWords(r, kTimerFirstWord, h.timerSlots);
        v.timerSlots = &h.timerSlots;
    }
    if (h.capabilities & PLUGINCAPS_VECTOR) FillVectorEngine(&h);
}

// Only once every symbol has resolved: a plugin that failed later must never
// have been reachable through a list.
int JoinLists(qbPluginHandle& h) {
    for (uint32_t capability : kListedCapabilities) {
        if (!(h.capabilities & capability) || (ExtensionsOf(h, capability) & kExtOnlyWhenNamed)) continue;
        if (int err = AddLoadedPluginToList(capability, &h.view)) return err;
    }
    return 0;
}

}  // namespace

void RefreshPluginView(qbPluginHandle* handle) {
    const qbPluginRecord& r = handle->record;
    qbPlugin& v = handle->view;
    v.name = r.name;
    v.version = static_cast<int>(r.version);
    v.revision = static_cast<int>(r.revision);
    v.callingMode = static_cast<int>(r.callingMode);
    v.skipAsLoader = r.disabled != 0;
    v.fileAdapterFlags = static_cast<uint32_t>(r.fileAdapterFlags);
}

bool IsReservedPluginName(const char* name) {
    static constexpr const char* kReserved[] = {"default", "standard", "inbuilt", "quenbrook", "system", "native"};
    for (const char* r : kReserved)
        if (StrCmpNoCase(name, r) == 0) return true;
    return false;
}

void ClosePluginFile(qbPluginHandle* handle) {
    if (!handle) return;
    for (uint32_t bit = 1; bit != 0; bit <<= 1)
        if (HasPluginList(bit)) RemovePluginFromCapabilityList(&handle->view, bit);
    SetImageLoaderSlots(&handle->view, nullptr);
    SetSoundLoaderSlots(&handle->view, nullptr);
    SetAnimLoaderSlots(&handle->view, nullptr);
    SetVideoPluginSlots(&handle->view, nullptr);
    if (handle->capabilities & PLUGINCAPS_VECTOR) ForgetVectorEngine(&handle->vectorEngine);
    FreeSaverFormats(&handle->record);
    if (handle->initialised && handle->record.ClosePlugin) handle->record.ClosePlugin();
    FreePluginEntries(&handle->record);
    if (handle->library) dlclose(handle->library);
    delete handle;
}

int OpenPluginFile(const char* path, uint32_t* capabilities, PluginHandlePtr* out) {
    if (!path || !out) return ERR_WRONGUSAGE;
    std::error_code ec;
    // dlopen searches the library path for a name without a folder.
    const std::string full = std::filesystem::absolute(path, ec).string();
    const std::string fileName = FilePartEx(path);
    PluginHandlePtr h(new (std::nothrow) qbPluginHandle);
    if (!h) return ERR_MEM;

    const char* file = ec ? path : full.c_str();
    std::string whyNot;
    if (!CheckPluginElf(file, &whyNot)) return Fail(ERR_DLOPEN, whyNot);
    // Everything bound now: an unresolved symbol is a load error here rather
    // than the end of the process at its first call.
    dlerror();
    h->library = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (!h->library) {
        const char* why = dlerror();
        return Fail(ERR_DLOPEN, why ? why : full);
    }
    h->mapped = SystemFileIdOf(file);
    void* init = dlsym(h->library, "InitPlugin");
    void* close = dlsym(h->library, "ClosePlugin");
    if (!init || !close) return Fail(ERR_LOADPLUGIN, fileName);
    SetWord(h->record, 63, init);
    SetWord(h->record, 64, close);

    h->record.hostVersion = QBPLUGIN_HOST_VERSION;
    h->record.hostRevision = QBPLUGIN_HOST_REVISION;
    if (!h->record.InitPlugin(&h->record, GetPluginBase(), file))
        return Fail(ERR_LOADPLUGIN, fileName);
    h->initialised = true;

    if (!NameAccepted(h->record.name, fileName)) return Fail(ERR_LOADPLUGIN, fileName);
    h->capabilities = static_cast<uint32_t>(h->record.capabilities);
    if (h->record.hostVersion > QBPLUGIN_HOST_VERSION ||
        (h->record.hostVersion == QBPLUGIN_HOST_VERSION && h->record.hostRevision > QBPLUGIN_HOST_REVISION)) {
        return Fail(ERR_NEWQBPLUGIN,
                    std::to_string(h->record.hostVersion) + "." + std::to_string(h->record.hostRevision));
    }
    if (h->capabilities & PLUGINCAPS_EXTENSIONS) {
        if (int err = QueryExtensions(*h)) return err;
    }
    if (int err = ResolveEntryPoints(*h)) return err;
    if (!(h->capabilities & KnownCapabilities())) {
        char mask[20];
        std::snprintf(mask, sizeof mask, "%lx", static_cast<unsigned long>(h->capabilities));
        return Fail(ERR_PLUGINTYPE, mask);
    }
    FillView(*h);
    if (int err = JoinLists(*h)) return err;
    if (capabilities) *capabilities = h->capabilities;
    *out = std::move(h);
    return 0;
}
