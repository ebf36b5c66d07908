// Backend operations, listed for platform_ops.h.
#pragma once

#include "platform/platform_types.h"

// Native image codecs. DecodeNativeImageFromMemory decodes the bytes as the
// request's data block (the bytes stay the caller's; the answers go into the
// request). EncodeNativeImage writes kNativeImagePNG or kNativeImageJPEG to
// the file at path, or else appends the file to *outData.
// X(result, name, (parameters), (arguments))
#define QB_PLATFORM_IMAGE_OPS(X) \
    X(int, DecodeNativeImage, (qbNativeImageRequest* request), (request)) \
    X(int, DecodeNativeImageFromMemory, (const void* data, size_t size, qbNativeImageRequest* request), (data, size, request)) \
    X(const uint32_t*, GetNativeImageData, (qbNativeImage* image), (image)) \
    X(void, FreeNativeImage, (qbNativeImage* image), (image)) \
    X(int, EncodeNativeImage, (const char* path, const qbEncodePixels* picture, int32_t type, std::vector<uint8_t>* outData), (path, picture, type, outData))

// Native fonts and text drawing. OpenNativeFont answers 1 when the font
// opened and 0 when not; the text operations answer 0 or ERR_INTERNAL (over
// 16383 bytes), ERR_TEXTCONVERT, ERR_ATSUI or ERR_MEM. Style bits: 2 bold,
// 4 italic, 8 underline, 16 anti-aliased. colour -1 draws into the plane.
// FreeNativeGlyphCache drops the glyphs a font keeps; NativeFontBytes is
// what the font keeps apart from what it shares with other fonts.
// X(result, name, (parameters), (arguments))
#define QB_PLATFORM_TEXT_OPS(X) \
    X(int, OpenNativeFont, (const char* name, int pixelHeight, qbNativeFont* font), (name, pixelHeight, font)) \
    X(void, CloseNativeFont, (qbNativeFont* font), (font)) \
    X(int, MeasureNativeText, (qbNativeFont* font, const char* text, int length, uint32_t style, int utf8, qbTextExtents* out), (font, text, length, style, utf8, out)) \
    X(int, DrawNativeText, (qbNativeFont* font, qbBitmap* bitmap, qbBitmap* plane, int x, int y, const char* text, int length, uint32_t style, int utf8, const qbNativeTextClip* clip, int64_t colour), (font, bitmap, plane, x, y, text, length, style, utf8, clip, colour)) \
    X(void, FreeNativeGlyphCache, (qbNativeFont* font), (font)) \
    X(size_t, NativeFontBytes, (const qbNativeFont* font), (font)) \
    X(int, NativeFontEngineAvailable, (), ()) \
    X(int, NativeFontNoOp, (), ())

// The native movie backend. DecodeQuickTimeFrame walks to frame (from 0)
// or, with byTime, to the picture shown at that many milliseconds; the
// picture stays the movie's until its next decode or close.
// PlayQuickTimeMovieInWindow plays it at x, y in width x height of the
// display at volume 0..64.
// X(result, name, (parameters), (arguments))
#define QB_PLATFORM_MOVIE_OPS(X) \
    X(int, OpenQuickTimeMovie, (const char* name, qbMovieInfo* out), (name, out)) \
    X(void, CloseQuickTimeMovie, (qbNativeMovie* movie), (movie)) \
    X(int, DecodeQuickTimeFrame, (qbNativeMovie* movie, int64_t frameOrTime, int byTime, qbMovieFrame* out), (movie, frameOrTime, byTime, out)) \
    X(int, SeekQuickTimeMovie, (qbNativeMovie* movie, int64_t milliseconds), (movie, milliseconds)) \
    X(int, StartQuickTimeMovie, (qbNativeMovie* movie), (movie)) \
    X(int, PlayQuickTimeMovieInWindow, (qbNativeMovie* movie, qbDisplay* display, int x, int y, int width, int height, int volume), (movie, display, x, y, width, height, volume)) \
    X(int, SetQuickTimeMovieBox, (qbNativeMovie* movie, qbDisplay* display, int x, int y, int width, int height), (movie, display, x, y, width, height)) \
    X(int, SetQuickTimeMovieVolume, (qbNativeMovie* movie, int volume), (movie, volume)) \
    X(uint32_t, GetQuickTimeMovieTime, (qbNativeMovie* movie), (movie)) \
    X(int, RewindQuickTimeMovie, (qbNativeMovie* movie), (movie)) \
    X(int, DetachMovieFromWindow, (qbNativeMovie* movie), (movie)) \
    X(void, TaskQuickTimeMovies, (), ()) \
    X(int, MovieFrameCount, (qbNativeMovie* movie), (movie)) \
    X(const char*, MovieFormatName, (qbNativeMovie* movie), (movie)) \
    X(int, NoNativeVideoWindow, (), ())

