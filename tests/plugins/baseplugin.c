/* A library plugin that exercises the base table: each command calls slots
 * of one table and returns what it saw, so that the tests read the tables
 * exactly as a plugin compiled against qbplugin.h does. */
#include <errno.h>
#include <string.h>
#include <time.h>
#include <zlib.h>

#include "qbplugin.h"

#define EXPORT QBPLUGIN_EXPORT

static const struct VmSlots {
    const void* slot[78];
} * g_vm;
static const qbStdlibTable* g_std;
static const qbZlibTable* g_zlib;
static const qbHashTable* g_hash;

typedef double (*CheckNumberFn)(ScriptState*, int);
typedef const char* (*CheckStringFn)(ScriptState*, int, size_t*);
typedef void (*PushNumberFn)(ScriptState*, double);
typedef void (*PushLStringFn)(ScriptState*, const char*, size_t);

static double ArgNumber(ScriptState* L, int i) { return ((CheckNumberFn)g_vm->slot[47])(L, i); }
static const char* ArgString(ScriptState* L, int i, size_t* length) {
    return ((CheckStringFn)g_vm->slot[45])(L, i, length);
}
static int ReturnNumber(ScriptState* L, double n) {
    ((PushNumberFn)g_vm->slot[21])(L, n);
    return 1;
}
static int ReturnBytes(ScriptState* L, const void* data, size_t length) {
    ((PushLStringFn)g_vm->slot[22])(L, (const char*)data, length);
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

static const ScriptCommand kCommands[] = {
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
    {NULL, NULL},
};
static const ScriptConstant kConstants[] = {{NULL, NULL, 0}};

EXPORT int InitPlugin(qbPlugin* plugin, const qbPluginBase* base, const char* path) {
    (void)path;
    g_vm = (const struct VmSlots*)base->vmTable;
    g_std = (const qbStdlibTable*)base->stdlibTable;
    g_zlib = (const qbZlibTable*)base->zlibTable;
    g_hash = (const qbHashTable*)base->hashTable;
    if (!g_vm || !g_std || !g_zlib || !g_hash) return 0;
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
