/* A plugin for the loader's tests, built in variants by compile definitions:
 *   TP_NAME "x"        the record's name (default: the file's name, less a
 *                      leading "_" and ".qbp", so one build serves any name)
 *   TP_NULL_NAME       leave the name word null
 *   TP_CAPS n          the capability mask (default REQUIRE | IMAGE)
 *   TP_HOST_REVISION n the host revision it needs (of version 6)
 *   TP_INIT_FAILS      InitPlugin answers 0
 *   TP_UNRESOLVED      calls a function that nothing defines
 *   TP_AUDIO           exports the audio adapter's entry points but
 *                      SetChannelAttributes
 *   TP_VERSION, TP_REVISION  the plugin's version (default 2.4)
 *   TP_EXTENSIONS n    what GetExtensions answers for every capability
 *   TP_LIBRARY         a library: Add(a, b), Join(id, text) (the id's number,
 *                      ":" and the text) and the constant TESTLIB_FIVE in
 *                      the table of the plugin's name (TP_GLOBAL: globals);
 *                      TP_LIBCOUNT 2 adds a second table "<name>b" with Mul
 *   TP_TST             an image loader of ".tst" files (see below), which
 *                      lists its format as an entry of its own list
 *   TP_SAVER n         an image saver of the formats "alpha" (id 101) and
 *                      "beta" (102); n 2 never sets the end bit, n 3 sets it
 *                      only on the fifth format of every pass but the first
 *   TP_SOUND           a sound loader of ".tsnd" files and a sample saver of
 *                      the format "tsnd" (id 201); see below
 *   TP_REQUESTER       a requester adapter that installs itself for the
 *                      system requester when required and answers it with
 *                      the button count, logging what it was asked
 *   TP_ANIMSAVER       an anim saver of the formats "tpal" (id 301, palette
 *                      frames) and "targb" (302, ARGB with alpha)
 *   TP_VIDEO           a video source of ".tvid" files giving planar YUV
 *                      pictures; see below
 *   TP_ADAPTER         a display adapter that installs itself when required
 *                      and logs where each BltBitMap goes; its other slots
 *                      do nothing
 * Each entry-point call appends a line to the file that QB_TEST_PLUGIN_LOG
 * names. RequirePlugin sets the hidden-displays answer for a tag "hidden". */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pluginlog.h"
#include "qbplugin.h"

#ifndef TP_CAPS
#define TP_CAPS (PLUGINCAPS_REQUIRE | PLUGINCAPS_IMAGE)
#endif
#ifndef TP_VERSION
#define TP_VERSION 2
#endif
#ifndef TP_REVISION
#define TP_REVISION 4
#endif

#define EXPORT QBPLUGIN_EXPORT

static char g_name[256];

#if defined(TP_REQUESTER) || defined(TP_ADAPTER)
static qbPlugin* g_record;
#endif
#ifdef TP_REQUESTER
static const qbRequesterTable* g_requesters;
#endif
#ifdef TP_ADAPTER
static const qbGraphicsTable* g_graphics;
#endif

#ifdef TP_LIBRARY
static const qbVmTable* g_vm;
#endif

static void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void Log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendPluginLog(g_name[0] ? g_name : "?", format, args);
    va_end(args);
}

/* The file's name less its folder, a leading "_" and ".qbp". */
static void NameFromPath(const char* path) {
    const char* slash = strrchr(path, '/');
    const char* file = slash ? slash + 1 : path;
    if (*file == '_') ++file;
    snprintf(g_name, sizeof g_name, "%s", file);
    size_t n = strlen(g_name);
    if (n >= 4 && strcmp(g_name + n - 4, ".qbp") == 0) g_name[n - 4] = 0;
}

#ifdef TP_UNRESOLVED
extern int qb_test_plugin_symbol_nobody_defines(void);
#endif

