// Fuzz target of the CDXL reader: the open, then packets read, decoded and
// sought in an order the input's last bytes pick.
#include <vector>

#include "imagefuzz.h"
#include "media/cdxl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzImageFile input(data, size);
    if (!input.ok()) return 0;
    qbVideoStreamInfo info;
    qbCDXLReaderPtr reader(OpenCDXLFile(input.Open().release(), &info));
    if (!reader) return 0;
    std::vector<uint32_t> frame(static_cast<size_t>(info.frameWidth) * static_cast<size_t>(info.frameHeight));
    std::vector<int16_t> samples;
    for (size_t i = 0; i < 24 && i < size; ++i) {
        const uint8_t pick = data[size - 1 - i];
        if (pick % 5 == 0) {
            CDXLSeek(reader.get(), info.duration ? static_cast<uint32_t>(pick) * (info.duration / 255 + 1) : pick);
            continue;
        }
        qbCDXLPacketPtr packet;
        if (CDXLNextPacket(reader.get(), &packet) != 0) continue;
        double pts = 0;
        if (CDXLDecodeVideoFrame(reader.get(), *packet, frame.data(), &pts))
            SumPixels(frame.data(), info.frameWidth, info.frameHeight, info.frameWidth);
        CDXLDecodeAudioFrame(*packet, &samples);
        CDXLFreePacket(std::move(packet));
    }
    return 0;
}
