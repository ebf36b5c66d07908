// File and directory adapters: plugins that serve names the native file
// system doesn't know (archives, network stores, encrypted applets). The file
// layer walks their capability lists; the plugin loader fills them.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kPluginCapsFileAdapter = 16384;
constexpr uint32_t kPluginCapsDirAdapter = 32768;

// Bit of qbAdapterPlugin::fileAdapterFlags: the adapter also serves applet
// chunks and memory buffers (it is handed their data or container).
constexpr uint32_t kFileAdapterServesChunks = 1;

// Plugins of this calling mode expect marshalled calls, which this platform
// answers with 0 without calling them.
constexpr int kPluginCallMarshalled = 2;

// One {tag, value} pair of the list that FOpen receives; tag 0 ends the list.
// Texts the values point at live only during the call.
struct qbFileTag {
    uint32_t tag;
    uintptr_t value;
};
enum : uint32_t {
    kFileTagEnd = 0,
    kFileTagStreamFlags = 1,  // address of the handle's 32-bit stream-flags word
    kFileTagContainer = 2,    // path of the file that holds the chunk
    kFileTagOffset = 3,       // absolute offset of the chunk in it
    kFileTagSize = 4,
    kFileTagMemory = 5,  // address of the data of a memory file
};

// Stream flags an adapter may set through kFileTagStreamFlags.
enum : uint32_t { kStreamFlagStreaming = 1, kStreamFlagNoSeek = 2 };

// Six signed words; month 0-11, full year.
struct qbDateRecord {
    int32_t seconds = 0;
    int32_t minutes = 0;
    int32_t hours = 0;
    int32_t day = 1;
    int32_t month = 0;
    int32_t year = 1970;
};

// What FStat, Stat and NextDirEntry fill. The host presets the dates to the
// start-up date so that an adapter that leaves them alone reports that.
struct qbAdapterStat {
    int32_t type = 0;  // 1 directory
    int64_t size = 0;
    uint32_t protection = 0;  // FILEATTR_* bits
    qbDateRecord modified;
    qbDateRecord accessed;
    qbDateRecord third;  // not read by the host
    const char* path = nullptr;
    const char* name = nullptr;
    uint32_t extra[2] = {};
};

// Adapter entry points. Handles are the adapter's own; the mode code of FOpen
// is 1 write, 2 read and write, 4 read.
struct qbAdapterSlots {
    void* (*FOpen)(const char* name, int modeCode, const qbFileTag* tags) = nullptr;
    int (*FClose)(void* handle) = nullptr;
    size_t (*FRead)(void* handle, void* buffer, size_t count) = nullptr;
    int (*FGetC)(void* handle) = nullptr;
    size_t (*FWrite)(void* handle, const void* buffer, size_t count) = nullptr;
    int (*FPutC)(void* handle, int c) = nullptr;
    int64_t (*FSeek)(void* handle, int64_t offset, int mode) = nullptr;
    int (*FFlush)(void* handle) = nullptr;
    int (*FEof)(void* handle) = nullptr;
    int (*FStat)(void* handle, qbAdapterStat* stat) = nullptr;
    int (*Stat)(const char* name, qbAdapterStat* stat) = nullptr;
    void* (*OpenDir)(const char* name) = nullptr;
    void (*CloseDir)(void* handle) = nullptr;
    int (*NextDirEntry)(void* handle, qbAdapterStat* stat) = nullptr;
};

struct qbDisplayAdapterSlots;

// A timer adapter's entry points: RegisterTimer answers a handle (0 when it
// failed) for a timer that fires every ms milliseconds or once; the adapter
// reports each firing through FireAdapterTimer.
struct ScriptState;
struct qbTimerAdapterSlots {
    uintptr_t (*RegisterTimer)(ScriptState* L, int32_t ms, int oneShot) = nullptr;
    void (*FreeTimer)(uintptr_t handle) = nullptr;
};

// An audio adapter's entry points. The adapter pulls PCM for each channel
// it allocated through the data callback, from its own output thread.
// Attribute tags: 1 volume, 2 panning, 3 pitch; tag 0 ends the list.
struct qbAudioTag {
    uint32_t tag;
    intptr_t value;
};
using qbAudioDataCallback = int32_t (*)(uintptr_t own1, uintptr_t own2, void* buffer, int32_t frames, void* channel);
struct qbAudioAdapterSlots {
    uintptr_t (*OpenAudio)(uintptr_t, uintptr_t) = nullptr;
    void (*CloseAudio)(uintptr_t adapter) = nullptr;
    uintptr_t (*AllocAudioChannel)(uintptr_t adapter, int32_t pcmCode, int32_t rate, int32_t volume,
                                   qbAudioDataCallback callback, uintptr_t zero, void* channel,
                                   uintptr_t zero2) = nullptr;
    void (*FreeAudioChannel)(uintptr_t adapter, uintptr_t channel) = nullptr;
    void (*SetChannelAttributes)(uintptr_t adapter, uintptr_t channel, const qbAudioTag* tags) = nullptr;
};

struct qbPluginRecord;

// The plugin record as the file layer and the display code read it.
struct qbAdapterPlugin {
    const char* name = "";
    int callingMode = 0;
    int skipAsLoader = 0;
    int onlyWhenNamed = 0;
    uint32_t fileAdapterFlags = 0;
    qbAdapterSlots slots;
    // The capability mask (PLUGINCAPS_*).
    uint32_t capabilities = 0;
    // What the plugin offers as a display adapter (GetAdapterSupportFlags).
    uint32_t displayAdapterFeatures = 0;
    // The display adapter's entry points; null for other plugins.
    const qbDisplayAdapterSlots* displaySlots = nullptr;
    // The plugin's own version and revision.
    int version = 0;
    int revision = 0;
    // The timer adapter's entry points; null for other plugins.
    const qbTimerAdapterSlots* timerSlots = nullptr;
    // The audio adapter's entry points; null for other plugins.
    const qbAudioAdapterSlots* audioSlots = nullptr;
    // The plugin's own record (words and entry points) when a plugin file
    // was loaded; null for records the host makes itself.
    qbPluginRecord* record = nullptr;
};

struct qbAdapterNode {
    qbAdapterNode* next = nullptr;
    qbAdapterPlugin* plugin = nullptr;
};

// Head of the capability's list (walk it in order), or null when the
// capability has no list or the list is empty. The lists change only while
// plugins load and unload on the main thread; walkers take no lock.
qbAdapterNode* GetAdapterList(uint32_t capability);
// Appends the plugin (once) to the capability's list: 0, ERR_WRONGUSAGE for a
// capability without a list or a null plugin, ERR_MEM.
// Plugin lists of every capability are chains of these nodes, in order, each
// plugin at most once.
int AppendPluginNode(qbAdapterNode** head, qbAdapterPlugin* plugin);
void RemovePluginNodes(qbAdapterNode** head, const qbAdapterPlugin* plugin);
void FreePluginNodes(qbAdapterNode** head);

int AddAdapterPlugin(uint32_t capability, qbAdapterPlugin* plugin);
void RemoveAdapterPlugin(uint32_t capability, qbAdapterPlugin* plugin);
void FreeAdapterLists();

// 1 when the plugin can be called on this platform at all.
inline int AdapterCallable(const qbAdapterPlugin* plugin) {
    return plugin && plugin->callingMode != kPluginCallMarshalled;
}
