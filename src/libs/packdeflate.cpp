// The pack-file writer: the source streamed through zlib's deflate.
#include "libs/packdeflate.h"

#include <zlib.h>

#include <memory>
#include <new>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/packfile.h"
#include "core/replacefile.h"

namespace {

constexpr size_t kPiece = 16384;

struct Deflater {
    z_stream s{};
    bool open = false;
    ~Deflater() {
        if (open) deflateEnd(&s);
    }
};

}  // namespace

int ZlibStatusToError(int status) {
    switch (status) {
    case Z_VERSION_ERROR: return ERR_ZLIBVERSION;
    case Z_MEM_ERROR: return ERR_MEM;
    case Z_DATA_ERROR: return ERR_ZLIBDATA;
    case Z_STREAM_ERROR: return ERR_ZLIBSTREAM;
    case Z_ERRNO: return ERR_ZLIBIO;
    default: return ERR_UNKNOWN;
    }
}

int DeflatePackFile(const char* magic, const char* sourcePath, const char* destinationPath, qbFile* destination,
                    uint64_t* written) {
    std::unique_ptr<unsigned char[]> in(new (std::nothrow) unsigned char[kPiece]);
    std::unique_ptr<unsigned char[]> out(new (std::nothrow) unsigned char[kPiece]);
    if (!in || !out) return ERR_MEM;
    qbFilePtr source(FileOpen(sourcePath, kFileModeRead | kFileModeAdapters, nullptr));
    if (!source) {
        SetErrorDetail(sourcePath ? sourcePath : "");
        return ERR_READFILE;
    }
    qbReplaceFile replacement;
    if (!destination) {
        qbReplaceOptions options;
        options.adapters = true;
        options.source = sourcePath;
        if (int err = BeginReplaceFile(destinationPath, options, &replacement)) return err;
        destination = replacement.file.get();
    }
    unsigned char header[kPackHeaderSize] = {};
    for (size_t i = 0; i < kPackMagicSize; ++i) header[i] = static_cast<unsigned char>(magic[i]);
    if (FileWrite(destination, header, sizeof header) != sizeof header) return ERR_WRITE;

    Deflater z;
    if (int r = deflateInit(&z.s, Z_DEFAULT_COMPRESSION); r != Z_OK) return ZlibStatusToError(r);
    z.open = true;
    int flush = Z_NO_FLUSH;
    do {
        const size_t got = FileRead(source.get(), in.get(), kPiece);
        const bool atEnd = FileEof(source.get()) != 0;
        if (got < kPiece && (!atEnd || FileReadFailed(source.get()))) return ERR_READ;
        flush = atEnd ? Z_FINISH : Z_NO_FLUSH;
        z.s.next_in = in.get();
        z.s.avail_in = static_cast<uInt>(got);
        do {
            z.s.next_out = out.get();
            z.s.avail_out = kPiece;
            if (int r = deflate(&z.s, flush); r == Z_STREAM_ERROR) return ZlibStatusToError(r);
            const size_t made = kPiece - z.s.avail_out;
            if (made && FileWrite(destination, out.get(), made) != made) return ERR_WRITE;
        } while (z.s.avail_out == 0);
    } while (flush != Z_FINISH);
    if (written) *written = z.s.total_out + kPackHeaderSize;
    return replacement.file ? CommitReplaceFile(&replacement) : 0;
}
