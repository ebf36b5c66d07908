// The commands that make, read, save and edit samples: they need no audio
// output and work in no-audio mode too.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "core/errcodes.h"
#include "core/numbers.h"
#include "sound/rangecopy.h"
#include "sound/samples.h"
#include "sound/samplesources.h"
#include "sound/soundlib.h"
#include "sound/wavewriter.h"

namespace {

constexpr int32_t kSum24Max = 8388607;
constexpr int32_t kSum24Min = -8388608;
// The most PCM one made sample holds: beyond it a mistyped length would
// take minutes to fill rather than fail.
constexpr size_t kMaxMadeBytes = size_t{1} << 30;

bool Given(ScriptState* L, int idx) { return VmGetTop(L) >= idx && VmType(L, idx) != kTypeNil; }

std::unique_ptr<uint8_t[]> Alloc(size_t bytes) { return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[std::max<size_t>(bytes, 1)]()); }

// Value index of a sample's PCM as a signed number of its own width.
int32_t ValueAt(const qbSampleData& s, size_t index) {
    const auto* p = static_cast<const uint8_t*>(s.pcm);
    if (s.bits == 16) {
        uint16_t v;
        if (s.flags & kPCMBigEndian) {
            v = static_cast<uint16_t>(p[2 * index] << 8 | p[2 * index + 1]);
        } else {
            std::memcpy(&v, p + 2 * index, 2);
        }
        return static_cast<int16_t>(v);
    }
    return (s.flags & kPCMSigned) ? static_cast<int8_t>(p[index]) : static_cast<int32_t>(p[index]) - 128;
}

// One source of MixSample and where it stands.
struct MixSource {
    qbSampleRef sample;
    const qbSampleData* data = nullptr;  // taken once every source is read
    double position = 0;
    double step = 0;
    int64_t threshold = 0;
    int64_t length = -1;
    bool loop = true;
    double scale = 1.0;
};

int ReadMixSource(ScriptState* L, int idx, int32_t outRate, MixSource* m) {
    m->sample = qbSampleRef(L, GetObjectIDArg(L, idx));
    qbTaken<qbSampleObject> s = nullptr;
    if (int err = m->sample.Take(&s)) return err;
    double pitch = s->pitch;
    double offset = 0, threshold = 0, length = -1, loop = 1;
    const int opt = idx + 1;
    if (Given(L, opt) && VmType(L, opt) == kTypeTable) {
        GetTableFieldFloat(L, opt, "pitch", &pitch, nullptr);
        GetTableFieldFloat(L, opt, "offset", &offset, nullptr);
        GetTableFieldFloat(L, opt, "threshold", &threshold, nullptr);
        GetTableFieldFloat(L, opt, "length", &length, nullptr);
        GetTableFieldFloat(L, opt, "loop", &loop, nullptr);
        GetTableFieldFloat(L, opt, "scale", &m->scale, nullptr);
    }
    // A position that is infinite (or a step that makes it so) has no place
    // inside the source to wrap to.
    if (!(pitch >= 1 && std::isfinite(pitch)) || std::isnan(m->scale)) return ERR_WRONGUSAGE;
    if (!(offset >= 0 && std::isfinite(offset))) return ERR_SMPRANGE;
    m->position = offset;
    m->step = pitch / outRate;
    m->threshold = std::max(ClampToInt32(threshold), 0);
    m->length = length < 0 ? -1 : ClampToInt32(length);
    m->loop = loop != 0;
    return 0;
}

// A 24-bit value times the source's scale, held where any number of
// sources still sums inside 64 bits; the sum clips to 24 bits anyway.
int64_t Scaled(int64_t value, double scale) {
    constexpr double kLimit = 140737488355328.0;  // 2^47
    const double v = static_cast<double>(value) * scale;
    if (std::isnan(v)) return 0;  // silence times an infinite scale
    return static_cast<int64_t>(std::clamp(v, -kLimit, kLimit));
}

// The source's value at its position, 24-bit, into both sums; false once
// a non-looping source has run out. A looping position wraps by modulo, so
// a step or an offset larger than the source still reads inside it.
void AddSource(MixSource& m, int64_t frame, int64_t* left, int64_t* right) {
    if (frame < m.threshold || (m.length >= 0 && frame - m.threshold >= m.length)) return;
    const qbSampleData& s = *m.data;
    const double frames = s.frames;
    if (s.frames == 0) return;
    if (m.position >= frames) {
        if (!m.loop) return;
        m.position = std::fmod(m.position, frames);
    }
    const size_t at = static_cast<size_t>(m.position);
    const int32_t shift = s.bits == 16 ? 256 : 65536;
    int64_t l = int64_t{ValueAt(s, at * static_cast<size_t>(s.channels))} * shift;
    int64_t r = s.channels == 2 ? int64_t{ValueAt(s, at * 2 + 1)} * shift : l;
    if (m.scale != 1.0) {
        l = Scaled(l, m.scale);
        r = Scaled(r, m.scale);
    }
    *left += l;
    *right += r;
    m.position += m.step;
}

