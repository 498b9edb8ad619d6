// What the processor can run beyond the baseline the code base is compiled for. Hand-vectorised
// code paths ask here before they are chosen, so that one binary runs on every x86-64 machine
// and uses the wider instructions where they exist.
//
// Thread safety: the answers are computed once, on first use, and never change.
#pragma once

namespace qv::platform {

struct CpuFeatures {
    bool avx2 = false;
    bool fma = false;
};

// The running processor's features; all false on other architectures.
const CpuFeatures &cpuFeatures() noexcept;

// AVX2 alone (integer kernels), and AVX2 with FMA (float kernels compiled with both).
inline bool cpuHasAvx2() noexcept {
    return cpuFeatures().avx2;
}
inline bool cpuHasAvx2Fma() noexcept {
    return cpuFeatures().avx2 && cpuFeatures().fma;
}

} // namespace qv::platform
