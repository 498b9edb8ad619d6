#include "platform/core/cpu_features.h"

namespace qv::platform {

namespace {

CpuFeatures detect() noexcept {
    CpuFeatures f;
#if defined(__x86_64__) || defined(__i386__)
    // Needed before main() has run the library's own initialisation (static constructors).
    __builtin_cpu_init();
    f.avx2 = __builtin_cpu_supports("avx2");
    f.fma = __builtin_cpu_supports("fma");
#endif
    return f;
}

} // namespace

const CpuFeatures &cpuFeatures() noexcept {
    static const CpuFeatures features = detect();
    return features;
}

} // namespace qv::platform