// Hooks with nothing to do on this platform, kept so callers need no
// platform tests.
// X(result, name, (parameters), (arguments))
#define QB_PLATFORM_HOOK_OPS(X) \
    X(int, NativeAnimNone, (), ()) \
    X(int, NoPlatformHook, (), ())

// A movie file read packet by packet for the player's own video engine: the
// platform demuxes and decodes, the engine queues, times and shows. The
// records mirror the engine's own so that the media layer only copies
// fields across.
struct qbMovieSource;

struct qbMovieSourceRequest {
    int32_t threads = 0;  // the video decoder's threads; 0: as many as the processors allow
    // 0: pictures are decoded but not converted (measuring the decoder alone).
    int32_t pictures = 1;
};

struct qbMovieSourceInfo {
    int32_t width = 0, height = 0;
    uint32_t duration = 0;  // milliseconds
    int32_t audioRate = 0;
    int32_t audioChannels = 0;  // 0: no sound; else 1 or 2
    int32_t framesAreRGB = 0;   // 1: big-endian 0x00RRGGBB pictures; 0: planar YUV 4:2:0
    int32_t seekable = 0;
    double frameDuration = 0.0;  // seconds
    int32_t timesMayJump = 0;    // 1: the container's times may jump (MPEG-TS and PS)
};

struct qbMoviePacket {
    void* packet = nullptr;
    int32_t isAudio = 0;
    int32_t size = 0;
    double pts = -1.0;  // seconds from the movie's start, -1: none
};

// Buffers the backend's picture converter writes into: its vector stores
// may run up to kConverterSlackBytes past the last pixel of a plane, so
// each plane is sized for its rows and that slack. The backend refuses a
// smaller buffer rather than write past it.
constexpr size_t kConverterSlackBytes = 256;

// Bytes of one plane of `rows` rows of `pitch` bytes, with the slack.
inline size_t ConvertedPlaneBytes(size_t pitch, size_t rows) { return pitch * rows + kConverterSlackBytes; }

// Words of a buffer for a width x height picture of 32-bit words; 0 for an
// empty picture.
inline size_t ConvertedPictureWords(int32_t width, int32_t height) {
    if (width < 1 || height < 1) return 0;
    return ConvertedPlaneBytes(static_cast<size_t>(width) * 4, static_cast<size_t>(height)) / 4;
}

// RGB movies write width x height words into `rgb` (the caller's, of
// `rgbWords` words: ConvertedPictureWords at least); YUV movies point
// `planes` at a picture that lives until its packet is freed.
struct qbMoviePicture {
    uint32_t* rgb = nullptr;
    size_t rgbWords = 0;
    const uint8_t* planes[3] = {};
    int32_t pitches[3] = {};
    double pts = -1.0, dts = -1.0;
    int32_t repeat = 0;
};

// OpenMovieSource answers 0 or ERR_LOADVIDEO (no video stream of at least
// 1 x 1 pixels), ERR_MEM. NextMoviePacket: 0, -1 at the end, other
// negative values on errors. DecodeMovieVideo: 1 with a picture, 0 without,
// negative on errors. DecodeMovieAudio: the bytes of 16-bit samples written,
// negative on errors, *finished once the packet is used up. SeekMovieSource
// (milliseconds): 0 or -1. The reader thread owns the demuxer, the video
// thread the picture decoder and the sound thread the sound decoder.
// X(result, name, (parameters), (arguments))
#define QB_PLATFORM_MOVIE_SOURCE_OPS(X) \
    X(int, OpenMovieSource, (const char* path, const qbMovieSourceRequest* request, qbMovieSourceInfo* info, qbMovieSource** out), (path, request, info, out)) \
    X(void, CloseMovieSource, (qbMovieSource* source), (source)) \
    X(int32_t, NextMoviePacket, (qbMovieSource* source, qbMoviePacket* packet), (source, packet)) \
    X(void, FreeMoviePacket, (qbMovieSource* source, void* packet), (source, packet)) \
    X(int32_t, DecodeMovieVideo, (qbMovieSource* source, void* packet, qbMoviePicture* picture), (source, packet, picture)) \
    X(int32_t, DecodeMovieAudio, (qbMovieSource* source, void* packet, void* out, int32_t capacity, int32_t* finished), (source, packet, out, capacity, finished)) \
    X(int32_t, SeekMovieSource, (qbMovieSource* source, int64_t milliseconds), (source, milliseconds)) \
    X(void, FlushMovieAudio, (qbMovieSource* source), (source)) \
    X(void, FlushMovieVideo, (qbMovieSource* source), (source))