void StoreMixed(uint8_t* out, int32_t code, int64_t frame, int64_t left, int64_t right) {
    const int64_t l = std::clamp<int64_t>(left, kSum24Min, kSum24Max);
    const int64_t r = std::clamp<int64_t>(right, kSum24Min, kSum24Max);
    const size_t f = static_cast<size_t>(frame);
    switch (code) {
        case 2: out[f] = static_cast<uint8_t>(static_cast<int8_t>((l + r) >> 17)); break;
        case 3:
            out[2 * f] = static_cast<uint8_t>(static_cast<int8_t>(l >> 16));
            out[2 * f + 1] = static_cast<uint8_t>(static_cast<int8_t>(r >> 16));
            break;
        case 4: {
            const auto v = static_cast<int16_t>((l + r) >> 9);
            std::memcpy(out + 2 * f, &v, 2);
            break;
        }
        default: {
            const int16_t v[2] = {static_cast<int16_t>(l >> 8), static_cast<int16_t>(r >> 8)};
            std::memcpy(out + 4 * f, v, 4);
            break;
        }
    }
}

// The "pcm" entries of the table at idx from index 0, checked against the
// width's range.
int ReadPCMEntries(ScriptState* L, int idx, int32_t bits, size_t count, uint8_t* out) {
    const double lo = bits == 16 ? -32768 : -128, hi = bits == 16 ? 32767 : 127;
    for (size_t i = 0; i < count; ++i) {
        VmRawGetIndex(L, idx, static_cast<int>(i));
        const double v = VmType(L, -1) == kTypeNumber ? VmToNumber(L, -1) : 0;
        VmSetTop(L, -2);
        if (!(v >= lo && v <= hi)) return ERR_SMPRANGE;
        if (bits == 16) {
            const auto s = static_cast<int16_t>(v);
            std::memcpy(out + 2 * i, &s, 2);
        } else {
            out[i] = static_cast<uint8_t>(static_cast<int8_t>(v));
        }
    }
    return 0;
}

size_t CountEntries(ScriptState* L, int idx) {
    size_t n = 0;
    for (;; ++n) {
        VmRawGetIndex(L, idx, static_cast<int>(n));
        const bool present = VmType(L, -1) != kTypeNil;
        VmSetTop(L, -2);
        if (!present) return n;
    }
}

}  // namespace

void ReadRangeOptions(ScriptState* L, int idx, qbRangeOptions* o) {
    if (VmGetTop(L) < idx || VmType(L, idx) != kTypeTable) return;
    int32_t v = 0;
    if (GetTableFieldInt(L, idx, "loop", &v, nullptr)) o->loop = v;
    if (GetTableFieldInt(L, idx, "offset", &v, nullptr)) o->offset = v;
    if (GetTableFieldInt(L, idx, "start", &v, nullptr)) o->start = v;
    if (GetTableFieldInt(L, idx, "end", &v, nullptr)) o->end = v;
}

