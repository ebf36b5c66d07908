// Ordinary files and applet chunks over descriptors with 64-bit positions.
// StdioFile::position is where the stream stands; the bytes still in the
// read-ahead window lie before it, so the position a caller sees is
// position - (getEnd - getPtr).
#include "core/stdiofile.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "core/chars.h"
#include "core/chunkname.h"
#include "core/filenames.h"
#include "core/readholds.h"

namespace {

constexpr size_t kWindowSize = 32768;

size_t Buffered(const qbFile* f) { return static_cast<size_t>(f->getEnd - f->getPtr); }

int64_t CallerPosition(const qbFile* f) { return f->stdio->position - static_cast<int64_t>(Buffered(f)); }

// Gives the unread window back to the stream: it is sought to where the
// caller stands.
void Settle(qbFile* f) {
    StdioFile* s = f->stdio.get();
    if (const size_t left = Buffered(f)) {
        const int64_t at = CallerPosition(f);
        if (SeekStream(*s->stream, s->base + at, SEEK_SET) >= 0) s->position = at;
    }
    f->getPtr = f->getEnd = nullptr;
}

// Reads from the stream, at most to the end of a chunk.
size_t ReadStream(StdioFile* s, void* buffer, size_t count) {
    if (!s->stream || count == 0) return 0;
    if (s->limit) {
        const int64_t left = s->size - s->position;
        if (left <= 0) return 0;
        if (static_cast<uint64_t>(left) < count) count = static_cast<size_t>(left);
    }
    const size_t got = StreamRead(*s->stream, buffer, count);
    s->position += static_cast<int64_t>(got);
    if (got < count) {
        s->endMet = true;
        // Short of the size it had at the open, the file was cut under the
        // reader (or, for a chunk, its container was): what was read is a
        // prefix, not the file.
        const bool sized = !s->streamed && s->size != kUnknownFileSize;
        if (s->stream->readFailed || (sized && s->position < s->size)) s->readFailed = true;
    }
    return got;
}

// Refills the empty window; the number of bytes now in it.
size_t Refill(qbFile* f) {
    StdioFile* s = f->stdio.get();
    f->getPtr = f->getEnd = nullptr;
    if (!s->window) {
        try {
            s->window = std::make_unique_for_overwrite<uint8_t[]>(kWindowSize);
        } catch (const std::bad_alloc&) {
            return 0;
        }
    }
    const size_t got = ReadStream(s, s->window.get(), kWindowSize);
    f->getPtr = s->window.get();
    f->getEnd = f->getPtr + got;
    return got;
}

// Whether a reader of that kind may read st.
bool KindFits(const struct stat& st, uint32_t mode) {
    if (S_ISDIR(st.st_mode)) return false;
    if (mode & kFileModeAnyKind) return true;
    return S_ISREG(st.st_mode) || ((mode & kFileModeFifoToo) && S_ISFIFO(st.st_mode));
}

// Opens a file to read. Only a regular file opens unless the mode lets in
// other kinds: a FIFO would hold the open (and every read) until something
// writes to it, and a device may never end. The name is asked first, so
// that a FIFO is never opened (an open would wake a writer waiting at its
// other end), then the descriptor, opened without waiting, so that no FIFO
// swapped in between gets past. A folder is no file to read either way. A
// FIFO let in waits at its open for its writer, as a reader of it expects.
std::unique_ptr<qbFdStream> OpenToRead(const std::string& path, uint32_t mode) {
    const bool others = mode & (kFileModeAnyKind | kFileModeFifoToo);
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !KindFits(st, mode)) return nullptr;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | (others ? 0 : O_NONBLOCK));
    if (fd < 0) return nullptr;
    const bool fits = fstat(fd, &st) == 0 && KindFits(st, mode);
    const int flags = fits ? fcntl(fd, F_GETFL) : -1;
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return nullptr;
    }
    return StreamOverDescriptor(fd);
}

std::unique_ptr<StdioFile> OpenChunk(const char* name, uint32_t mode) {
    qbChunkName chunk;
    if ((mode & (kFileModeWrite | kFileModeReadWrite)) || !ParseChunkName(name, &chunk) || chunk.stream)
        return nullptr;
    auto rec = std::make_unique<StdioFile>();
    rec->path = name;
    rec->base = static_cast<int64_t>(chunk.offset);
    rec->size = static_cast<int64_t>(chunk.size);
    rec->limit = 1;
    if (chunk.containerPath.empty()) return rec;
    // A container is read as any named file is, through the same gate: a
    // part of a FIFO would hold every reader of it, one of a device would
    // never end.
    const std::string container = NativePathOf(chunk.containerPath.c_str());
    if (container.empty()) return nullptr;
    rec->stream = OpenToRead(container, kFileModeRead);
    if (!rec->stream) return nullptr;
    if (SeekStream(*rec->stream, rec->base, SEEK_SET) < 0) return nullptr;
    return rec;
}

