// The Motion-JPEG AVI writer behind SaveAnim and anim streams: a RIFF "AVI "
// file with the OpenDML extensions (continuation "AVIX" RIFFs beyond the
// first gigabyte, super indexes over standard indexes), one MJPG video
// stream and one silent 16-bit stereo PCM stream, and a legacy idx1 for the
// first RIFF. All numbers in the file are little-endian.
//
//   qbAVIWriter* avi = nullptr;
//   if (int err = BeginAVIWriter("out.avi", 25, 640, 480, 90, "out.avi", &avi)) return err;
//   for (...) if (int err = WriteAVIFrame(avi, bitmap)) ...;  // the writer stays usable
//   return FinishAVIWriter(avi);  // frees the writer in every case
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/file.h"
#include "core/replacefile.h"
#include "imaging/imageformats.h"

struct qbBitmap;

constexpr uint32_t kAVISuperIndexEntries = 1022;
constexpr uint32_t kAVIStandardIndexEntries = 2044;
// One standard index chunk with its header: 8 + 16376 bytes.
constexpr uint32_t kAVIStandardIndexBytes = 16384;
constexpr int64_t kAVIFirstRIFFBudget = 1000000000;
constexpr int64_t kAVINextRIFFBudget = 2000000000;
constexpr uint32_t kAVIMaxSampleRate = 44100;

struct qbAVISuperEntry {
    int64_t position = 0;  // of the standard index chunk
    uint32_t size = 0;
    uint32_t duration = 0;  // frames for video, samples for audio
};

struct qbAVIStandardEntry {
    uint32_t offset = 0;  // of the chunk's data from the base
    uint32_t size = 0;
};

// What one frame changes; a frame that fails puts it back as it was.
struct qbAVIProgress {
    uint32_t frames = 0;          // in all
    uint32_t riffFrames = 0;      // in the current RIFF
    uint64_t riffVideoBytes = 0;  // video chunk data with pads, current RIFF
    uint64_t videoBytes = 0;      // the same over the whole file
    uint32_t largestChunk = 0;
    uint64_t samples = 0;
    uint64_t riffSamples = 0;
    uint32_t riffPairs = 0;  // standard index pairs reserved in the current RIFF
    int64_t riffStart = 0;   // of the "RIFF" tag
    int64_t moviStart = 0;   // of the movi list's "LIST" tag
    int64_t budget = 0;
    int64_t end = 0;  // where the next chunk goes
    bool legacyPending = true;
    // The pair of standard indexes in use: where it is reserved, the RIFF
    // its offsets count from, and the frame it began at.
    uint32_t superCount = 0;
    uint32_t pairEntries = 0;
    int64_t pairPosition = 0;
    int64_t pairBase = 0;
    uint32_t pairFirstFrame = 0;
    qbAVISuperEntry audioSuper[kAVISuperIndexEntries];
    qbAVISuperEntry videoSuper[kAVISuperIndexEntries];
    qbAVIStandardEntry audioIndex[kAVIStandardIndexEntries];
    qbAVIStandardEntry videoIndex[kAVIStandardIndexEntries];
};

struct qbAVIWriter {
    qbReplaceFile output;
    qbFilePtr legacy;  // the idx1 entries of the first RIFF, collected
    std::string legacyName, fileName, title;
    int32_t width = 0, height = 0, quality = 90;
    uint32_t microsPerFrame = 0;
    uint32_t sampleRate = kAVIMaxSampleRate;
    uint32_t samplesPerFrame = 0;
    std::vector<uint8_t> audio;                  // one frame's silence
    std::unique_ptr<uint8_t, FreeDeleter> jpeg;  // the last picture encoded
    size_t jpegSize = 0;
    // After a failed write the files stand anywhere: the next write seeks.
    bool resync = false;
    // The period of a standard index pair and the budget of continuation
    // RIFFs; tests lower them (and the progress's budget) to reach the
    // limits without gigabytes of frames.
    uint32_t periodLength = kAVIStandardIndexEntries;
    int64_t nextBudget = kAVINextRIFFBudget;
    std::unique_ptr<qbAVIProgress> progress, saved;
};

// Rates below 1 and rates of more than 44,100 frames a second (no whole
// number of samples a frame) give ERR_WRONGUSAGE; else 0, ERR_MEM or
// ERR_WRITEFILE (the name of the file or of the temporary index file as
// detail).
int BeginAVIWriter(const char* fileName, int32_t framesPerSecond, int32_t width, int32_t height, int32_t quality,
                   const char* title, qbAVIWriter** out);
// Appends a frame of the picture, scaled when its size differs. 0, ERR_MEM,
// ERR_LOCKBMAP, ERR_WRITE (the file took less than it was given) or
// ERR_WRONGUSAGE (the super indexes are full). On an error the file stays
// as it was before the frame and the writer usable.
int WriteAVIFrame(qbAVIWriter* writer, qbBitmap* picture);
// Writes the indexes and headers, closes and frees. 0, ERR_WRITE or
// ERR_CLOSEFILE; the writer is freed in every case.
int FinishAVIWriter(qbAVIWriter* writer);
// Frees without finishing.
void CloseAVIWriter(qbAVIWriter* writer);