EXPORT int InitPlugin(qbPlugin* plugin, const qbPluginBase* base, const char* path) {
    NameFromPath(path);
#ifdef TP_LIBRARY
    g_vm = (const qbVmTable*)base->vmTable;
#endif
    Log("InitPlugin base=%d.%d vm=%d preset=%lld.%lld path=%s", base->version, base->revision,
        base->vmTable != NULL, (long long)plugin->hostVersion, (long long)plugin->hostRevision, path);
#ifdef TP_UNRESOLVED
    if (qb_test_plugin_symbol_nobody_defines()) return 0;
#endif
#ifdef TP_INIT_FAILS
    return 0;
#endif
    plugin->capabilities = TP_CAPS;
    plugin->version = TP_VERSION;
    plugin->revision = TP_REVISION;
#ifdef TP_HOST_REVISION
    plugin->hostRevision = TP_HOST_REVISION;
#endif
#if defined(TP_NULL_NAME)
    plugin->name = NULL;
#elif defined(TP_NAME)
    plugin->name = TP_NAME;
#else
    plugin->name = g_name;
#endif
    plugin->description = "test plugin";
#if defined(TP_REQUESTER) || defined(TP_ADAPTER)
    g_record = plugin;
#endif
#ifdef TP_REQUESTER
    g_requesters = (const qbRequesterTable*)base->requesterTable;
#endif
#ifdef TP_ADAPTER
    g_graphics = (const qbGraphicsTable*)base->graphicsTable;
#endif
#ifdef TP_TST
    /* The format it reads, on its own list, as GetPlugins reports it. */
    const qbSystemTable* sys = (const qbSystemTable*)base->systemTable;
    if (!sys->AddPluginEntry(plugin, 1, "TST picture", "tst", "image/x-tst", 77, 1)) return 0;
#endif
    return 1;
}

EXPORT void ClosePlugin(void) { Log("ClosePlugin"); }

EXPORT uint32_t GetExtensions(uint32_t capability, uint32_t reserved) {
    Log("GetExtensions(%u, %u)", capability, reserved);
#ifdef TP_EXTENSIONS
    return TP_EXTENSIONS;
#else
    return 0;
#endif
}

EXPORT int RequirePlugin(ScriptState* L, int version, int revision, uint32_t reserved, const qbPluginTag* tags) {
    Log("RequirePlugin(%d, %d) state=%d reserved=%u", version, revision, L != NULL, reserved);
    uint32_t* answer = NULL;
    for (; tags && tags->tag != QBREQUIRE_TAG_END; ++tags) {
        if (tags->tag == QBREQUIRE_TAG_ANSWER) {
            answer = (uint32_t*)tags->value;
            Log("tag answer");
            continue;
        }
        if (tags->tag != QBREQUIRE_TAG_TAGLIST) continue;
        for (const qbRequireTagNode* n = (const qbRequireTagNode*)tags->value; n; n = n->next) {
            if (n->text)
                Log("tag %s = \"%s\"", n->key, n->text);
            else
                Log("tag %s = %g", n->key, n->number);
            if (strcmp(n->key, "hidden") == 0 && answer) *answer |= QBREQUIRE_ANSWER_HIDEDISPLAYS;
        }
    }
#ifdef TP_REQUESTER
    Log("SetRequesterAdapter %d", g_requesters->SetRequesterAdapter(g_record, QBREQUESTER_SYSTEM));
#endif
#ifdef TP_ADAPTER
    Log("SetDisplayAdapter %d", g_graphics->SetDisplayAdapter(g_record, 0, NULL));
#endif
    return 0;
}

#ifdef TP_LIBRARY
static int g_library;


