/* A display adapter for the adapter's tests, written against qbplugin.h
 * alone. RequirePlugin installs it with the flags of the require tag
 * "flags"; every slot appends a line to the file that QB_TEST_PLUGIN_LOG
 * names: the slot's name and its arguments as numbers (a handle as 1 when
 * it is the one OpenDisplay gave, else 0), and answers with fixed values: a
 * window frame of 1, 2, 20 and 3, the mouse at 11, 22, qualifiers 0x55, two
 * monitors (800x600, then 1024x768 right of it), the modes 640x480 and
 * 800x600, grabs of the pixels 0x10, 0x20, 0x30, 0x40, and a user abort
 * for a sleep of 13 ms. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pluginlog.h"
#include "qbplugin.h"

#define EXPORT QBPLUGIN_EXPORT

static qbPlugin* g_record;
static const qbGraphicsTable* g_graphics;
static int g_window;  /* its address is the one display handle */
static int g_pointer; /* and this the one pointer */
static uint32_t g_grabbed[4] = {0x10, 0x20, 0x30, 0x40};
static int32_t g_monitors[3][4] = {{0, 0, 800, 600}, {800, 0, 1024, 768}, {0, 0, 0, 0}};
static int32_t g_modes[3][2] = {{640, 480}, {800, 600}, {0, 0}};

#define USER_ABORT 1003

static void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void Log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendPluginLog(NULL, format, args);
    va_end(args);
}

static int Ours(const void* handle) { return handle == &g_window; }

EXPORT int InitPlugin(qbPlugin* plugin, const qbPluginBase* base, const char* path) {
    (void)path;
    g_record = plugin;
    g_graphics = (const qbGraphicsTable*)base->graphicsTable;
    plugin->capabilities = PLUGINCAPS_REQUIRE | PLUGINCAPS_DISPLAYADAPTER | PLUGINCAPS_EXTENSIONS;
    plugin->version = 1;
    plugin->revision = 0;
    plugin->name = "logadapter";
    plugin->description = "display adapter that logs its calls";
    return 1;
}

EXPORT void ClosePlugin(void) {}

/* Bit 0 for the display adapter: it has a main loop of its own. */
EXPORT uint32_t GetExtensions(uint32_t capability, uint32_t reserved) {
    (void)reserved;
    return capability == PLUGINCAPS_DISPLAYADAPTER ? 1u : 0u;
}

