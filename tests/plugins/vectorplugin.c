/* A vector engine for the tests. Every hook appends a line to the file that
 * QB_TEST_PLUGIN_LOG names, with the record it received and the path stream
 * read command by command at the stream's documented offsets:
 *   M|L rel x y; C rel x1 y1 x2 y2 x3 y3; S; Z; A xc yc rx ry start end dir;
 *   B x y w h a b c d; T handle size "text"
 * (handles are shown as "own" for a font handle this engine made, "face" for
 * anything else). The engine measures the box around every point of the
 * path (arcs by their centre and radii, boxes by their corners, a text as
 * 0.5 x size per character above the pen), widened by half the stroke for
 * strokes and moved by the origin and the matrix; DrawPath fills its whole
 * coverage buffer. Variants:
 *   TP_MARSHALLED   the record's calling mode is 2
 *   TP_EXTENSIONS n GetExtensions answers n (the vector extension flag) */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pluginlog.h"
#include "qbplugin.h"

#define EXPORT QBPLUGIN_EXPORT

static char g_name[256];

/* The vector-font handles this engine gave out (its own records). */
static void* g_fonts[64];

static void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void Log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendPluginLog(g_name, format, args);
    va_end(args);
}

/* A growing text for one log line. */
typedef struct Text {
    char data[8192];
    size_t used;
} Text;

static void Put(Text* t, const char* format, ...) __attribute__((format(printf, 2, 3)));
static void Put(Text* t, const char* format, ...) {
    if (t->used >= sizeof t->data) return;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(t->data + t->used, sizeof t->data - t->used, format, args);
    va_end(args);
    if (n > 0) t->used += (size_t)n;
    if (t->used > sizeof t->data) t->used = sizeof t->data;
}

static int32_t Int(const uint8_t* p) {
    int32_t v;
    memcpy(&v, p, 4);
    return v;
}
static double Num(const uint8_t* p) {
    double v;
    memcpy(&v, p, 8);
    return v;
}
static void* Ptr(const uint8_t* p) {
    void* v;
    memcpy(&v, p, sizeof v);
    return v;
}
static void PutNum(uint8_t* p, double v) { memcpy(p, &v, 8); }

static int FontSlot(const void* handle) {
    for (int i = 0; i < 64; ++i)
        if (handle && g_fonts[i] == handle) return i;
    return -1;
}

static const char* HandleKind(void* handle) { return FontSlot(handle) >= 0 ? "own" : "face"; }

/* The walk every hook shares: the text of the stream, the box of its points
 * and the pen after it; with dx, dy set it moves the absolute points. */
typedef struct Walk {
    double x1, y1, x2, y2;
    int any;
    double penX, penY;
} Walk;

static void Grow(Walk* w, double x, double y) {
    if (!w->any || x < w->x1) w->x1 = x;
    if (!w->any || y < w->y1) w->y1 = y;
    if (!w->any || x > w->x2) w->x2 = x;
    if (!w->any || y > w->y2) w->y2 = y;
    w->any = 1;
}

