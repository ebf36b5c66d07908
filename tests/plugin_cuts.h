// Lengths at which to cut a plugin file so that the cut falls inside what
// the dynamic loader maps: the header, the program headers and the segments.
#pragma once

#include <link.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Where the last loadable segment of an ELF file's bytes ends.
inline uint64_t ElfLoadedBytes(const std::string& bytes) {
    ElfW(Ehdr) header{};
    if (bytes.size() < sizeof header) return 0;
    std::memcpy(&header, bytes.data(), sizeof header);
    uint64_t end = 0;
    for (size_t i = 0; i < header.e_phnum; ++i) {
        ElfW(Phdr) segment{};
        const uint64_t at = header.e_phoff + i * sizeof segment;
        if (at + sizeof segment > bytes.size()) break;
        std::memcpy(&segment, bytes.data() + at, sizeof segment);
        if (segment.p_type == PT_LOAD) end = std::max<uint64_t>(end, segment.p_offset + segment.p_filesz);
    }
    return end;
}

// A header cut short, a few absolute lengths and fractions of the loaded
// part, the last one byte short of it.
inline std::vector<size_t> PluginCutLengths(const std::string& bytes) {
    const uint64_t loaded = ElfLoadedBytes(bytes);
    std::vector<size_t> lengths = {40, 1000};
    for (uint64_t l : {loaded / 4, loaded / 2, loaded - 1})
        if (l > 1000) lengths.push_back(static_cast<size_t>(l));
    return lengths;
}
