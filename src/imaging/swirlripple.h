// Swirl and water ripple: every destination pixel is fetched from a source
// position that the effect's geometry gives (nearest neighbour). In filter
// mode the kernels work in place and move the mask and alpha plane with
// the pixels; with a second source they blend the two displaced pictures
// (transitions); with a source alpha plane they write displaced pixels and
// a faded alpha.
#pragma once

#include <cstdint>

#include "imaging/kernelisa.h"

class qbRowWorkers;

// Entries of each sine or cosine table: angles 0 .. 6.299 in steps of 0.001.
inline constexpr int kDisplaceTableSize = 6300;

struct qbSwirlRequest {
    const void* source = nullptr;   // null: a copy of the destination
    const void* source2 = nullptr;  // non-null: blend mode
    void* destination = nullptr;
    int32_t sourcePitch = 0, source2Pitch = 0, destinationPitch = 0;  // pixels
    double* sine = nullptr;    // kDisplaceTableSize entries
    double* cosine = nullptr;  // kDisplaceTableSize entries
    uint32_t pixelFormat = 0;
    int32_t width = 0, height = 0;
    bool reverse = false;
    const uint8_t* sourceAlpha = nullptr;  // non-null: alpha mode
    int32_t sourceAlphaPitch = 0;
    uint8_t* destinationAlpha = nullptr;
    int32_t destinationAlphaPitch = 0;
    const uint8_t* sourceMask = nullptr;  // null: a copy of the destination mask
    int32_t sourceMaskPitch = 0;
    uint8_t* destinationMask = nullptr;
    int32_t destinationMaskPitch = 0;
    qbRowWorkers* workers = nullptr;  // non-null: rows shared out to these
    // Called for each band of rows from .. to - 1 once they are done, on
    // the thread that did them (bands go out a few rows at a time then,
    // with or without workers), so that what shows them can follow while
    // they are in the caches.
    void (*rowsDone)(void* context, int32_t from, int32_t to) = nullptr;
    void* rowsContext = nullptr;
};

struct qbRippleRequest {
    const void* source = nullptr;
    const void* source2 = nullptr;
    void* destination = nullptr;
    int32_t sourcePitch = 0, source2Pitch = 0, destinationPitch = 0;
    int32_t* distances = nullptr;  // width x height entries
    double* sine = nullptr;        // kDisplaceTableSize entries
    double waveLength = 1;
    double amplitude = 0;
    double amplitudePerStep = 0;
    int32_t steps = 1;  // steps to the amplitude's peak
    int32_t width = 0, height = 0;
    uint32_t pixelFormat = 0;
    bool reverse = false;
    const uint8_t* sourceAlpha = nullptr;
    int32_t sourceAlphaPitch = 0;
    uint8_t* destinationAlpha = nullptr;
    int32_t destinationAlphaPitch = 0;
    int32_t centreX = 0, centreY = 0;
    const int32_t* current = nullptr;  // the next distance ComputeRippleOffset takes
    int32_t extent = 0;                // the damping radius
    int32_t resultX = 0, resultY = 0;
    double phase = 0;
    const uint8_t* sourceMask = nullptr;
    int32_t sourceMaskPitch = 0;
    uint8_t* destinationMask = nullptr;
    int32_t destinationMaskPitch = 0;
    qbRowWorkers* workers = nullptr;  // non-null: rows shared out to these
    // Called for each band of rows from .. to - 1 once they are done, on
    // the thread that did them (bands go out a few rows at a time then,
    // with or without workers), so that what shows them can follow while
    // they are in the caches.
    void (*rowsDone)(void* context, int32_t from, int32_t to) = nullptr;
    void* rowsContext = nullptr;
};

// Whether a picture of this size is large enough for the kernels to share
// its rows among a request's workers (smaller ones run on the caller's
// thread alone, workers or not).
bool DisplaceWorthThreads(int32_t width, int32_t height);

// floor(sqrt(n)) for 0 <= n < 2^62.
int64_t IntSqrt64(int64_t n);

void InitSwirlTables(const qbSwirlRequest& request);
// The sine table and the distance of every pixel from the centre.
void InitRippleTables(const qbRippleRequest& request);

void SwirlPixels32(const qbSwirlRequest& request, int32_t angle);
// The same with the instruction set named (KernelIsa::Avx512 finds the
// source positions eight at a time and moves the pixels sixteen at a time
// where the processor has it, KernelIsa::Avx2 four and eight, and
// KernelIsa::Avx512 falls back to it; the others one by one); every set
// gives the same pixels.
void SwirlPixels32With(KernelIsa isa, const qbSwirlRequest& request, int32_t angle);
void SwirlPixels16(const qbSwirlRequest& request, int32_t angle);

// Takes the next distance and stores where the pixel (x, y) comes from in
// resultX and resultY; called once per pixel in row order after `current`
// is set to the start of the distance table.
void ComputeRippleOffset(double phase, int32_t x, int32_t y, qbRippleRequest& request);

// step -1: filter use with the request's phase and amplitude; otherwise
// the transition step, which sets phase, amplitude and fade.
void RipplePixels32(qbRippleRequest& request, int32_t step);
// The same with the instruction set named, as for the swirl; every set
// gives the same pixels.
void RipplePixels32With(KernelIsa isa, qbRippleRequest& request, int32_t step);
void RipplePixels16(qbRippleRequest& request, int32_t step);
