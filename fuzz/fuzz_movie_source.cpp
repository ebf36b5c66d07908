// Fuzz target of the Linux backend's movie source for the video engine: the
// first two bytes steer a seek, the rest is the file, opened as a memory
// file; every packet is decoded as the engine's threads would, with a seek
// and the decoders' flushes on the way.
#include <cstdint>
#include <string>
#include <vector>

#include "core/file.h"
#include "core/memfile.h"
#include "core/pixelbuffer.h"
#include "fuzznote.h"
#include "platform/platform.h"

namespace {

// The picture's pixels row by row; the planes' pitches are the decoder's
// alignment, not the picture, so only each row's width of bytes is noted.
void NotePicture(const qbMovieSourceInfo& info, const qbMoviePicture& picture) {
    FuzzNoteNumber(picture.pts);
    FuzzNoteNumber(picture.dts);
    FuzzNoteValue(picture.repeat);
    const auto width = static_cast<size_t>(info.width), height = static_cast<size_t>(info.height);
    if (info.framesAreRGB) {
        FuzzNote(picture.rgb, width * height * sizeof *picture.rgb);
        return;
    }
    for (int plane = 0; plane < 3; ++plane) {
        const size_t rows = plane ? (height + 1) / 2 : height, bytes = plane ? (width + 1) / 2 : width;
        if (!picture.planes[plane]) continue;
        for (size_t y = 0; y < rows; ++y)
            FuzzNote(picture.planes[plane] + y * static_cast<size_t>(picture.pitches[plane]), bytes);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool installed = [] {
        SetPlatformBackend(&LinuxPlatformOps());
        // Pictures of up to 4 M pixels, as for the picture readers: a few
        // bytes of VP8 can claim pictures of hundreds of megapixels midway
        // through a stream that opened small.
        SetMaxImagePixels(uint64_t{1} << 22);
        return true;
    }();
    (void)installed;
    if (size < 3) return 0;
    const int64_t seekTo = (data[0] | data[1] << 8) * 10;
    std::vector<uint8_t> bytes(data + 2, data + size);
    if (RegisterMemoryBuffer(bytes.data(), bytes.size()) != 0) return 0;
    const std::string name = MakeMemoryName(bytes.data(), bytes.size());
    qbMovieSourceRequest request;
    request.threads = 1;
    qbMovieSourceInfo info;
    qbMovieSource* source = nullptr;
    const int opened = OpenMovieSource(name.c_str(), &request, &info, &source);
    FuzzNoteValue(opened);
    if (opened == 0 && source) {
        for (int64_t v : {int64_t{info.width}, int64_t{info.height}, int64_t{info.duration}, int64_t{info.audioRate},
                          int64_t{info.audioChannels}, int64_t{info.framesAreRGB}, int64_t{info.seekable},
                          int64_t{info.timesMayJump}})
            FuzzNoteValue(v);
        FuzzNoteNumber(info.frameDuration);
        // The open refuses pictures over the cap set above.
        std::vector<uint32_t> rgb(ConvertedPictureWords(info.width, info.height));
        std::vector<uint8_t> sound(262144);
        for (int i = 0, errors = 0; i < 5000 && errors < 50; ++i) {
            if (i == 20) {
                FuzzNoteValue(SeekMovieSource(source, seekTo));
                FlushMovieVideo(source);
                FlushMovieAudio(source);
            }
            qbMoviePacket packet;
            const int32_t got = NextMoviePacket(source, &packet);
            FuzzNoteValue(got);
            if (got == -1) break;
            if (got != 0) {
                ++errors;
                continue;
            }
            FuzzNoteValue(packet.isAudio);
            FuzzNoteValue(packet.size);
            FuzzNoteNumber(packet.pts);
            if (packet.isAudio) {
                int32_t finished = 0;
                for (int n = 0; n < 1000 && !finished; ++n) {
                    const int32_t bytes = DecodeMovieAudio(source, packet.packet, sound.data(), 262144, &finished);
                    FuzzNoteValue(bytes);
                    if (bytes < 0) break;
                    FuzzNote(sound.data(), static_cast<size_t>(bytes));
                }
                FuzzNoteValue(finished);
            } else {
                qbMoviePicture picture;
                picture.rgb = rgb.data();
                picture.rgbWords = rgb.size();
                const int32_t shown = DecodeMovieVideo(source, packet.packet, &picture);
                FuzzNoteValue(shown);
                if (shown == 1) NotePicture(info, picture);
            }
            FreeMoviePacket(source, packet.packet);
        }
        CloseMovieSource(source);
    }
    UnregisterMemoryBuffer(bytes.data());
    return 0;
}
