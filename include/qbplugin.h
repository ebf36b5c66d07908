/* The interface between the Quenbrook Player and its plugins: the one header
 * a plugin includes. A plugin is a shared library with the extension ".qbp"
 * that exports InitPlugin and ClosePlugin and, by the capabilities it
 * declares in its record, further entry points that the player resolves by
 * name when it loads the file.
 *
 * Every word of the records below is 64 bits wide so that pointers fit:
 * word n of qbPlugin sits at byte 8n, pinned by the assertions at the end.
 * Numbers are 64-bit integers; texts and entry points are pointers.
 *
 * The player includes this header too, with QBPLUGIN_HOST defined: it then
 * skips the types that it defines itself with the same layout (the adapter
 * records, the image request) and the plugin-side prototypes. */
#ifndef QBPLUGIN_H
#define QBPLUGIN_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/time.h>
#include <time.h>

/* The path command stream and the hook records that a vector-engine plugin
 * reads come with this header. */
#include "qbvector.h"

#ifdef __cplusplus
extern "C" {
#define QBPLUGIN_STATIC_ASSERT(cond, text) static_assert(cond, text)
#else
#define QBPLUGIN_STATIC_ASSERT(cond, text) _Static_assert(cond, text)
#endif

/* The host version a plugin may ask for at most (words 3 and 4 of its
 * record are preset to these before InitPlugin). */
#define QBPLUGIN_HOST_VERSION 6
#define QBPLUGIN_HOST_REVISION 1

/* Capability bits of word 0. */
enum {
    PLUGINCAPS_CONVERT = 1,
    PLUGINCAPS_LIBRARY = 2,
    PLUGINCAPS_IMAGE = 4,
    PLUGINCAPS_ANIM = 8,
    PLUGINCAPS_SOUND = 16,
    PLUGINCAPS_VECTOR = 32,
    PLUGINCAPS_VIDEO = 64,
    PLUGINCAPS_SAVEIMAGE = 128,
    PLUGINCAPS_SAVEANIM = 256,
    PLUGINCAPS_SAVESAMPLE = 512,
    PLUGINCAPS_REQUIRE = 1024,
    PLUGINCAPS_DISPLAYADAPTER = 2048,
    PLUGINCAPS_TIMERADAPTER = 4096,
    PLUGINCAPS_REQUESTERADAPTER = 8192,
    PLUGINCAPS_FILEADAPTER = 16384,
    PLUGINCAPS_DIRADAPTER = 32768,
    PLUGINCAPS_AUDIOADAPTER = 65536,
    /* The plugin exports GetExtensions. */
    PLUGINCAPS_EXTENSIONS = 131072
};

/* GetExtensions bit of the image, anim, sound and video capabilities: the
 * plugin serves only when a loader tag names it. */
#define QBPLUGIN_EXT_ONLYWHENNAMED 1u

/* Calling mode (word 14) of plugins that expect marshalled calls; this
 * platform answers every such call with 0, so a plugin leaves it at 0. */
#define QBPLUGIN_CALL_MARSHALLED 2

/* Bit of the file-adapter flags (word 21): the adapter also serves applet
 * chunks and memory buffers. */
#define QBPLUGIN_FILEADAPTER_CHUNKS 1u

/* A {tag, value} pair; a list ends with tag 0. */
typedef struct qbPluginTag {
    uint32_t tag;
    uint32_t padding;
    uintptr_t value;
} qbPluginTag;

/* Tags of the list that RequirePlugin receives. */
enum {
    QBREQUIRE_TAG_END = 0,
    /* value: address of a uint32_t answer word (QBREQUIRE_ANSWER_* bits). */
    QBREQUIRE_TAG_ANSWER = 1,
    /* value: the first qbRequireTagNode of the tags the applet or the
     * REQUIRETAGS option gives this plugin. */
    QBREQUIRE_TAG_TAGLIST = 2
};
/* Answer bit: the displays must start hidden. */
#define QBREQUIRE_ANSWER_HIDEDISPLAYS 1u

/* One key = value pair given to a required plugin; text is null for a
 * number. The nodes live only during the RequirePlugin call. */
typedef struct qbRequireTagNode {
    struct qbRequireTagNode* next;
    const char* key;
    const char* text;
    double number;
} qbRequireTagNode;

/* The root of the tables through which plugins call the player. Tables the
 * player does not serve are null. */
typedef struct qbPluginBase {
    int32_t version;  /* 6 */
    int32_t revision; /* 1 */
    const void* stdlibTable;
    const void* systemTable;
    const void* filesTable;
    const void* graphicsTable;
    const void* soundTable;
    const void* requesterTable;
    const void* fontTable;
    const void* freetypeTable;
    const void* vmTable;
    const void* dataTable;
    const void* zlibTable;
    const void* jpegTable;
    const void* pluginListTable;
    const void* hashTable;
} qbPluginBase;

/* One entry of the list of loaded plugins (plugin-list table slot 0); the
 * whole chain is one block, freed with one free. */
struct qbPluginRecord;
typedef struct qbPluginListEntry {
    struct qbPluginListEntry* next;
    struct qbPluginRecord* plugin;
} qbPluginListEntry;

struct ScriptState;

#ifndef QBPLUGIN_HOST
typedef struct ScriptState ScriptState;

/* What a file or directory adapter fills: dates as six words, month 0-11. */
typedef struct qbDateRecord {
    int32_t seconds, minutes, hours, day, month, year;
} qbDateRecord;

typedef struct qbAdapterStat {
    int32_t type; /* 1 directory */
    int64_t size;
    uint32_t protection;
    qbDateRecord modified;
    qbDateRecord accessed;
    qbDateRecord third;
    const char* path;
    const char* name;
    uint32_t extra[2];
} qbAdapterStat;

/* The tag list of FOpen and the display adapter's tag lists share the
 * layout of qbPluginTag. */
typedef struct qbFileTag {
    uint32_t tag;
    uintptr_t value;
} qbFileTag;
typedef struct qbAdapterTag {
    uint32_t tag;
    intptr_t value;
} qbAdapterTag;

typedef struct qbAdapterBlitBlock {
    int32_t srcX, srcY, dstX, dstY, width, height, scaleWidth, scaleHeight, smooth;
    void* mask;
    void* alpha;
} qbAdapterBlitBlock;

/* The record of IsImage, LoadImage and GetImage: thirteen 32-bit words. */
typedef struct qbImageLoadRequest {
    int32_t width, height, rowLength, hasAlpha, alphaNeeded, isVector;
    uint32_t flags;
    int32_t wantedWidth, wantedHeight, nominalWidth, nominalHeight, smooth;
    uint32_t openFlags;
} qbImageLoadRequest;
#endif

/* Entry points whose arguments no part of the player settles yet. */
typedef void (*qbPluginFunc)(void);

/* The rows of a library plugin's command and constant tables; each table
 * ends with a row whose name is null. A command receives the script state,
 * reads its arguments and pushes its results through table 8 of the base
 * and returns the number of results (or an error code above 999). A
 * constant is a text when str is not null, else the number num.
 *
 * A failed argument check in table 8 leaves the command by unwinding
 * through the plugin's own frames. Plugins are therefore built with unwind
 * tables (the default of gcc and clang on x86-64) and hold no resources
 * (memory, locks, open files) across a call that checks an argument. */
struct ScriptCommand;
struct ScriptConstant;
#ifndef QBPLUGIN_HOST
typedef int (*qbCommandHandler)(ScriptState* L);
typedef struct ScriptCommand {
    const char* name;
    qbCommandHandler handler;
} ScriptCommand;
typedef struct ScriptConstant {
    const char* name;
    const char* str;
    double num;
} ScriptConstant;
#endif

/* One format of a saver plugin, filled by its register function: one call,
 * one format; the last one carries the kind's end bit in its flags. */
typedef struct qbSaverFormat {
    uint64_t flags;
    uint64_t id;
    const char* name;
} qbSaverFormat;
/* Flags of an image format: true colour, accepts an alpha plane. */
#define QBSAVER_TRUECOLOUR 1u
#define QBSAVER_ALPHA 4u
/* The end bits of the three saver kinds. */
#define QBSAVER_IMAGE_END 8u
#define QBSAVER_ANIM_END 16u
#define QBSAVER_SAMPLE_END 1u

/* What a sound loader's OpenStream fills (every word 64 bits): the host
 * presets subsongs to 1 and subsong to the one it wants. */
typedef struct qbSoundStreamInfo {
    int64_t rate;
    int64_t channels; /* 1 or 2 */
    int64_t bits;     /* 8 or 16 */
    int64_t frames;
    uint64_t flags; /* QBSOUND_* */
    int64_t subsongs;
    int64_t subsong;
} qbSoundStreamInfo;
#define QBSOUND_BIGENDIAN 1u
#define QBSOUND_SIGNED 2u
#define QBSOUND_CANSEEK 4u
/* The sound loader's entry points (words 75-79): OpenStream answers a handle
 * or null ("not mine"); StreamSamples delivers up to frames interleaved
 * frames and sets *done when the stream has ended; SeekStream answers 0 on
 * failure. */
typedef void* (*qbOpenStreamFunc)(const char* name, qbSoundStreamInfo* info);
typedef void (*qbCloseStreamFunc)(void* handle);
typedef int (*qbSeekStreamFunc)(void* handle, uint64_t frame);
typedef int64_t (*qbStreamSamplesFunc)(void* handle, void* buffer, int64_t frames, int32_t* done);
typedef const char* (*qbStreamFormatNameFunc)(void* handle);

/* What a sample saver's SaveSample (word 117) receives; it answers 0 on
 * failure. */
typedef struct qbSampleSaveRecord {
    const void* pcm;
    uint64_t bytes;
    uint64_t frames;
    int64_t channels;
    int64_t bits;
    int64_t rate;
    uint64_t flags; /* QBSOUND_BIGENDIAN, QBSOUND_SIGNED */
    uint64_t format;
} qbSampleSaveRecord;
typedef int (*qbSaveSampleFunc)(const char* name, const qbSampleSaveRecord* sample);

/* What an image saver's SaveImage gets. A true-colour format gets ARGB words
 * (4 x width bytes a row); any other one palette index a byte (width bytes a
 * row) and the palette of $RRGGBB words. SaveImage answers non-zero when the
 * file was written. */
typedef struct qbImageSaveRequest {
    uint64_t format;          /* the format id the saver registered */
    const char* fileName;
    const void* pixels;
    const uint32_t* palette;  /* null for true colour */
    int32_t width;
    int32_t height;
    int32_t rowBytes;
    int32_t colourCount;      /* palette entries */
    int32_t transparentIndex; /* with QBSAVEIMAGE_TRANSPARENT */
    int32_t quality;          /* 0-100, for lossy formats */
    uint32_t flags;           /* QBSAVEIMAGE_* */
    uint32_t reserved;
} qbImageSaveRequest;
#define QBSAVEIMAGE_ALPHA 1u       /* the alpha bytes count (formats with QBSAVER_ALPHA) */
#define QBSAVEIMAGE_TRANSPARENT 2u /* a palette entry is transparent */
typedef int (*qbSaveImageFunc)(const qbImageSaveRequest* request);

/* An anim saver's entry points. BeginAnimStream (word 112) opens the file
 * and answers a handle, or null on failure; its mode says how frames come:
 * QBANIMSTREAM_PALETTE as palette pictures (formats without
 * QBSAVER_TRUECOLOUR), QBANIMSTREAM_ALPHA with their alpha bytes counting.
 * WriteAnimFrame (113) gets one frame and answers 0 on failure;
 * FinishAnimStream (114) completes the file and frees the handle. The flags
 * of an anim format are those of an image format: QBSAVER_TRUECOLOUR and
 * QBSAVER_ALPHA. */
typedef struct qbAnimFrameRecord {
    const void* pixels;       /* palette indices or ARGB words */
    const uint32_t* palette;  /* $RRGGBB entries; null for ARGB frames */
    int64_t rowBytes;         /* width, or 4 x width for ARGB */
    int64_t colourCount;      /* palette entries */
    int64_t transparentIndex; /* with QBANIMFRAME_TRANSPARENT */
    int64_t delay;            /* milliseconds */
    uint64_t flags;           /* QBANIMFRAME_* */
    uint64_t format;          /* the format id the saver registered */
} qbAnimFrameRecord;
#define QBANIMFRAME_ALPHA 1u       /* the ARGB frame's alpha bytes count */
#define QBANIMFRAME_TRANSPARENT 2u /* transparentIndex is valid */
#define QBANIMSTREAM_PALETTE 1u
#define QBANIMSTREAM_ALPHA 4u
typedef void* (*qbBeginAnimStreamFunc)(const char* name, int32_t width, int32_t height, uint32_t mode,
                                       int32_t quality, int32_t fps);
typedef int (*qbWriteAnimFrameFunc)(void* handle, const qbAnimFrameRecord* frame);
typedef void (*qbFinishAnimStreamFunc)(void* handle);

/* GetExtensions bits of the library capability: the plugin exports
 * GetLibraryCount and SetCurrentLibrary; its libraries are registered when
 * it is required rather than when it is loaded. */
#define QBPLUGIN_EXT_LIBRARYCOUNT 1u
#define QBPLUGIN_EXT_DEFERLIBRARY 2u

typedef int (*qbAdapterMainCallback)(struct ScriptState* L);

/* The plugin record: 194 words. The plugin writes words 0-28 in InitPlugin;
 * the player writes the rest. */
typedef struct qbPluginRecord {
    uint64_t capabilities;         /* 0: PLUGINCAPS_* */
    int64_t version;               /* 1 */
    int64_t revision;              /* 2 */
    int64_t hostVersion;           /* 3: needed, preset to 6 */
    int64_t hostRevision;          /* 4: needed, preset to 1 */
    const char* description;       /* 5 */
    const char* name;              /* 6: the file name without ".qbp" */
    const char* author;            /* 7 */
    const char* copyright;         /* 8 */
    const char* url;               /* 9 */
    const char* date;              /* 10 */
    const char* settings;          /* 11 */
    const char* helpText;          /* 12 */
    const char* extraText;         /* 13 */
    int64_t callingMode;           /* 14 */
    void* ownedList;               /* 15 */
    uint64_t displayFeatures;      /* 16 */
    int64_t adapterPixelFormat;    /* 17 */
    int64_t disabled;              /* 18: passed over as a loader */
    int64_t userValue;             /* 19 */
    uint64_t adapterDrawFlags;     /* 20 */
    uint64_t fileAdapterFlags;     /* 21: QBPLUGIN_FILEADAPTER_* */
    int64_t reserved22[2];         /* 22-23 */
    uint64_t adapterFlags;         /* 24 */
    uint64_t requesterFlags;       /* 25 */
    int64_t reserved26[3];         /* 26-28 */
    uint64_t extensions[32];       /* 29-60: GetExtensions per capability bit */
    int64_t loaderNamed;           /* 61 */
    int64_t libraryInitialised;    /* 62 */

    /* Entry points, resolved by the player. */
    int (*InitPlugin)(struct qbPluginRecord* plugin, const qbPluginBase* base, const char* path); /* 63 */
    void (*ClosePlugin)(void);                                                                   /* 64 */
    int (*IsImage)(const char* name, struct qbImageLoadRequest* request);                        /* 65 */
    void* (*LoadImage)(const char* name, struct qbImageLoadRequest* request);
    uint32_t* (*GetImage)(void* image, struct qbImageLoadRequest* request);
    void (*FreeImage)(void* image);
    int (*TransformImage)(void* image, const double* transform); /* 69 */
    qbPluginFunc OpenAnim, LoadFrame, FreeFrame, GetFrameDelay, CloseAnim;               /* 70-74 */
    qbPluginFunc OpenStream, CloseStream, SeekStream, StreamSamples, GetFormatName;      /* 75-79 */
    /* 80-87: a vector engine's hooks (qbvector.h gives the stream and the
     * argument records); they report success as 1 and failure as 0. */
    qbGetPathExtentsHook GetPathExtents;
    qbDrawPathHook DrawPath;
    qbTranslatePathHook TranslatePath;
    qbGetCurrentPointHook GetCurrentPoint;
    qbCreateVectorFontHook CreateVectorFont;
    qbFreeVectorFontHook FreeVectorFont;
    qbOpenFontHook OpenFont;
    qbCloseFontHook CloseFont; /* 87 */
    qbPluginFunc OpenVideo, CloseVideo, NextPacket, FreePacket, DecodeVideoFrame, DecodeAudioFrame, SeekVideo,
        FlushAudio, FlushVideo, GetVideoFrames, GetVideoFormat;                         /* 88-98 */
    /* 99-105: the library; null base table name: the commands are globals. */
    const char* (*GetBaseTable)(void);
    const struct ScriptCommand* (*GetCommands)(void);
    const struct ScriptConstant* (*GetConstants)(void);
    int (*InitLibrary)(struct ScriptState* L); /* 0 or an error code */
    void (*FreeLibrary)(struct ScriptState* L);
    int (*GetLibraryCount)(void);
    void (*SetCurrentLibrary)(int index);
    qbPluginFunc GetScript, FreeScript;                                                 /* 106-107 */
    void (*RegisterImageSaver)(qbSaverFormat* format);                                  /* 108 */
    qbPluginFunc SaveImage;                                                             /* 109 */
    qbSaverFormat* imageSaverFormats;                                                   /* 110 */
    void (*RegisterAnimSaver)(qbSaverFormat* format);                                   /* 111 */
    qbPluginFunc BeginAnimStream, WriteAnimFrame, FinishAnimStream;                     /* 112-114 */
    qbSaverFormat* animSaverFormats;                                                    /* 115 */
    void (*RegisterSampleSaver)(qbSaverFormat* format);                                 /* 116 */
    qbPluginFunc SaveSample;                                                            /* 117 */
    qbSaverFormat* sampleSaverFormats;                                                  /* 118 */
    int (*RequirePlugin)(struct ScriptState* L, int version, int revision, uint32_t reserved,
                         const qbPluginTag* tags); /* 119 */

    /* 120-163: the display adapter. */
    int (*HandleEvents)(void* reserved);
    int (*WaitEvents)(void* reserved);
    int (*ForceEventLoopIteration)(void* reserved);
    int (*Sleep)(int milliseconds);
    int (*VWait)(void* handle, const struct qbAdapterTag* tags);
    int (*DetermineBorderSizes)(uint32_t style, int32_t* left, int32_t* right, int32_t* top, int32_t* bottom);
    void* (*OpenDisplay)(const char* title, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t style,
                         const struct qbAdapterTag* tags);
    int (*CloseDisplay)(void* handle);
    int (*ChangeBufferSize)(void* handle, int32_t width, int32_t height, int32_t reserved1, void* reserved2);
    int (*ShowHideDisplay)(void* handle, int show, void* reserved);
    int (*SizeMoveDisplay)(void* handle, int32_t x, int32_t y, int32_t width, int32_t height, int32_t reserved1,
                           void* reserved2);
    int (*SetDisplayTitle)(void* handle, const char* title);
    int (*ActivateDisplay)(void* handle, int on);
    int (*SetDisplayAttributes)(void* handle, const struct qbAdapterTag* tags);
    void* (*CreatePointer)(const uint32_t* argb, int32_t width, int32_t height, int32_t hotX, int32_t hotY,
                           void* reserved);
    void (*FreePointer)(void* pointer);
    int (*SetPointer)(void* handle, int kind, void* pointer);
    int (*ShowHidePointer)(void* handle, int show);
    int (*MovePointer)(void* handle, int32_t x, int32_t y);
    int (*GetMousePos)(void* handle, int32_t* x, int32_t* y);
    uint32_t (*GetQualifiers)(void* handle);
    int (*BltBitMap)(void* source, void* destination, const struct qbAdapterBlitBlock* block, uint32_t mode,
                     void* reserved);
    int (*RectFill)(void* handle, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
                    uint32_t mode, void* reserved);
    int (*WritePixel)(void* handle, int32_t x, int32_t y, uint32_t colour, uint32_t mode, void* reserved);
    int (*Line)(void* handle, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, uint32_t mode,
                void* reserved);
    int (*GetMonitorInfo)(int what, int monitor, void** out, void* reserved);
    void (*FreeMonitorInfo)(int what, void* list);
    uint32_t* (*GrabScreenPixels)(void* handle, int32_t x, int32_t y, int32_t width, int32_t height,
                                  int32_t reserved1, void* reserved2);
    void (*FreeGrabScreenPixels)(uint32_t* pixels);
    int (*AdapterMainLoop)(struct ScriptState* L, qbAdapterMainCallback callback, struct ScriptState* userData,
                           int reserved1, void* reserved2);
    int (*BeginDoubleBuffer)(void* handle, void* reserved);
    int (*EndDoubleBuffer)(void* handle, void* reserved);
    int (*Flip)(void* handle, const struct qbAdapterTag* tags);
    int (*Cls)(void* handle, uint32_t colour, void* reserved);
    void* (*AllocVideoBitMap)(int32_t width, int32_t height, uint32_t flags, uint32_t* state,
                              const struct qbAdapterTag* tags);
    void (*FreeVideoBitMap)(void* bitmap);
    void* (*ReadVideoPixels)(void* bitmap, const struct qbAdapterTag* tags);
    void (*FreeVideoPixels)(void* pixels);
    int (*DoVideoBitMapMethod)(void* bitmap, int method, const struct qbAdapterTag* tags);
    void* (*AllocBitMap)(int32_t width, int32_t height, uint32_t flags, const struct qbAdapterTag* tags);
    void (*FreeBitMap)(void* bitmap);
    void* (*LockBitMap)(void* bitmap, uint32_t flags, const struct qbAdapterTag* tags);
    void (*UnLockBitMap)(void* lock);
    intptr_t (*GetBitMapAttr)(void* bitmap, int attribute); /* 163 */

    /* 164-165: the timer adapter; it reports each firing back to the player. */
    uintptr_t (*RegisterTimer)(struct ScriptState* L, int32_t ms, int oneShot);
    void (*FreeTimer)(uintptr_t handle);

    qbPluginFunc SystemRequest, FileRequest, PathRequest, StringRequest, ListRequest, FontRequest, ColorRequest,
        FreeRequest; /* 166-173 */

    /* 174-187: the file and directory adapters; FOpen's mode code is 1 write,
     * 2 read and write, 4 read. */
    void* (*FOpen)(const char* name, int modeCode, const struct qbFileTag* tags);
    int (*FClose)(void* handle);
    size_t (*FRead)(void* handle, void* buffer, size_t count);
    int (*FGetC)(void* handle);
    size_t (*FWrite)(void* handle, const void* buffer, size_t count);
    int (*FPutC)(void* handle, int c);
    int64_t (*FSeek)(void* handle, int64_t offset, int mode);
    int (*FFlush)(void* handle);
    int (*FEof)(void* handle);
    int (*FStat)(void* handle, struct qbAdapterStat* stat);
    int (*Stat)(const char* name, struct qbAdapterStat* stat);
    void* (*OpenDir)(const char* name);
    void (*CloseDir)(void* handle);
    int (*NextDirEntry)(void* handle, struct qbAdapterStat* stat);

    qbPluginFunc OpenAudio, CloseAudio, AllocAudioChannel, FreeAudioChannel, SetChannelAttributes; /* 188-192 */
    uint32_t (*GetExtensions)(uint32_t capability, uint32_t reserved);                             /* 193 */
} qbPluginRecord;

#ifndef QBPLUGIN_HOST
typedef qbPluginRecord qbPlugin;
#endif

#define QBPLUGIN_WORD(field, n) \
    QBPLUGIN_STATIC_ASSERT(offsetof(qbPluginRecord, field) == 8 * (n), "word " #n " is " #field)
QBPLUGIN_WORD(capabilities, 0);
QBPLUGIN_WORD(version, 1);
QBPLUGIN_WORD(revision, 2);
QBPLUGIN_WORD(hostVersion, 3);
QBPLUGIN_WORD(hostRevision, 4);
QBPLUGIN_WORD(description, 5);
QBPLUGIN_WORD(name, 6);
QBPLUGIN_WORD(author, 7);
QBPLUGIN_WORD(extraText, 13);
QBPLUGIN_WORD(callingMode, 14);
QBPLUGIN_WORD(ownedList, 15);
QBPLUGIN_WORD(displayFeatures, 16);
QBPLUGIN_WORD(adapterPixelFormat, 17);
QBPLUGIN_WORD(disabled, 18);
QBPLUGIN_WORD(userValue, 19);
QBPLUGIN_WORD(adapterDrawFlags, 20);
QBPLUGIN_WORD(fileAdapterFlags, 21);
QBPLUGIN_WORD(adapterFlags, 24);
QBPLUGIN_WORD(requesterFlags, 25);
QBPLUGIN_WORD(extensions, 29);
QBPLUGIN_WORD(loaderNamed, 61);
QBPLUGIN_WORD(libraryInitialised, 62);
QBPLUGIN_WORD(InitPlugin, 63);
QBPLUGIN_WORD(ClosePlugin, 64);
QBPLUGIN_WORD(IsImage, 65);
QBPLUGIN_WORD(TransformImage, 69);
QBPLUGIN_WORD(OpenAnim, 70);
QBPLUGIN_WORD(OpenStream, 75);
QBPLUGIN_WORD(GetPathExtents, 80);
QBPLUGIN_WORD(CloseFont, 87);
QBPLUGIN_WORD(OpenVideo, 88);
QBPLUGIN_WORD(GetVideoFormat, 98);
QBPLUGIN_WORD(GetBaseTable, 99);
QBPLUGIN_WORD(GetLibraryCount, 104);
QBPLUGIN_WORD(SetCurrentLibrary, 105);
QBPLUGIN_WORD(GetScript, 106);
QBPLUGIN_WORD(RegisterImageSaver, 108);
QBPLUGIN_WORD(imageSaverFormats, 110);
QBPLUGIN_WORD(RegisterAnimSaver, 111);
QBPLUGIN_WORD(animSaverFormats, 115);
QBPLUGIN_WORD(RegisterSampleSaver, 116);
QBPLUGIN_WORD(sampleSaverFormats, 118);
QBPLUGIN_WORD(RequirePlugin, 119);
QBPLUGIN_WORD(HandleEvents, 120);
QBPLUGIN_WORD(BltBitMap, 141);
QBPLUGIN_WORD(AdapterMainLoop, 149);
QBPLUGIN_WORD(GetBitMapAttr, 163);
QBPLUGIN_WORD(RegisterTimer, 164);
QBPLUGIN_WORD(FreeTimer, 165);
QBPLUGIN_WORD(SystemRequest, 166);
QBPLUGIN_WORD(FreeRequest, 173);
QBPLUGIN_WORD(FOpen, 174);
QBPLUGIN_WORD(Stat, 184);
QBPLUGIN_WORD(OpenDir, 185);
QBPLUGIN_WORD(NextDirEntry, 187);
QBPLUGIN_WORD(OpenAudio, 188);
QBPLUGIN_WORD(SetChannelAttributes, 192);
QBPLUGIN_WORD(GetExtensions, 193);
QBPLUGIN_STATIC_ASSERT(sizeof(qbPluginRecord) == 8 * 194, "the record has 194 words");
#undef QBPLUGIN_WORD

/* ---- Tables 0, 10, 12 and 13 of the base, slot by slot. ---- */

/* The broken-down time that table 0 hands out: twelve 32-bit words, the
 * first being the record's size. No zone name: plugins get the offset. */
typedef struct qbTimeRecord {
    int32_t size; /* 48 */
    int32_t sec, min, hour, mday, mon, year, wday, yday, isdst;
    int32_t gmtoff; /* seconds east of UTC */
    int32_t reserved;
} qbTimeRecord;

/* The file status of table 0's stat and fstat, one layout on every system. */
typedef struct qbFileStatus {
    uint64_t device, inode;
    uint32_t mode, links, uid, gid;
    uint64_t specialDevice;
    int64_t size, blockSize, blocks;
    int64_t accessTime, modifyTime, changeTime; /* seconds since 1970 */
} qbFileStatus;

/* Table 0: the system's libc, with the player's case folding (ISO 8859-1)
 * in slots 23-28 and its fixed records in 32-37 and 43-44. */
typedef struct qbStdlibTable {
    void* (*Malloc)(size_t size);
    void* (*Calloc)(size_t count, size_t size);
    void* (*Realloc)(void* block, size_t size);
    void (*Free)(void* block);
    char* (*Strdup)(const char* text);
    FILE* (*Fopen)(const char* path, const char* mode); /* 5 */
    int (*Fclose)(FILE* f);
    int (*Fseek)(FILE* f, long offset, int whence);
    long (*Ftell)(FILE* f);
    size_t (*Fread)(void* to, size_t size, size_t count, FILE* f);
    size_t (*Fwrite)(const void* from, size_t size, size_t count, FILE* f); /* 10 */
    int (*Fgetc)(FILE* f);
    int (*Fputc)(int c, FILE* f);
    int (*Ferror)(FILE* f);
    int (*Feof)(FILE* f);
    int (*Vfprintf)(FILE* f, const char* format, va_list args); /* 15 */
    int (*Vsnprintf)(char* to, size_t size, const char* format, va_list args);
    int (*Vprintf)(const char* format, va_list args);
    void (*Qsort)(void* base, size_t count, size_t size, int (*compare)(const void*, const void*));
    int (*Vsscanf)(const char* text, const char* format, va_list args);
    double (*Strtod)(const char* text, char** end); /* 20 */
    long (*Strtol)(const char* text, char** end, int base);
    unsigned long (*Strtoul)(const char* text, char** end, int base);
    int (*StrCaseCmp)(const char* a, const char* b);
    int (*StrNCaseCmp)(const char* a, const char* b, size_t n);
    int (*ToLower)(int c); /* 25 */
    int (*ToUpper)(int c);
    char* (*StrLower)(char* text);
    char* (*StrUpper)(char* text);
    int (*Gettimeofday)(struct timeval* tv, void* zone);
    time_t (*Time)(time_t* out); /* 30 */
    long (*Lrint)(double x);
    qbTimeRecord* (*Localtime)(const time_t* t);
    qbTimeRecord* (*Gmtime)(const time_t* t);
    char* (*Asctime)(const qbTimeRecord* tm);
    char* (*Ctime)(const time_t* t); /* 35 */
    time_t (*Mktime)(qbTimeRecord* tm);
    size_t (*Strftime)(char* to, size_t size, const char* format, const qbTimeRecord* tm);
    clock_t (*Clock)(void);
    void (*Difftime)(double* result, time_t end, time_t start);
    void (*Clearerr)(FILE* f); /* 40 */
    int (*Fileno)(FILE* f);
    int (*Fflush)(FILE* f);
    int (*Fstat)(int fd, qbFileStatus* status);
    int (*Stat)(const char* path, qbFileStatus* status);
    int (*Vfscanf)(FILE* f, const char* format, va_list args); /* 45 */
    int (*Ungetc)(int c, FILE* f);
    int (*Rename)(const char* from, const char* to);
    int (*Remove)(const char* path);
    int (*GetErrno)(void);
    void (*SetErrno)(int value); /* 50 */
} qbStdlibTable;

/* One entry of a plugin's own list (word 15 of its record), made by table 1
 * slot 19; the strings live in the entry's own block. The player frees the
 * list when it unloads the plugin. */
typedef struct qbPluginEntry {
    struct qbPluginEntry* next;
    int64_t value;
    const char* name;
    const char* secondName; /* may be null */
    const char* text;
    int64_t furtherValue; /* stored only with flag bit 0 */
    uint64_t flags;
} qbPluginEntry;

/* Table 1: system services. */
typedef struct qbTimeValue {
    uint32_t seconds, microseconds;
} qbTimeValue;

/* Tags of table 1 slot 0. Tag 25 reads 0; tags 26-30 and 37 read the
 * applet's header strings (title, version, copyright, author, description,
 * identifier); tag 35 reads the frame-rate limit. Tag 31 raises the
 * callback nesting count with a non-zero value and lowers it with 0; tags
 * 33, 38 and 39 set three host words of the event layer; tag 40 clears the
 * word of tag 38 (slot 47 reads the position afresh on every call). */
enum {
    QBHOST_TAG_ZERO = 25,
    QBHOST_TAG_TITLE = 26,
    QBHOST_TAG_VERSION = 27,
    QBHOST_TAG_COPYRIGHT = 28,
    QBHOST_TAG_AUTHOR = 29,
    QBHOST_TAG_DESCRIPTION = 30,
    QBHOST_TAG_CALLBACKNESTING = 31,
    QBHOST_TAG_WORDA = 33,
    QBHOST_TAG_FPSLIMIT = 35,
    QBHOST_TAG_IDENTIFIER = 37,
    QBHOST_TAG_WORDB = 38,
    QBHOST_TAG_WORDC = 39,
    QBHOST_TAG_RESETPOSITION = 40
};

/* The data record of table 1 slots 15, 27 and 46. Kinds 0-9 are the display
 * adapter's reports (0 quit, 1 call request, 2 wake, 3 mouse: x, y, button
 * 0-3, state; 4 key: code, down, qualifiers; 5 close; 6 resized: width,
 * height; 7 moved: x, y; 8 shown: flag; 9 activated: flag); kinds 10-27 are
 * refused; kinds from 28 on are event types registered through slot 14 or 36
 * and are queued with words 0-2 and the block. */
typedef struct qbEventData {
    void* display; /* the display's adapter handle, or null */
    int32_t words[4];
    void* block; /* kinds 28 on: from slot 11, freed by the event layer */
    void* call[2]; /* kind 1: int (*)(ScriptState*, void*) and its argument */
} qbEventData;

/* The functions of an event type registered through slot 36: kind 0 has a
 * fill function that sets fields of the message table on the stack top;
 * kind 1 a call function that pushes the function to call and its arguments
 * and returns their number (-1 nothing to call), a function run after the
 * call, and one that frees the event's data. */
typedef void (*qbEventFillFunc)(struct ScriptState* L, int type, void* data);
typedef int (*qbEventCallFunc)(struct ScriptState* L, int type, void* data);

/* A command hook: its run callback is called instead of the commands it
 * lists, and its result stands for theirs. An error raised while the run
 * callback works ends at the hook's boundary when the hook has an error
 * callback: the callback learns the code and the hooked command ends with
 * that error; the raise does not return to the code that raised it. */
struct qbCommandHook;
typedef int (*qbCommandHookRun)(struct qbCommandHook* hook, struct ScriptState* L,
                                int (*command)(struct ScriptState*), void* userData);
typedef void (*qbCommandHookError)(struct qbCommandHook* hook, struct ScriptState* L, int code, void* userData);

/* Plugin hooks (slots 13, 34, 35): kind 0 int (*)(void* userData), run as a
 * loop until it answers non-zero; kind 1 int (*)(void* argument, void*
 * userData), run by the event pump; kind 2 int (*)(intptr_t value, void*
 * userData). */
struct qbPluginHook;
struct qbMutex;
struct qbDisplayHook;

typedef struct qbSystemTable {
    int (*HostTags)(qbPluginTag* tags); /* 0: the number of tags handled */
    int (*AddUserErrorCode)(const char* text); /* 1 */
    void (*SetErrorDetail)(const char* text);
    void (*SetErrorArgIndex)(int index);
    int (*GetErrorText)(int code, char* out); /* out: 1024 bytes */
    void (*GetSysTime)(qbTimeValue* out);     /* 5 */
    void (*SubTime)(qbTimeValue* a, const qbTimeValue* b);
    void (*AddTime)(qbTimeValue* a, const qbTimeValue* b);
    int (*CmpTime)(const qbTimeValue* a, const qbTimeValue* b);
    void (*SleepMillis)(int64_t milliseconds);
    void (*FormatCurrentDate)(char* to, size_t size); /* 10: "07-Dec-2026 20:15:00" */
    void* (*AllocMemory)(size_t size, uint32_t flags); /* flag 1: zero-filled */
    void (*FreeMemory)(void* block);
    /* 13: null for an unknown kind or a null function. */
    struct qbPluginHook* (*AddPluginHook)(int kind, qbPluginFunc fn, void* userData, int reserved);
    int (*RegisterEventType)(const char* name, qbEventFillFunc fill); /* 14: slot 36 with kind 0 */
    int (*PostEvent)(int kind, const qbEventData* data);              /* 15: slot 27 on the player's state */
    /* 16: to the display that owns the hook: kind 0 close request (x, y), 1-3
     * left, right, middle button (x, y, state), 4 wheel (x, y, 0 up or else
     * down), 5 key (code, down, qualifiers); 0, ERR_FINDDISPLAY or ERR_WRONGUSAGE. */
    int (*PostInputEvent)(struct qbDisplayHook* hook, int kind, const int32_t data[3]);
    /* 17: head is the plugin's list head (null at first); the type number, or 0. */
    int (*RegisterObjectType)(void** head, const char* name, uint32_t flags, uint32_t value);
    void (*FreeObjectData)(struct ScriptState* L, void* object); /* 18: a host object's data list */
    int (*AddPluginEntry)(struct qbPluginRecord* plugin, int64_t value, const char* name, const char* secondName,
                          const char* text, int64_t furtherValue, uint32_t flags); /* 19: 1, or 0 */
    int (*ProcessPending)(uint32_t flags); /* 20: bit 1 flush blits first, bit 0 handle one event; 0 or an error */
    struct qbCommandHook* (*AddCommandHook)(qbCommandHookRun run, qbCommandHookError onError, void* userData);
    void (*RemoveCommandHook)(struct qbCommandHook* hook);
    int (*AddCommandToHook)(struct qbCommandHook* hook, int (*command)(struct ScriptState*));
    struct qbCommandHook* (*SetCommandHookError)(struct qbCommandHook* hook, qbCommandHookError onError);
    qbCommandHookError (*GetCommandHookError)(struct qbCommandHook* hook); /* 25 */
    struct qbCommandHook* (*SetCommandHookDisabled)(struct qbCommandHook* hook, int32_t disabled);
    /* 27: 0, ERR_FINDDISPLAY, ERR_MEM, ERR_WRONGUSAGE (kinds 10-27) or ERR_ADDSYSEVENT. */
    int (*PostEventTo)(struct ScriptState* L, int kind, const qbEventData* data);
    int (*PumpEvents)(uint32_t flags); /* 28: flag 16 handles one event when none is pending */
    int (*WaitEvents)(void);           /* 29 */
    struct qbMutex* (*CreateMutex)(void);
    void (*FreeMutex)(struct qbMutex* mutex);
    void (*LockMutex)(struct qbMutex* mutex);
    void (*UnlockMutex)(struct qbMutex* mutex);
    struct qbPluginHook* (*EnablePluginHook)(struct qbPluginHook* hook, int32_t disabled); /* 34 */
    void (*RemovePluginHook)(struct qbPluginHook* hook);                                  /* 35 */
    /* 36: kind 0 takes fill in value1; kind 1 call, after-call and free in
     * value1-3. The type number (28 on), or 0. */
    int (*RegisterEventTypeEx)(const char* name, int kind, qbPluginFunc value1, qbPluginFunc value2,
                               qbPluginFunc value3);
    int (*ConsolePrint)(const char* format, va_list args); /* 37 */
    int (*TimerElapsed)(uintptr_t handle);                  /* 38: 1 when a callback ran */
    int (*SetTimerAdapter)(struct qbPluginRecord* plugin, uint32_t flags); /* 39: 0 or an error */
    void (*CurrentDate)(int32_t out[6]); /* 40: seconds, minutes, hours, day, month 0-11, year */
    /* 41: 0 ISO 8859-1, 1 UTF-8; a new text to free with slot 42, or null. */
    char* (*ConvertCharset)(const char* text, int from, int to);
    void (*FreeHostBlock)(void* block); /* 42 */
    int (*AddToCapabilityList)(struct qbPluginRecord* plugin, uint32_t capability); /* 43: 0 or an error */
    void (*RemoveFromCapabilityList)(struct qbPluginRecord* plugin, uint32_t capability);
    int (*SetPluginAttrTag)(struct qbPluginRecord* plugin, int tag, intptr_t value); /* 45 */
    /* 46: as slot 27; the block (from slot 11) always passes to the event layer. */
    int (*PostEventWithData)(struct ScriptState* L, int kind, const qbEventData* data, void* block);
    /* 47: the running script's name, a four-character placeholder, its line. */
    void (*GetScriptPosition)(const char** name, const char** placeholder, int32_t* line);
    /* 48: the handler reference (-1 none); tag 1's value: an int32_t* for the userdata reference. */
    int (*FindEventType)(const char* name, const qbPluginTag* tags);
} qbSystemTable;

/* Table 2: files and directories through the player's file layer, which
 * also opens the files linked into the applet by their part names and the
 * files of file-adapter plugins. Handles are the player's own. */
struct qbFile;
struct qbDirHandle;

/* Open modes of slots 0 and 32. */
#define QBFILE_WRITE 1u     /* create or truncate */
#define QBFILE_READWRITE 2u /* create when missing */
#define QBFILE_READ 4u
/* Seek modes of slot 25 (slot 2 takes SEEK_SET, SEEK_CUR, SEEK_END). */
#define QBFILE_SEEK_CURRENT 0
#define QBFILE_SEEK_BEGINNING 1
#define QBFILE_SEEK_END 2
/* Tag of slot 32: the file adapters that may serve the name ("a|b"). */
#define QBFILE_TAG_ADAPTER 1u
/* Flag of slot 24: path and name are copies to free with table 1 slot 42. */
#define QBFILE_EXAMINE_COPY 2u
/* Flag of slot 28: write straight into the named file. */
#define QBFILE_WRITE_DIRECT 1u

/* A directory entry of slots 12 and 15; the name lives until the handle's
 * next call. */
typedef struct qbDirEntry {
    const char* name;
    int32_t isDirectory;
    uint32_t protection;
    int64_t size;
    qbDateRecord modified;
} qbDirEntry;

/* The status of slot 27. */
typedef struct qbFileState {
    int32_t isDirectory;
    uint32_t protection;
    int64_t size;
    qbTimeValue modified;
    qbTimeValue accessed;
} qbFileState;

typedef struct qbFilesTable {
    /* 0: null when the file can't be opened; adapterTag may be null. */
    struct qbFile* (*FileOpen)(const char* name, uint32_t mode, const char* adapterTag);
    int (*FileClose)(struct qbFile* file); /* 1: whether it closed cleanly */
    int (*FileSeekC)(struct qbFile* file, int64_t offset, int whence); /* 2: 0, or -1 */
    size_t (*FileRead)(struct qbFile* file, void* to, size_t count);
    size_t (*FileWrite)(struct qbFile* file, const void* from, size_t count);
    int (*FileGetC)(struct qbFile* file); /* 5: -1 at the end */
    int (*FilePutC)(struct qbFile* file, int c); /* 1 when written */
    int (*FileEof)(struct qbFile* file);
    int (*RemoveFile)(const char* name); /* 8: 1 on success (a file or an empty folder) */
    struct qbDirHandle* (*DirOpen)(const char* name, const char* adapterTag);
    void (*DirClose)(struct qbDirHandle* dir); /* 10 */
    int (*GetDirHandlePath)(struct qbDirHandle* dir, char* to, size_t size);
    int (*ExamineDir)(struct qbDirHandle* dir, qbDirEntry* out); /* 12: 1 on success */
    int (*DirCheck)(struct qbDirHandle* dir, int* isDirectory);   /* 13: 0 or ERR_NOTADIR */
    void (*DirEndClose)(struct qbDirHandle* dir);                 /* 14: slot 10 did it all */
    int (*NextDirEntry)(struct qbDirHandle* dir, qbDirEntry* out); /* 15: 1, or 0 at the end */
    int (*CreateDir)(const char* name);                            /* 16: 0 or ERR_CREATEDIR */
    int (*RenameFile)(const char* from, const char* to);           /* 1 on success */
    int (*GetCurrentDirPath)(char* to, size_t size); /* 18: 1, or 0 when it doesn't fit */
    void (*MakeTempFileName)(char* to, size_t size);
    int (*AddPart)(char* path, const char* name, size_t size); /* 20: 0 when cut short */
    const char* (*GetPathFilePart)(const char* path);
    const char* (*FilePartEx)(const char* path);
    /* 23: 1 with a plain name copied (offset and length -1) or an applet
     * part's applet file, offset and length; 0 when it doesn't fit. */
    int (*ResolveFileName)(const char* name, char* to, size_t size, int64_t* offset, int64_t* length);
    int (*ExamineFile)(struct qbFile* file, qbAdapterStat* out, uint32_t flags); /* 24: 1 on success */
    int64_t (*FileSeek)(struct qbFile* file, int64_t offset, int mode); /* 25: the old position, or -1 */
    uint32_t (*GetFileFlags)(const struct qbFile* file);
    int (*StatFile)(const char* name, qbFileState* out); /* 27: 1 on success */
    /* 28: 0, ERR_WRITEFILE, ERR_WRITE or ERR_READFILE. */
    int (*WriteMemoryToFile)(const char* name, const void* data, size_t size, uint32_t flags);
    /* 29: 1 for an applet part name with its offset and length, else 0. */
    int (*ResolvePartName)(const char* name, int64_t* offset, int64_t* length);
    int (*FileFlush)(struct qbFile* file); /* 30: 1 on success */
    /* 31: a temporary name ending in the extension of name ("x.png": ".png"). */
    void (*MakeTempFileNameExt)(const char* name, char* to, size_t size);
    struct qbFile* (*FileOpenTags)(const char* name, uint32_t mode, const qbPluginTag* tags); /* 32 */
} qbFilesTable;

/* Table 3: graphics and bitmaps. Bitmaps are the player's bitmap handles
 * as display hooks and adapters hand them out; images are loaded-image
 * handles. A null record pointer gives the slot's failure value. */
struct qbDisplayHook;
typedef int (*qbDisplayHookFunc)(struct qbDisplayHook* hook, int kind, const void* info, void* userData);

/* A node of the image list of slot 14: the player's icon pictures after the
 * platform's own; pixels are ARGB, width x height. */
typedef struct qbImageNode {
    struct qbImageNode* next;
    uint32_t* pixels;
    int32_t width, height;
    uint32_t flags; /* 1 and 2 as the icon slot's options */
    int32_t reserved;
} qbImageNode;

/* Six words of a bitmap lock (slots 6 and 16). */
typedef struct qbBitmapLockRecord {
    void* pixels;
    int32_t rowLength; /* pixels per row */
    int32_t format;    /* pixel format 0-13; 10 is ARGB */
    int32_t bytesPerRow;
    int32_t width;
    int32_t height;
    int32_t reserved;
    void* token; /* the player's own; slots 5 and 17 need it */
} qbBitmapLockRecord;

/* Slot 12's request. Flags: bit 0 an alpha plane from the pixels' top
 * bytes, bit 1 pixels equal to keyColour are transparent, bit 2 the brush
 * keeps image as a loaded-image handle that get, free and transform re-render
 * at other sizes (the loader slots' meaning). */
typedef struct qbBrushRequest {
    const uint32_t* pixels; /* ARGB, or null for an empty brush */
    int32_t rowLength;      /* pixels per row; 0 is the width */
    uint32_t keyColour;
    uint32_t flags;
    int32_t reserved;
    void* image;
    uint32_t* (*get)(void* image, qbImageLoadRequest* request);
    void (*free)(void* image);
    int (*transform)(void* image, const double* transform);
} qbBrushRequest;

/* Slot 21: one rectangle of 2- or 4-byte pixels in one format; pitches in
 * pixels, the mask (one byte a pixel) at the source's position. */
typedef struct qbPixelTransfer {
    const void* source;
    int32_t srcX, srcY, srcPitch;
    int32_t reserved;
    void* destination;
    int32_t dstX, dstY, dstPitch;
    int32_t width, height;
    int32_t format;
    const uint8_t* mask;
    int32_t maskPitch; /* bytes */
    int32_t bytesPerPixel;
} qbPixelTransfer;

typedef struct qbPixelRect {
    int32_t x, y, width, height;
} qbPixelRect;

/* Flags of slot 13 (SetDisplayAdapter): what the adapter does itself. */
#define QBADAPTER_NOREPLACE 0x1u      /* no later adapter may replace it */
#define QBADAPTER_SCALESBLITS 0x8u    /* blits to a display scale */
#define QBADAPTER_VIDEOBITMAPS 0x10u  /* it keeps bitmaps of its own */
#define QBADAPTER_OWNSBITMAPS 0x20u
#define QBADAPTER_INVERTSALPHA 0x80u  /* 255 is transparent to it */
#define QBADAPTER_SLEEP 0x100u        /* Sleep, ForceEventLoopIteration */
#define QBADAPTER_VWAIT 0x200u
#define QBADAPTER_MONITORS 0x400u     /* GetMonitorInfo */
#define QBADAPTER_GRAB 0x800u         /* GrabScreenPixels */
#define QBADAPTER_DRAWSUNOPENED 0x1000u /* it draws on displays that are not open */

typedef struct qbGraphicsTable {
    /* 0-3: pictures through the player's own readers and the platform's
     * decoder. Tags: 1 the wanted width, 2 the wanted height (0 own size).
     * error may be null; it gets 0 or the error code. */
    void* (*LoadImage)(const char* name, const qbAdapterTag* tags, int32_t* width, int32_t* height, int* error);
    uint32_t* (*LoadImagePixels)(const char* name, const qbAdapterTag* tags, int32_t* width, int32_t* height,
                                 void** image, int* error);
    uint32_t* (*GetImagePixels)(void* image, int32_t* width, int32_t* height);
    void (*FreeImage)(void* image);
    /* 4: width x height ARGB words of a brush (alpha from its mask or alpha
     * plane) in a new block for slot 7; null with the error. */
    uint32_t* (*ReadBrushPixels)(int32_t id, int32_t* width, int32_t* height, int* error);
    void (*FreeLockRecord)(qbBitmapLockRecord* record); /* 5: unlocks and frees slot 6's record */
    qbBitmapLockRecord* (*GetBrushARGB)(int32_t id, int* error); /* 6: the brush's own pixels, locked */
    void (*FreeMemory)(void* block);
    /* 8: null when refused; tags as display hooks take them. */
    struct qbDisplayHook* (*AddDisplayHook)(int32_t displayId, qbDisplayHookFunc callback, void* userData,
                                            qbAdapterTag* tags);
    void (*RemoveDisplayHook)(struct qbDisplayHook* hook);
    int (*RefreshHookDisplay)(struct qbDisplayHook* hook); /* 10 */
    /* 11: 0 or ERR_FINDDISPLAY; the display's size event follows. */
    int (*ResizeHookDisplay)(struct qbDisplayHook* hook, int32_t width, int32_t height);
    /* 12: 0 or an error code; an id of 0 takes the next free id, handed
     * back through handle (as an intptr_t). */
    int (*MakeBrush)(int32_t id, int32_t width, int32_t height, const qbBrushRequest* request, void** handle);
    int (*SetDisplayAdapter)(struct qbPluginRecord* plugin, uint32_t flags, const qbAdapterTag* tags);
    qbImageNode* (*GetImageList)(void);   /* 14 */
    void (*FreeImageList)(qbImageNode* list);
    /* 16: 1 when locked; tag 1 asks for the second lock mode. */
    int (*LockBitmap)(void* bitmap, const qbAdapterTag* tags, qbBitmapLockRecord* record);
    void (*UnlockBitmap)(qbBitmapLockRecord* record);
    /* 18: tags 1-8 (width, height, BGPic width and height, style flags,
     * scaled width and height, smooth scaling) each get one 32-bit value;
     * the count answered, -1 when no display has the handle. */
    int (*GetDisplayAttrs)(void* handle, qbAdapterTag* tags);
    int (*RefreshDisplayById)(int32_t id); /* 19: 0 or ERR_FINDDISPLAY */
    /* 20: toHandle 1: a display id to its adapter handle; 0: back. 0 when
     * there is none. */
    intptr_t (*DisplayIdHandle)(intptr_t value, int toHandle);
    /* 21: mode 0 copy, 1 through the mask, 2 blend by the mask; 0 when the
     * pixel size or mode is not served. */
    int (*TransferPixels)(const qbPixelTransfer* transfer, int32_t mode);
    /* 22-24 draw into pixels: tag 1 the pixel format (10), tag 2 the pixels
     * per row, without which nothing is drawn. Flag bit 0: the colour's top
     * byte is its alpha, else 255. */
    void (*FillPixels)(void* pixels, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
                       uint32_t flags, const qbAdapterTag* tags);
    void (*FillPixelRect)(void* pixels, const qbPixelRect* rect, uint32_t colour, uint32_t flags,
                          const qbAdapterTag* tags);
    void (*DrawPixelLine)(void* pixels, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour,
                          uint32_t flags, const qbAdapterTag* tags);
    /* 25: ARGB words of a rectangle of a bitmap; tags 1 x, 2 y (0), 3 width
     * and 4 height (the bitmap's, as slot 26 answers codes 0 and 14). 0 or
     * an error code. */
    int (*ReadBitmapARGB)(void* bitmap, uint32_t* to, const qbAdapterTag* tags);
    intptr_t (*GetBitmapAttr)(void* bitmap, int code); /* 26 */
    uint32_t (*ColourToPixel)(uint32_t colour, int32_t format, int withAlpha);
    uint32_t (*PixelToColour)(uint32_t pixel, int32_t format, int withAlpha);
    int (*FreeBrush)(int32_t id); /* 29: 0 or ERR_FINDBRUSH */
} qbGraphicsTable;

/* Table 4: sound. A decoded sound: interleaved PCM of 8-bit (unsigned
 * unless QBSOUND_SIGNED) or 16-bit frames of one or two channels. */
typedef struct qbSoundPCM {
    void* pcm;
    uint64_t bytes;
    uint64_t frames;
    int64_t channels; /* 1 or 2 */
    int64_t bits;     /* 8 or 16 */
    int64_t rate;
    uint64_t flags; /* QBSOUND_BIGENDIAN, QBSOUND_SIGNED */
} qbSoundPCM;
/* Flag of slot 0: the PCM is the decoder's own buffer, a block of its own
 * that outlives the record; without it the PCM lies in the record's block. */
#define QBSOUND_DECODE_OWNBUFFER 1u
/* Flags and tags of slot 2, the audio adapter's install. */
#define QBAUDIOADAPTER_NOREPLACE 1u  /* a later plugin may not replace it */
#define QBAUDIOADAPTER_UPDATEONLY 2u /* the installed adapter takes tag 1 only */
#define QBAUDIOADAPTER_TAG_BUFFERFRAMES 1u
#define QBAUDIOADAPTER_TAG_CHANNELS 2u /* 0 removes the adapter */

typedef struct qbSoundTable {
    /* 0: a whole sound file through the player's loader chain; null when it
     * can't be read or is not 8 or 16-bit PCM of one or two channels. The
     * record (and an own-buffer PCM) are freed with table 1 slot 42. */
    qbSoundPCM* (*DecodeSound)(const char* name, uint32_t flags);
    /* 1: the sample (a number, or the handle of an automatic id) takes a
     * copy of the request's PCM, format and rate, stopped first wherever it
     * plays; the request is freed in any case: the record, and the PCM when
     * it is a block of its own (both from slot 0 or table 1 slot 11). 0,
     * ERR_WRONGUSAGE (no request), ERR_FINDSAMPLE, ERR_8OR16BITONLY or ERR_MEM. */
    int (*SetSamplePCM)(intptr_t sample, qbSoundPCM* request);
    /* 2: 0, ERR_OLDAPPLET, ERR_WRONGUSAGE, ERR_SETADAPTER or ERR_OPENAUDIO. */
    int (*SetAudioAdapter)(struct qbPluginRecord* plugin, uint32_t flags, const struct qbAdapterTag* tags);
} qbSoundTable;

/* Table 5: requesters, through the requester adapter when one takes them,
 * else the system's own. Null texts read as empty. */
#define QBREQUESTER_SAVE 2 /* mode of slot 1; any other mode opens */
/* Requester-adapter flags of slot 3: which requesters the adapter takes. */
#define QBREQUESTER_NOREPLACE 1u
#define QBREQUESTER_SYSTEM 2u
#define QBREQUESTER_FILE 4u
#define QBREQUESTER_PATH 8u
#define QBREQUESTER_STRING 16u
#define QBREQUESTER_LIST 32u
#define QBREQUESTER_FONT 64u
#define QBREQUESTER_COLOUR 128u
typedef struct qbRequesterTable {
    /* 0: buttons "OK", "OK|Cancel", "Yes|No", "Yes|No|Cancel" or labels of
     * one's own joined by "|"; icon 0-4. The choice: 0 for OK or the last
     * button, 1 ... n-1 for the others; -1 when the requester failed. */
    int (*SystemRequest)(const char* title, const char* body, const char* buttons, int32_t icon);
    /* 1: the chosen folder and file joined into to (size bytes with the
     * NUL). 1 when chosen and copied; 0 when cancelled, failed or longer
     * than the buffer, which is then left as it was. */
    int (*FileRequest)(const char* title, const char* pattern, int32_t mode, char* to, size_t size);
    /* 2: the chosen folder into to, the same way. */
    int (*PathRequest)(const char* title, char* to, size_t size);
    /* 3: 0, ERR_OLDAPPLET, ERR_WRONGUSAGE or ERR_SETADAPTER. */
    int (*SetRequesterAdapter)(struct qbPluginRecord* plugin, uint32_t flags);
} qbRequesterTable;

/* Table 6: fonts. */
#define QBFONT_SKIPPACKED 1u /* leave out collection members and suitcase faces */
typedef struct qbFontTable {
    /* 0: weight -1 finds the installed font by its full name ("DejaVu Sans
     * Bold"), else by its family with that weight and slant (the text
     * library's values). 1 with the file's path in to (size bytes with the
     * NUL) and the face's offset and length in the file (0 and 0 for the
     * whole file; either may be null); 0 when none matches or the path is
     * longer than the buffer. A collection member may come as a temporary
     * file, which the player deletes when it ends. */
    int (*FindInstalledFont)(const char* name, int32_t weight, int32_t slant, uint32_t flags, char* to, size_t size,
                             int64_t* offset, int64_t* length);
    void* unused[2];
} qbFontTable;

/* Table 8: the script VM, through which a command reads its arguments and
 * pushes its results. Stack indexes count from 1 at the bottom of the
 * command's frame; negative ones count from the top (-1 the top value), and
 * the pseudo-indexes below name the registry and the global table. Type
 * numbers are QBVM_T*. The Check and Opt slots raise the script error of
 * a wrong argument (see ScriptCommand above on unwinding). */
#define QBVM_REGISTRYINDEX (-10000)
#define QBVM_GLOBALSINDEX (-10001)
#define QBVM_UPVALUEINDEX(i) (QBVM_GLOBALSINDEX - (i))
#define QBVM_MULTRET (-1)
enum {
    QBVM_TNONE = -1,
    QBVM_TNIL = 0,
    QBVM_TBOOLEAN = 1,
    QBVM_TLIGHTUSERDATA = 2,
    QBVM_TNUMBER = 3,
    QBVM_TSTRING = 4,
    QBVM_TTABLE = 5,
    QBVM_TFUNCTION = 6,
    QBVM_TUSERDATA = 7,
    QBVM_TTHREAD = 8
};

/* An object's id as a script gives it: a number, or the handle of an
 * automatic id (then number is 0). */
typedef struct qbObjectID {
    int32_t number;
    void* handle;
} qbObjectID;

/* A string being built on the script's stack (slots 60-65); the plugin
 * keeps it in its own frame between VmBufferInit and VmBufferPushResult. */
#define QBVM_BUFFERSIZE 1024
typedef struct qbScriptBuffer {
    char* p;
    int lvl;
    ScriptState* L;
    char buffer[QBVM_BUFFERSIZE];
} qbScriptBuffer;

#ifndef QBPLUGIN_HOST
typedef qbObjectID ObjectID;
typedef qbScriptBuffer ScriptBuffer;
#endif

typedef int (*qbScriptFunction)(ScriptState* L);

typedef struct qbVmTable {
    int (*GetTop)(ScriptState* L); /* 0 */
    void (*SetTop)(ScriptState* L, int index);
    void (*PushValue)(ScriptState* L, int index);
    void (*Remove)(ScriptState* L, int index);
    void (*Insert)(ScriptState* L, int index);
    void (*Replace)(ScriptState* L, int index); /* 5 */
    int (*IsCFunction)(ScriptState* L, int index);
    int (*IsNumber)(ScriptState* L, int index); /* a number or a string that converts */
    int (*IsString)(ScriptState* L, int index);
    int (*IsUserdata)(ScriptState* L, int index); /* full or light */
    int (*Type)(ScriptState* L, int index);      /* 10 */
    int (*Equal)(ScriptState* L, int index1, int index2);
    int (*RawEqual)(ScriptState* L, int index1, int index2);
    /* 13: strings compare without letter case when noCase is set. */
    int (*CompareLess)(ScriptState* L, int index1, int index2, int noCase);
    double (*ToNumber)(ScriptState* L, int index);
    const char* (*ToCString)(ScriptState* L, int index); /* 15 */
    size_t (*StrLen)(ScriptState* L, int index);
    qbScriptFunction (*ToCFunction)(ScriptState* L, int index);
    void* (*ToUserdata)(ScriptState* L, int index);
    const void* (*ToPointer)(ScriptState* L, int index);
    void (*PushNil)(ScriptState* L); /* 20 */
    void (*PushNumber)(ScriptState* L, double n);
    void (*PushLString)(ScriptState* L, const char* s, size_t length);
    void (*PushString)(ScriptState* L, const char* s);
    void (*PushLightUserdata)(ScriptState* L, void* p);
    void (*PushCClosure)(ScriptState* L, qbScriptFunction fn, int upvalues); /* 25 */
    void (*GetTable)(ScriptState* L, int index); /* t[key on top], the key replaced */
    void (*RawGet)(ScriptState* L, int index);
    void (*RawGetIndex)(ScriptState* L, int index, int n);
    void (*PushNewTable)(ScriptState* L);
    void (*GetGlobalsTable)(ScriptState* L, int index); /* 30: a function's environment */
    void (*SetTable)(ScriptState* L, int index);        /* t[key] = value, both popped */
    void (*RawSet)(ScriptState* L, int index);
    void (*RawSetIndex)(ScriptState* L, int index, int n);
    int (*SetGlobalsTable)(ScriptState* L, int index);
    int (*PCall)(ScriptState* L, int nargs, int nresults, int errfunc); /* 35 */
    int (*Next)(ScriptState* L, int index);
    void (*Concat)(ScriptState* L, int n);
    int (*GetUpvalues)(ScriptState* L);
    const char* (*GetUpvalue)(ScriptState* L, int funcindex, int n);
    const char* (*SetUpvalue)(ScriptState* L, int funcindex, int n); /* 40 */
    void* (*NewUserdata)(ScriptState* L, size_t size);
    int (*SetMetatable)(ScriptState* L, int index);
    int (*GetMetatable)(ScriptState* L, int index);
    void (*RaiseError)(ScriptState* L, int code);
    const char* (*CheckString)(ScriptState* L, int arg, size_t* length); /* 45 */
    const char* (*OptString)(ScriptState* L, int arg, const char* fallback, size_t* length);
    double (*CheckNumber)(ScriptState* L, int arg);
    double (*OptNumber)(ScriptState* L, int arg, double fallback);
    uint32_t (*CheckInt)(ScriptState* L, int arg);
    uint32_t (*OptInt)(ScriptState* L, int arg, uint32_t fallback); /* 50 */
    void (*CheckTable)(ScriptState* L, int arg);
    void (*CheckFunction)(ScriptState* L, int arg);
    int (*CheckType)(ScriptState* L, int arg, int type);
    int (*MakeRef)(ScriptState* L, int table);
    void (*ReleaseRef)(ScriptState* L, int table, int ref); /* 55 */
    void (*GetObjectIDArg)(ScriptState* L, int arg, qbObjectID* id);
    int (*NewNamedMetatable)(ScriptState* L, const char* name);
    void (*GetNamedMetatable)(ScriptState* L, const char* name);
    void* (*CheckNamedUserdata)(ScriptState* L, int arg, const char* name);
    void (*BufferInit)(ScriptState* L, qbScriptBuffer* b); /* 60 */
    char* (*BufferPrepare)(qbScriptBuffer* b);
    void (*BufferAddLString)(qbScriptBuffer* b, const char* s, size_t length);
    void (*BufferAddString)(qbScriptBuffer* b, const char* s);
    void (*BufferAddValue)(qbScriptBuffer* b);
    void (*BufferPushResult)(qbScriptBuffer* b); /* 65 */
    int (*FindString)(const char* s, const char* const list[]);
    int (*CheckStack)(ScriptState* L, int extra);
    const char* (*ResolveLinkedFileArg)(ScriptState* L, int arg);
    /* 69: idAndChooseFlag[0] the number, idAndChooseFlag[1] set when the
     * script asked for a new automatic id. */
    void (*GetNewObjectIDArg)(ScriptState* L, int arg, int32_t* idAndChooseFlag);
    void (*PushBoolean)(ScriptState* L, int b); /* 70 */
    int (*ToBoolean)(ScriptState* L, int index);
    void (*PushNewTableSized)(ScriptState* L, int narray, int hashPower);
    const char* (*TypeName)(ScriptState* L, int type);
    int (*Call)(ScriptState* L, int nargs, int nresults);
    int (*GetGcThreshold)(ScriptState* L); /* 75 */
    int (*GetGcCount)(ScriptState* L);
    void (*SetGcThreshold)(ScriptState* L, int threshold);
} qbVmTable;

/* Table 9: data built into the player: the Bitstream Vera TrueType fonts
 * (Sans, Sans Mono, Serif) and their sizes in bytes. */
typedef struct qbDataTable {
    const void* fonts[3];
    uintptr_t fontSizes[3];
    uintptr_t unused[4];
} qbDataTable;

/* Table 10: zlib's own functions (the z_stream of the zlib the player is
 * built with); slots 13-15 are null. */
struct z_stream_s;
typedef struct qbZlibTable {
    int (*inflateInit_)(struct z_stream_s* strm, const char* version, int streamSize);
    int (*inflate)(struct z_stream_s* strm, int flush);
    int (*inflateEnd)(struct z_stream_s* strm);
    int (*deflateInit_)(struct z_stream_s* strm, int level, const char* version, int streamSize);
    int (*deflate)(struct z_stream_s* strm, int flush);
    int (*deflateEnd)(struct z_stream_s* strm); /* 5 */
    int (*deflateReset)(struct z_stream_s* strm);
    int (*deflateParams)(struct z_stream_s* strm, int level, int strategy);
    int (*inflateReset)(struct z_stream_s* strm);
    int (*inflateSync)(struct z_stream_s* strm);
    int (*inflateInit2_)(struct z_stream_s* strm, int windowBits, const char* version, int streamSize); /* 10 */
    int (*deflateInit2_)(struct z_stream_s* strm, int level, int method, int windowBits, int memLevel,
                         int strategy, const char* version, int streamSize);
    unsigned long (*crc32)(unsigned long crc, const unsigned char* data, unsigned int length);
    void* unused[3];
} qbZlibTable;

/* Table 7: FreeType's own functions, as the player links Debian's FreeType
 * (2.12 or later). Plugins include FreeType's headers and check the version
 * through slot 31 before relying on anything newer than 2.5. Enumerations
 * travel as int. Slot 21 forwards to FT_MulFix; slots 38 and 39 are null. */
struct FT_LibraryRec_;
struct FT_FaceRec_;
struct FT_GlyphSlotRec_;
struct FT_GlyphRec_;
struct FT_Outline_;
struct FT_Outline_Funcs_;
struct FT_Matrix_;
struct FT_Vector_;
struct FT_BBox_;
struct FT_Bitmap_;
struct FT_CharMapRec_;
struct FT_StrokerRec_;
typedef struct qbFreetypeTable {
    int (*FT_Init_FreeType)(struct FT_LibraryRec_** library);
    int (*FT_Done_FreeType)(struct FT_LibraryRec_* library);
    int (*FT_New_Face)(struct FT_LibraryRec_* library, const char* path, long index, struct FT_FaceRec_** face);
    int (*FT_New_Memory_Face)(struct FT_LibraryRec_* library, const unsigned char* base, long size, long index,
                              struct FT_FaceRec_** face);
    int (*FT_Load_Glyph)(struct FT_FaceRec_* face, unsigned int glyph, int32_t flags);
    int (*FT_Render_Glyph)(struct FT_GlyphSlotRec_* slot, int mode); /* 5 */
    int (*FT_Get_Glyph)(struct FT_GlyphSlotRec_* slot, struct FT_GlyphRec_** glyph);
    void (*FT_Done_Glyph)(struct FT_GlyphRec_* glyph);
    void (*FT_Outline_Transform)(const struct FT_Outline_* outline, const struct FT_Matrix_* matrix);
    void (*FT_Outline_Translate)(const struct FT_Outline_* outline, long x, long y);
    int (*FT_Outline_Get_Bitmap)(struct FT_LibraryRec_* library, struct FT_Outline_* outline,
                                 const struct FT_Bitmap_* bitmap); /* 10 */
    void (*FT_Outline_Get_CBox)(const struct FT_Outline_* outline, struct FT_BBox_* box);
    int (*FT_Outline_Decompose)(struct FT_Outline_* outline, const struct FT_Outline_Funcs_* funcs, void* user);
    int (*FT_Done_Face)(struct FT_FaceRec_* face);
    unsigned int (*FT_Get_Char_Index)(struct FT_FaceRec_* face, unsigned long code);
    unsigned long (*FT_Get_First_Char)(struct FT_FaceRec_* face, unsigned int* glyph); /* 15 */
    unsigned long (*FT_Get_Next_Char)(struct FT_FaceRec_* face, unsigned long code, unsigned int* glyph);
    void (*FT_Set_Transform)(struct FT_FaceRec_* face, struct FT_Matrix_* matrix, struct FT_Vector_* delta);
    int (*FT_Set_Charmap)(struct FT_FaceRec_* face, struct FT_CharMapRec_* charmap);
    int (*FT_Set_Pixel_Sizes)(struct FT_FaceRec_* face, unsigned int width, unsigned int height);
    int (*FT_Set_Char_Size)(struct FT_FaceRec_* face, long width, long height, unsigned int horizontalDpi,
                            unsigned int verticalDpi); /* 20 */
    long (*FT_MulFix)(long a, long b);
    void (*FT_Vector_Transform)(struct FT_Vector_* vector, const struct FT_Matrix_* matrix);
    int (*FT_Get_Kerning)(struct FT_FaceRec_* face, unsigned int left, unsigned int right, unsigned int mode,
                          struct FT_Vector_* kerning);
    void* (*FT_Get_Sfnt_Table)(struct FT_FaceRec_* face, int tag);
    int (*FT_Load_Sfnt_Table)(struct FT_FaceRec_* face, unsigned long tag, long offset, unsigned char* buffer,
                              unsigned long* length); /* 25 */
    const char* (*FT_Get_X11_Font_Format)(struct FT_FaceRec_* face);
    unsigned int (*FT_Get_Name_Index)(struct FT_FaceRec_* face, const char* name);
    int (*FT_Get_Glyph_Name)(struct FT_FaceRec_* face, unsigned int glyph, void* buffer, unsigned int size);
    int (*FT_Select_Charmap)(struct FT_FaceRec_* face, int encoding);
    int (*FT_Get_Advance)(struct FT_FaceRec_* face, unsigned int glyph, int32_t flags, long* advance); /* 30 */
    void (*FT_Library_Version)(struct FT_LibraryRec_* library, int* major, int* minor, int* patch);
    int (*FT_Outline_Embolden)(struct FT_Outline_* outline, long strength);
    int (*FT_Stroker_New)(struct FT_LibraryRec_* library, struct FT_StrokerRec_** stroker);
    void (*FT_Stroker_Set)(struct FT_StrokerRec_* stroker, long radius, int cap, int join, long miterLimit);
    void (*FT_Stroker_Done)(struct FT_StrokerRec_* stroker); /* 35 */
    int (*FT_Glyph_Stroke)(struct FT_GlyphRec_** glyph, struct FT_StrokerRec_* stroker, unsigned char destroy);
    int (*FT_Glyph_To_Bitmap)(struct FT_GlyphRec_** glyph, int mode, const struct FT_Vector_* origin,
                              unsigned char destroy);
    void* unused[2];
} qbFreetypeTable;

/* Table 11: libjpeg's own functions, as the player links libjpeg-turbo
 * (interface 62). Plugins include jpeglib.h and pass their JPEG_LIB_VERSION
 * and structure sizes to the create calls, which refuse a mismatch through
 * the error manager. boolean is int; enumerations travel as int. */
struct jpeg_decompress_struct;
struct jpeg_compress_struct;
struct jpeg_common_struct;
struct jpeg_error_mgr;
typedef struct qbJpegTable {
    void (*jpeg_CreateDecompress)(struct jpeg_decompress_struct* cinfo, int version, size_t size);
    int (*jpeg_finish_decompress)(struct jpeg_decompress_struct* cinfo);
    void (*jpeg_destroy_decompress)(struct jpeg_decompress_struct* cinfo);
    struct jpeg_error_mgr* (*jpeg_std_error)(struct jpeg_error_mgr* err);
    int (*jpeg_read_header)(struct jpeg_decompress_struct* cinfo, int requireImage);
    unsigned int (*jpeg_read_scanlines)(struct jpeg_decompress_struct* cinfo, unsigned char** lines,
                                        unsigned int count); /* 5 */
    int (*jpeg_start_decompress)(struct jpeg_decompress_struct* cinfo);
    int (*jpeg_resync_to_restart)(struct jpeg_decompress_struct* cinfo, int desired);
    void (*jpeg_CreateCompress)(struct jpeg_compress_struct* cinfo, int version, size_t size);
    void (*jpeg_finish_compress)(struct jpeg_compress_struct* cinfo);
    void (*jpeg_destroy_compress)(struct jpeg_compress_struct* cinfo); /* 10 */
    void (*jpeg_start_compress)(struct jpeg_compress_struct* cinfo, int writeAllTables);
    void (*jpeg_set_defaults)(struct jpeg_compress_struct* cinfo);
    unsigned int (*jpeg_write_scanlines)(struct jpeg_compress_struct* cinfo, unsigned char** lines,
                                         unsigned int count);
    void (*jpeg_set_quality)(struct jpeg_compress_struct* cinfo, int quality, int forceBaseline);
    void (*jpeg_set_colorspace)(struct jpeg_compress_struct* cinfo, int colourSpace); /* 15 */
    void (*jpeg_default_colorspace)(struct jpeg_compress_struct* cinfo);
    void (*jpeg_destroy)(struct jpeg_common_struct* cinfo);
    void (*jpeg_abort)(struct jpeg_common_struct* cinfo);
    void (*jpeg_suppress_tables)(struct jpeg_compress_struct* cinfo, int suppress);
    unsigned int (*jpeg_write_raw_data)(struct jpeg_compress_struct* cinfo, unsigned char*** data,
                                        unsigned int count); /* 20 */
    void (*jpeg_write_tables)(struct jpeg_compress_struct* cinfo);
    unsigned int (*jpeg_read_raw_data)(struct jpeg_decompress_struct* cinfo, unsigned char*** data,
                                       unsigned int count);
    void (*jpeg_save_markers)(struct jpeg_decompress_struct* cinfo, int marker, unsigned int limit);
    void (*jpeg_calc_output_dimensions)(struct jpeg_decompress_struct* cinfo);
} qbJpegTable;

/* Table 12: the plugin list. */
typedef struct qbPluginListTable {
    qbPluginListEntry* (*ListLoadedPlugins)(void);
    void (*FreePluginList)(qbPluginListEntry* list);
    void (*SetPluginDisabled)(struct qbPluginRecord* plugin, int64_t disabled);
    void (*SetPluginValue)(struct qbPluginRecord* plugin, int64_t value);
    int64_t (*GetPluginValue)(const struct qbPluginRecord* plugin);
} qbPluginListTable;

/* Table 13: hashing and encoding. */
typedef struct qbHashTable {
    /* to: room for (length + 2) / 3 * 4 bytes; no terminator, no line breaks. */
    void (*Base64Encode)(const void* data, size_t length, char* to, size_t* outLength);
    /* to: room for length / 4 * 3 + 3 bytes; 1 on success, 0 for bad text. */
    int (*Base64Decode)(const char* text, size_t length, void* to, size_t* outLength);
    /* The CRC-32 (0 to 0xFFFFFFFF), or -1 for a length below 1. */
    int64_t (*Crc32)(const void* data, int64_t length);
    /* 32 lower-case hex digits and a NUL into to (33 bytes); nothing for length 0. */
    void (*Md5Hex)(const void* data, size_t length, char* to);
} qbHashTable;

QBPLUGIN_STATIC_ASSERT(offsetof(qbPluginBase, stdlibTable) == 8, "tables follow the two version words");
QBPLUGIN_STATIC_ASSERT(offsetof(qbPluginBase, vmTable) == 8 + 8 * 8, "table 8 is the script VM");
QBPLUGIN_STATIC_ASSERT(sizeof(qbPluginBase) == 8 + 14 * 8, "fourteen tables");
QBPLUGIN_STATIC_ASSERT(offsetof(qbPluginTag, value) == 8 && sizeof(qbPluginTag) == 16, "tag item");
QBPLUGIN_STATIC_ASSERT(offsetof(qbRequireTagNode, number) == 24 && sizeof(qbRequireTagNode) == 32,
                       "require tag node");
QBPLUGIN_STATIC_ASSERT(sizeof(qbPluginListEntry) == 16, "plugin list entry");
QBPLUGIN_STATIC_ASSERT(sizeof(qbSaverFormat) == 24, "saver format entry");
QBPLUGIN_STATIC_ASSERT(sizeof(qbImageSaveRequest) == 64, "image save request");
QBPLUGIN_STATIC_ASSERT(sizeof(qbTimeRecord) == 48, "time record");
QBPLUGIN_STATIC_ASSERT(sizeof(qbFileStatus) == 88, "file status record");
QBPLUGIN_STATIC_ASSERT(sizeof(qbStdlibTable) == 51 * 8, "table 0 has 51 slots");
QBPLUGIN_STATIC_ASSERT(offsetof(qbStdlibTable, StrCaseCmp) == 23 * 8 && offsetof(qbStdlibTable, Stat) == 44 * 8,
                       "table 0 slots");
QBPLUGIN_STATIC_ASSERT(sizeof(qbPluginEntry) == 7 * 8, "plugin entry");
QBPLUGIN_STATIC_ASSERT(offsetof(qbSystemTable, AddPluginEntry) == 19 * 8, "table 1 slot 19");
QBPLUGIN_STATIC_ASSERT(sizeof(qbSystemTable) == 49 * 8 && offsetof(qbSystemTable, AddCommandHook) == 21 * 8 &&
                           offsetof(qbSystemTable, ConsolePrint) == 37 * 8 &&
                           offsetof(qbSystemTable, FreeHostBlock) == 42 * 8 &&
                           offsetof(qbSystemTable, FindEventType) == 48 * 8,
                       "table 1 has 49 slots");
QBPLUGIN_STATIC_ASSERT(sizeof(qbEventData) == 48, "event data record");
QBPLUGIN_STATIC_ASSERT(sizeof(qbFilesTable) == 33 * 8 && offsetof(qbFilesTable, ExamineFile) == 24 * 8,
                       "table 2 has 33 slots");
QBPLUGIN_STATIC_ASSERT(sizeof(qbDirEntry) == 48 && sizeof(qbFileState) == 32, "table 2 records");
QBPLUGIN_STATIC_ASSERT(sizeof(qbGraphicsTable) == 30 * 8 && offsetof(qbGraphicsTable, MakeBrush) == 12 * 8 &&
                           offsetof(qbGraphicsTable, TransferPixels) == 21 * 8,
                       "table 3 has 30 slots");
QBPLUGIN_STATIC_ASSERT(sizeof(qbBrushRequest) == 56 && sizeof(qbBitmapLockRecord) == 40 && sizeof(qbImageNode) == 32,
                       "table 3 records");
QBPLUGIN_STATIC_ASSERT(sizeof(qbSoundPCM) == 7 * 8 && sizeof(qbSoundTable) == 3 * 8, "table 4 has 3 slots");
QBPLUGIN_STATIC_ASSERT(sizeof(qbRequesterTable) == 4 * 8, "table 5 has 4 slots");
QBPLUGIN_STATIC_ASSERT(sizeof(qbFontTable) == 3 * 8, "table 6 has room for 3 slots");
QBPLUGIN_STATIC_ASSERT(sizeof(qbVmTable) == 78 * 8 && offsetof(qbVmTable, RaiseError) == 44 * 8 &&
                           offsetof(qbVmTable, GetObjectIDArg) == 56 * 8 && offsetof(qbVmTable, BufferInit) == 60 * 8 &&
                           offsetof(qbVmTable, Call) == 74 * 8,
                       "table 8 has 78 slots");
QBPLUGIN_STATIC_ASSERT(sizeof(qbObjectID) == 16 && sizeof(qbScriptBuffer) == 24 + QBVM_BUFFERSIZE,
                       "table 8 records");
QBPLUGIN_STATIC_ASSERT(sizeof(qbDataTable) == 10 * 8 && offsetof(qbDataTable, fontSizes) == 3 * 8, "table 9");
QBPLUGIN_STATIC_ASSERT(sizeof(qbZlibTable) == 16 * 8 && offsetof(qbZlibTable, crc32) == 12 * 8, "table 10");
QBPLUGIN_STATIC_ASSERT(sizeof(qbFreetypeTable) == 40 * 8 && offsetof(qbFreetypeTable, FT_MulFix) == 21 * 8,
                       "table 7");
QBPLUGIN_STATIC_ASSERT(sizeof(qbJpegTable) == 25 * 8 && offsetof(qbJpegTable, jpeg_save_markers) == 23 * 8,
                       "table 11");
QBPLUGIN_STATIC_ASSERT(sizeof(qbPluginListTable) == 5 * 8, "table 12 has 5 slots");
QBPLUGIN_STATIC_ASSERT(sizeof(qbHashTable) == 4 * 8, "table 13 has 4 slots");

#ifndef QBPLUGIN_HOST
QBPLUGIN_STATIC_ASSERT(sizeof(qbImageLoadRequest) == 13 * 4, "thirteen 32-bit words");
QBPLUGIN_STATIC_ASSERT(offsetof(qbAdapterStat, modified) == 20 && offsetof(qbAdapterStat, path) == 96 &&
                           sizeof(qbAdapterStat) == 120,
                       "stat record");
QBPLUGIN_STATIC_ASSERT(offsetof(qbAdapterBlitBlock, mask) == 40 && sizeof(qbAdapterBlitBlock) == 56, "blit block");
QBPLUGIN_STATIC_ASSERT(sizeof(qbFileTag) == 16 && sizeof(qbAdapterTag) == 16, "tag items");

/* The entry points every plugin exports, and the optional ones that most
 * plugins have. */
#define QBPLUGIN_EXPORT __attribute__((visibility("default")))
QBPLUGIN_EXPORT int InitPlugin(qbPlugin* plugin, const qbPluginBase* base, const char* path);
QBPLUGIN_EXPORT void ClosePlugin(void);
QBPLUGIN_EXPORT uint32_t GetExtensions(uint32_t capability, uint32_t reserved);
QBPLUGIN_EXPORT int RequirePlugin(ScriptState* L, int version, int revision, uint32_t reserved,
                                  const qbPluginTag* tags);
/* Library plugins. */
QBPLUGIN_EXPORT const char* GetBaseTable(void);
QBPLUGIN_EXPORT const ScriptCommand* GetCommands(void);
QBPLUGIN_EXPORT const ScriptConstant* GetConstants(void);
QBPLUGIN_EXPORT int InitLibrary(ScriptState* L);
QBPLUGIN_EXPORT void FreeLibrary(ScriptState* L);
QBPLUGIN_EXPORT int GetLibraryCount(void);
QBPLUGIN_EXPORT void SetCurrentLibrary(int index);
/* Savers. */
QBPLUGIN_EXPORT void RegisterImageSaver(qbSaverFormat* format);
QBPLUGIN_EXPORT int SaveImage(const qbImageSaveRequest* request);
QBPLUGIN_EXPORT void RegisterAnimSaver(qbSaverFormat* format);
QBPLUGIN_EXPORT void* BeginAnimStream(const char* name, int32_t width, int32_t height, uint32_t mode, int32_t quality,
                                     int32_t fps);
QBPLUGIN_EXPORT int WriteAnimFrame(void* handle, const qbAnimFrameRecord* frame);
QBPLUGIN_EXPORT void FinishAnimStream(void* handle);
QBPLUGIN_EXPORT void RegisterSampleSaver(qbSaverFormat* format);
/* Vector engines (qbvector.h). */
QBPLUGIN_EXPORT int GetPathExtents(qbPathExtentsArgs* args);
QBPLUGIN_EXPORT int DrawPath(qbDrawPathArgs* args);
QBPLUGIN_EXPORT int TranslatePath(qbTranslatePathArgs* args);
QBPLUGIN_EXPORT int GetCurrentPoint(const uint8_t* commands, const qbVectorLineStyle* style, double* x, double* y);
QBPLUGIN_EXPORT void* CreateVectorFont(void* face);
QBPLUGIN_EXPORT void FreeVectorFont(void* handle);
QBPLUGIN_EXPORT void* OpenFont(const void* data, size_t size);
QBPLUGIN_EXPORT void CloseFont(void* face);
#endif

#ifdef __cplusplus
}
#endif

#endif