static int Add(ScriptState* L) {
    const double a = g_vm->CheckNumber(L, 1);
    const double b = g_vm->CheckNumber(L, 2);
    g_vm->PushNumber(L, a + b);
    return 1;
}
static int Mul(ScriptState* L) {
    const double a = g_vm->CheckNumber(L, 1);
    const double b = g_vm->CheckNumber(L, 2);
    g_vm->PushNumber(L, a * b);
    return 1;
}
/* Join(id, text): "<id's number>:<text>", built in a script buffer. */
static int Join(ScriptState* L) {
    ObjectID id;
    g_vm->GetObjectIDArg(L, 1, &id);
    size_t length = 0;
    const char* text = g_vm->CheckString(L, 2, &length);
    char number[24];
    snprintf(number, sizeof number, "%d:", (int)id.number);
    ScriptBuffer b;
    g_vm->BufferInit(L, &b);
    g_vm->BufferAddString(&b, number);
    g_vm->BufferAddLString(&b, text, length);
    g_vm->BufferPushResult(&b);
    return 1;
}
static const ScriptCommand kCommands[] = {{"Add", Add}, {"Join", Join}, {NULL, NULL}};
static const ScriptCommand kCommandsB[] = {{"Mul", Mul}, {NULL, NULL}};
static const ScriptConstant kConstants[] = {{"TESTLIB_FIVE", NULL, 5}, {"TESTLIB_NAME", "testlib", 0}, {NULL, NULL, 0}};
static const ScriptConstant kConstantsB[] = {{"TESTLIB_SIX", NULL, 6}, {NULL, NULL, 0}};

EXPORT const char* GetBaseTable(void) {
#ifdef TP_GLOBAL
    return NULL;
#else
    static char g_tableB[260];
    if (g_library == 1) {
        snprintf(g_tableB, sizeof g_tableB, "%sb", g_name);
        return g_tableB;
    }
    return g_name;
#endif
}
EXPORT const ScriptCommand* GetCommands(void) { return g_library == 1 ? kCommandsB : kCommands; }
EXPORT const ScriptConstant* GetConstants(void) { return g_library == 1 ? kConstantsB : kConstants; }
EXPORT int InitLibrary(ScriptState* L) {
    Log("InitLibrary");
    /* Leaves values behind: the host restores the stack top. */
    g_vm->PushNumber(L, 1);
    g_vm->PushNumber(L, 2);
    return 0;
}
EXPORT void FreeLibrary(ScriptState* L) { Log("FreeLibrary state=%d", L != NULL); }
#ifdef TP_LIBCOUNT
EXPORT int GetLibraryCount(void) { return TP_LIBCOUNT; }
EXPORT void SetCurrentLibrary(int index) {
    Log("SetCurrentLibrary(%d)", index);
    g_library = index;
}
#endif
#endif

#ifdef TP_SAVER
static int g_saverCall, g_saverPass;
EXPORT void RegisterImageSaver(qbSaverFormat* format) {
    static const char* const kNames[] = {"alpha", "beta", "gamma", "delta", "epsilon"};
    const int n = g_saverCall++;
    format->name = kNames[n % 5];
    format->id = 101 + (uint64_t)(n % 5);
    format->flags = QBSAVER_TRUECOLOUR;
#if TP_SAVER == 1
    /* alpha takes true colour with alpha, beta a palette. */
    format->flags = n == 0 ? QBSAVER_TRUECOLOUR | QBSAVER_ALPHA : 0;
    if (n == 1) format->flags |= QBSAVER_IMAGE_END;
#elif TP_SAVER == 3
    if (g_saverPass == 0 ? n == 1 : n == 4) format->flags |= QBSAVER_IMAGE_END;
#endif
    if (format->flags & QBSAVER_IMAGE_END) {
        g_saverCall = 0;
        ++g_saverPass;
    }
}
/* Logs what it got: format, size, row bytes, flags, colours, the
 * transparent index and the first and last pixels (palette entries for
 * palette formats); refuses file names with "fail" in them. */
EXPORT int SaveImage(const qbImageSaveRequest* r) {
    const int last = (r->height - 1) * r->rowBytes + (r->palette ? r->width - 1 : 4 * (r->width - 1));
    const unsigned char* bytes = (const unsigned char*)r->pixels;
    unsigned first = 0, end = 0;
    if (r->palette) {
        first = r->palette[bytes[0]];
        end = r->palette[bytes[last]];
    } else {
        memcpy(&first, bytes, 4);
        memcpy(&end, bytes + last, 4);
    }
    Log("SaveImage %s %d %dx%d %d %u %d %d %08x %08x", strstr(r->fileName, "fail") ? "fail" : "ok", (int)r->format,
        r->width, r->height, r->rowBytes, r->flags, r->palette ? r->colourCount : 0,
        (r->flags & QBSAVEIMAGE_TRANSPARENT) ? r->transparentIndex : -1, first, end);
    return strstr(r->fileName, "fail") == NULL;
}
#endif