static void WalkStream(uint8_t* s, Text* t, Walk* w, int move, double dx, double dy) {
    memset(w, 0, sizeof *w);
    for (;;) {
        const int32_t code = Int(s);
        uint8_t* a = s + QB_PATH_CODE_SIZE;
        if (code == QB_PATH_END) break;
        if (code == QB_PATH_MOVE || code == QB_PATH_LINE) {
            const int rel = Int(a);
            if (move && !rel) PutNum(a + 4, Num(a + 4) + dx), PutNum(a + 12, Num(a + 12) + dy);
            double x = Num(a + 4), y = Num(a + 12);
            Put(t, "%s%d %g %g; ", code == QB_PATH_MOVE ? "M" : "L", rel, x, y);
            if (rel) x += w->penX, y += w->penY;
            w->penX = x, w->penY = y;
            Grow(w, x, y);
            s = a + QB_PATH_POINT_ARGS;
        } else if (code == QB_PATH_CURVE) {
            const int rel = Int(a);
            Put(t, "C%d", rel);
            double last[2] = {0, 0};
            for (int i = 0; i < 3; ++i) {
                uint8_t* p = a + 4 + 16 * i;
                if (move && !rel) PutNum(p, Num(p) + dx), PutNum(p + 8, Num(p + 8) + dy);
                double x = Num(p), y = Num(p + 8);
                Put(t, " %g %g", x, y);
                if (rel) x += w->penX, y += w->penY;
                Grow(w, x, y);
                last[0] = x, last[1] = y;
            }
            Put(t, "; ");
            w->penX = last[0], w->penY = last[1];
            s = a + QB_PATH_CURVE_ARGS;
        } else if (code == QB_PATH_SUBPATH || code == QB_PATH_CLOSE) {
            Put(t, "%s; ", code == QB_PATH_SUBPATH ? "S" : "Z");
            s = a;
        } else if (code == QB_PATH_ARC) {
            if (move) PutNum(a, Num(a) + dx), PutNum(a + 8, Num(a + 8) + dy);
            const double xc = Num(a), yc = Num(a + 8), rx = Num(a + 16), ry = Num(a + 24);
            Put(t, "A %g %g %g %g %g %g %d; ", xc, yc, rx, ry, Num(a + 32), Num(a + 40), Int(a + 48));
            Grow(w, xc - rx, yc - ry);
            Grow(w, xc + rx, yc + ry);
            s = a + QB_PATH_ARC_ARGS;
        } else if (code == QB_PATH_BOX) {
            if (move) PutNum(a, Num(a) + dx), PutNum(a + 8, Num(a + 8) + dy);
            const double x = Num(a), y = Num(a + 8), bw = Num(a + 16), bh = Num(a + 24);
            Put(t, "B %g %g %g %g %d %d %d %d; ", x, y, bw, bh, Int(a + 32), Int(a + 36), Int(a + 40), Int(a + 44));
            Grow(w, x, y);
            Grow(w, x + bw, y + bh);
            s = a + QB_PATH_BOX_ARGS;
        } else if (code == QB_PATH_TEXT) {
            void* handle = Ptr(a);
            const int32_t size = Int(a + 8);
            const char* text = (const char*)(a + QB_PATH_TEXT_ARGS);
            const size_t length = strlen(text);
            Put(t, "T %s %d \"%s\"; ", HandleKind(handle), size, text);
            Grow(w, w->penX, w->penY - size);
            w->penX += 0.5 * size * (double)length;
            Grow(w, w->penX, w->penY);
            s = a + QB_PATH_TEXT_ARGS + QB_PATH_STRING_SIZE(length);
        } else {
            Put(t, "?%d", code);
            break;
        }
    }
}

static void PutStyle(Text* t, const qbVectorLineStyle* style) {
    if (!style) {
        Put(t, "style=none");
        return;
    }
    Put(t, "style=%d,%d,%d,%d dash=%g", style->join, style->cap, style->fillRule, style->antialias, style->dashOffset);
    for (int i = 0; i < style->dashCount; ++i) Put(t, ",%g", style->dashes[i]);
}

static void PutMatrix(Text* t, const double* m) {
    if (m)
        Put(t, " matrix=%g,%g,%g,%g", m[0], m[1], m[2], m[3]);
    else
        Put(t, " matrix=none");
}

EXPORT int InitPlugin(qbPlugin* plugin, const qbPluginBase* base, const char* path) {
    (void)base;
    const char* slash = strrchr(path, '/');
    snprintf(g_name, sizeof g_name, "%s", slash ? slash + 1 : path);
    plugin->capabilities = PLUGINCAPS_VECTOR;
#ifdef TP_EXTENSIONS
    plugin->capabilities |= PLUGINCAPS_EXTENSIONS;
#endif
    plugin->version = 1;
    plugin->revision = 0;
    /* The name is the file's, less ".qbp". */
    static char name[256];
    snprintf(name, sizeof name, "%s", g_name);
    size_t n = strlen(name);
    if (n >= 4 && strcmp(name + n - 4, ".qbp") == 0) name[n - 4] = 0;
    plugin->name = name;
#ifdef TP_MARSHALLED
    plugin->callingMode = 2;
#endif
    Log("InitPlugin");
    return 1;
}

EXPORT void ClosePlugin(void) { Log("ClosePlugin"); }

#ifdef TP_EXTENSIONS
EXPORT uint32_t GetExtensions(uint32_t capability, uint32_t reserved) {
    (void)reserved;
    return capability == PLUGINCAPS_VECTOR ? TP_EXTENSIONS : 0;
}
#endif

