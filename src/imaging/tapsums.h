// The inner loop of every convolution: out[x] = sum over taps i, in order,
// of base_i[x] x weight_i, for x = 0 .. width - 1, in doubles. The vector
// forms step many outputs at a time but add each output's products in the
// same order, one multiply and one add each (never fused), so they give the
// plain sums bit for bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/kernelisa.h"

void SumTaps8With(KernelIsa isa, const uint8_t* const* bases, const double* weights, size_t taps, size_t width,
                  double* out);
void SumTapsDoubleWith(KernelIsa isa, const double* const* bases, const double* weights, size_t taps, size_t width,
                       double* out);

// The tap sums alone go up to AVX-512 (KernelIsa::Avx512 falls back to
// the best set the processor has).
inline void SumTaps8(const uint8_t* const* bases, const double* weights, size_t taps, size_t width, double* out) {
    SumTaps8With(KernelIsa::Avx512, bases, weights, taps, width, out);
}
inline void SumTapsDouble(const double* const* bases, const double* weights, size_t taps, size_t width, double* out) {
    SumTapsDoubleWith(KernelIsa::Avx512, bases, weights, taps, width, out);
}

// The sums as channel bytes: below 0 is 0, above 255 is 255, else
// truncated (the sums are never NaN: bytes times finite weights).
void StoreSumsWith(KernelIsa isa, const double* sums, size_t width, uint8_t* out);
inline void StoreSums(const double* sums, size_t width, uint8_t* out) {
    StoreSumsWith(BestKernelIsa(), sums, width, out);
}

// The same bytes kept as doubles (for a pass whose results another pass
// reads as its inputs).
void StoreValuesWith(KernelIsa isa, const double* sums, size_t width, double* out);
inline void StoreValues(const double* sums, size_t width, double* out) {
    StoreValuesWith(BestKernelIsa(), sums, width, out);
}

// SumTapsDouble followed by StoreValues in place, in one pass where it can.
void SumTapsToValuesWith(KernelIsa isa, const double* const* bases, const double* weights, size_t taps, size_t width,
                         double* out);
inline void SumTapsToValues(const double* const* bases, const double* weights, size_t taps, size_t width,
                            double* out) {
    SumTapsToValuesWith(KernelIsa::Avx512, bases, weights, taps, width, out);
}

// SumTapsDouble followed by StoreSums, in one pass where it can (else
// through scratch, width doubles).
void SumTapsToBytesWith(KernelIsa isa, const double* const* bases, const double* weights, size_t taps, size_t width,
                        double* scratch, uint8_t* out);
inline void SumTapsToBytes(const double* const* bases, const double* weights, size_t taps, size_t width,
                           double* scratch, uint8_t* out) {
    SumTapsToBytesWith(KernelIsa::Avx512, bases, weights, taps, width, scratch, out);
}

// A k x k kernel's taps in summing order (row by row), those of weight 0
// left out: adding a zero product changes no sum. May throw bad_alloc.
struct KernelTaps {
    std::vector<size_t> rowOf, columnOf;
    std::vector<double> weights;
};
inline void CollectTaps(const double* kernel, size_t k, KernelTaps* out) {
    for (size_t t = 0; t < k; ++t)
        for (size_t q = 0; q < k; ++q)
            if (const double w = kernel[t * k + q]; w != 0.0) {
                out->rowOf.push_back(t);
                out->columnOf.push_back(q);
                out->weights.push_back(w);
            }
}
