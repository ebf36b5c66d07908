// The records that the backend operations exchange with the portable code.
// Records owned by a backend (images, fonts, movies, decoders, pointers)
// stay opaque: callers only hand them back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/filestamp.h"

struct ScriptState;
struct qbDisplay;
struct qbBitmapLock;
struct qbNativeBitmap;
struct qbFont;
struct qbBitmap;

struct qbNativePointer;
struct qbNativeImage;
struct qbNativeMovie;
struct qbNativeAudioFile;
struct qbAudioStream;
struct qbAudioChannel;

using MainFunction = int (*)(int, char**);

// A rectangle of a picture (BlitRectsToWindow).
struct qbWindowRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// One monitor in the order of the system's list of active displays.
struct qbMonitorEntry {
    std::unique_ptr<qbMonitorEntry> next;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};
using MonitorList = std::unique_ptr<qbMonitorEntry>;

// Five words per mode because callers size their arrays that way; only the
// first two carry anything.
struct qbDisplayModeEntry {
    int32_t width = 0;
    int32_t height = 0;
    int32_t reserved[3] = {};
};

enum : int { kPointerArrow = 0, kPointerBusy = 1, kPointerShape = 2 };

enum : int { kQuitShortcutCtrlC = 8, kQuitShortcutLeftButton = 9, kQuitShortcutEscape = 10 };

enum : uint32_t { kMenuItemChecked = 2, kMenuItemDisabled = 4 };

enum : int { kReqNormal = 0, kReqMultiSelect = 1, kReqSaveMode = 2 };

struct qbFontRequest {
    char name[256] = {};
    int32_t size = 0;
    int32_t weight = 0;  // 200 bold, 80 normal
    int32_t slant = 0;   // 100 italic, 0 upright
    int32_t underline = 0;
    int32_t zero1 = 0;
    int32_t bold = 0;
    int32_t italic = 0;
    int32_t zero2 = 0;
};

struct qbFileRequestResult {
    std::string folder;
    std::string files;
    int32_t count = 0;
    int32_t chosen = 0;  // 0 when the user cancelled
};

enum : uint32_t { kPCMBigEndian = 1, kPCMSigned = 2 };

struct qbPCMFormat {
    int32_t rate = 0;
    int32_t bits = 0;
    int32_t bytesPerFrame = 0;
    int32_t channels = 0;
    uint32_t flags = 0;
    uint32_t kbps = 0;  // a decoded file's bitrate where it is MPEG audio
};

struct qbAudioPacketInfo {
    int64_t bytes = 0;
    int64_t packets = 0;
    int32_t endOfStream = 0;
};

// Everything DecodeNativeImage reads and answers, kept in one record because
// the list is long and grows with the codecs. The source is the open file
// (a qbFile, read from its start) or else the data block.
struct qbNativeImageRequest {
    void* file = nullptr;
    const void* data = nullptr;
    size_t dataSize = 0;
    const char* name = nullptr;
    uint32_t openFlags = 0;
    int32_t probeOnly = 0;
    const uint32_t* palette = nullptr;
    uint32_t callerColour = 0;
    int32_t keyColourMode = 0;
    qbNativeImage* image = nullptr;        // out
    std::unique_ptr<uint32_t[]> paletteCopy;  // out
    int32_t transparency = 0;              // out
    int32_t width = 0;                     // out
    int32_t height = 0;                    // out
    int32_t hasAlpha = 0;                  // out
};

// What EncodeNativeImage writes.
enum : int32_t { kNativeImagePNG = 0, kNativeImageJPEG = 1 };

// A picture to encode: words 0xAARRGGBB in the machine's order, or with
// bigEndian the bytes A, R, G, B. The encoder never writes to them; the
// alpha byte is written only with hasAlpha.
struct qbEncodePixels {
    const uint32_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t bytesPerRow = 0;
    int32_t hasAlpha = 0;
    int32_t bigEndian = 0;
    int32_t quality = 100;  // JPEG, 0-100
};

struct qbTextExtents {
    int32_t width = 0;
    int32_t height = 0;
    int32_t inkLeft = 0;
    int32_t inkTop = 0;
    int32_t inkRight = 0;
    int32_t inkBottom = 0;
};

// A font of the native engine. OpenNativeFont fills it; the font layer sets
// the scale before each operation; CloseNativeFont releases what the backend
// holds in face.
struct qbNativeFontFace;
struct qbNativeFont {
    std::string name;       // the full name of the font used
    int32_t pointSize = 0;  // where the search for the height of "A" settled
    int32_t height = 0;     // line height, ascent + descent
    int32_t ascent = 0;
    int32_t descent = 0;    // below the baseline, positive
    double xScale = 1.0;
    double yScale = 1.0;
    qbNativeFontFace* face = nullptr;
    qbFileStamp stamp;  // the file the font was read from, as it was then
};

struct qbNativeTextClip {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

struct qbMovieInfo {
    qbNativeMovie* movie = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int64_t duration = 0;  // milliseconds, 0..4294967295
    int32_t seekable = 0;
};

// A decoded movie picture: host-order 0xAARRGGBB words, top row first,
// modulo words from one row to the next.
struct qbMovieFrame {
    const uint32_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t modulo = 0;
};

// What the clipboard holds (a sound is never reported).
enum : int { kClipboardEmpty = 0, kClipboardText = 1, kClipboardImage = 2, kClipboardUnknown = 4 };

// One record both ways: the text for TEXT, the rest for IMAGE. The bitmap
// belongs to the graphics layers; the backend only hands it to their
// operations.
struct qbClipboardData {
    std::string text;  // ISO 8859-1
    int32_t width = 0;
    int32_t height = 0;
    qbBitmap* bitmap = nullptr;
    // Empty, or one byte per pixel, row by row: mask bytes are 0 for a
    // transparent pixel, alpha bytes 0 to 255.
    std::vector<uint8_t> mask;
    std::vector<uint8_t> alpha;
};