#ifdef TP_TST
/* ".tst" pictures: a text header "TST w h alpha transparency vector rowlength
 * colour alphaneeded" and no pixel data; every pixel is the colour.
 * vector 1 re-renders through TransformImage, vector 2 is a vector picture
 * whose TransformImage fails. Each LoadImage logs the wanted size. */
typedef struct TstImage {
    int w, h, alpha, transparency, vector, rowLength, alphaNeeded;
    unsigned colour;
    uint32_t* pixels;
} TstImage;

static int ReadTst(const char* name, TstImage* t) {
    memset(t, 0, sizeof *t);
    FILE* f = fopen(name, "rb");
    if (!f) return 0;
    const int n = fscanf(f, "TST %d %d %d %d %d %d %x %d", &t->w, &t->h, &t->alpha, &t->transparency, &t->vector,
                         &t->rowLength, &t->colour, &t->alphaNeeded);
    fclose(f);
    return n == 8;
}

EXPORT int IsImage(const char* name, qbImageLoadRequest* request) {
    Log("IsImage(%s)", name);
    TstImage t;
    if (!ReadTst(name, &t)) return 0;
    request->width = t.w;
    request->height = t.h;
    request->hasAlpha = t.alpha;
    request->isVector = t.vector ? 1 : 0;
    if (t.transparency) request->flags |= 2;
    return 1;
}
EXPORT void* LoadImage(const char* name, qbImageLoadRequest* request) {
    Log("LoadImage(%s) wanted=%d,%d smooth=%d flags=%u", name, request->wantedWidth, request->wantedHeight,
        request->smooth, request->flags);
    TstImage t;
    if (!ReadTst(name, &t)) return NULL;
    TstImage* image = malloc(sizeof *image);
    if (!image) return NULL;
    *image = t;
    request->width = t.w;
    request->height = t.h;
    request->rowLength = t.rowLength;
    request->hasAlpha = t.alpha;
    request->alphaNeeded = t.alphaNeeded;
    request->isVector = t.vector ? 1 : 0;
    return image;
}
EXPORT uint32_t* GetImage(void* handle, qbImageLoadRequest* request) {
    TstImage* image = handle;
    Log("GetImage %dx%d", image->w, image->h);
    free(image->pixels);
    const int row = image->rowLength > image->w ? image->rowLength : image->w;
    /* A bad size is handed on as it is: the host must refuse it. */
    if (image->w <= 0 || image->h <= 0) {
        image->pixels = calloc(1, sizeof(uint32_t));
        return image->pixels;
    }
    image->pixels = malloc(sizeof(uint32_t) * (size_t)row * (size_t)image->h);
    if (!image->pixels) return NULL;
    for (size_t i = 0; i < (size_t)row * (size_t)image->h; ++i) image->pixels[i] = image->colour;
    request->width = image->w;
    request->height = image->h;
    request->rowLength = image->rowLength;
    request->hasAlpha = image->alpha;
    return image->pixels;
}
EXPORT void FreeImage(void* handle) {
    TstImage* image = handle;
    Log("FreeImage");
    free(image->pixels);
    free(image);
}
EXPORT int TransformImage(void* handle, const double* transform) {
    TstImage* image = handle;
    Log("TransformImage %g %g %g %g %g %g", transform[0], transform[1], transform[2], transform[3], transform[4],
        transform[5]);
    if (image->vector == 2) return 0;
    image->w = (int)transform[4];
    image->h = (int)transform[5];
    image->rowLength = image->w;
    return 1;
}
#else
/* The image loader: answers "not mine" to everything. */
EXPORT int IsImage(const char* name, qbImageLoadRequest* request) {
    (void)request;
    Log("IsImage(%s)", name);
    return 0;
}
EXPORT void* LoadImage(const char* name, qbImageLoadRequest* request) {
    (void)name;
    (void)request;
    return NULL;
}
EXPORT uint32_t* GetImage(void* image, qbImageLoadRequest* request) {
    (void)image;
    (void)request;
    return NULL;
}
EXPORT void FreeImage(void* image) { (void)image; }
EXPORT int TransformImage(void* image, const double* transform) {
    (void)image;
    (void)transform;
    return 0;
}
#endif

