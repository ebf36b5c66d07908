/* A library plugin that exercises the base table: each command calls slots
 * of one table and returns what it saw, so that the tests read the tables
 * exactly as a plugin compiled against qbplugin.h does. */
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <zlib.h>

#include "qbplugin.h"

#define EXPORT QBPLUGIN_EXPORT

static const qbVmTable* g_vm;
static const qbStdlibTable* g_std;
static const qbZlibTable* g_zlib;
static const qbHashTable* g_hash;
static const qbSystemTable* g_sys;
static const qbFilesTable* g_files;
static const qbGraphicsTable* g_gfx;
static const qbSoundTable* g_snd;
static const qbRequesterTable* g_req;
static const qbFontTable* g_font;
static const qbDataTable* g_data;
static qbPlugin* g_record;

static double ArgNumber(ScriptState* L, int i) { return g_vm->CheckNumber(L, i); }
static const char* ArgString(ScriptState* L, int i, size_t* length) {
    return g_vm->CheckString(L, i, length);
}
static int ReturnNumber(ScriptState* L, double n) {
    g_vm->PushNumber(L, n);
    return 1;
}
static double OptNumber(ScriptState* L, int i, double fallback) {
    return g_vm->OptNumber(L, i, fallback);
}
static int ReturnBytes(ScriptState* L, const void* data, size_t length) {
    g_vm->PushLString(L, (const char*)data, length);
    return 1;
}

/* The system's error number after a failed open through slot 5. */
static int ErrnoAfterFailedOpen(ScriptState* L) {
    g_std->SetErrno(0);
    FILE* f = g_std->Fopen("/nonexistent-folder/none", "rb");
    if (f) g_std->Fclose(f);
    return ReturnNumber(L, g_std->GetErrno());
}

/* 1 when localtime's record is sized 48 and matches localtime_r field by field. */
static int LocalTimeMatches(ScriptState* L) {
    const time_t t = (time_t)ArgNumber(L, 1);
    const qbTimeRecord* r = g_std->Localtime(&t);
    struct tm tm;
    localtime_r(&t, &tm);
    const int same = r && r->size == 48 && r->sec == tm.tm_sec && r->min == tm.tm_min && r->hour == tm.tm_hour &&
                     r->mday == tm.tm_mday && r->mon == tm.tm_mon && r->year == tm.tm_year &&
                     r->wday == tm.tm_wday && r->yday == tm.tm_yday && r->isdst == tm.tm_isdst &&
                     r->gmtoff == tm.tm_gmtoff;
    return ReturnNumber(L, same);
}

/* stat and fstat with a null record: their two results summed. */
static int NullStat(ScriptState* L) { return ReturnNumber(L, g_std->Stat(".", NULL) + g_std->Fstat(0, NULL)); }

static int FoldUpper(ScriptState* L) { return ReturnNumber(L, g_std->ToUpper((int)ArgNumber(L, 1))); }
static int FoldCompare(ScriptState* L) {
    return ReturnNumber(L, g_std->StrCaseCmp(ArgString(L, 1, NULL), ArgString(L, 2, NULL)));
}

/* Deflates (mode 0) or inflates (mode 1) the whole argument in one go. */
static int Zlib(ScriptState* L) {
    size_t length = 0;
    const char* data = ArgString(L, 1, &length);
    const int inflating = (int)ArgNumber(L, 2) == 1;
    unsigned char out[4096];
    z_stream z;
    memset(&z, 0, sizeof z);
    int rc = inflating ? g_zlib->inflateInit_(&z, ZLIB_VERSION, (int)sizeof z)
                       : g_zlib->deflateInit_(&z, Z_DEFAULT_COMPRESSION, ZLIB_VERSION, (int)sizeof z);
    if (rc != Z_OK) return ReturnNumber(L, rc);
    z.next_in = (Bytef*)data;
    z.avail_in = (uInt)length;
    z.next_out = out;
    z.avail_out = sizeof out;
    rc = inflating ? g_zlib->inflate(&z, Z_FINISH) : g_zlib->deflate(&z, Z_FINISH);
    const size_t made = sizeof out - z.avail_out;
    if (inflating)
        g_zlib->inflateEnd(&z);
    else
        g_zlib->deflateEnd(&z);
    if (rc != Z_STREAM_END) return ReturnNumber(L, rc);
    return ReturnBytes(L, out, made);
}

