// Pack files: a 4-byte magic, 4 bytes the reader skips, then one zlib stream.
// Compressed applets ("QBZ" and a NUL) and linked plugins ("PLPK") use it.
#pragma once

#include <cstddef>
#include <cstdint>

struct qbFile;

constexpr size_t kPackMagicSize = 4;
constexpr size_t kPackHeaderSize = 8;      // the magic and the skipped word
constexpr size_t kPackReadPiece = 16384;  // compressed bytes read at a time
inline constexpr char kAppletPackMagic[kPackMagicSize + 1] = {'Q', 'B', 'Z', '\0', '\0'};
inline constexpr char kPluginPackMagic[kPackMagicSize + 1] = "PLPK";

// Inflates the pack stream at startOffset of the source (an open handle, which
// stays open and is left behind the bytes read, or else sourcePath) into the
// file targetPath or, with a buffer, into the buffer until it is full.
// *inflatedSize (may be null) gets the bytes written; *consumedLength (may be
// null) the stream's length with its 8 header bytes. 0, or ERR_PAKFORMAT
// (magic mismatch), ERR_READFILE (detail = sourcePath), ERR_WRITEFILE (detail
// = targetPath), ERR_WRONGUSAGE (targetPath is sourcePath), ERR_READ (the 8
// header bytes are short), ERR_WRITE, ERR_ZLIBDATA (also for a stream cut
// short), ERR_ZLIBVERSION, ERR_ZLIBSTREAM or ERR_MEM. The target file is
// replaced only by a whole stream; a failure leaves it as it was.
int InflatePackFile(const char* magic, const char* sourcePath, const char* targetPath, qbFile* source,
                    int64_t startOffset, uint64_t* inflatedSize, uint64_t* consumedLength, void* buffer,
                    size_t bufferSize);
