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

// Native fonts and text drawing. OpenNativeFont answers non-zero on
// success; MeasureNativeText refuses texts over 16383 characters.
// X(result, name, (parameters), (arguments))
#define QB_PLATFORM_TEXT_OPS(X) \
    X(int, OpenNativeFont, (const char* name, int size, uint32_t style, qbFont* font), (name, size, style, font)) \
    X(void, CloseNativeFont, (qbFont* font), (font)) \
    X(int, MeasureNativeText, (qbFont* font, const char* text, int length, uint32_t style, uint32_t flags, qbTextExtents* out), (font, text, length, style, flags, out)) \
    X(int, DrawNativeText, (qbFont* font, qbNativeBitmap* target, const char* text, int length, int x, int y, uint32_t colour, uint32_t style), (font, target, text, length, x, y, colour, style)) \
    X(int, NativeFontEngineAvailable, (), ()) \
    X(int, NativeFontNoOp, (), ())

// The native movie backend.
// X(result, name, (parameters), (arguments))
#define QB_PLATFORM_MOVIE_OPS(X) \
    X(int, OpenQuickTimeMovie, (const char* name, qbMovieInfo* out), (name, out)) \
    X(void, CloseQuickTimeMovie, (qbNativeMovie* movie), (movie)) \
    X(int, DecodeQuickTimeFrame, (qbNativeMovie* movie, qbNativeBitmap* target), (movie, target)) \
    X(int, SeekQuickTimeMovie, (qbNativeMovie* movie, int64_t milliseconds), (movie, milliseconds)) \
    X(int, StartQuickTimeMovie, (qbNativeMovie* movie), (movie)) \
    X(int, PlayQuickTimeMovieInWindow, (qbNativeMovie* movie, qbDisplay* display), (movie, display)) \
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
