#include "imaging/kernelisa.h"

#include "imaging/simdrows.h"

KernelIsa DetectKernelIsa() {
#if QB_PIXEL_X86
    // The compiler runtime's check covers the system's saving of the wide
    // registers too, not only the processor's feature bit.
    return __builtin_cpu_supports("avx2") ? KernelIsa::Avx2 : KernelIsa::Sse2;
#else
    return KernelIsa::Portable;
#endif
}

bool HasAvx512() {
#if QB_PIXEL_X86
    static const bool has = __builtin_cpu_supports("avx512f");
    return has;
#else
    return false;
#endif
}