/* CRC-32 of the first n bytes of the argument. */
static int Crc(ScriptState* L) {
    const char* data = ArgString(L, 1, NULL);
    return ReturnNumber(L, (double)g_hash->Crc32(data, (int64_t)ArgNumber(L, 2)));
}
static int Md5(ScriptState* L) {
    size_t length = 0;
    const char* data = ArgString(L, 1, &length);
    char hex[33] = "untouched";
    g_hash->Md5Hex(data, length, hex);
    return ReturnBytes(L, hex, strlen(hex));
}
static int ToBase64(ScriptState* L) {
    size_t length = 0, made = 0;
    const char* data = ArgString(L, 1, &length);
    char out[512];
    if (length > 300) return ReturnNumber(L, -1);
    g_hash->Base64Encode(data, length, out, &made);
    return ReturnBytes(L, out, made);
}
static int FromBase64(ScriptState* L) {
    size_t length = 0, made = 0;
    const char* text = ArgString(L, 1, &length);
    unsigned char out[512];
    if (length > 600) return ReturnNumber(L, -1);
    if (!g_hash->Base64Decode(text, length, out, &made)) return ReturnNumber(L, 0);
    return ReturnBytes(L, out, made);
}

/* Table 1. */

/* The value that slot 0 gives one tag: a string for the header tags. */
static int HostTag(ScriptState* L) {
    const uint32_t tag = (uint32_t)ArgNumber(L, 1);
    qbPluginTag tags[2] = {{tag, 0, 0}, {0, 0, 0}};
    const int handled = g_sys->HostTags(tags);
    if (handled != 1) return ReturnNumber(L, -1);
    if ((tag >= 26 && tag <= 30) || tag == 37) {
        const char* text = (const char*)tags[0].value;
        return ReturnBytes(L, text, strlen(text));
    }
    return ReturnNumber(L, (double)tags[0].value);
}
static int RegisterType(ScriptState* L) {
    return ReturnNumber(L, g_sys->RegisterEventTypeEx(ArgString(L, 1, NULL), 0, NULL, NULL, NULL));
}
/* Slot 27 with the caller's state and a record whose first word is given. */
static int PostType(ScriptState* L) {
    qbEventData data;
    memset(&data, 0, sizeof data);
    const int kind = (int)ArgNumber(L, 1);
    data.words[0] = (int32_t)OptNumber(L, 2, 0);
    return ReturnNumber(L, g_sys->PostEventTo(L, kind, &data));
}
static int TimerElapsed(ScriptState* L) { return ReturnNumber(L, g_sys->TimerElapsed((uintptr_t)ArgNumber(L, 1))); }
/* 1 when slot 11 with flag 1 gave a zero-filled block (freed with slot 12). */
static int ZeroFilled(ScriptState* L) {
    const size_t size = (size_t)ArgNumber(L, 1);
    unsigned char* block = (unsigned char*)g_sys->AllocMemory(size, 1);
    if (!block) return ReturnNumber(L, -1);
    int zero = 1;
    for (size_t i = 0; i < size; ++i) zero &= block[i] == 0;
    g_sys->FreeMemory(block);
    return ReturnNumber(L, zero);
}
/* Slot 47 as "name placeholder line". */
static int ScriptPosition(ScriptState* L) {
    const char* name = NULL;
    const char* placeholder = NULL;
    int32_t line = 0;
    g_sys->GetScriptPosition(&name, &placeholder, &line);
    char text[512];
    const int n = snprintf(text, sizeof text, "%s %s %d", name, placeholder, (int)line);
    return ReturnBytes(L, text, (size_t)n < sizeof text ? (size_t)n : sizeof text - 1);
}
/* Adds an entry through slot 19; the number of entries on the word-15 list. */
static int AddEntry(ScriptState* L) {
    const char* name = ArgString(L, 1, NULL);
    if (!g_sys->AddPluginEntry(g_record, 1, name, NULL, "text", 0, 0)) return ReturnNumber(L, -1);
    int count = 0;
    for (const qbPluginEntry* e = (const qbPluginEntry*)g_record->ownedList; e; e = e->next) ++count;
    return ReturnNumber(L, count);
}

static void Print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    g_sys->ConsolePrint(format, args);
    va_end(args);
}
/* Prints a mark, then lets the hooked command run. */
static int HookRun(struct qbCommandHook* hook, ScriptState* L, int (*command)(ScriptState*), void* userData) {
    (void)hook;
    Print("%s ", (const char*)userData);
    return command(L);
}
/* Hooks the global command of that name; 1 when the hook took it. */
static int HookCommand(ScriptState* L) {
    const char* name = ArgString(L, 1, NULL);
    g_vm->PushString(L, name);
    g_vm->GetTable(L, QBVM_GLOBALSINDEX);
    qbScriptFunction command = g_vm->ToCFunction(L, -1);
    g_vm->SetTop(L, -2);
    if (!command) return ReturnNumber(L, 0);
    struct qbCommandHook* hook = g_sys->AddCommandHook(HookRun, NULL, (void*)"hooked");
    return ReturnNumber(L, hook && g_sys->AddCommandToHook(hook, command));
}

