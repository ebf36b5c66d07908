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
    FuzzNoteValue(reader != nullptr);
    if (!reader) return 0;
    for (int64_t v : {int64_t{info.frameWidth}, int64_t{info.frameHeight}, int64_t{info.duration}, int64_t{info.audioRate},
                      int64_t{info.audioChannels}, int64_t{info.seekByBytes}, int64_t{info.byteRate}, int64_t{info.framesAreRGB},
                      int64_t{info.flags}, info.fileSize})
        FuzzNoteValue(v);
    FuzzNoteNumber(info.frameDuration);
    std::vector<uint32_t> frame(static_cast<size_t>(info.frameWidth) * static_cast<size_t>(info.frameHeight));
    std::vector<int16_t> samples;
    for (size_t i = 0; i < 24 && i < size; ++i) {
        const uint8_t pick = data[size - 1 - i];
        if (pick % 5 == 0) {
            CDXLSeek(reader.get(), info.duration ? static_cast<uint32_t>(pick) * (info.duration / 255 + 1) : pick);
            continue;
        }
        qbCDXLPacketPtr packet;
        const int32_t next = CDXLNextPacket(reader.get(), &packet);
        FuzzNoteValue(next);
        if (next != 0) continue;
        FuzzNoteValue(packet->kind);
        FuzzNoteNumber(packet->pts);
        FuzzNoteValue(static_cast<int64_t>(packet->allocSize));
        FuzzNoteValue(packet->ham);
        FuzzNoteValue(packet->planes);
        FuzzNote(packet->palette.data(), sizeof packet->palette);
        FuzzNote(packet->data.data(), packet->data.size());
        double pts = 0;
        const bool decoded = CDXLDecodeVideoFrame(reader.get(), *packet, frame.data(), &pts);
        FuzzNoteValue(decoded);
        if (decoded) {
            SumPixels(frame.data(), info.frameWidth, info.frameHeight, info.frameWidth);
            FuzzNoteNumber(pts);
        }
        FuzzNoteValue(static_cast<int64_t>(CDXLDecodeAudioFrame(*packet, &samples)));
        FuzzNote(samples.data(), samples.size() * sizeof samples[0]);
        CDXLFreePacket(std::move(packet));
    }
    return 0;
}
