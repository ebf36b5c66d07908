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
 * Each entry-point call appends a line to the file that QB_TEST_PLUGIN_LOG
 * names. RequirePlugin sets the hidden-displays answer for a tag "hidden". */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

static void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void Log(const char* format, ...) {
    const char* path = getenv("QB_TEST_PLUGIN_LOG");
    if (!path || !*path) return;
    FILE* f = fopen(path, "a");
    if (!f) return;
    fprintf(f, "%s: ", g_name[0] ? g_name : "?");
    va_list args;
    va_start(args, format);
    vfprintf(f, format, args);
    va_end(args);
    fputc('\n', f);
    fclose(f);
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
    return 0;
}

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

#ifdef TP_AUDIO
EXPORT void OpenAudio(void) {}
EXPORT void CloseAudio(void) {}
EXPORT void AllocAudioChannel(void) {}
EXPORT void FreeAudioChannel(void) {}
#endif
