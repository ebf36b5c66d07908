// The instruction sets the vector pixel kernels come in. The kernels pick the
// widest one the processor offers when they run, so a build never requires
// more than the baseline of its architecture; the ...With forms of those
// kernels take the set explicitly, so every variant can be held to its
// reference on a machine that has them all.
#pragma once

#include <cstdint>

enum class KernelIsa : uint8_t {
    Portable,  // plain C++, any architecture
    Sse2,      // x86 baseline
    Avx2,      // x86, where the processor and the system support it
    // x86 AVX-512F: never what BestKernelIsa() answers; only the kernels
    // that name it take it, and fall back to the best set without it.
    Avx512,
};

// Whether the processor and the system support AVX-512F; decided once.
bool HasAvx512();

// The widest set the processor and the system support, asked each time.
KernelIsa DetectKernelIsa();

// The widest set usable here; decided once per process. Inline, so that the
// kernels of a small sprite pay a load and a test for it rather than a call.
inline KernelIsa BestKernelIsa() {
    static const KernelIsa best = DetectKernelIsa();
    return best;
}

// Every set up to BestKernelIsa() can run; a wider request falls back to the
// best one, so a caller never reaches instructions the processor lacks.
inline KernelIsa UsableIsa(KernelIsa wanted) {
    const KernelIsa best = BestKernelIsa();
    return wanted > best ? best : wanted;
}
