// Sound streams: an open source of PCM frames with a fixed rate, channel
// count and sample width, whatever file format or decoder is behind it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/file.h"

struct qbNativeAudioFile;
struct qbAdapterPlugin;
struct qbSoundLoaderSlots;
struct qbCustomStream;

enum qbStreamFormat : int32_t {
    kStreamIFF8SVX = 1,
    kStreamIFF16SV = 2,
    kStreamWAVE = 3,
    kStreamNative = 4,
    kStreamPlugin = 5,
    kStreamCustom = 6,
    kStreamModule = 8,
};

struct qbSample {
    qbFilePtr file;                        // inbuilt readers and modules
    qbNativeAudioFile* native = nullptr;   // the platform decoder's stream
    void* pluginStream = nullptr;          // a SOUND plugin's handle
    const qbAdapterPlugin* plugin = nullptr;
    const qbSoundLoaderSlots* pluginSlots = nullptr;
    int32_t bits = 0;
    int32_t bytesPerFrame = 0;
    int32_t channels = 0;
    uint32_t flags = 0;  // kPCMBigEndian, kPCMSigned
    int32_t rate = 0;
    uint8_t compression = 0;
    uint64_t dataSize = 0;
    uint32_t frames = 0;
    uint32_t framesTotal = 0;
    uint32_t position = 0;
    uint32_t kbps = 0;  // the encoded bitrate of MPEG audio, else 0
    int64_t dataOffset = 0;
    int32_t outBytesPerFrame = 0;
    int32_t framesPerUnit = 1;
    uint64_t lastBytes = 0;
    uint32_t lastFrames = 0;
    int32_t format = 0;
    int32_t pcmCode = 0;
    std::vector<uint8_t> scratch;  // one side of IFF stereo at a time
    bool canSeek = true;
    int32_t subsongs = 1;
    // Set by every seek: the time of the position, and no pause offset.
    int64_t seconds = 0;
    int64_t micros = 0;
    int64_t pauseOffset = 0;
    // Script-fed streams: the queue of blocks the script appends.
    std::unique_ptr<qbCustomStream> custom;

    qbSample();
    qbSample(const qbSample&) = delete;
    qbSample& operator=(const qbSample&) = delete;
    ~qbSample();
};

using qbSamplePtr = std::unique_ptr<qbSample>;

// Opens name through the loader chain: plugins the loader tag allows, then
// the inbuilt readers by the file's first bytes, then the native decoder.
// 0, ERR_MEM, ERR_READFILE or ERR_OPENSOUND2 (detail = the name), or the
// native decoder's own error.
int OpenSoundStream(const char* name, const char* loaderTag, const char* adapterTag, qbSamplePtr* out,
                    int32_t subsong = 0);
// Up to frames frames into buffer (bytesPerFrame each, interleaved); *ended
// when fewer were left.
uint32_t ReadSoundFrames(qbSample& stream, void* buffer, uint32_t frames, bool* ended);
void SeekSoundStream(qbSample& stream, uint32_t frame);
// 1 when name opens with a known data size, frame size and width.
int IsSoundSample(const char* name, const char* loaderTag, const char* adapterTag);
const char* SoundFormatName(const qbSample& stream);
// Who opened the stream: "inbuilt", "native" or the plugin's name.
const char* SoundLoaderName(const qbSample& stream);

// The inbuilt parsers, on a file positioned anywhere: true when the header
// was understood and the stream's fields are set.
bool ParseIFFHeader(qbSample& stream, bool sixteenBit);
bool ParseWAVEHeader(qbSample& stream);

// The rates the inbuilt readers take; others fall through to the decoder.
constexpr int32_t kMaxInbuiltRate = 768000;
// The bytes the recogniser looks at, and where a module's tag sits.
constexpr size_t kSniffBytes = 1084;
constexpr size_t kModuleTagOffset = 1080;
// Frames of an inbuilt stream at its position (the position is not moved).
uint32_t ReadInbuiltFrames(qbSample& stream, void* buffer, uint32_t frames);