// Opens a file to write in place ("wb" or "r+b"; read-and-write creates a
// missing file). A file a live object reads is refused on the descriptor,
// before anything is cut: the open itself truncates nothing, the
// truncation of "wb" follows the check. With expected the open follows no
// link at the last part, and answers only for that file (or, when it is
// empty, a file it made).
std::unique_ptr<qbFdStream> OpenToWrite(const std::string& path, uint32_t mode,
                                        const qbFileId* expected = nullptr) {
    const bool truncate = mode & kFileModeWrite;
    // Without a reader a FIFO's open fails at once (ENXIO) instead of
    // waiting; the writes after it wait as a blocking descriptor's do.
    const int noWait = mode & kFileModeNoWait ? O_NONBLOCK : 0;
    int create = O_CREAT;
    if (expected) create = *expected ? O_NOFOLLOW : O_CREAT | O_EXCL | O_NOFOLLOW;
    const int fd = open(path.c_str(), (truncate ? O_WRONLY : O_RDWR) | create | O_CLOEXEC | noWait, 0666);
    if (fd < 0) return nullptr;
    struct stat st;
    const bool refused = fstat(fd, &st) != 0 || IsFileRead(FileIdOf(st)) ||
                         (expected && *expected && FileIdOf(st) != *expected) ||
                         (noWait && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0);
    // A FIFO or a device has nothing to cut.
    if (refused || (truncate && S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0)) {
        close(fd);
        return nullptr;
    }
    return StreamOverDescriptor(fd);
}

// The player's text of a system path, as a record keeps it.
std::string RecordedPath(const std::string& path) {
    char full[PATH_MAX];
    return FromSystemPath(realpath(path.c_str(), full) ? full : path.c_str());
}

}  // namespace

std::unique_ptr<StdioFile> OpenStdioFile(const char* name, uint32_t mode) {
    if (!name) return nullptr;
    if (!(mode & kFileModeSystemName) && IsChunkName(name)) return OpenChunk(name, mode);
    const std::string path = mode & kFileModeSystemName ? std::string(name) : NativePathOf(name);
    if (path.empty()) return nullptr;
    auto rec = std::make_unique<StdioFile>();
    const bool writing = mode & (kFileModeWrite | kFileModeReadWrite);
    rec->stream = writing ? OpenToWrite(path, mode) : OpenToRead(path, mode);
    if (!rec->stream) return nullptr;
    rec->path = RecordedPath(path);
    if (!writing) {
        // Only a regular file or a disk says its size, asked of the
        // descriptor: a /proc file's stat size is 0, where the system
        // refuses the seek. A character device says 0 too.
        struct stat st;
        const int fd = rec->stream->fd;
        const bool sized = fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
        const off_t end = sized ? lseek(fd, 0, SEEK_END) : -1;
        if (end >= 0) rec->size = end;
        if (lseek(fd, 0, SEEK_SET) != 0) rec->size = kUnknownFileSize;
        rec->streamed = rec->size == kUnknownFileSize;
    }
    return rec;
}

std::unique_ptr<StdioFile> StdioOverNewFile(int fd, const char* systemPath) {
    std::unique_ptr<qbFdStream> stream = StreamOverDescriptor(fd);
    if (!stream) return nullptr;
    auto rec = std::make_unique<StdioFile>();
    rec->stream = std::move(stream);
    rec->path = RecordedPath(systemPath ? systemPath : "");
    return rec;
}

std::unique_ptr<StdioFile> OpenStdioExpected(const char* systemPath, uint32_t mode, const qbFileId& expected) {
    if (!(mode & kFileModeWrite)) return nullptr;
    auto rec = std::make_unique<StdioFile>();
    rec->stream = OpenToWrite(systemPath, mode, &expected);
    if (!rec->stream) return nullptr;
    rec->path = RecordedPath(systemPath);
    return rec;
}

size_t StdioRead(qbFile* f, void* buffer, size_t count) {
    if (!f->stdio->stream) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = std::min(count, Buffered(f));
    if (done) {
        std::memcpy(out, f->getPtr, done);
        f->getPtr += done;
    }
    const size_t rest = count - done;
    if (rest == 0) return done;
    // Large reads go straight into the caller's buffer; small ones refill
    // the window first.
    if (rest >= kWindowSize) {
        // The window's bytes lie before the stream from now on: a seek must
        // not take them for the bytes before the new position.
        f->getPtr = f->getEnd = nullptr;
        return done + ReadStream(f->stdio.get(), out + done, rest);
    }
    const size_t take = std::min(rest, Refill(f));
    // Without memory for the window the bytes go straight to the caller.
    if (!f->stdio->window) return done + ReadStream(f->stdio.get(), out + done, rest);
    if (take == 0) return done;
    std::memcpy(out + done, f->getPtr, take);
    f->getPtr += take;
    return done + take;
}