#ifdef TP_AUDIO
EXPORT void OpenAudio(void) {}
EXPORT void CloseAudio(void) {}
EXPORT void AllocAudioChannel(void) {}
EXPORT void FreeAudioChannel(void) {}
#endif

#ifdef TP_SOUND
/* ".tsnd" files: a text header "TSND rate channels bits frames flags
 * subsongs" and no data; sample value i of the stream (interleaved) is
 * (i + 1000 * subsong) truncated to the width. SeekStream logs the frame;
 * a file whose rate is 0 is still opened (the host must refuse it). */
typedef struct TsndStream {
    long long rate, channels, bits, frames, flags, subsongs, subsong, position;
} TsndStream;

EXPORT void* OpenStream(const char* name, qbSoundStreamInfo* info) {
    Log("OpenStream(%s) subsong=%lld subsongs=%lld", name, (long long)info->subsong, (long long)info->subsongs);
    TsndStream t;
    memset(&t, 0, sizeof t);
    FILE* f = fopen(name, "rb");
    if (!f) return NULL;
    const int n = fscanf(f, "TSND %lld %lld %lld %lld %lld %lld", &t.rate, &t.channels, &t.bits, &t.frames,
                         &t.flags, &t.subsongs);
    fclose(f);
    if (n != 6) return NULL;
    TsndStream* stream = malloc(sizeof *stream);
    if (!stream) return NULL;
    t.subsong = info->subsong;
    *stream = t;
    info->rate = t.rate;
    info->channels = t.channels;
    info->bits = t.bits;
    info->frames = t.frames;
    info->flags = (uint64_t)t.flags;
    info->subsongs = t.subsongs;
    return stream;
}
EXPORT void CloseStream(void* handle) {
    Log("CloseStream");
    free(handle);
}
EXPORT int SeekStream(void* handle, uint64_t frame) {
    TsndStream* t = handle;
    Log("SeekStream(%llu)", (unsigned long long)frame);
    if ((long long)frame >= t->frames) return 0;
    t->position = (long long)frame;
    return 1;
}
EXPORT int64_t StreamSamples(void* handle, void* buffer, int64_t frames, int32_t* done) {
    TsndStream* t = handle;
    const long long left = t->frames - t->position;
    const long long n = frames < left ? frames : left;
    for (long long i = 0; i < n * t->channels; ++i) {
        const long long v = (t->position * t->channels + i) + 1000 * t->subsong;
        if (t->bits == 16)
            ((int16_t*)buffer)[i] = (int16_t)v;
        else
            ((uint8_t*)buffer)[i] = (uint8_t)v;
    }
    t->position += n;
    *done = t->position >= t->frames;
    return n;
}
EXPORT const char* GetFormatName(void* handle) {
    (void)handle;
    return "Test sound";
}

static int g_sampleSaverCall;
EXPORT void RegisterSampleSaver(qbSaverFormat* format) {
    format->name = "tsnd";
    format->id = 201;
    format->flags = QBSAVER_SAMPLE_END;
    ++g_sampleSaverCall;
}
/* Writes the record as text; a name containing "fail" answers 0. */
EXPORT int SaveSample(const char* name, const qbSampleSaveRecord* r) {
    Log("SaveSample(%s)", name);
    if (strstr(name, "fail")) return 0;
    FILE* f = fopen(name, "w");
    if (!f) return 0;
    fprintf(f, "%llu %llu %lld %lld %lld %llu %llu %d", (unsigned long long)r->bytes, (unsigned long long)r->frames,
            (long long)r->channels, (long long)r->bits, (long long)r->rate, (unsigned long long)r->flags,
            (unsigned long long)r->format, r->pcm ? ((const uint8_t*)r->pcm)[0] : -1);
    fclose(f);
    return 1;
}
#endif

#ifdef TP_REQUESTER
/* The system requester answers with the number of "|" in the tag-2 buttons
 * plus 1 (or 1 without custom buttons). */
