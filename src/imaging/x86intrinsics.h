// The x86 intrinsics for the AVX-512 kernels. g++ 12 takes the deliberately
// undefined start values inside the AVX-512 intrinsics for uninitialised
// reads (and -Werror makes that fatal); include this before anything else
// brings <immintrin.h> in, so the warning is off for its lines only.
#pragma once

#include "imaging/simdrows.h"

#if QB_PIXEL_X86
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif
