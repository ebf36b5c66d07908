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
#include "platform/platform.h"

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
    if (OpenMovieSource(name.c_str(), &request, &info, &source) == 0 && source) {
        // The open refuses pictures over the cap set above.
        std::vector<uint32_t> rgb(ConvertedPictureWords(info.width, info.height));
        std::vector<uint8_t> sound(262144);
        for (int i = 0, errors = 0; i < 5000 && errors < 50; ++i) {
            if (i == 20) {
                SeekMovieSource(source, seekTo);
                FlushMovieVideo(source);
                FlushMovieAudio(source);
            }
            qbMoviePacket packet;
            const int32_t got = NextMoviePacket(source, &packet);
            if (got == -1) break;
            if (got != 0) {
                ++errors;
                continue;
            }
            if (packet.isAudio) {
                int32_t finished = 0;
                for (int n = 0; n < 1000 && !finished; ++n)
                    if (DecodeMovieAudio(source, packet.packet, sound.data(), 262144, &finished) < 0) break;
            } else {
                qbMoviePicture picture;
                picture.rgb = rgb.data();
                picture.rgbWords = rgb.size();
                DecodeMovieVideo(source, packet.packet, &picture);
            }
            FreeMoviePacket(source, packet.packet);
        }
        CloseMovieSource(source);
    }
    UnregisterMemoryBuffer(bytes.data());
    return 0;
}
