// Sample objects: PCM held in memory with the volume, pitch and panning a
// play starts from, kept in the sound library's list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/objectref.h"
#include "core/objects.h"
#include "platform/platform_types.h"
#include "sound/channels.h"
#include "sound/stream.h"

constexpr int kObjectTypeSample = 2;

struct qbSampleObject : qbObject {
    qbSampleData sample;
    std::unique_ptr<uint8_t[]> pcm;  // sample.pcm points here
    int32_t volume = 64;
    int32_t pitch = 0;
    int32_t pcmCode = 0;
    int64_t bytes = 0;
    int32_t pan = 128;
    std::string file;  // empty for created samples
    // Kept as text: a plugin may be gone before the sample.
    std::string loader = "inbuilt";
};

struct qbObjectList;
qbObjectList* SampleListHead();

// ERR_FINDSAMPLE (the number as the message's argument) or ERR_FINDARRAY.
int GetSample(ObjectID id, qbSampleObject** out);
// A command's hold on a sample (core/objectref.h).
inline int FindSampleByID(ScriptState*, ObjectID id, qbSampleObject** out) { return GetSample(id, out); }
using qbSampleRef = qbObjectRef<qbSampleObject, FindSampleByID>;
// A new record under an automatic id, linked last, owning pcm (frames
// frames of the format that bits, channels and flags give) at rate.
int LinkNewSample(std::unique_ptr<uint8_t[]> pcm, int32_t bits, int32_t channels, uint32_t flags, uint32_t frames,
                  int32_t rate, qbSampleObject** out);
// Stops the sample wherever it plays, unlinks and frees it. strict 0: a
// missing sample is no error.
int FreeSampleCore(ObjectID id, bool strict);
void FreeAllSamples();
// Gives the new sample the number the script asked for (freeing the one
// that had it), then pushes the automatic id when there is one: the
// command's result count.
int FinishNewSample(ScriptState* L, qbSampleObject* made, NewObjectID id);

// Gives a sample new PCM of that format and rate (its pitch becomes the
// rate), stopping the old PCM wherever it plays.
void SetSamplePCM(qbSampleObject* s, std::unique_ptr<uint8_t[]> pcm, int32_t bits, int32_t channels, uint32_t flags,
                  uint32_t frames, int32_t rate);

// Opens a sound file to be read whole: the stream, or ERR_STREAMASSAMPLE
// (no known length), ERR_8OR16BITONLY or the chain's errors.
int OpenWholeSound(const char* name, const char* loaderTag, const char* adapterTag, qbSamplePtr* out);
// All frames of such a stream into to (frames x bytesPerFrame bytes): 0 or
// ERR_READ.
int ReadWholeSound(qbSample& stream, void* to);
// Reads a whole sound file into memory through the loader chain: 0,
// ERR_STREAMASSAMPLE, ERR_8OR16BITONLY, ERR_MEM, ERR_READ or the chain's
// errors.
int LoadSampleFile(const char* name, const char* loaderTag, const char* adapterTag, qbSampleObject** out);

// Public format constants and the internal PCM codes.
enum : int32_t { kFormatMono8 = 0, kFormatMono16 = 1, kFormatStereo8 = 2, kFormatStereo16 = 3 };
// -1 for a value outside the four.
int32_t PCMCodeOfFormat(int32_t format);
int32_t FormatOfPCMCode(int32_t code);
// bits, channels and flags of a code.
void DescribePCMCode(int32_t code, int32_t* bits, int32_t* channels, uint32_t* flags);
