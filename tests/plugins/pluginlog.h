/* The line a test plugin appends for a call to the file that
 * QB_TEST_PLUGIN_LOG names: the prefix (when not null), then the text. */
#ifndef QB_TEST_PLUGINLOG_H
#define QB_TEST_PLUGINLOG_H

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

static void AppendPluginLog(const char* prefix, const char* format, va_list args) __attribute__((format(printf, 2, 0)));
static void AppendPluginLog(const char* prefix, const char* format, va_list args) {
    const char* path = getenv("QB_TEST_PLUGIN_LOG");
    if (!path || !*path) return;
    FILE* f = fopen(path, "a");
    if (!f) return;
    if (prefix) fprintf(f, "%s: ", prefix);
    vfprintf(f, format, args);
    fputc('\n', f);
    fclose(f);
}

#endif