EXPORT int GetPathExtents(qbPathExtentsArgs* a) {
    Text t = {{0}, 0};
    Walk w;
    Put(&t, "GetPathExtents filled=%d width=%d origin=%g,%g ", a->filled, a->strokeWidth, a->originX, a->originY);
    PutStyle(&t, a->style);
    PutMatrix(&t, a->matrix);
    Put(&t, " | ");
    WalkStream((uint8_t*)a->commands, &t, &w, 0, 0, 0);
    Log("%s", t.data);
    if (!w.any) return 0;
    const double grow = a->filled ? 0 : a->strokeWidth / 2.0;
    const double m[4] = {a->matrix ? a->matrix[0] : 1, a->matrix ? a->matrix[1] : 0, a->matrix ? a->matrix[2] : 0,
                         a->matrix ? a->matrix[3] : 1};
    const double xs[2] = {w.x1 - grow + a->originX, w.x2 + grow + a->originX};
    const double ys[2] = {w.y1 - grow + a->originY, w.y2 + grow + a->originY};
    Walk box;
    memset(&box, 0, sizeof box);
    for (int i = 0; i < 4; ++i) {
        const double x = xs[i & 1], y = ys[i >> 1];
        Grow(&box, m[0] * x + m[2] * y, m[1] * x + m[3] * y);
    }
    a->x1 = box.x1, a->y1 = box.y1, a->x2 = box.x2, a->y2 = box.y2;
    return 1;
}

EXPORT int DrawPath(qbDrawPathArgs* a) {
    Text t = {{0}, 0};
    Walk w;
    Put(&t, "DrawPath filled=%d width=%d reserved=%d bytesPerRow=%d size=%dx%d at=%g,%g,%g,%g ", a->filled,
        a->strokeWidth, a->reserved, a->bytesPerRow, a->width, a->height, a->x0, a->y0, a->x1, a->y1);
    PutStyle(&t, a->style);
    PutMatrix(&t, a->matrix);
    Put(&t, " | ");
    WalkStream((uint8_t*)a->commands, &t, &w, 0, 0, 0);
    Log("%s", t.data);
    if (!a->coverage || a->width <= 0 || a->height <= 0 || a->bytesPerRow < a->width) return 0;
    for (int32_t y = 0; y < a->height; ++y)
        memset(a->coverage + (size_t)y * (size_t)a->bytesPerRow, 255, (size_t)a->width);
    return 1;
}

EXPORT int TranslatePath(qbTranslatePathArgs* a) {
    Text t = {{0}, 0};
    Walk w;
    Put(&t, "TranslatePath %g,%g | ", a->dx, a->dy);
    WalkStream(a->commands, &t, &w, 0, 0, 0);
    Log("%s", t.data);
    Text moved = {{0}, 0};
    WalkStream(a->commands, &moved, &w, 1, a->dx, a->dy);
    return 1;
}

EXPORT int GetCurrentPoint(const uint8_t* commands, const qbVectorLineStyle* style, double* x, double* y) {
    Text t = {{0}, 0};
    Walk w;
    Put(&t, "GetCurrentPoint ");
    PutStyle(&t, style);
    Put(&t, " | ");
    WalkStream((uint8_t*)commands, &t, &w, 0, 0, 0);
    Log("%s", t.data);
    *x = w.penX;
    *y = w.penY;
    return 1;
}

EXPORT void* CreateVectorFont(void* face) {
    Log("CreateVectorFont face=%d", face != NULL);
    for (int i = 0; i < 64; ++i) {
        if (g_fonts[i]) continue;
        g_fonts[i] = malloc(16);
        return g_fonts[i];
    }
    return NULL;
}

EXPORT void FreeVectorFont(void* handle) {
    Log("FreeVectorFont %s", HandleKind(handle));
    const int slot = FontSlot(handle);
    if (slot < 0) return;
    free(g_fonts[slot]);
    g_fonts[slot] = NULL;
}

EXPORT void* OpenFont(const void* data, size_t size) {
    Log("OpenFont %zu", size);
    (void)data;
    return NULL;
}

EXPORT void CloseFont(void* face) { Log("CloseFont %d", face != NULL); }