int cmdCreateSample(ScriptState* L) {
    CheckArgCount(L, 3, 5, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    VmCheckTable(L, 2);
    const double rateArg = VmCheckNumber(L, 3);
    const int32_t code = PCMCodeOfFormat(Given(L, 4) ? GetIntArg(L, 4) : kFormatMono8);
    const int32_t length = Given(L, 5) ? GetIntArg(L, 5) : 0;
    if (code < 0 || length < 0) return ERR_WRONGUSAGE;
    int32_t rate = 0;
    if (int err = MadeSoundRate(rateArg, &rate)) return err;
    const char* source = "pcm";
    GetTableFieldString(L, 2, "source", &source, nullptr);
    const bool fromPCM = std::strcmp(source, "pcm") == 0;
    const bool fromMemory = std::strcmp(source, "memory") == 0;
    const bool fromFile = std::strcmp(source, "file") == 0;
    if (!fromPCM && !fromMemory && !fromFile) return ERR_WRONGUSAGE;
    int32_t bits = 0, channels = 0;
    uint32_t flags = 0;
    DescribePCMCode(code, &bits, &channels, &flags);
    size_t frames = static_cast<size_t>(length);
    if (frames == 0) {
        if (!fromPCM) return ERR_WRONGUSAGE;
        const size_t entries = CountEntries(L, 2);
        if (channels == 2 && entries % 2 != 0) return ERR_WRONGUSAGE;
        frames = entries / static_cast<size_t>(channels);
    }
    if (frames > kMaxMadeBytes) return ERR_MEM;
    const size_t bytes = frames * static_cast<size_t>(bits / 8 * channels);
    if (bytes > kMaxMadeBytes) return ERR_MEM;
    auto pcm = Alloc(bytes);
    if (!pcm) return ERR_MEM;
    if (fromPCM) {
        // Values past the table's entries stay silent.
        const size_t values = std::min(frames * static_cast<size_t>(channels), CountEntries(L, 2));
        if (int err = ReadPCMEntries(L, 2, bits, values, pcm.get())) return err;
    } else {
        ObjectID object;
        int found = 0;
        GetTableFieldObjectID(L, 2, "id", &object, &found);
        if (!found) return ERR_WRONGUSAGE;
        double offset = 0, swap = 0;
        GetTableFieldFloat(L, 2, "offset", &offset, nullptr);
        GetTableFieldFloat(L, 2, "swap", &swap, nullptr);
        if (!(offset >= 0)) return ERR_WRONGUSAGE;
        const int err = fromMemory ? ReadSampleMemory(object, static_cast<int64_t>(std::min(offset, 9e15)), pcm.get(), bytes)
                                   : ReadSampleFile(object, pcm.get(), bytes);
        if (err) return err;
        if (swap != 0 && bits == 16) {
            for (size_t i = 0; i + 1 < bytes; i += 2) std::swap(pcm[i], pcm[i + 1]);
        }
    }
    qbSampleObject* made = nullptr;
    if (int err = LinkNewSample(std::move(pcm), bits, channels, flags, static_cast<uint32_t>(frames), rate, &made))
        return err;
    return FinishNewSample(L, made, id);
}

int cmdSaveSample(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    qbSampleObject* s = nullptr;
    if (int err = GetSample(GetObjectIDArg(L, 1), &s)) return err;
    const char* file = VmCheckString(L, 2, nullptr);
    const int32_t format = Given(L, 3) ? GetIntArg(L, 3) : kSampleFormatWAVE;
    qbSampleData data = s->sample;
    data.rate = s->pitch;
    return SaveSampleFile(file, data, format);
}

int cmdGetSampleData(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbSampleObject* s = nullptr;
    if (int err = GetSample(GetObjectIDArg(L, 1), &s)) return err;
    const size_t values = size_t{s->sample.frames} * static_cast<size_t>(s->sample.channels);
    VmPushNewTableSized(L, static_cast<int>(std::min<size_t>(values, INT32_MAX)), 0);
    for (size_t i = 0; i < values; ++i) {
        VmPushNumber(L, ValueAt(s->sample, i));
        VmRawSetIndex(L, -2, static_cast<int>(i));
    }
    VmPushNumber(L, s->sample.frames);
    return 2;
}

int cmdMixSample(ScriptState* L) {
    CheckArgCount(L, 4, 0, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const int32_t length = GetIntArg(L, 2);
    const double rateArg = VmCheckNumber(L, 3);
    const int32_t code = PCMCodeOfFormat(GetIntArg(L, 4));
    const int rest = VmGetTop(L) - 4;
    if (rest % 2 != 0 || code < 0 || length < 0) return ERR_WRONGUSAGE;
    int32_t rate = 0;
    if (int err = MadeSoundRate(rateArg, &rate)) return err;
    std::vector<MixSource> sources(static_cast<size_t>(rest / 2));
    for (size_t i = 0; i < sources.size(); ++i)
        if (int err = ReadMixSource(L, 5 + 2 * static_cast<int>(i), rate, &sources[i])) return err;
    // A source's options may have freed any source read before.
    for (MixSource& m : sources) {
        qbTaken<qbSampleObject> s = nullptr;
        if (int err = m.sample.Take(&s)) return err;
        m.data = &s->sample;
    }
    int32_t bits = 0, channels = 0;
    uint32_t flags = 0;
    DescribePCMCode(code, &bits, &channels, &flags);
    const size_t bytes = size_t{static_cast<uint32_t>(length)} * static_cast<size_t>(bits / 8 * channels);
    if (bytes > kMaxMadeBytes) return ERR_MEM;
    auto pcm = Alloc(bytes);
    if (!pcm) return ERR_MEM;
    for (int64_t f = 0; f < length; ++f) {
        int64_t left = 0, right = 0;
        for (MixSource& m : sources) AddSource(m, f, &left, &right);
        StoreMixed(pcm.get(), code, f, left, right);
    }
    qbSampleObject* made = nullptr;
    if (int err = LinkNewSample(std::move(pcm), bits, channels, flags, static_cast<uint32_t>(length), rate, &made))
        return err;
    return FinishNewSample(L, made, id);
}

int cmdCopySample(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const ObjectID sourceId = GetObjectIDArg(L, 1);
    const NewObjectID id = Given(L, 2) ? GetNewObjectIDArg(L, 2) : NewObjectID{0, 1};
    qbSampleObject* source = nullptr;
    if (int err = GetSample(sourceId, &source)) return err;
    if (!id.chooseFlag && !sourceId.handle && sourceId.number == id.id) return ERR_WRONGUSAGE;
    const size_t bytes = static_cast<size_t>(source->bytes);
    auto pcm = Alloc(bytes);
    if (!pcm) return ERR_MEM;
    std::memcpy(pcm.get(), source->sample.pcm, bytes);
    const qbSampleData& d = source->sample;
    qbSampleObject* made = nullptr;
    if (int err = LinkNewSample(std::move(pcm), d.bits, d.channels, d.flags, d.frames, d.rate, &made)) return err;
    made->volume = source->volume;
    made->pitch = source->pitch;
    made->pan = source->pan;
    made->file = source->file;
    made->loader = source->loader;
    return FinishNewSample(L, made, id);
}

int cmdInsertSample(ScriptState* L) {
    CheckArgCount(L, 3, 5, 0, 0);
    const ObjectID sourceId = GetObjectIDArg(L, 1);
    const ObjectID targetId = GetObjectIDArg(L, 2);
    if (sourceId == targetId) return ERR_WRONGUSAGE;
    qbSampleRef sourceRef(L, sourceId), targetRef(L, targetId);
    qbTaken<qbSampleObject> source = nullptr, target = nullptr;
    int64_t targetFrames = 0, at = 0, frames = 0;
    // Found before the options are read and again after, when their script
    // code may have freed or changed the samples.
    const auto find = [&]() -> int {
        if (int err = sourceRef.Take(&source)) return err;
        if (int err = targetRef.Take(&target)) return err;
        if (IsSamplePlaying(target->sample.pcm)) return ERR_MODIFYPSMP;
        targetFrames = target->sample.frames;
        at = std::clamp<int64_t>(GetIntArg(L, 3), 0, targetFrames);
        frames = Given(L, 4) ? GetIntArg(L, 4) : 0;
        if (frames < 1 || frames > int64_t{source->sample.frames}) frames = source->sample.frames;
        return 0;
    };
    if (int err = find()) return err;
    qbRangeOptions o;
    ReadRangeOptions(L, 5, &o);
    if (int err = find()) return err;
    const qbSampleData& t = target->sample;
    if (targetFrames + frames > UINT32_MAX) return ERR_MEM;
    const size_t frameBytes = static_cast<size_t>(t.bytesPerFrame);
    auto pcm = Alloc(static_cast<size_t>(targetFrames + frames) * frameBytes);
    if (!pcm) return ERR_MEM;
    uint8_t* inserted = pcm.get() + static_cast<size_t>(at) * frameBytes;
    const qbPCMTarget out{inserted, t.bits, (t.flags & kPCMSigned) != 0 || t.bits == 16, t.channels};
    if (int err = CopySampleRange(source->sample, o, out, static_cast<uint32_t>(frames))) return err;
    if (t.bits == 16 && (t.flags & kPCMBigEndian)) {
        for (size_t i = 0; i + 1 < static_cast<size_t>(frames) * frameBytes; i += 2) std::swap(inserted[i], inserted[i + 1]);
    }
    const auto* old = static_cast<const uint8_t*>(t.pcm);
    std::memcpy(pcm.get(), old, static_cast<size_t>(at) * frameBytes);
    std::memcpy(inserted + static_cast<size_t>(frames) * frameBytes, old + static_cast<size_t>(at) * frameBytes,
                static_cast<size_t>(targetFrames - at) * frameBytes);
    target->pcm = std::move(pcm);
    target->sample.pcm = target->pcm.get();
    target->sample.frames = static_cast<uint32_t>(targetFrames + frames);
    target->bytes = int64_t{target->sample.frames} * t.bytesPerFrame;
    return 0;
}
