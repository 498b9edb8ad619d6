// The fallback frames' timing report.
#include "Compositor/engine/frame_timing.h"
#include "platform/core/log.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv {
namespace {

TEST(PerfMeterTest, ReportsTheAverageEvery120Frames) {
    std::vector<platform::LogRecord> lines;
    platform::Logger::setSinkForTesting([&](const platform::LogRecord &r) {
        if (r.category == "perf") lines.push_back(r);
    });
    PerfMeter meter;
    for (int i = 0; i < 119; ++i) meter.record(1, 2, 3, 10 + (i % 2));
    EXPECT_TRUE(lines.empty());
    meter.record(1, 2, 3, 10);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].subsystem, "com.quillvane.compositor");
    EXPECT_EQ(lines[0].level, platform::LogLevel::notice);
    // 59 frames of 11 ms and 61 of 10 ms: 10.49 on average.
    EXPECT_EQ(lines[0].message, "preview CPU/frame (avg of 120 frames): total 10.49ms | "
                                "graph-build 2.00ms | gpu-encode 3.00ms | vision 1.00ms");
    EXPECT_EQ(meter.frames, 0);
    for (int i = 0; i < 119; ++i) meter.record(0, 0, 0, 1);
    EXPECT_EQ(lines.size(), 1u);
    meter.record(0, 0, 0, 1);
    EXPECT_EQ(lines.size(), 2u);
    platform::Logger::setSinkForTesting(nullptr);
}

TEST(FrameIntervalTest, IntervalsAreRecordedOnlyWhileTracing) {
    const auto before = platform::recordedTraceEventCount();
    FrameInterval off;
    off.begin(interval::frame);
    off.end();
    EXPECT_EQ(platform::recordedTraceEventCount(), before);
}

} // namespace
} // namespace qv
