// Fuzz target of the Linux backend's sound decoder: the first four bytes
// steer the read sizes and a position, the rest is the file, opened as a
// memory file and read to its end with a jump back and forth on the way.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "core/file.h"
#include "core/memfile.h"
#include "fuzznote.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool installed = [] {
        SetPlatformBackend(&LinuxPlatformOps());
        return true;
    }();
    (void)installed;
    if (size < 5) return 0;
    const size_t step = 1 + (data[0] | data[1] << 8) % 6000;
    const int64_t jump = data[2] | data[3] << 8;
    std::vector<uint8_t> bytes(data + 4, data + size);
    if (RegisterMemoryBuffer(bytes.data(), bytes.size()) != 0) return 0;
    const std::string name = MakeMemoryName(bytes.data(), bytes.size());
    qbNativeAudioFile* f = nullptr;
    const int opened = OpenNativeAudioFile(name.c_str(), 0, &f);
    FuzzNoteValue(opened);
    if (opened == 0 && f) {
        qbPCMFormat format;
        FuzzNoteValue(GetNativeStreamFormat(f, &format));
        for (int64_t v : {int64_t{format.rate}, int64_t{format.bits}, int64_t{format.bytesPerFrame}, int64_t{format.channels},
                          int64_t{format.flags}, int64_t{format.kbps}})
            FuzzNoteValue(v);
        const char* formatName = GetNativeAudioFormatName(f);
        FuzzNoteText(formatName ? formatName : "(none)");
        qbAudioPacketInfo info;
        FuzzNoteValue(ReadNativeAudioPackets(f, nullptr, 0, &info));
        FuzzNoteValue(info.bytes);
        FuzzNoteValue(info.packets);
        FuzzNoteValue(info.endOfStream);
        // The length is bounded by the fuzzer's input; so are the reads.
        std::vector<uint8_t> buffer(step * 4);
        for (int i = 0; i < 200000; ++i) {
            const int read = ReadNativeAudioPackets(f, buffer.data(), buffer.size(), &info);
            FuzzNoteValue(read);
            if (read != 0) break;
            FuzzNoteValue(info.bytes);
            FuzzNoteValue(info.packets);
            FuzzNoteValue(info.endOfStream);
            FuzzNote(buffer.data(), static_cast<size_t>(std::clamp<int64_t>(info.bytes, 0, static_cast<int64_t>(buffer.size()))));
            if (info.endOfStream) break;
            if (i == 2) FuzzNoteValue(LimitPacketPosition(f, jump));
            if (i == 4) FuzzNoteValue(LimitPacketPosition(f, jump / 3));
        }
        CloseNativeAudioFile(f);
    }
    UnregisterMemoryBuffer(bytes.data());
    return 0;
}
