// The tracker's ticks: the first tick of a row reads its cells and sets up
// their effects, the other ticks run them; after the last tick the row
// (or a break, jump or loop) moves the song on.
#include <algorithm>
#include <array>

#include "sound/modplayer.h"

namespace {

constexpr std::array<int, 32> kSine{0,   24,  49,  74,  97,  120, 141, 161, 180, 197, 212, 224, 235, 244, 250, 253,
                                    255, 253, 250, 244, 235, 224, 212, 197, 180, 161, 141, 120, 97,  74,  49,  24};
constexpr std::array<int, 16> kInvertSpeeds{0, 5, 6, 7, 8, 10, 11, 13, 16, 19, 22, 26, 32, 43, 64, 128};

int Wave(int waveform, int pos) {
    switch (waveform & 3) {
        case 1: return pos < 32 ? pos * 8 : pos * 8 - 512;
        case 2: return pos < 32 ? 255 : -255;
        default: return pos < 32 ? kSine[static_cast<size_t>(pos)] : -kSine[static_cast<size_t>(pos - 32)];
    }
}

int ClampPeriod(int period) { return std::clamp(period, kModPeriodMin, kModPeriodMax); }

void SetPeriod(ModChannelState& ch, int period) {
    ch.outPeriod = period;
    ch.step = ModuleStep(period);
}

void SongEnd(ModPlayer& p) {
    p.flags |= kModSongEnded;
    if (p.flags & kModStopAtEnd) ++p.songEnds;
}

void StartNote(ModPlayer& p, ModChannelState& ch, int period) {
    ch.note = ModuleNoteIndex(period);
    ch.period = ModulePeriod(ch.finetune, ch.note);
    SetPeriod(ch, ch.period);
    ch.vibratoPos = ch.tremoloPos = 0;
    ch.pendingInstrument = 0;
    ch.position = 0;
    ch.active = ch.instrument != 0 && p.instruments[static_cast<size_t>(ch.instrument - 1)].length > 0;
}

void Retrigger(ModPlayer& p, ModChannelState& ch) {
    ch.position = 0;
    ch.active = ch.instrument != 0 && p.instruments[static_cast<size_t>(ch.instrument - 1)].length > 0;
}

// 9xx: the offset is in bytes of 256; past the sample's end the channel stops.
void ApplyOffset(ModPlayer& p, ModChannelState& ch, int param) {
    if (param) ch.lastOffset = param;
    if (!ch.active) return;
    const uint32_t at = static_cast<uint32_t>(ch.lastOffset) * 256u << kModFixedShift;
    if (at >= p.instruments[static_cast<size_t>(ch.instrument - 1)].length)
        ch.active = false;
    else
        ch.position = at;
}

void TonePorta(ModChannelState& ch) {
    if (!ch.targetPeriod) return;
    if (ch.period < ch.targetPeriod)
        ch.period = std::min(ch.period + ch.portaSpeed, ch.targetPeriod);
    else if (ch.period > ch.targetPeriod)
        ch.period = std::max(ch.period - ch.portaSpeed, ch.targetPeriod);
    SetPeriod(ch, ch.period);
}

void Vibrato(ModChannelState& ch) {
    SetPeriod(ch, ClampPeriod(ch.period + (Wave(ch.vibratoWave, ch.vibratoPos) * ch.vibratoDepth >> 7)));
    ch.vibratoPos = (ch.vibratoPos + ch.vibratoSpeed) & 63;
}

void VolumeSlide(ModChannelState& ch) {
    ch.volume = std::clamp(ch.volume + ch.volumeSlide, 0, 63);
    ch.outVolume = ch.volume;
}

void SetVolumeSlide(ModChannelState& ch, const ModCell& c) { ch.volumeSlide = c.x ? c.x : -c.y; }

void InvertLoop(ModPlayer& p, ModChannelState& ch) {
    const int speed = kInvertSpeeds[static_cast<size_t>((ch.invertSpeed >> 4) & 15)];
    if (!speed || !ch.instrument) return;
    ch.invertCounter += speed;
    if (ch.invertCounter < 128) return;
    ch.invertCounter = 0;
    const ModInstrument& in = p.instruments[static_cast<size_t>(ch.instrument - 1)];
    const uint32_t loopBytes = in.loopLength >> kModFixedShift;
    if (!loopBytes) return;
    ch.invertPos = (ch.invertPos + 1) % loopBytes;
    const size_t at = in.offset + (in.loopStart >> kModFixedShift) + ch.invertPos;
    if (at < p.samples.size()) p.samples[at] = static_cast<int8_t>(~p.samples[at]);
}

void ExtendedFirstTick(ModPlayer& p, ModChannelState& ch, const ModCell& c) {
    switch (c.x) {
        case 0x0:
            if (p.flags & kModFilterCommand) {
                if (c.y == 0) p.filterOn = true;
                if (c.y == 1) p.filterOn = false;
            }
            break;
        case 0x1: ch.period = ClampPeriod(ch.period - c.y); SetPeriod(ch, ch.period); break;
        case 0x2: ch.period = ClampPeriod(ch.period + c.y); SetPeriod(ch, ch.period); break;
        case 0x3: ch.invertSpeed = c.y; break;
        case 0x4: ch.vibratoWave = c.y; break;
        case 0x5:
            ch.finetune = c.y;
            ch.period = ModulePeriod(ch.finetune, ch.note);
            SetPeriod(ch, ch.period);
            break;
        case 0x6:
            if (c.y == 0) {
                ch.loopRow = p.patternRow;
            } else if (ch.loopCount == 0) {
                ch.loopCount = c.y;
                p.patternLoopJump = true;
                p.loopTargetRow = ch.loopRow;
            } else if (--ch.loopCount != 0) {
                p.patternLoopJump = true;
                p.loopTargetRow = ch.loopRow;
            }
            break;
        case 0x7: ch.tremoloWave = c.y; break;
        case 0xA: ch.volume = std::min(ch.volume + c.y, 63); ch.outVolume = ch.volume; break;
        case 0xB: ch.volume = std::max(ch.volume - c.y, 0); ch.outVolume = ch.volume; break;
        case 0xC:
            if (c.y == 0) ch.volume = ch.outVolume = 0;
            break;
        case 0xE:
            if (!p.delayRepeat && p.patternDelay == 0) p.patternDelay = c.y;
            break;
        case 0xF: ch.invertSpeed = c.y * 16; break;
        default: break;
    }
}

void FirstTickEffect(ModPlayer& p, ModChannelState& ch, const ModCell& c) {
    switch (c.effect) {
        case 0x0: ch.arpeggio = c.param; break;
        case 0x1: ch.slide = -c.param; break;
        case 0x2: ch.slide = c.param; break;
        case 0x3:
        case 0x5:
            if (c.effect == 3 && c.param) ch.portaSpeed = c.param;
            if (c.effect == 5) SetVolumeSlide(ch, c);
            if (c.period) ch.targetPeriod = ModulePeriod(ch.finetune, ModuleNoteIndex(c.period));
            break;
        case 0x4:
            if (c.x) ch.vibratoSpeed = c.x;
            if (c.y) ch.vibratoDepth = c.y;
            break;
        case 0x6: SetVolumeSlide(ch, c); break;
        case 0x7:
            if (c.x) ch.tremoloSpeed = c.x;
            if (c.y) ch.tremoloDepth = 2 * c.y;
            break;
        case 0x9:
            if (c.period) ApplyOffset(p, ch, c.param);
            break;
        case 0xA: SetVolumeSlide(ch, c); break;
        case 0xB: {
            int target = c.param;
            if (target >= p.songLength) {
                target = 0;
                SongEnd(p);
            } else if (target <= p.position) {
                SongEnd(p);
            }
            p.jumpPosition = target;
            if (p.breakRow < 0) p.breakRow = 0;
            break;
        }
        case 0xC: ch.volume = ch.outVolume = c.param < 64 ? c.param : 63; break;
        case 0xD: {
            const int r = c.x * 10 + c.y;
            p.breakRow = r < 64 ? r : 0;
            if (p.jumpPosition < 0) p.jumpPosition = p.position + 1;
            break;
        }
        case 0xE: ExtendedFirstTick(p, ch, c); break;
        case 0xF:
            if (c.param == 0)
                SongEnd(p);
            else if (c.param < 32)
                p.speed = c.param;
            else {
                p.tempo = c.param;
                p.samplesPerTick = kModInternalRate * 60 / (c.param * 24);
            }
            break;
        default: break;
    }
}

void ReadRow(ModPlayer& p) {
    const size_t pattern = p.order[static_cast<size_t>(p.position)];
    for (size_t i = 0; i < kModChannels; ++i) {
        ModChannelState& ch = p.channels[i];
        const ModCell& c = p.cells[(pattern * kModRows + static_cast<size_t>(p.patternRow)) * kModChannels + i];
        ch.cell = c;
        ch.outVolume = ch.volume;
        if (ch.outPeriod != ch.period) SetPeriod(ch, ch.period);
        if (c.instrument >= 1 && c.instrument <= kModInstruments) {
            const ModInstrument& in = p.instruments[c.instrument - 1u];
            ch.volume = ch.outVolume = std::min<int>(in.volume, 63);
            ch.finetune = in.finetune;
            if (c.period || !ch.active)
                ch.instrument = c.instrument;
            else
                ch.pendingInstrument = c.instrument;
        }
        ch.delayedPeriod = 0;
        if (c.period && c.effect != 3 && c.effect != 5) {
            if (c.effect == 0xE && c.x == 0xD && c.y > 0)
                ch.delayedPeriod = c.period;
            else
                StartNote(p, ch, c.period);
        }
        FirstTickEffect(p, ch, c);
    }
}

void OtherTick(ModPlayer& p, ModChannelState& ch) {
    const ModCell& c = ch.cell;
    switch (c.effect) {
        case 0x0:
            if (ch.arpeggio) {
                const int offsets[3] = {0, ch.arpeggio >> 4, ch.arpeggio & 15};
                SetPeriod(ch, ModulePeriod(ch.finetune, ch.note + offsets[p.tick % 3]));
            }
            break;
        case 0x1:
        case 0x2:
            ch.period = ClampPeriod(ch.period + ch.slide);
            SetPeriod(ch, ch.period);
            break;
        case 0x3: TonePorta(ch); break;
        case 0x4: Vibrato(ch); break;
        case 0x5: TonePorta(ch); VolumeSlide(ch); break;
        case 0x6: Vibrato(ch); VolumeSlide(ch); break;
        case 0x7:
            ch.outVolume = std::clamp(ch.volume + (Wave(ch.tremoloWave, ch.tremoloPos) * ch.tremoloDepth >> 8), 0, 63);
            ch.tremoloPos = (ch.tremoloPos + ch.tremoloSpeed) & 63;
            break;
        case 0xA: VolumeSlide(ch); break;
        case 0xE:
            if (c.x == 0x9 && c.y && p.tick % c.y == 0) Retrigger(p, ch);
            if (c.x == 0xC && p.tick == c.y) ch.volume = ch.outVolume = 0;
            if (c.x == 0xD && p.tick == c.y && ch.delayedPeriod) {
                StartNote(p, ch, ch.delayedPeriod);
                ch.delayedPeriod = 0;
            }
            break;
        default: break;
    }
}

// The words the position commands read, kept as the row begins.
void Publish(ModPlayer& p) {
    qbModulePosition& shared = p;
    shared.row.store(p.patternRow, std::memory_order_relaxed);
    shared.songPosition.store(p.position, std::memory_order_relaxed);
}

void AdvanceRow(ModPlayer& p) {
    if (p.patternLoopJump) {
        p.patternLoopJump = false;
        p.patternRow = p.loopTargetRow;
    } else if (p.jumpPosition >= 0) {
        p.position = p.jumpPosition;
        p.patternRow = std::max(p.breakRow, 0);
    } else if (++p.patternRow >= kModRows) {
        p.patternRow = 0;
        ++p.position;
    }
    p.jumpPosition = p.breakRow = -1;
    if (p.position >= p.songLength) {
        p.position = 0;
        SongEnd(p);
    }
}

}  // namespace

void ModuleTick(ModPlayer& p) {
    if (p.tick == 0 && !p.delayRepeat) {
        Publish(p);
        ReadRow(p);
    } else {
        for (ModChannelState& ch : p.channels) OtherTick(p, ch);
    }
    for (ModChannelState& ch : p.channels) InvertLoop(p, ch);
    if (++p.tick < p.speed) return;
    p.tick = 0;
    if (p.patternDelay > 0) {
        --p.patternDelay;
        p.delayRepeat = true;
        return;
    }
    p.delayRepeat = false;
    AdvanceRow(p);
}
