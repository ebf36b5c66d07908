// Records whose size a file's own field gives (a chunk, a header, a
// section): what a reader keeps of one is what its format uses of it, never
// what the field claims.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/file.h"

// The record of `declared` bytes at `position`: false when it runs past
// `end` (the end of its container, never past the file's own end) or cannot
// be read; else its first min(declared, used) bytes are in `out`, the rest
// is skipped unread. The file's position afterwards is unspecified.
bool ReadRecordPrefix(qbFile* file, int64_t position, uint64_t declared, size_t used, int64_t end,
                      std::vector<uint8_t>* out);

// A record the format uses whole (pixel data, a delta, sample data): false
// when it runs past `end` or is longer than `limit`, the largest the format
// could use; else all of it is in `out`.
bool ReadWholeRecord(qbFile* file, int64_t position, uint64_t declared, uint64_t limit, int64_t end,
                     std::vector<uint8_t>* out);