int StdioGetC(qbFile* f) {
    StdioFile* s = f->stdio.get();
    if (!s->stream) return -1;
    if (Refill(f)) return *f->getPtr++;
    if (!s->window) {
        // No memory for the window: one byte at a time then.
        unsigned char byte;
        if (ReadStream(s, &byte, 1) == 1) return byte;
    }
    // Past the end of a plain stream the position still counts on, as with
    // fgetc; a chunk stops at its end.
    if (!s->limit) ++s->position;
    return -1;
}

size_t StdioWrite(qbFile* f, const void* buffer, size_t count) {
    StdioFile* s = f->stdio.get();
    if (!s->stream || count == 0) return 0;
    Settle(f);
    const size_t put = StreamWrite(*s->stream, buffer, count);
    s->position += static_cast<int64_t>(put);
    return put;
}

int64_t StdioSeek(qbFile* f, int64_t offset, int mode) {
    StdioFile* s = f->stdio.get();
    if (!s->stream) return -1;
    const int64_t previous = CallerPosition(f);
    // Telling the position moves nothing and forgets no end met.
    if (mode == kSeekCurrent && offset == 0) return previous;
    int64_t from;
    if (mode == kSeekBeginning) {
        from = 0;
    } else if (mode == kSeekCurrent) {
        from = previous;
    } else if (mode != kSeekEnd) {
        return -1;
    } else if (s->limit || s->size != kUnknownFileSize) {
        from = s->size;
    } else {
        // Written files have no size of their own: the stream knows its end.
        Settle(f);
        const int64_t end = SeekStream(*s->stream, 0, SEEK_END);
        if (end < 0) return -1;
        from = end - s->base;
        if (from < 0) return -1;
        s->position = from;
    }
    int64_t target;
    if (__builtin_add_overflow(from, offset, &target)) return -1;
    // A chunk's reads must stay inside the chunk in both directions.
    if (s->limit) target = std::clamp<int64_t>(target, 0, s->size);
    if (target < 0 || __builtin_add_overflow(target, s->base, &from)) return -1;
    if (f->getEnd) {
        // Inside the window: no stream call at all.
        const int64_t windowStart = s->position - (f->getEnd - s->window.get());
        if (target >= windowStart && target <= s->position) {
            f->getPtr = s->window.get() + (target - windowStart);
            return previous;
        }
    }
    Settle(f);
    if (SeekStream(*s->stream, s->base + target, SEEK_SET) < 0) return -1;
    s->position = target;
    // A file may have grown or an error passed: the next read tells anew.
    s->endMet = false;
    s->readFailed = false;
    ClearStreamFailure(*s->stream);
    return previous;
}

namespace {

// A regular file read to the size it had may have grown since (a log being
// written): its size is asked again there, and a larger one moves the end,
// so that a loop reading to the end reads what was appended. A file cut
// shorter keeps its end.
bool GrewPastEnd(StdioFile* s, int64_t at) {
    if (s->limit || s->streamed || s->size == kUnknownFileSize || !s->stream) return false;
    struct stat st;
    if (fstat(s->stream->fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= at) return false;
    s->size = st.st_size;
    s->endMet = false;
    ClearStreamFailure(*s->stream);
    return true;
}

}  // namespace

int StdioEof(const qbFile* f) {
    StdioFile* s = f->stdio.get();
    // The end is where a read met it once nothing read ahead is left, also
    // short of the size a file had at its open (cut since), so that a loop
    // reading to the end always ends; else a sized file ends at its size.
    const int64_t at = CallerPosition(f);
    const bool end = (s->endMet && Buffered(f) == 0) || (!s->streamed && at >= s->size);
    return end && !GrewPastEnd(s, at);
}

int StdioReadFailed(const qbFile* f) { return f->stdio->readFailed; }

int StdioFlush(qbFile* f) {
    StdioFile* s = f->stdio.get();
    // The window stays: the stream stands at its end, where a flush of an
    // input stream leaves it.
    return s->stream ? FlushStream(*s->stream) : 1;
}

int StdioClose(qbFile* f) {
    std::unique_ptr<StdioFile> s = std::move(f->stdio);
    f->getPtr = f->getEnd = nullptr;
    if (!s || !s->stream) return s ? 1 : 0;
    return CloseStream(std::move(s->stream));
}
