// Four-channel "M.K." tracker modules: the file is parsed whole into a
// player record that renders 16-bit stereo at 48000 Hz on demand, tick by
// tick, with the song position and row shared with the position commands.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sound/moduleposition.h"

constexpr int kModChannels = 4;
constexpr int kModRows = 64;
constexpr int kModInstruments = 31;
constexpr size_t kModHeaderBytes = 1084;  // names, instruments, order table, "M.K."
constexpr int kModOutputRate = 48000;
constexpr int kModInternalRate = 2 * kModOutputRate;
constexpr int kModFixedShift = 14;  // positions and lengths are 18.14
constexpr int kModPeriodMin = 113;
constexpr int kModPeriodMax = 856;

struct ModCell {
    uint16_t period = 0;
    uint8_t instrument = 0;
    uint8_t effect = 0;
    uint8_t x = 0;
    uint8_t y = 0;
    uint8_t param = 0;
};

struct ModInstrument {
    std::string name;
    uint32_t offset = 0;  // of its bytes in the player's sample data
    // 18.14 fixed point; loopEnd 0 means no loop.
    uint32_t length = 0;
    uint32_t loopStart = 0;
    uint32_t loopLength = 0;
    uint32_t loopEnd = 0;
    uint8_t finetune = 0;
    uint8_t volume = 0;
};

struct ModChannelState {
    int instrument = 0;         // 1..31, 0 none
    int pendingInstrument = 0;  // takes over at the loop end
    bool active = false;
    uint32_t position = 0;  // 18.14
    uint32_t step = 0;
    int note = 0;            // index into a period table row
    int period = 0;          // base period the slides move
    int outPeriod = 0;       // what plays this tick (arpeggio, vibrato)
    int targetPeriod = 0;
    int portaSpeed = 0;
    int finetune = 0;
    int volume = 0;
    int outVolume = 0;
    int pan = 0;
    int vibratoPos = 0, vibratoSpeed = 0, vibratoDepth = 0, vibratoWave = 0;
    int tremoloPos = 0, tremoloSpeed = 0, tremoloDepth = 0, tremoloWave = 0;
    int arpeggio = 0;
    int slide = 0;        // period per tick
    int volumeSlide = 0;  // volume per tick
    int loopRow = 0;
    int loopCount = 0;
    int invertSpeed = 0;  // table index in the high nibble
    int invertCounter = 0;
    uint32_t invertPos = 0;
    int lastOffset = 0;
    ModCell cell;  // the row's cell, for the effects of the other ticks
    int delayedPeriod = 0;
};

struct ModPlayer : qbModulePosition {
    std::string name;
    int patterns = 0;
    int songLength = 0;
    std::array<uint8_t, 128> order{};
    std::array<ModInstrument, kModInstruments> instruments{};
    std::array<ModChannelState, kModChannels> channels{};
    int position = 0;
    int patternRow = 0;
    int speed = 6;
    int tempo = 125;
    int tick = 0;  // within the row
    int samplesPerTick = kModInternalRate / 50;
    int tickCounter = 0;  // internal samples left in this tick
    int patternDelay = 0;
    bool delayRepeat = false;  // the row repeats: its cells are not read again
    int breakRow = -1;
    int jumpPosition = -1;
    bool patternLoopJump = false;
    int loopTargetRow = 0;
    bool filterOn = false;
    uint32_t flags = 4;
    int songEnds = 0;
    int masterVolume = 256;
    double filterA = 0, filterB = 0;
    std::array<double, 8> filterHistory{};
    std::vector<int8_t> samples;  // every instrument's bytes, EF flips them
    std::vector<ModCell> cells;   // patterns x 64 rows x 4 channels
};

enum : uint32_t { kModStopAtEnd = 1u, kModFilterCommand = 4u, kModSongEnded = 8u };

// Builds the player from the file's bytes. 0 or ERR_OPENSOUND2 (not a
// four-channel module, a song length of 0 or above 128, or too short for
// its patterns).
int ParseModule(const uint8_t* data, size_t size, ModPlayer& player);

// The bytes a module can use, read from its first `size` bytes: the header,
// the patterns its order table names and its instruments' sample lengths
// (at most about 4.2 MB); the header alone when `size` holds less.
size_t ModuleBytesUsed(const uint8_t* header, size_t size);

// Fills frames of 16-bit stereo; the first output gets the sum of the
// channels panned to 255. stride is in int16 units between frames.
void RenderModule(ModPlayer& player, int16_t* first, int16_t* second, int stride, int frames);

// The renderer the mixer and the adapter ask for module channels: channels
// 0 and 3 on the left, 1 and 2 on the right.
void RenderModuleAudio(void* module, int16_t* out, int frames);

// One tick of the player, and the period a note index plays (for tests).
void ModuleTick(ModPlayer& player);
int ModulePeriod(int finetune, int note);
// The index of period in the table (row 0's nearest when it is in no row).
int ModuleNoteIndex(int period);
uint32_t ModuleStep(int period);
