// The CPU feature check agrees with what the kernel reports for the same processor.
#include "platform/core/cpu_features.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace qv::platform {
namespace {

// The first "flags" line of /proc/cpuinfo as a set of words; empty when there is none.
std::set<std::string> kernelCpuFlags() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("flags", 0) != 0) continue;
        std::istringstream words(line.substr(line.find(':') + 1));
        std::set<std::string> flags;
        for (std::string w; words >> w;) flags.insert(w);
        return flags;
    }
    return {};
}

TEST(CpuFeatures, MatchTheKernelsView) {
#if defined(__x86_64__) || defined(__i386__)
    const auto flags = kernelCpuFlags();
    if (flags.empty()) GTEST_SKIP() << "/proc/cpuinfo lists no flags here";
    EXPECT_EQ(cpuFeatures().avx2, flags.count("avx2") == 1);
    EXPECT_EQ(cpuFeatures().fma, flags.count("fma") == 1);
    EXPECT_EQ(cpuHasAvx2Fma(), cpuHasAvx2() && flags.count("fma") == 1);
#else
    EXPECT_FALSE(cpuHasAvx2());
    EXPECT_FALSE(cpuHasAvx2Fma());
#endif
}

} // namespace
} // namespace qv::platform
