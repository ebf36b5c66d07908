// Saving a sample: RIFF WAVE inbuilt, other formats through SAVESAMPLE
// plugins.
#pragma once

#include <cstdint>

#include "sound/channels.h"

// The format ids of SaveSample.
enum : int32_t { kSampleFormatWAVE = 0 };

// 0, ERR_WRITEFILE (detail = the name), ERR_WRITE, ERR_CLOSEFILE.
int WriteWAVE(const char* name, const qbSampleData& sample);
// Format 0 writes WAVE; any other goes to the SAVESAMPLE plugin that
// registered it: ERR_UNKNOWNSMPOUT when none did, ERR_SAVESAMPLE when it
// answers 0.
int SaveSampleFile(const char* name, const qbSampleData& sample, int32_t format);

struct qbFile;
// The 44-byte PCM header: RIFF size padded + 36, data chunk size dataBytes.
bool WriteWAVEHeader(qbFile* file, int32_t channels, int32_t rate, int32_t bits, int32_t frameBytes,
                     uint32_t dataBytes, uint32_t padded);
constexpr int64_t kWAVEHeaderBytes = 44;

// The size of a sample's PCM in bytes.
uint64_t SampleDataBytes(const qbSampleData& sample);
