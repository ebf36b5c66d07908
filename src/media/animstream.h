// Anim streams and the anim writers behind SaveAnim: the stream record, the
// choice of writer by format number (0 an animated GIF, 1 a Motion-JPEG
// AVI, any other number a saver plugin that registered it), and the frame
// hand-over with quantisation for palette writers.
#pragma once

#include <cstdint>
#include <memory>

#include "core/argapi.h"
#include "core/objects.h"
#include "core/plugin.h"

struct qbBitmap;
struct qbGIFWriter;
struct qbAVIWriter;

constexpr int kObjectTypeAnimStream = 52;
enum : int32_t { kAnimSaveGIF = 0, kAnimSaveAVI = 1 };

// One saver plugin's format, as the plugin layer finds it. Null functions:
// the plugin can't be called directly.
struct qbAnimSaver {
    const void* plugin = nullptr;
    uint64_t flags = 0;  // QBSAVER_TRUECOLOUR, QBSAVER_ALPHA
    int32_t formatIndex = 0;
    qbBeginAnimStreamFunc begin = nullptr;
    qbWriteAnimFrameFunc write = nullptr;
    qbFinishAnimStreamFunc finish = nullptr;
};
// false when no loaded saver registered the format. The plugin layer sits
// above this folder and installs the lookup when a saver registers.
using AnimSaverLookup = bool (*)(uint64_t format, qbAnimSaver* out);
void SetAnimSaverLookup(AnimSaverLookup lookup);

// Owned by the anim library's stream list.
struct qbAnimStream : qbObject {
    int32_t width = 0, height = 0;
    int32_t format = kAnimSaveGIF;
    bool palette = false;  // frames are quantised before they are written
    bool useAlpha = false;
    qbGIFWriter* gif = nullptr;
    qbAVIWriter* avi = nullptr;
    void* pluginHandle = nullptr;
    qbAnimSaver saver;
};

struct qbAnimWriterOptions {
    int32_t quality = 90;
    int32_t fps = 25;
    bool useAlpha = false;
};

struct qbAnimFrameOptions {
    bool dither = true;
    int32_t colors = 256;
    int32_t transparency = -1;  // $RRGGBB or -1
    bool optimize = false;
    uint32_t delay = 0;
};

// Opens the writer of the format into the record's writer fields (the
// record's size, format and use-alpha flag set first). 0, or the writer's
// error: ERR_WRONGUSAGE, ERR_MEM, ERR_WRITEFILE, ERR_UNKNOWNANMOUT,
// ERR_SAVERALPHA or ERR_SAVEANIM.
int OpenAnimStreamWriter(const char* fileName, int32_t format, const qbAnimWriterOptions& options,
                         qbAnimStream* stream);
// The plugin format's begin: ERR_UNKNOWNANMOUT when no saver registered the
// format, ERR_SAVERALPHA for alpha on a format that stores none,
// ERR_SAVEANIM when the plugin gives no stream.
int FindAnimSaver(int32_t format, const char* fileName, int32_t width, int32_t height, int32_t quality, int32_t fps,
                  bool useAlpha, void** handle, qbAnimSaver* saver, bool* palette);
// One frame of the stream's size to its writer; mask and alpha count for
// plugins that take ARGB frames. 0, ERR_MEM, ERR_LOCKBMAP, ERR_WRITE,
// ERR_SAVEANIM or the AVI writer's errors; the stream stays usable.
int WriteAnimStreamFrame(qbAnimStream* stream, qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha,
                         const qbAnimFrameOptions& options);
// Closes the writer by format; a GIF or AVI writer's error comes back
// (ERR_WRITE, ERR_CLOSEFILE).
int CloseAnimStreamWriter(qbAnimStream* stream);

// ERR_FINDARRAY for an automatic id, else ERR_FINDANIMSTREAM with the number.
int FindAnimStream(ObjectID id, qbAnimStream** out);
// Appends a stream whose writer is open and takes it over; the choose flag
// asks for an automatic id (the record's address). ERR_MEM closes it.
int LinkAnimStream(NewObjectID id, std::unique_ptr<qbAnimStream> stream, qbAnimStream** out);
// Unlinks, closes and frees; the close's error comes back.
int FreeAnimStream(ObjectID id);
// Shutdown: every stream's file completed.
void FreeAllAnimStreams();
