// The MD5 message digest (RFC 1321), for the MD5 command, the string library
// and the plugins' base table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct MD5Context {
    uint32_t state[4];
    uint64_t length = 0;  // bytes taken so far
    uint8_t block[64];    // the bytes of the block not yet full
};

void MD5Init(MD5Context* context);
void MD5Update(MD5Context* context, const void* data, size_t length);
void MD5Final(uint8_t digest[16], MD5Context* context);
// The 32 lower-case hexadecimal digits of a digest.
std::string MD5Hex(const uint8_t digest[16]);
