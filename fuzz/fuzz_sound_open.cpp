// Fuzz target of the inbuilt sound readers: the input opened as a sound
// stream, then reads and seeks whose sizes come from the input's last bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/file.h"
#include "core/memfile.h"
#include "platform/platform.h"
#include "sound/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::vector<uint8_t> bytes(data, data + size);
    if (RegisterMemoryBuffer(bytes.data(), bytes.size()) != 0) return 0;
    const std::string name = MakeMemoryName(bytes.data(), bytes.size());
    {
        qbSamplePtr stream;
        if (OpenSoundStream(name.c_str(), "inbuilt", nullptr, &stream) == 0 && stream->bytesPerFrame > 0) {
            std::vector<uint8_t> buffer;
            uint32_t steer = bytes.back();
            for (int i = 0; i < 8; ++i) {
                const uint32_t frames = 1 + (steer * 37 + static_cast<uint32_t>(i) * 101) % 4096;
                buffer.resize(size_t{frames} * static_cast<size_t>(stream->bytesPerFrame));
                bool ended = false;
                ReadSoundFrames(*stream, buffer.data(), frames, &ended);
                if (i % 3 == 2) SeekSoundStream(*stream, steer * 13 % (stream->frames + 1));
                steer = steer * 1103515245u + 12345u;
            }
        }
    }
    UnregisterMemoryBuffer(bytes.data());
    return 0;
}