EXPORT int SystemRequest(void* handle, const char* title, const char* body, uint32_t style, int32_t* result,
                         const qbAdapterTag* tags) {
    const char* buttons = "";
    for (; tags && tags->tag != 0; ++tags)
        if (tags->tag == 2) buttons = (const char*)tags->value;
    Log("SystemRequest(%s, %s, %u, %s) handle=%d", title, body, style, buttons, handle != NULL);
    int32_t count = 1;
    for (const char* p = buttons; *p; ++p) count += *p == '|';
    *result = count;
    return 0;
}
EXPORT int FileRequest(void) { return 0; }
EXPORT int PathRequest(void) { return 0; }
EXPORT int StringRequest(void) { return 0; }
EXPORT int ListRequest(void) { return 0; }
EXPORT int FontRequest(void) { return 0; }
EXPORT int ColorRequest(void) { return 0; }
EXPORT void FreeRequest(int kind, void* result) {
    (void)kind;
    (void)result;
}
#endif

#ifdef TP_ANIMSAVER
static int g_animSaverCall;
EXPORT void RegisterAnimSaver(qbSaverFormat* format) {
    const int n = g_animSaverCall++ % 2;
    format->name = n ? "targb" : "tpal";
    format->id = 301 + (uint64_t)n;
    format->flags = n ? QBSAVER_TRUECOLOUR | QBSAVER_ALPHA | QBSAVER_ANIM_END : 0;
}
/* Streams are counters; a name containing "fail" gets none. */
EXPORT void* BeginAnimStream(const char* name, int32_t width, int32_t height, uint32_t mode, int32_t quality,
                             int32_t fps) {
    Log("BeginAnimStream %dx%d mode %u quality %d fps %d", width, height, mode, quality, fps);
    if (strstr(name, "fail")) return NULL;
    return calloc(1, sizeof(int));
}
/* Logs the record: row bytes, colours, transparent index, delay, flags,
 * format, and the first and last pixels ($RRGGBB of palette entries, or the
 * ARGB words). Refuses a frame whose delay is 666. */
EXPORT int WriteAnimFrame(void* handle, const qbAnimFrameRecord* r) {
    int* frames = handle;
    const unsigned char* bytes = (const unsigned char*)r->pixels;
    unsigned first = 0, last = 0;
    if (r->palette) {
        const long end = r->rowBytes * 2 - 1;
        first = r->palette[bytes[0]];
        last = r->palette[bytes[end]];
    } else {
        memcpy(&first, bytes, 4);
        memcpy(&last, bytes + r->rowBytes * 2 - 4, 4);
    }
    Log("WriteAnimFrame %d %lld %lld %lld %lld %llu %llu %08x %08x", ++*frames, (long long)r->rowBytes,
        (long long)r->colourCount, (r->flags & QBANIMFRAME_TRANSPARENT) ? (long long)r->transparentIndex : -1LL,
        (long long)r->delay, (unsigned long long)r->flags, (unsigned long long)r->format, first, last);
    return r->delay != 666;
}
EXPORT void FinishAnimStream(void* handle) {
    Log("FinishAnimStream %d", *(int*)handle);
    free(handle);
}
#endif

#ifdef TP_VIDEO
/* ".tvid" files: a text header "TVID width height frames y u v"; every
 * picture is the colour y, u, v except its first luma row, which is black
 * (Y 16), and picture i comes at i x 40 ms. The records mirror the host's
 * stream information, packet and frame records. */
typedef struct TvidInfo {
    int32_t frameWidth, frameHeight;
    uint32_t duration;
    int32_t audioRate, audioChannels, seekByBytes, byteRate, framesAreRGB;
    uint32_t flags;
    int32_t reserved;
    double frameDuration;
    int64_t fileSize;
} TvidInfo;
typedef struct TvidPacket {
    void* packet;
    int32_t isAudio, size;
    double pts;
} TvidPacket;
typedef struct TvidFrame {
    uint32_t* rgb;
    const uint8_t* planes[3];
    int32_t pitches[3];
    double pts, dts;
    int32_t repeat;
    int64_t bytePos;
} TvidFrame;
typedef struct Tvid {
    int width, height, frames, next;
    uint8_t* planes[3];
} Tvid;

