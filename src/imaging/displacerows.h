// Row loops of the swirl and ripple kernels in AVX-512F and AVX2: the source
// positions of a ripple row, and the moves that fetch a row's pixels from
// those positions. Each does the leading pixels its vectors cover, gives
// exactly what the one-by-one loops of swirlripple.cpp give, and answers
// how many pixels or up to which column it did (none where the build has
// no x86 vectors); the caller does the rest.
#pragma once

#include <cstdint>

// Where a row's pixels come from: source pixel i of the row lies at column
// xs[i] of row ys[i], every position inside the picture of that width.
struct qbDisplaceRow {
    const int32_t* xs;
    const int32_t* ys;
    int32_t count;
    int32_t width;
    // Up to how many source rows a group of sixteen is fetched from by two
    // loads and a permute per row before the rest is gathered (0: every
    // lane gathered); any count gives the same pixels.
    int32_t windowRows = 3;
};

// The window rows that pay on this processor: where a gather costs about a
// load and store per element the windows win, where gathers are cheap
// they cost more than they save.
int32_t DisplaceWindowRows();

// The tables by whole-pixel distance hold this many entries past the
// greatest distance: the rows read sixteen entries from near a vector's
// distances and pick its eight from them, which is cheaper than gathering.
inline constexpr int32_t kTablePad = 16;

// The swirl's positions: a pixel within the radius turns about the centre
// by the angle its whole-pixel distance d gives (sines[d], cosines[d]),
// measured with the narrower axis stretched to the wider one.
struct qbSwirlRowGeometry {
    double cx, cy, scaleX, scaleY, radius2;
    const double* sines;
    const double* cosines;
    int32_t width, height;
};
// The positions of the columns from .. to - 1 of row y, into xs[x] and
// ys[x]; answers the column reached.
int32_t SwirlRowAvx512(const qbSwirlRowGeometry& g, int32_t y, int32_t from, int32_t to, int32_t* xs, int32_t* ys);

// The ripple's positions of row y: factors[d] is the displacement factor at
// distance d for d <= farthest; a vector that meets a distance beyond it
// stops the loop there, for the caller's own lookup (a distance below 0
// counts as 0).
struct qbRippleRowGeometry {
    const double* factors;
    int32_t farthest;
    int32_t centreX, centreY, width, height;
};
// The same for the ripple; distances is row y's.
int32_t RippleRowAvx512(const qbRippleRowGeometry& g, const int32_t* distances, int32_t y, int32_t from, int32_t to,
                        int32_t* xs, int32_t* ys);

// out[i] = source pixel of position i (filter mode).
int32_t MoveRow32Avx512(const qbDisplaceRow& row, const uint32_t* source, int32_t pitch, uint32_t* out);

// out[i] = the blend of both sources' pixels at position i: per byte
// (a * k + b * (256 - k)) >> 8, which is ((a - b) * k >> 8) + b, then
// ANDed with keep (the bytes the pixel format holds). 0 <= k <= 256.
int32_t MixRow32Avx512(const qbDisplaceRow& row, const uint32_t* a, int32_t pitchA, const uint32_t* b,
                       int32_t pitchB, int32_t k, uint32_t keep, uint32_t* out);

// Alpha mode: where the source alpha at position i is 0, out[i] stays;
// elsewhere it takes the source pixel. outAlpha[i] (when given) becomes
// alpha * level / 255. 0 <= level <= 255.
int32_t AlphaRow32Avx512(const qbDisplaceRow& row, const uint32_t* source, int32_t pitch, const uint8_t* alpha,
                         int32_t alphaPitch, int32_t level, uint32_t* out, uint8_t* outAlpha);

// The same rows for AVX2 (positions four, pixels eight at a time); for
// processors without AVX-512.
int32_t SwirlRowAvx2(const qbSwirlRowGeometry& g, int32_t y, int32_t from, int32_t to, int32_t* xs, int32_t* ys);
int32_t RippleRowAvx2(const qbRippleRowGeometry& g, const int32_t* distances, int32_t y, int32_t from, int32_t to,
                      int32_t* xs, int32_t* ys);
int32_t MoveRow32Avx2(const qbDisplaceRow& row, const uint32_t* source, int32_t pitch, uint32_t* out);
int32_t MixRow32Avx2(const qbDisplaceRow& row, const uint32_t* a, int32_t pitchA, const uint32_t* b, int32_t pitchB,
                     int32_t k, uint32_t keep, uint32_t* out);
int32_t AlphaRow32Avx2(const qbDisplaceRow& row, const uint32_t* source, int32_t pitch, const uint8_t* alpha,
                       int32_t alphaPitch, int32_t level, uint32_t* out, uint8_t* outAlpha);