/* Table 2. */

/* count bytes at offset of a file, sought with slot 25 (or slot 2 when the
 * fourth argument is 1); -1 when it does not open, -2 when the seek fails. */
static int ReadAt(ScriptState* L) {
    const char* name = ArgString(L, 1, NULL);
    const int64_t offset = (int64_t)ArgNumber(L, 2);
    size_t count = (size_t)ArgNumber(L, 3);
    const int cForm = (int)OptNumber(L, 4, 0) == 1;
    char buffer[256];
    if (count > sizeof buffer) count = sizeof buffer;
    struct qbFile* f = g_files->FileOpen(name, QBFILE_READ, NULL);
    if (!f) return ReturnNumber(L, -1);
    const int sought = cForm ? g_files->FileSeekC(f, offset, SEEK_SET) == 0
                             : g_files->FileSeek(f, offset, QBFILE_SEEK_BEGINNING) >= 0;
    const size_t got = sought ? g_files->FileRead(f, buffer, count) : 0;
    g_files->FileClose(f);
    if (!sought) return ReturnNumber(L, -2);
    return ReturnBytes(L, buffer, got);
}
/* Slot 24's record of an open file with copied strings (freed through
 * table 1): "size name". */
static int Examine(ScriptState* L) {
    const char* name = ArgString(L, 1, NULL);
    struct qbFile* f = g_files->FileOpen(name, QBFILE_READ, NULL);
    if (!f) return ReturnNumber(L, -1);
    qbAdapterStat st;
    memset(&st, 0, sizeof st);
    const int ok = g_files->ExamineFile(f, &st, QBFILE_EXAMINE_COPY);
    g_files->FileClose(f);
    if (!ok) return ReturnNumber(L, 0);
    char text[512];
    const int n = snprintf(text, sizeof text, "%lld %s", (long long)st.size, st.name);
    g_sys->FreeHostBlock((void*)st.path);
    g_sys->FreeHostBlock((void*)st.name);
    return ReturnBytes(L, text, (size_t)n < sizeof text ? (size_t)n : sizeof text - 1);
}

/* Table 3. */

/* Brush id (2x1: opaque red, then half-transparent blue) through slot 12
 * with the request flags given; the slot's result. */
static int MakeBrush(ScriptState* L) {
    static const uint32_t kPixels[2] = {0xFFFF0000u, 0x800000FFu};
    qbBrushRequest request;
    memset(&request, 0, sizeof request);
    request.pixels = kPixels;
    request.keyColour = 0x0000FF;
    request.flags = (uint32_t)ArgNumber(L, 2);
    return ReturnNumber(L, g_gfx->MakeBrush((int32_t)ArgNumber(L, 1), 2, 1, &request, NULL));
}
/* A picture the plugin draws at any size: red with one green column in
 * the middle. Transform logs the matrix and size it is asked for. */
static struct {
    uint32_t* pixels;
    int32_t width, height;
} g_drawn;
static int DrawnTransform(void* image, const double* t) {
    (void)image;
    Print("transform %g %g %g %g %g %g\n", t[0], t[1], t[2], t[3], t[4], t[5]);
    const int32_t w = (int32_t)t[4], h = (int32_t)t[5];
    if (w < 1 || h < 1) return 0;
    uint32_t* pixels = (uint32_t*)realloc(g_drawn.pixels, (size_t)w * (size_t)h * sizeof *pixels);
    if (!pixels) return 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) pixels[(size_t)y * (size_t)w + (size_t)x] = x == w / 2 ? 0xFF00FF00u : 0xFFFF0000u;
    g_drawn.pixels = pixels;
    g_drawn.width = w;
    g_drawn.height = h;
    return 1;
}
static uint32_t* DrawnGet(void* image, qbImageLoadRequest* request) {
    (void)image;
    request->width = request->rowLength = g_drawn.width;
    request->height = g_drawn.height;
    return g_drawn.pixels;
}
static void DrawnFree(void* image) {
    (void)image;
    free(g_drawn.pixels);
    g_drawn.pixels = NULL;
}
/* Brush id (3x1, drawn as above) through slot 12 with flag bit 2: the
 * brush keeps the picture to draw it again at other sizes. */
