// Frame timing: the named trace intervals of a frame's phases, and the meter that averages the
// CPU cost of frames drawn by the image-filter renderer.
// Thread safety: PerfMeter is used only on the render queue. An Interval may be closed on
// another thread than the one that opened it (the device's completion thread).
#pragma once

#include "platform/core/trace.h"

namespace qv {

namespace interval {
inline constexpr const char *frame = "frame";
inline constexpr const char *vision = "vision";
inline constexpr const char *renderGraph = "render_graph";
inline constexpr const char *gpuEncode = "gpu_encode";
inline constexpr const char *gpuExecute = "gpu_execute";
} // namespace interval

// The compositor's signposter: subsystem "com.quillvane.compositor", points of interest.
platform::Signposter &compositorSignposter();

// One open interval with its own identifier; nothing is recorded while tracing is off.
class FrameInterval {
public:
    void begin(const char *name);
    void end() const;

private:
    const char *name_ = nullptr;
    platform::IntervalId id_{};
    bool recorded_ = false;
};

struct PerfMeter {
    long frames = 0;
    double vision = 0; // milliseconds, summed
    double graph = 0;
    double encode = 0;
    double total = 0;

    // Adds one frame; every 120 frames writes the averages to the "perf" log and starts over.
    void record(double visionMs, double graphMs, double encodeMs, double totalMs);
};

} // namespace qv
