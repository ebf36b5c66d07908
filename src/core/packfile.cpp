// Inflating pack files through zlib, into a file or a caller's buffer.
#include "core/packfile.h"

#include <zlib.h>

#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/errors.h"
#include "core/file.h"
#include "core/replacefile.h"

namespace {

// Output is written in bigger steps than input is read: fewer writes through
// the file layer for the same stream.
constexpr size_t kWritePiece = 65536;

struct ZStream {
    z_stream s{};
    bool open = false;
    ~ZStream() {
        if (open) inflateEnd(&s);
    }
};

int ZlibInitError(int z) {
    switch (z) {
    case Z_MEM_ERROR: return ERR_MEM;
    case Z_VERSION_ERROR: return ERR_ZLIBVERSION;
    default: return ERR_ZLIBSTREAM;
    }
}

int ZlibInflateError(int z) {
    switch (z) {
    case Z_MEM_ERROR: return ERR_MEM;
    case Z_DATA_ERROR:
    case Z_NEED_DICT: return ERR_ZLIBDATA;
    default: return ERR_ZLIBSTREAM;
    }
}

// Runs the stream from the source's current position. out == nullptr writes
// to target in kWritePiece steps; else inflates straight into out until
// outSize bytes are there or the stream ends.
int RunInflate(qbFile* source, qbFile* target, unsigned char* out, size_t outSize, uint64_t* produced,
               uint64_t* consumed) {
    ZStream z;
    if (int r = inflateInit(&z.s); r != Z_OK) return ZlibInitError(r);
    z.open = true;

    std::vector<unsigned char> in, piece;
    try {
        in.resize(kPackReadPiece);
        if (!out) piece.resize(kWritePiece);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }

    uint64_t written = 0;
    bool ended = false;
    while (!ended) {
        if (out && written >= outSize) break;
        if (z.s.avail_in == 0) {
            size_t got = FileRead(source, in.data(), in.size());
            // The header was whole, so running dry here means the stream
            // itself was cut short.
            if (got == 0) return ERR_ZLIBDATA;
            z.s.next_in = in.data();
            z.s.avail_in = static_cast<uInt>(got);
        }
        // Inflate what this input gives before reading more.
        do {
            unsigned char* dest;
            size_t room;
            if (out) {
                dest = out + written;
                room = outSize - written;
                if (room > UINT_MAX) room = UINT_MAX;
            } else {
                dest = piece.data();
                room = piece.size();
            }
            z.s.next_out = dest;
            z.s.avail_out = static_cast<uInt>(room);
            int r = inflate(&z.s, Z_NO_FLUSH);
            if (r == Z_STREAM_END) ended = true;
            else if (r == Z_BUF_ERROR) break;  // no progress possible: more input needed
            else if (r != Z_OK) return ZlibInflateError(r);
            size_t made = room - z.s.avail_out;
            if (!out && made > 0 && FileWrite(target, piece.data(), made) != made) return ERR_WRITE;
            written += made;
            if (out && written >= outSize) break;
        } while (!ended && z.s.avail_out == 0);
    }
    if (produced) *produced = written;
    if (consumed) *consumed = z.s.total_in + kPackHeaderSize;
    return 0;
}

}  // namespace

int InflatePackFile(const char* magic, const char* sourcePath, const char* targetPath, qbFile* source,
                    int64_t startOffset, uint64_t* inflatedSize, uint64_t* consumedLength, void* buffer,
                    size_t bufferSize) {
    qbFilePtr ownedSource;
    if (!source) {
        ownedSource.reset(FileOpen(sourcePath, kFileModeRead, nullptr));
        if (!ownedSource) {
            SetErrorDetail(sourcePath ? sourcePath : "");
            return ERR_READFILE;
        }
        source = ownedSource.get();
    }
    if (FileSeek(source, startOffset, kSeekBeginning) < 0) return ERR_READ;
    unsigned char header[kPackHeaderSize];
    if (FileRead(source, header, sizeof header) != sizeof header) return ERR_READ;
    if (std::memcmp(header, magic, kPackMagicSize) != 0) return ERR_PAKFORMAT;

    if (buffer) {
        return RunInflate(source, nullptr, static_cast<unsigned char*>(buffer), bufferSize, inflatedSize,
                          consumedLength);
    }
    qbReplaceOptions options;
    options.source = sourcePath;
    qbReplaceFile target;
    if (int err = BeginReplaceFile(targetPath, options, &target)) return err;
    if (int err = RunInflate(source, target.file.get(), nullptr, 0, inflatedSize, consumedLength)) return err;
    return CommitReplaceFile(&target);
}