EXPORT void* OpenVideo(const char* name, TvidInfo* info, const char* adapter) {
    (void)adapter;
    Log("OpenVideo(%s)", name);
    int w = 0, h = 0, frames = 0, y = 0, u = 0, v = 0;
    FILE* f = fopen(name, "rb");
    if (!f) return NULL;
    const int n = fscanf(f, "TVID %d %d %d %d %d %d", &w, &h, &frames, &y, &u, &v);
    fclose(f);
    if (n != 6 || w < 2 || h < 2 || frames < 1) return NULL;
    Tvid* t = calloc(1, sizeof *t);
    if (!t) return NULL;
    t->width = w;
    t->height = h;
    t->frames = frames;
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    t->planes[0] = malloc((size_t)w * h);
    t->planes[1] = malloc((size_t)cw * ch);
    t->planes[2] = malloc((size_t)cw * ch);
    memset(t->planes[0], y, (size_t)w * h);
    memset(t->planes[0], 16, (size_t)w);
    memset(t->planes[1], u, (size_t)cw * ch);
    memset(t->planes[2], v, (size_t)cw * ch);
    info->frameWidth = w;
    info->frameHeight = h;
    info->duration = (uint32_t)frames * 40;
    info->frameDuration = 0.04;
    info->flags = 1;
    return t;
}
EXPORT void CloseVideo(void* handle) {
    Tvid* t = handle;
    Log("CloseVideo");
    for (int i = 0; i < 3; ++i) free(t->planes[i]);
    free(t);
}
EXPORT int32_t NextPacket(void* handle, TvidPacket* packet) {
    Tvid* t = handle;
    if (t->next >= t->frames) return -1;
    int* index = malloc(sizeof *index);
    if (!index) return -2;
    *index = t->next++;
    packet->packet = index;
    packet->isAudio = 0;
    packet->size = 100;
    packet->pts = *index * 0.04;
    return 0;
}
EXPORT void FreePacket(void* handle, void* packet) {
    (void)handle;
    free(packet);
}
EXPORT int32_t DecodeVideoFrame(void* handle, void* packet, TvidFrame* frame) {
    Tvid* t = handle;
    const int cw = (t->width + 1) / 2;
    frame->planes[0] = t->planes[0];
    frame->planes[1] = t->planes[1];
    frame->planes[2] = t->planes[2];
    frame->pitches[0] = t->width;
    frame->pitches[1] = frame->pitches[2] = cw;
    frame->pts = *(const int*)packet * 0.04;
    return 1;
}
EXPORT int32_t DecodeAudioFrame(void* handle, void* packet, void* out, int32_t capacity, int32_t* finished) {
    (void)handle, (void)packet, (void)out, (void)capacity;
    *finished = 1;
    return -1;
}
EXPORT int32_t SeekVideo(void* handle, int64_t target) {
    Tvid* t = handle;
    Log("SeekVideo(%lld)", (long long)target);
    t->next = (int)(target / 40);
    return 0;
}
EXPORT void FlushAudio(void* handle) { (void)handle; }
EXPORT void FlushVideo(void* handle) { (void)handle; }
EXPORT void GetVideoFrames(void) {}
EXPORT void GetVideoFormat(void) {}
#endif

#ifdef TP_ADAPTER
/* Only the blits are of interest; every other slot succeeds doing nothing
 * (and the allocators answer that they have nothing). */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
