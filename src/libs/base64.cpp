// Base64 in both directions, a block of output at a time.
#include "libs/base64.h"

#include <array>

#include "core/errcodes.h"
#include "core/file.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kLineLength = 72;
constexpr size_t kChunk = 4096;  // output collected before it goes to the target

constexpr uint8_t kSkip = 0xFE;
constexpr uint8_t kBad = 0xFF;

constexpr std::array<uint8_t, 256> MakeDecodeTable() {
    std::array<uint8_t, 256> t{};
    for (size_t i = 0; i < 256; ++i) t[i] = i <= 32 ? kSkip : kBad;
    for (uint8_t i = 0; i < 64; ++i) t[static_cast<uint8_t>(kAlphabet[i])] = i;
    t['='] = 0;  // a pad counts as 0; its place decides the byte count
    return t;
}
constexpr std::array<uint8_t, 256> kDecode = MakeDecodeTable();

// Collects output and hands it to the one target in blocks.
struct Sink {
    Sink(qbFile* f, ScriptBuffer* b, uint8_t* m) : file(f), stringBuffer(b), memory(m) {}
    qbFile* file;
    ScriptBuffer* stringBuffer;
    uint8_t* memory;
    size_t count = 0;
    uint8_t pending[kChunk];
    size_t used = 0;

    bool Flush() {
        if (used == 0) return true;
        if (file && FileWrite(file, pending, used) != used) return false;
        if (stringBuffer) VmBufferAddLString(stringBuffer, reinterpret_cast<const char*>(pending), used);
        used = 0;
        return true;
    }
    bool Put(uint8_t c) {
        ++count;
        if (memory) {
            *memory++ = c;
            return true;
        }
        pending[used++] = c;
        return used < kChunk || Flush();
    }
};

}  // namespace

int EncodeBase64(qbFile* file, ScriptBuffer* stringBuffer, uint8_t* memory, const uint8_t* source, size_t length,
                 size_t* count, int noWrap) {
    Sink sink{file, stringBuffer, memory};
    const bool wrap = file && !noWrap;
    size_t onLine = 0;
    auto put = [&](char c) {
        if (wrap && onLine == kLineLength) {
            if (!sink.Put('\n')) return false;
            onLine = 0;
        }
        ++onLine;
        return sink.Put(static_cast<uint8_t>(c));
    };
    for (size_t i = 0; i < length; i += 3) {
        const size_t n = length - i < 3 ? length - i : 3;
        const uint32_t v = static_cast<uint32_t>(source[i]) << 16 | (n > 1 ? source[i + 1] << 8 : 0) |
                           (n > 2 ? source[i + 2] : 0);
        if (!put(kAlphabet[v >> 18]) || !put(kAlphabet[(v >> 12) & 63]) ||
            !put(n > 1 ? kAlphabet[(v >> 6) & 63] : '=') || !put(n > 2 ? kAlphabet[v & 63] : '='))
            return ERR_WRITE;
    }
    if (!sink.Flush()) return ERR_WRITE;
    if (count) *count = sink.count;
    return 0;
}

int DecodeBase64(const uint8_t* source, size_t length, uint8_t* memory, ScriptBuffer* stringBuffer, size_t* count) {
    Sink sink{nullptr, stringBuffer, memory};
    uint8_t quartet[4];
    size_t have = 0;
    bool ended = false;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t c = source[i];
        const uint8_t v = kDecode[c];
        if (v == kSkip) continue;
        // A pad ends the text: nothing but spacing may follow it.
        if (v == kBad || ended) return ERR_BADBASE64;
        // The first two places of a quartet always carry data.
        if (c == '=' && have < 2) return ERR_BADBASE64;
        quartet[have] = c;
        if (++have < 4) continue;
        have = 0;
        const uint32_t bits = static_cast<uint32_t>(kDecode[quartet[0]]) << 18 | kDecode[quartet[1]] << 12 |
                              kDecode[quartet[2]] << 6 | kDecode[quartet[3]];
        int bytes = 3;
        if (quartet[2] == '=') {
            if (quartet[3] != '=') return ERR_BADBASE64;
            bytes = 1;
        } else if (quartet[3] == '=') {
            bytes = 2;
        }
        sink.Put(static_cast<uint8_t>(bits >> 16));
        if (bytes > 1) sink.Put(static_cast<uint8_t>(bits >> 8));
        if (bytes > 2) sink.Put(static_cast<uint8_t>(bits));
        ended = bytes < 3;
    }
    if (have) return ERR_BADBASE64;
    sink.Flush();
    if (count) *count = sink.count;
    return 0;
}
