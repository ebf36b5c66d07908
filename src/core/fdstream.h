// A file descriptor with a write buffer of its own, under the file layer's
// ordinary files. The C library links every stream it opens into one list
// and each fclose walks that list from its newest stream, so closing the
// oldest of many open files costs them all; a descriptor closes alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct qbFdStream {
    int fd = -1;
    // Bytes written and not yet handed to the system; allocated by the
    // first write.
    std::unique_ptr<uint8_t[]> pending;
    size_t pendingBytes = 0;
    // A read failed, or a write did (its bytes dropped): sticky until
    // ClearStreamFailure, as a C stream's error flag is. A failed write
    // fails every flush after it.
    bool readFailed = false;
    bool writeFailed = false;

    qbFdStream() = default;
    qbFdStream(const qbFdStream&) = delete;
    qbFdStream& operator=(const qbFdStream&) = delete;
    // Closes the descriptor; what is pending is written first.
    ~qbFdStream();
};

// Takes the descriptor (closed on failure); null when the record can't be had.
std::unique_ptr<qbFdStream> StreamOverDescriptor(int fd);
// Reads until count bytes, the end or a failure, as fread does; pending
// bytes are written first.
size_t StreamRead(qbFdStream& s, void* buffer, size_t count);
// Takes count bytes (buffered, or written through when large); what it
// answers is what was taken. A failure to write shows in writeFailed and in
// the next flush.
size_t StreamWrite(qbFdStream& s, const void* buffer, size_t count);
// Writes what is pending; false when it did not all reach the file.
bool FlushStream(qbFdStream& s);
// lseek after a flush; the new offset, or -1.
int64_t SeekStream(qbFdStream& s, int64_t offset, int whence);
inline void ClearStreamFailure(qbFdStream& s) { s.readFailed = s.writeFailed = false; }
// Flushes and closes; false when either failed (or a failure came before).
bool CloseStream(std::unique_ptr<qbFdStream> s);
