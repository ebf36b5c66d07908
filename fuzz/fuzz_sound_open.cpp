// Fuzz target of the inbuilt sound readers: the input opened as a sound
// stream, then reads and seeks whose sizes come from the input's last bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/file.h"
#include "core/memfile.h"
#include "fuzznote.h"
#include "platform/platform.h"
#include "sound/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::vector<uint8_t> bytes(data, data + size);
    if (RegisterMemoryBuffer(bytes.data(), bytes.size()) != 0) return 0;
    const std::string name = MakeMemoryName(bytes.data(), bytes.size());
    {
        qbSamplePtr stream;
        const int opened = OpenSoundStream(name.c_str(), "inbuilt", nullptr, &stream);
        FuzzNoteValue(opened);
        if (opened == 0) {
            for (int64_t v : {int64_t{stream->bits}, int64_t{stream->bytesPerFrame}, int64_t{stream->channels},
                              int64_t{stream->flags}, int64_t{stream->rate}, int64_t{stream->compression},
                              static_cast<int64_t>(stream->dataSize), int64_t{stream->frames}, int64_t{stream->framesTotal},
                              int64_t{stream->kbps}, stream->dataOffset, int64_t{stream->outBytesPerFrame},
                              int64_t{stream->framesPerUnit}, int64_t{stream->format}, int64_t{stream->pcmCode},
                              int64_t{stream->canSeek}})
                FuzzNoteValue(v);
        }
        if (opened == 0 && stream->bytesPerFrame > 0) {
            std::vector<uint8_t> buffer;
            uint32_t steer = bytes.back();
            for (int i = 0; i < 8; ++i) {
                const uint32_t frames = 1 + (steer * 37 + static_cast<uint32_t>(i) * 101) % 4096;
                buffer.resize(size_t{frames} * static_cast<size_t>(stream->bytesPerFrame));
                bool ended = false;
                const uint32_t got = ReadSoundFrames(*stream, buffer.data(), frames, &ended);
                FuzzNoteValue(got);
                FuzzNoteValue(ended);
                FuzzNote(buffer.data(), size_t{std::min(got, frames)} * static_cast<size_t>(stream->bytesPerFrame));
                if (i % 3 == 2) {
                    SeekSoundStream(*stream, steer * 13 % (stream->frames + 1));
                    FuzzNoteValue(stream->position);
                }
                steer = steer * 1103515245u + 12345u;
            }
        }
    }
    UnregisterMemoryBuffer(bytes.data());
    return 0;
}
