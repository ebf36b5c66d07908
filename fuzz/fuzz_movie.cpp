// Fuzz target of the Linux backend's movies: the first four bytes pick the
// pictures asked for, the rest is the file. The platform decoder reads only
// plain files by name: the bytes go to an anonymous in-memory file, named
// through /proc, so that nothing is left in the temporary folder when an
// input crashes the process.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "core/pixelbuffer.h"
#include "imagefuzz.h"
#include "platform/platform.h"

namespace {

struct MovieBytesFile {
    int fd = -1;
    std::string path;
};

MovieBytesFile MakeMemoryFile() {
    MovieBytesFile file;
    file.fd = memfd_create("qb-fuzz-movie", MFD_CLOEXEC);
    if (file.fd >= 0) file.path = "/proc/self/fd/" + std::to_string(file.fd);
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const MovieBytesFile file = [] {
        SetPlatformBackend(&LinuxPlatformOps());
        // Pictures of up to 4 M pixels, as for the picture readers: a few
        // bytes of VP8 or H.264 can claim pictures of hundreds of megapixels,
        // each a second to decode and convert.
        SetMaxImagePixels(uint64_t{1} << 22);
        return MakeMemoryFile();
    }();
    if (size < 5 || file.fd < 0) return 0;
    const int64_t frame = data[0] % 8;
    const int64_t time = data[1] | data[2] << 8;
    const int64_t back = data[3] % 4;
    const auto bytes = static_cast<ssize_t>(size - 4);
    if (ftruncate(file.fd, 0) != 0 || pwrite(file.fd, data + 4, size - 4, 0) != bytes) return 0;
    const char* path = file.path.c_str();
    qbMovieInfo info;
    const int opened = OpenQuickTimeMovie(path, &info);
    FuzzNoteValue(opened);
    if (opened == 0 && info.movie) {
        FuzzNoteValue(info.width);
        FuzzNoteValue(info.height);
        FuzzNoteValue(info.duration);
        FuzzNoteValue(info.seekable);
        FuzzNoteValue(MovieFrameCount(info.movie));
        const char* format = MovieFormatName(info.movie);
        FuzzNoteText(format ? format : "(none)");
        qbMovieFrame picture;
        const auto decode = [&](int64_t frameOrTime, int byTime) {
            picture = qbMovieFrame{};
            FuzzNoteValue(DecodeQuickTimeFrame(info.movie, frameOrTime, byTime, &picture));
            FuzzNoteValue(picture.modulo);
            SumPixels(picture.pixels, picture.width, picture.height, picture.modulo);
            // The movie's time is the decoded picture's, not a clock's.
            FuzzNoteValue(GetQuickTimeMovieTime(info.movie));
        };
        decode(frame, 0);
        decode(frame, 0);
        decode(back, 0);
        decode(time, 1);
        FuzzNoteValue(SeekQuickTimeMovie(info.movie, time));
        FuzzNoteValue(GetQuickTimeMovieTime(info.movie));
        decode(frame + 1, 0);
        CloseQuickTimeMovie(info.movie);
    }
    return 0;
}