EXPORT int RequirePlugin(ScriptState* L, int version, int revision, uint32_t reserved, const qbPluginTag* tags) {
    (void)L, (void)version, (void)revision, (void)reserved;
    uint32_t flags = 0;
    for (; tags && tags->tag != QBREQUIRE_TAG_END; ++tags) {
        if (tags->tag != QBREQUIRE_TAG_TAGLIST) continue;
        for (const qbRequireTagNode* n = (const qbRequireTagNode*)tags->value; n; n = n->next)
            if (strcmp(n->key, "flags") == 0) flags = (uint32_t)n->number;
    }
    Log("SetDisplayAdapter %d", g_graphics->SetDisplayAdapter(g_record, flags, NULL));
    return 0;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
EXPORT int HandleEvents(void* reserved) { return 0; }
EXPORT int WaitEvents(void* reserved) { return 0; }
EXPORT int ForceEventLoopIteration(void* reserved) {
    Log("ForceEventLoopIteration");
    return 0;
}
EXPORT int Sleep(int milliseconds) {
    Log("Sleep %d", milliseconds);
    return milliseconds == 13 ? USER_ABORT : 0;
}
EXPORT int VWait(void* handle, const qbAdapterTag* tags) {
    Log("VWait %d %u %ld %u", Ours(handle), tags[0].tag, (long)tags[0].value, tags[1].tag);
    return 0;
}
EXPORT int DetermineBorderSizes(uint32_t style, int32_t* left, int32_t* right, int32_t* top, int32_t* bottom) {
    Log("DetermineBorderSizes %u", style);
    *left = 1, *right = 2, *top = 20, *bottom = 3;
    return 0;
}
EXPORT void* OpenDisplay(const char* title, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t style,
                         const qbAdapterTag* tags) {
    Log("OpenDisplay %s", title);
    Log("OpenDisplay %d %d %d %d %u", x, y, width, height, style);
    return &g_window;
}
EXPORT int CloseDisplay(void* handle) {
    Log("CloseDisplay %d", Ours(handle));
    return 0;
}
EXPORT int ChangeBufferSize(void* handle, int32_t width, int32_t height, int32_t reserved1, void* reserved2) {
    Log("ChangeBufferSize %d %d %d %d %d", Ours(handle), width, height, reserved1, reserved2 == NULL);
    return 0;
}
EXPORT int ShowHideDisplay(void* handle, int show, void* reserved) {
    Log("ShowHideDisplay %d %d", Ours(handle), show);
    return 0;
}
EXPORT int SizeMoveDisplay(void* handle, int32_t x, int32_t y, int32_t width, int32_t height, int32_t reserved1,
                           void* reserved2) {
    Log("SizeMoveDisplay %d %d %d %d %d %d", Ours(handle), x, y, width, height, reserved1);
    return 0;
}
EXPORT int SetDisplayTitle(void* handle, const char* title) {
    Log("SetDisplayTitle %d %s", Ours(handle), title);
    return 0;
}
EXPORT int ActivateDisplay(void* handle, int on) {
    Log("ActivateDisplay %d %d", Ours(handle), on);
    return 0;
}
EXPORT int SetDisplayAttributes(void* handle, const qbAdapterTag* tags) { return 0; }
EXPORT void* CreatePointer(const uint32_t* argb, int32_t width, int32_t height, int32_t hotX, int32_t hotY,
                           void* reserved) {
    Log("CreatePointer %u %d %d %d %d", argb[0], width, height, hotX, hotY);
    return &g_pointer;
}
EXPORT void FreePointer(void* pointer) { Log("FreePointer %d", pointer == &g_pointer); }
EXPORT int SetPointer(void* handle, int kind, void* pointer) {
    Log("SetPointer %d %d %d", Ours(handle), kind, pointer == &g_pointer);
    return 0;
}
EXPORT int ShowHidePointer(void* handle, int show) {
    Log("ShowHidePointer %d %d", Ours(handle), show);
    return 0;
}
EXPORT int MovePointer(void* handle, int32_t x, int32_t y) {
    Log("MovePointer %d %d %d", Ours(handle), x, y);
    return 0;
}
EXPORT int GetMousePos(void* handle, int32_t* x, int32_t* y) {
    Log("GetMousePos %d", Ours(handle));
    *x = 11, *y = 22;
    return 0;
}
EXPORT uint32_t GetQualifiers(void* handle) {
    Log("GetQualifiers %d", Ours(handle));
    return 0x55u;
}
EXPORT int BltBitMap(void* source, void* destination, const qbAdapterBlitBlock* b, uint32_t mode, void* reserved) {
    Log("BltBitMap %d %d %d %d %d %d %d %d %d %d %u", source != NULL, Ours(destination), b->srcX, b->srcY, b->dstX,
        b->dstY, b->width, b->height, b->scaleWidth, b->scaleHeight, mode);
    return 0;
}
EXPORT int RectFill(void* handle, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour, uint32_t mode,
                    void* reserved) {
    Log("RectFill %d %d %d %d %d %u %u", Ours(handle), x, y, width, height, colour, mode);
    return 0;
}
EXPORT int WritePixel(void* handle, int32_t x, int32_t y, uint32_t colour, uint32_t mode, void* reserved) {
    Log("WritePixel %d %d %d %u %u", Ours(handle), x, y, colour, mode);
    return 0;
}
EXPORT int Line(void* handle, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, uint32_t mode,
                void* reserved) {
    Log("Line %d %d %d %d %d %u %u", Ours(handle), x1, y1, x2, y2, colour, mode);
    return 0;
}
EXPORT int GetMonitorInfo(int what, int monitor, void** out, void* reserved) {
    Log("GetMonitorInfo %d %d", what, monitor);
    *out = what == 0 ? (void*)g_monitors : (void*)g_modes;
    return 0;
}
EXPORT void FreeMonitorInfo(int what, void* list) { Log("FreeMonitorInfo %d", what); }
EXPORT uint32_t* GrabScreenPixels(void* handle, int32_t x, int32_t y, int32_t width, int32_t height, int32_t reserved1,
                                  void* reserved2) {
    Log("GrabScreenPixels %d %d %d %d %d", Ours(handle), x, y, width, height);
    return g_grabbed;
}
EXPORT void FreeGrabScreenPixels(uint32_t* pixels) { Log("FreeGrabScreenPixels %d", pixels == g_grabbed); }
EXPORT int AdapterMainLoop(ScriptState* L, qbAdapterMainCallback callback, ScriptState* userData, int reserved1,
                           void* reserved2) {
    Log("AdapterMainLoop %d", L == userData);
    return 0;
}
EXPORT int BeginDoubleBuffer(void* handle, void* reserved) { return 0; }
EXPORT int EndDoubleBuffer(void* handle, void* reserved) { return 0; }
EXPORT int Flip(void* handle, const qbAdapterTag* tags) { return 0; }
EXPORT int Cls(void* handle, uint32_t colour, void* reserved) {
    Log("Cls %d %u", Ours(handle), colour);
    return 0;
}
EXPORT void* AllocVideoBitMap(int32_t width, int32_t height, uint32_t flags, uint32_t* state,
                              const qbAdapterTag* tags) {
    return NULL;
}
EXPORT void FreeVideoBitMap(void* bitmap) {}
EXPORT void* ReadVideoPixels(void* bitmap, const qbAdapterTag* tags) { return NULL; }
EXPORT void FreeVideoPixels(void* pixels) {}
EXPORT int DoVideoBitMapMethod(void* bitmap, int method, const qbAdapterTag* tags) { return 0; }
EXPORT void* AllocBitMap(int32_t width, int32_t height, uint32_t flags, const qbAdapterTag* tags) { return NULL; }
EXPORT void FreeBitMap(void* bitmap) {}
EXPORT void* LockBitMap(void* bitmap, uint32_t flags, const qbAdapterTag* tags) { return NULL; }
EXPORT void UnLockBitMap(void* lock) {}
EXPORT intptr_t GetBitMapAttr(void* bitmap, int attribute) { return 0; }
#pragma GCC diagnostic pop
