// Reading a four-channel module: header, instruments, order table, the
// unpacked patterns and the sample bytes that follow them, as many as the
// instruments' lengths name.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "core/errcodes.h"
#include "sound/modplayer.h"

namespace {

constexpr size_t kHeaderBytes = kModHeaderBytes;
constexpr size_t kPatternBytes = 1024;
constexpr size_t kOrderOffset = 952;
constexpr size_t kSongLengthOffset = 950;

uint32_t Word(const uint8_t* p) { return static_cast<uint32_t>(p[0] << 8 | p[1]); }

std::string Text(const uint8_t* p, size_t n) {
    const auto* end = static_cast<const uint8_t*>(std::memchr(p, 0, n));
    return std::string(reinterpret_cast<const char*>(p), end ? static_cast<size_t>(end - p) : n);
}

// Lengths come in words; the loop is kept inside the bytes present, and a
// loop of two bytes or less is none.
void SetLoop(ModInstrument& in, uint32_t startBytes, uint32_t lengthBytes) {
    const uint32_t length = in.length >> kModFixedShift;
    in.loopStart = in.loopLength = in.loopEnd = 0;
    if (startBytes >= length) return;
    const uint32_t end = std::min(startBytes + lengthBytes, length);
    if (end - startBytes <= 2) return;
    in.loopStart = startBytes << kModFixedShift;
    in.loopEnd = end << kModFixedShift;
    in.loopLength = in.loopEnd - in.loopStart;
}

int PatternCount(const uint8_t* data) {
    int patterns = 0;
    for (size_t i = 0; i < 128; ++i) patterns = std::max(patterns, data[kOrderOffset + i] + 1);
    return patterns;
}

size_t SampleStart(int patterns) { return kHeaderBytes + kPatternBytes * static_cast<size_t>(patterns); }

// What the instruments' own lengths ask for, in bytes.
size_t DeclaredSampleBytes(const uint8_t* data) {
    size_t total = 0;
    for (size_t i = 0; i < kModInstruments; ++i) total += size_t{Word(data + 20 + 30 * i + 22)} * 2;
    return total;
}

}  // namespace

size_t ModuleBytesUsed(const uint8_t* header, size_t size) {
    if (!header || size < kHeaderBytes) return kHeaderBytes;
    return SampleStart(PatternCount(header)) + DeclaredSampleBytes(header);
}

int ParseModule(const uint8_t* data, size_t size, ModPlayer& p) {
    if (!data || size < kHeaderBytes || std::memcmp(data + 1080, "M.K.", 4) != 0) return ERR_OPENSOUND2;
    const int songLength = data[kSongLengthOffset];
    if (songLength == 0 || songLength > 128) return ERR_OPENSOUND2;
    const int patterns = PatternCount(data);
    const size_t sampleStart = SampleStart(patterns);
    if (size < sampleStart) return ERR_OPENSOUND2;

    p.name = Text(data, 20);
    p.patterns = patterns;
    p.songLength = songLength;
    std::memcpy(p.order.data(), data + kOrderOffset, 128);
    p.cells.assign(static_cast<size_t>(patterns) * kModRows * kModChannels, ModCell{});
    for (size_t i = 0; i < p.cells.size(); ++i) {
        const uint8_t* b = data + kHeaderBytes + i * 4;
        ModCell& c = p.cells[i];
        c.period = static_cast<uint16_t>((b[0] & 15) << 8 | b[1]);
        c.instrument = static_cast<uint8_t>((b[0] & 0xF0) | (b[2] >> 4));
        c.effect = b[2] & 15;
        c.param = b[3];
        c.x = b[3] >> 4;
        c.y = b[3] & 15;
    }
    // Bytes past the last instrument's sample belong to no instrument.
    const size_t available = std::min(size - sampleStart, DeclaredSampleBytes(data));
    p.samples.assign(data + sampleStart, data + sampleStart + available);
    size_t at = 0;
    for (size_t i = 0; i < kModInstruments; ++i) {
        const uint8_t* h = data + 20 + 30 * i;
        ModInstrument& in = p.instruments[i];
        in.name = Text(h, 22);
        const size_t wanted = size_t{Word(h + 22)} * 2;
        const size_t present = at < available ? std::min(wanted, available - at) : 0;
        in.offset = static_cast<uint32_t>(std::min(at, available));
        in.length = static_cast<uint32_t>(present) << kModFixedShift;
        in.finetune = h[24] & 15;
        in.volume = std::min<uint8_t>(h[25], 64);
        SetLoop(in, Word(h + 26) * 2, Word(h + 28) * 2);
        at += wanted;
    }
    const double k = std::atan(4000.0 * std::numbers::pi / kModOutputRate);
    p.filterA = (1 - k) / (1 + k);
    p.filterB = (1 - p.filterA) / 2;
    for (size_t c = 0; c < kModChannels; ++c) p.channels[c].pan = (c == 0 || c == 3) ? 0 : 255;
    return 0;
}
