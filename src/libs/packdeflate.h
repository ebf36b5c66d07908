// Writing pack files: a 4-byte magic, a zero word, then one zlib stream of
// the whole source at the default level.
#pragma once

#include <cstdint>

struct qbFile;

// Maps a zlib result to the error code scripts see.
int ZlibStatusToError(int status);

// Packs sourcePath into destinationPath or, with destination given, at that
// handle's position (the handle stays open). *written (may be null) gets the
// bytes of the pack file. 0, or ERR_READFILE / ERR_WRITEFILE (detail = the
// name), ERR_WRONGUSAGE (the destination is the source), ERR_READ, ERR_WRITE,
// ERR_MEM and the zlib errors. A failure leaves a named destination as it
// was; a handle keeps what was written so far.
int DeflatePackFile(const char* magic, const char* sourcePath, const char* destinationPath, qbFile* destination,
                    uint64_t* written);
