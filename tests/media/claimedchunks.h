// Files whose chunk claims a size far beyond its own bytes and which really
// hold it: the chunk's bytes are followed by a hole (a sparse file) up to
// the claimed size, and the rest of the file after it, the enclosing
// containers' sizes grown to match. What a reader keeps of such a chunk is
// what the format uses, whatever the claim.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace claimedchunks {

using Bytes = std::vector<uint8_t>;

inline uint32_t Get(const Bytes& b, size_t at, bool bigEndian) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        const uint32_t byte = b[at + static_cast<size_t>(bigEndian ? i : 3 - i)];
        v = v << 8 | byte;
    }
    return v;
}

inline void Set(Bytes* b, size_t at, uint32_t v, bool bigEndian) {
    for (int i = 0; i < 4; ++i) (*b)[at + static_cast<size_t>(bigEndian ? 3 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
}

// The position of the n-th (from 0) chunk header with this id.
inline size_t Find(const Bytes& b, const std::string& id, int n = 0) {
    for (size_t at = 0; at + 8 <= b.size(); ++at)
        if (std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4) == id && n-- == 0)
            return at;
    return std::string::npos;
}

// Writes `file` to `path` with the chunk at `chunkAt` claiming `claim`
// bytes (even); `containers` are the positions of the chunk headers whose
// data holds it, grown by the same amount.
inline bool WriteClaim(const std::string& path, Bytes file, size_t chunkAt, uint32_t claim,
                       const std::vector<size_t>& containers, bool bigEndian) {
    const uint32_t size = Get(file, chunkAt + 4, bigEndian);
    const size_t data = chunkAt + 8, padded = size + (size & 1);
    if (claim < padded || (claim & 1)) return false;
    const uint32_t grown = claim - static_cast<uint32_t>(padded);
    Set(&file, chunkAt + 4, claim, bigEndian);
    for (size_t c : containers) Set(&file, c + 4, Get(file, c + 4, bigEndian) + grown, bigEndian);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(data + size));
        out.seekp(static_cast<std::streamoff>(data) + claim);
        out.write(reinterpret_cast<const char*>(file.data() + data + padded),
                  static_cast<std::streamsize>(file.size() - data - padded));
        if (!out) return false;
    }
    return true;
}

}  // namespace claimedchunks
