// The RIFF WAVE writer. WAVE holds 8-bit data unsigned and 16-bit data
// little-endian, so signed bytes and big-endian words are converted on the
// way out; the data chunk is padded to a multiple of 4.
#include "sound/wavewriter.h"

#include <algorithm>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/replacefile.h"
#include "platform/platform_types.h"
#include "sound/soundplugins.h"

namespace {

constexpr uint32_t kFmtChunkSize = 16;
constexpr size_t kConvertBlock = 65536;

bool Put16(qbFile* f, uint32_t v) { return FileWriteUInt16LE(f, v) != 0; }
bool Put32(qbFile* f, uint32_t v) { return FileWriteUInt32LE(f, v) != 0; }
bool PutTag(qbFile* f, const char* tag) { return FileWrite(f, tag, 4) == 4; }

bool WriteHeader(qbFile* f, const qbSampleData& s, uint32_t dataBytes, uint32_t padded) {
    return WriteWAVEHeader(f, s.channels, s.rate, s.bits, s.bytesPerFrame, dataBytes, padded);
}

bool WritePCM(qbFile* f, const qbSampleData& s, uint64_t bytes) {
    const auto* pcm = static_cast<const uint8_t*>(s.pcm);
    const bool flipSign = s.bits == 8 && (s.flags & kPCMSigned);
    const bool swap = s.bits == 16 && (s.flags & kPCMBigEndian);
    if (!flipSign && !swap) return FileWrite(f, pcm, bytes) == bytes;
    std::vector<uint8_t> block(kConvertBlock);
    for (uint64_t done = 0; done < bytes;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kConvertBlock, bytes - done));
        for (size_t i = 0; i < n; ++i) {
            if (flipSign) {
                block[i] = static_cast<uint8_t>(pcm[done + i] + 128);
            } else {
                block[i] = pcm[done + (i ^ 1)];
            }
        }
        if (FileWrite(f, block.data(), n) != n) return false;
        done += n;
    }
    return true;
}

}  // namespace

bool WriteWAVEHeader(qbFile* f, int32_t channels, int32_t rate, int32_t bits, int32_t frameBytes, uint32_t dataBytes,
                     uint32_t padded) {
    const auto frame = static_cast<uint32_t>(frameBytes);
    return PutTag(f, "RIFF") && Put32(f, padded + 36) && PutTag(f, "WAVE") && PutTag(f, "fmt ") &&
           Put32(f, kFmtChunkSize) && Put16(f, 1) && Put16(f, static_cast<uint32_t>(channels)) &&
           Put32(f, static_cast<uint32_t>(rate)) && Put32(f, static_cast<uint32_t>(rate) * frame) && Put16(f, frame) &&
           Put16(f, static_cast<uint32_t>(bits)) && PutTag(f, "data") && Put32(f, dataBytes);
}

uint64_t SampleDataBytes(const qbSampleData& s) {
    return uint64_t{s.frames} * static_cast<uint64_t>(std::max(s.bytesPerFrame, 0));
}

int WriteWAVE(const char* name, const qbSampleData& s) {
    const uint64_t bytes = SampleDataBytes(s);
    const uint64_t padded = (bytes + 3) & ~uint64_t{3};
    if (padded + 36 > UINT32_MAX) return ERR_WRITE;
    qbReplaceOptions options;
    options.adapters = true;
    qbReplaceFile out;
    if (int err = BeginReplaceFile(name, options, &out)) return err;
    qbFile* f = out.file.get();
    if (!WriteHeader(f, s, static_cast<uint32_t>(bytes), static_cast<uint32_t>(padded))) return ERR_WRITE;
    if (FileSeek(f, 0, kSeekCurrent) != kWAVEHeaderBytes) return ERR_WRITE;
    if (!WritePCM(f, s, bytes)) return ERR_WRITE;
    const uint8_t zeros[4] = {};
    const size_t pad = static_cast<size_t>(padded - bytes);
    if (pad && FileWrite(f, zeros, pad) != pad) return ERR_WRITE;
    return CommitReplaceFile(&out);
}

int SaveSampleFile(const char* name, const qbSampleData& sample, int32_t format) {
    if (format == kSampleFormatWAVE) return WriteWAVE(name, sample);
    const qbSaveSampleFunc save = format > 0 ? FindSampleSaver(static_cast<uint64_t>(format)) : nullptr;
    if (!save) return ERR_UNKNOWNSMPOUT;
    if (int err = CheckWriteTarget(name, nullptr)) return err;
    qbSampleSaveRecord record{};
    record.pcm = sample.pcm;
    record.bytes = SampleDataBytes(sample);
    record.frames = sample.frames;
    record.channels = sample.channels;
    record.bits = sample.bits;
    record.rate = sample.rate;
    record.flags = ((sample.flags & kPCMSigned) ? uint64_t{QBSOUND_SIGNED} : 0u) |
                   ((sample.flags & kPCMBigEndian) ? uint64_t{QBSOUND_BIGENDIAN} : 0u);
    record.format = static_cast<uint64_t>(format);
    return save(name, &record) ? 0 : ERR_SAVESAMPLE;
}
