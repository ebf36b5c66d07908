// The byte layout of the AVI writer's header list and standard indexes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/aviwriter.h"

// Little-endian bytes appended to a buffer.
struct AVIBytes {
    std::vector<uint8_t> data;
    void Tag(const char* fourcc);
    void U8(uint32_t v);
    void U16(uint32_t v);
    void U32(uint32_t v);
    void U64(uint64_t v);
    void Bytes(const void* p, size_t n);
    void Zeros(size_t n);
};

// The fixed texts of the INFO list: the software's name, and the comment of
// exactly 145 bytes, zero-filled after its text.
const char* AVISoftwareText();
const std::vector<char>& AVICommentText();

// The header list's size field for the title.
uint32_t AVIHeaderListSize(const std::string& title);
// "LIST", size, "hdrl" and everything in it, from the writer's values.
void BuildAVIHeaderList(const qbAVIWriter& writer, AVIBytes& out);
// One "ix00"/"ix01" chunk: 8 + 16376 bytes.
void BuildAVIStandardIndex(const char* tag, const char* chunkId, int64_t base, uint32_t used,
                           const qbAVIStandardEntry* entries, AVIBytes& out);
