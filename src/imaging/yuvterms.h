// The chroma terms of the YUV 4:2:0 frame conversion.
//
// Each channel is (Y * cy + U * cu + V * cv + k) / d, truncated and clamped;
// a negative quotient clamps to the same 0 whether truncated or floored, so
// floors are used below. The three luma coefficients are (1 + 84/511) d up to
// a small rest that only green has, which splits each channel into a chroma
// part worked out once per chroma sample and a luma part cheap enough for
// 16-bit lanes:
//
//   channel = Y + a + floor((84 Y + b + [Y > t]) / 511)
//
// with a and 0 <= b < 511 the quotient and remainder of the chroma part in
// 511ths (red: floor((V * 2609823 - 363703744) / 3200); blue: floor((U *
// 1649289 - 225932192) / 1600)). Green's luma coefficient is (1 + 84/511) d
// + 182 / 511: with 511 (U * cu + V * cv + k) = 3287200 kq + m (0 <= m <
// 3287200), a and b split kq, and the rest adds 1 to the 511ths from t + 1 =
// ceil((3287200 - m) / 182) on (never, for t >= 255). The numerator stays
// below 21932, where floor(n / 511) = n * 32833 >> 24 exactly. Every (Y, U,
// V) is held to the formulas by the tests.
#pragma once

#include <cstddef>
#include <cstdint>

// The terms, each in a row of 16-bit lanes, one lane per pixel: red's a and
// b, green's a, b and t, blue's a and b.
enum YUVTerm { kAR, kBR, kAG, kBG, kTG, kAB, kBB, kTerms };

// The terms of n chroma samples (U and V bytes, readable up to n rounded up
// to 16) into lanes 0.. of the rows `stride` lanes apart: each sample to two
// lanes (pairs) or to one.
void FillChromaTerms(const uint8_t* u, const uint8_t* v, int32_t n, int16_t* terms, ptrdiff_t stride, bool pairs);

// Every chroma sample's terms, worked out once per process: red's by V and
// blue's by U, two 16-bit terms to a word, the first low; green's by U * 256
// + V, so that the table stays within the second-level cache: b in bits 0-8,
// a (two's complement) in bits 15-23 and t (0 to 255) in bits 24-31, where a
// byte shuffle and at most one more step take each to a 16-bit lane.
struct YUVChromaTables {
    uint32_t red[256];
    uint32_t blue[256];
    uint32_t green[65536];
};
const YUVChromaTables& ChromaTables();