static int MakeDrawnBrush(ScriptState* L) {
    static const double kOwnSize[6] = {1, 0, 0, 1, 3, 1};
    if (!DrawnTransform(&g_drawn, kOwnSize)) return ReturnNumber(L, -1);
    qbBrushRequest request;
    memset(&request, 0, sizeof request);
    request.pixels = g_drawn.pixels;
    request.flags = 4;
    request.image = &g_drawn;
    request.get = DrawnGet;
    request.free = DrawnFree;
    request.transform = DrawnTransform;
    return ReturnNumber(L, g_gfx->MakeBrush((int32_t)ArgNumber(L, 1), 3, 1, &request, NULL));
}
/* Slot 29's result. */
static int FreeBrush(ScriptState* L) { return ReturnNumber(L, g_gfx->FreeBrush((int32_t)ArgNumber(L, 1))); }

/* Table 4. */

/* Slot 0's record as "bytes frames channels bits rate flags|" and the PCM;
 * 0 for null. */
static int DecodeSound(ScriptState* L) {
    const uint32_t flags = (uint32_t)OptNumber(L, 2, 0);
    qbSoundPCM* r = g_snd->DecodeSound(ArgString(L, 1, NULL), flags);
    if (!r) return ReturnNumber(L, 0);
    char head[128];
    const int n = snprintf(head, sizeof head, "%llu %llu %lld %lld %lld %llu|", (unsigned long long)r->bytes,
                           (unsigned long long)r->frames, (long long)r->channels, (long long)r->bits,
                           (long long)r->rate, (unsigned long long)r->flags);
    char* text = (char*)g_sys->AllocMemory((size_t)n + r->bytes, 0);
    if (text) {
        memcpy(text, head, (size_t)n);
        memcpy(text + n, r->pcm, r->bytes);
        ReturnBytes(L, text, (size_t)n + r->bytes);
        g_sys->FreeMemory(text);
    } else {
        ReturnNumber(L, -1);
    }
    if (flags & QBSOUND_DECODE_OWNBUFFER) g_sys->FreeHostBlock(r->pcm);
    g_sys->FreeHostBlock(r);
    return 1;
}
/* Decodes the file through slot 0 (with the flags) and hands it to the
 * sample through slot 1: slot 1's result, or -1 when nothing decoded. */
static int HandSound(ScriptState* L) {
    qbSoundPCM* r = g_snd->DecodeSound(ArgString(L, 2, NULL), (uint32_t)OptNumber(L, 3, 0));
    if (!r) return ReturnNumber(L, -1);
    return ReturnNumber(L, g_snd->SetSamplePCM((intptr_t)ArgNumber(L, 1), r));
}
static int InstallAudio(ScriptState* L) {
    const qbAdapterTag tags[] = {{QBAUDIOADAPTER_TAG_CHANNELS, (intptr_t)OptNumber(L, 2, 4)}, {0, 0}};
    return ReturnNumber(L, g_snd->SetAudioAdapter(g_record, (uint32_t)ArgNumber(L, 1), tags));
}

/* Table 5. */

static int AskSystem(ScriptState* L) {
    const char* title = ArgString(L, 1, NULL);
    const char* body = ArgString(L, 2, NULL);
    return ReturnNumber(L, g_req->SystemRequest(title, body, ArgString(L, 3, NULL), 0));
}
/* Slot 1 (kind 0) or 2 (kind 1) with a buffer of exactly size bytes, preset
 * to '#': "result:" and the whole buffer as it was left. */
static int AskPath(ScriptState* L) {
    const int kind = (int)ArgNumber(L, 1);
    const size_t size = (size_t)ArgNumber(L, 2);
    if (size == 0 || size > 4096) return ReturnNumber(L, -1);
    char* buffer = (char*)g_std->Malloc(size);
    char* text = (char*)g_std->Malloc(size + 8);
    if (!buffer || !text) {
        g_std->Free(buffer);
        g_std->Free(text);
        return ReturnNumber(L, -1);
    }
    memset(buffer, '#', size);
    const int ok =
        kind == 0 ? g_req->FileRequest("Pick", "*", 0, buffer, size) : g_req->PathRequest("Pick", buffer, size);
    const int n = snprintf(text, 8, "%d:", ok);
    memcpy(text + n, buffer, size);
    ReturnBytes(L, text, (size_t)n + size);
    g_std->Free(buffer);
    g_std->Free(text);
    return 1;
}