EXPORT int BltBitMap(void* source, void* destination, const struct qbAdapterBlitBlock* block, uint32_t mode,
                     void* reserved) {
    Log("BltBitMap %d,%d %dx%d", block->dstX, block->dstY, block->width, block->height);
    return 0;
}
EXPORT int HandleEvents(void* reserved) { return 0; }
EXPORT int WaitEvents(void* reserved) { return 0; }
EXPORT int ForceEventLoopIteration(void* reserved) { return 0; }
EXPORT int Sleep(int milliseconds) { return 0; }
EXPORT int VWait(void* handle, const struct qbAdapterTag* tags) { return 0; }
EXPORT int DetermineBorderSizes(uint32_t style, int32_t* left, int32_t* right, int32_t* top, int32_t* bottom) {
    return 0;
}
EXPORT void* OpenDisplay(const char* title, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t style,
                         const struct qbAdapterTag* tags) {
    return NULL;
}
EXPORT int CloseDisplay(void* handle) { return 0; }
EXPORT int ChangeBufferSize(void* handle, int32_t width, int32_t height, int32_t reserved1, void* reserved2) {
    return 0;
}
EXPORT int ShowHideDisplay(void* handle, int show, void* reserved) { return 0; }
EXPORT int SizeMoveDisplay(void* handle, int32_t x, int32_t y, int32_t width, int32_t height, int32_t reserved1,
                           void* reserved2) {
    return 0;
}
EXPORT int SetDisplayTitle(void* handle, const char* title) { return 0; }
EXPORT int ActivateDisplay(void* handle, int on) { return 0; }
EXPORT int SetDisplayAttributes(void* handle, const struct qbAdapterTag* tags) { return 0; }
EXPORT void* CreatePointer(const uint32_t* argb, int32_t width, int32_t height, int32_t hotX, int32_t hotY,
                           void* reserved) {
    return NULL;
}
EXPORT void FreePointer(void* pointer) {}
EXPORT int SetPointer(void* handle, int kind, void* pointer) { return 0; }
EXPORT int ShowHidePointer(void* handle, int show) { return 0; }
EXPORT int MovePointer(void* handle, int32_t x, int32_t y) { return 0; }
EXPORT int GetMousePos(void* handle, int32_t* x, int32_t* y) { return 0; }
EXPORT uint32_t GetQualifiers(void* handle) { return 0; }
EXPORT int RectFill(void* handle, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour, uint32_t mode,
                    void* reserved) {
    return 0;
}
EXPORT int WritePixel(void* handle, int32_t x, int32_t y, uint32_t colour, uint32_t mode, void* reserved) { return 0; }
EXPORT int Line(void* handle, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, uint32_t mode,
                void* reserved) {
    return 0;
}
EXPORT int GetMonitorInfo(int what, int monitor, void** out, void* reserved) { return 0; }
EXPORT void FreeMonitorInfo(int what, void* list) {}
EXPORT uint32_t* GrabScreenPixels(void* handle, int32_t x, int32_t y, int32_t width, int32_t height, int32_t reserved1,
                                  void* reserved2) {
    return NULL;
}
EXPORT void FreeGrabScreenPixels(uint32_t* pixels) {}
EXPORT int BeginDoubleBuffer(void* handle, void* reserved) { return 0; }
EXPORT int EndDoubleBuffer(void* handle, void* reserved) { return 0; }
EXPORT int Flip(void* handle, const struct qbAdapterTag* tags) { return 0; }
EXPORT int Cls(void* handle, uint32_t colour, void* reserved) { return 0; }
EXPORT void* AllocVideoBitMap(int32_t width, int32_t height, uint32_t flags, uint32_t* state,
                              const struct qbAdapterTag* tags) {
    return NULL;
}
EXPORT void FreeVideoBitMap(void* bitmap) {}
EXPORT void* ReadVideoPixels(void* bitmap, const struct qbAdapterTag* tags) { return NULL; }
EXPORT void FreeVideoPixels(void* pixels) {}
EXPORT int DoVideoBitMapMethod(void* bitmap, int method, const struct qbAdapterTag* tags) { return 0; }
EXPORT void* AllocBitMap(int32_t width, int32_t height, uint32_t flags, const struct qbAdapterTag* tags) {
    return NULL;
}
EXPORT void FreeBitMap(void* bitmap) {}
EXPORT void* LockBitMap(void* bitmap, uint32_t flags, const struct qbAdapterTag* tags) { return NULL; }
EXPORT void UnLockBitMap(void* lock) {}
EXPORT intptr_t GetBitMapAttr(void* bitmap, int attribute) { return 0; }
#pragma GCC diagnostic pop
#endif
