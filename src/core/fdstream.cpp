// The descriptor stream: reads and writes that retry on interruption and on
// short transfers, and a write buffer flushed before anything else moves the
// descriptor's offset.
#include "core/fdstream.h"

#include <cerrno>
#include <cstring>
#include <new>

#include <unistd.h>

namespace {

constexpr size_t kPendingBytes = 8192;

// Writes all of it; false on a failure (what went before stays written).
bool WriteAll(int fd, const uint8_t* data, size_t count, size_t* written) {
    *written = 0;
    while (*written < count) {
        const ssize_t n = write(fd, data + *written, count - *written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        *written += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

qbFdStream::~qbFdStream() {
    if (fd < 0) return;
    FlushStream(*this);
    close(fd);
}

std::unique_ptr<qbFdStream> StreamOverDescriptor(int fd) {
    if (fd < 0) return nullptr;
    try {
        auto s = std::make_unique<qbFdStream>();
        s->fd = fd;
        return s;
    } catch (const std::bad_alloc&) {
        // No memory is the command's ERR_MEM, not a file that would not open.
        close(fd);
        throw;
    }
}

bool FlushStream(qbFdStream& s) {
    if (s.pendingBytes == 0) return !s.writeFailed;
    size_t written = 0;
    const bool ok = WriteAll(s.fd, s.pending.get(), s.pendingBytes, &written);
    // What did not go is dropped, as a C stream drops it: a later flush
    // must not write it at another offset.
    s.pendingBytes = 0;
    if (!ok) s.writeFailed = true;
    return !s.writeFailed;
}

size_t StreamRead(qbFdStream& s, void* buffer, size_t count) {
    if (s.pendingBytes && !FlushStream(s)) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < count) {
        const ssize_t n = read(s.fd, out + got, count - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) s.readFailed = true;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    return got;
}

size_t StreamWrite(qbFdStream& s, const void* buffer, size_t count) {
    const auto* in = static_cast<const uint8_t*>(buffer);
    // Without memory for the buffer every write goes through at once.
    if (!s.pending) try {
            s.pending = std::make_unique_for_overwrite<uint8_t[]>(kPendingBytes);
        } catch (const std::bad_alloc&) {
        }
    if (s.pending && s.pendingBytes + count <= kPendingBytes) {
        std::memcpy(s.pending.get() + s.pendingBytes, in, count);
        s.pendingBytes += count;
        return count;
    }
    if (s.pendingBytes && !FlushStream(s)) return 0;
    if (s.pending && count < kPendingBytes) {
        std::memcpy(s.pending.get(), in, count);
        s.pendingBytes = count;
        return count;
    }
    size_t written = 0;
    if (!WriteAll(s.fd, in, count, &written)) s.writeFailed = true;
    return written;
}

int64_t SeekStream(qbFdStream& s, int64_t offset, int whence) {
    if (s.pendingBytes && !FlushStream(s)) return -1;
    return lseek(s.fd, offset, whence);
}

bool CloseStream(std::unique_ptr<qbFdStream> s) {
    const bool flushed = FlushStream(*s);
    const int fd = s->fd;
    s->fd = -1;
    return close(fd) == 0 && flushed;
}