/* Table 6: "path offset length", or 0. */
static int FindFont(ScriptState* L) {
    char path[1024];
    int64_t offset = -1, length = -1;
    if (!g_font->FindInstalledFont(ArgString(L, 1, NULL), (int32_t)ArgNumber(L, 2), (int32_t)OptNumber(L, 3, 0), 0,
                                   path, sizeof path, &offset, &length))
        return ReturnNumber(L, 0);
    char text[1200];
    const int n = snprintf(text, sizeof text, "%s %lld %lld", path, (long long)offset, (long long)length);
    return ReturnBytes(L, text, (size_t)n < sizeof text ? (size_t)n : sizeof text - 1);
}

/* Table 9: font i's size and its first four bytes in hex ("65932 00010000"). */
static int BuiltinFont(ScriptState* L) {
    const int i = (int)ArgNumber(L, 1);
    if (i < 0 || i > 2 || !g_data->fonts[i]) return ReturnNumber(L, -1);
    const unsigned char* b = (const unsigned char*)g_data->fonts[i];
    char text[64];
    const int n = snprintf(text, sizeof text, "%llu %02x%02x%02x%02x", (unsigned long long)g_data->fontSizes[i], b[0],
                           b[1], b[2], b[3]);
    return ReturnBytes(L, text, (size_t)n);
}
static int BuiltinFontData(ScriptState* L) {
    const int i = (int)ArgNumber(L, 1);
    if (i < 0 || i > 2 || !g_data->fonts[i]) return ReturnNumber(L, -1);
    return ReturnBytes(L, g_data->fonts[i], g_data->fontSizes[i]);
}

static const ScriptCommand kCommands[] = {
    {"DecodeSound", DecodeSound},
    {"HandSound", HandSound},
    {"InstallAudio", InstallAudio},
    {"AskSystem", AskSystem},
    {"AskPath", AskPath},
    {"FindFont", FindFont},
    {"BuiltinFont", BuiltinFont},
    {"BuiltinFontData", BuiltinFontData},
    {"HostTag", HostTag},
    {"RegisterType", RegisterType},
    {"PostType", PostType},
    {"TimerElapsed", TimerElapsed},
    {"ZeroFilled", ZeroFilled},
    {"ScriptPosition", ScriptPosition},
    {"AddEntry", AddEntry},
    {"HookCommand", HookCommand},
    {"ReadAt", ReadAt},
    {"Examine", Examine},
    {"ErrnoAfterFailedOpen", ErrnoAfterFailedOpen},
    {"LocalTimeMatches", LocalTimeMatches},
    {"NullStat", NullStat},
    {"FoldUpper", FoldUpper},
    {"FoldCompare", FoldCompare},
    {"Zlib", Zlib},
    {"Crc", Crc},
    {"Md5", Md5},
    {"ToBase64", ToBase64},
    {"FromBase64", FromBase64},
    {"MakeBrush", MakeBrush},
    {"MakeDrawnBrush", MakeDrawnBrush},
    {"FreeBrush", FreeBrush},
    {NULL, NULL},
};
static const ScriptConstant kConstants[] = {{NULL, NULL, 0}};

EXPORT int InitPlugin(qbPlugin* plugin, const qbPluginBase* base, const char* path) {
    (void)path;
    g_vm = (const qbVmTable*)base->vmTable;
    g_std = (const qbStdlibTable*)base->stdlibTable;
    g_zlib = (const qbZlibTable*)base->zlibTable;
    g_hash = (const qbHashTable*)base->hashTable;
    g_sys = (const qbSystemTable*)base->systemTable;
    g_files = (const qbFilesTable*)base->filesTable;
    g_gfx = (const qbGraphicsTable*)base->graphicsTable;
    g_snd = (const qbSoundTable*)base->soundTable;
    g_req = (const qbRequesterTable*)base->requesterTable;
    g_font = (const qbFontTable*)base->fontTable;
    g_data = (const qbDataTable*)base->dataTable;
    g_record = plugin;
    if (!g_vm || !g_std || !g_zlib || !g_hash || !g_sys || !g_files || !g_gfx || !g_snd || !g_req || !g_font || !g_data)
        return 0;
    plugin->capabilities = PLUGINCAPS_LIBRARY;
    plugin->version = 1;
    plugin->revision = 0;
    plugin->name = "basecheck";
    plugin->description = "base table exerciser";
    return 1;
}
EXPORT void ClosePlugin(void) {}
EXPORT const char* GetBaseTable(void) { return "basecheck"; }
EXPORT const ScriptCommand* GetCommands(void) { return kCommands; }
EXPORT const ScriptConstant* GetConstants(void) { return kConstants; }
EXPORT int InitLibrary(ScriptState* L) {
    (void)L;
    return 0;
}
EXPORT void FreeLibrary(ScriptState* L) { (void)L; }
