// Fuzz target of the Linux backend's movies: the first four bytes pick the
// pictures asked for, the rest is the file, written to a temporary file as
// the platform decoder reads only plain files. The movie is walked forward,
// back, and searched by time.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/pixelbuffer.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = [] {
        SetPlatformBackend(&LinuxPlatformOps());
        // Pictures of up to 4 M pixels, as for the picture readers: a few
        // bytes of VP8 or H.264 can claim pictures of hundreds of megapixels,
        // each a second to decode and convert.
        SetMaxImagePixels(uint64_t{1} << 22);
        return "/tmp/qb-fuzz-movie-" + std::to_string(getpid());
    }();
    if (size < 5) return 0;
    const int64_t frame = data[0] % 8;
    const int64_t time = data[1] | data[2] << 8;
    const int64_t back = data[3] % 4;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        const bool written = std::fwrite(data + 4, 1, size - 4, f) == size - 4;
        if (std::fclose(f) != 0 || !written) return 0;
    } else {
        return 0;
    }
    qbMovieInfo info;
    if (OpenQuickTimeMovie(path.c_str(), &info) == 0 && info.movie) {
        MovieFrameCount(info.movie);
        MovieFormatName(info.movie);
        qbMovieFrame picture;
        DecodeQuickTimeFrame(info.movie, frame, 0, &picture);
        DecodeQuickTimeFrame(info.movie, frame, 0, &picture);
        DecodeQuickTimeFrame(info.movie, back, 0, &picture);
        DecodeQuickTimeFrame(info.movie, time, 1, &picture);
        SeekQuickTimeMovie(info.movie, time);
        DecodeQuickTimeFrame(info.movie, frame + 1, 0, &picture);
        CloseQuickTimeMovie(info.movie);
    }
    std::remove(path.c_str());
    return 0;
}
