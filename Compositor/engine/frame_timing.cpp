#include "Compositor/engine/frame_timing.h"

#include "platform/core/log.h"

namespace qv {

platform::Signposter &compositorSignposter() {
    static platform::Signposter s("com.quillvane.compositor", "PointsOfInterest");
    return s;
}

void FrameInterval::begin(const char *name) {
    name_ = name;
    platform::Signposter &s = compositorSignposter();
    recorded_ = s.isEnabled();
    if (recorded_) {
        id_ = s.makeIntervalId();
        s.beginInterval(name_, id_);
    }
}

void FrameInterval::end() const {
    if (recorded_) compositorSignposter().endInterval(name_, id_);
}

void PerfMeter::record(double visionMs, double graphMs, double encodeMs, double totalMs) {
    frames += 1;
    vision += visionMs;
    graph += graphMs;
    encode += encodeMs;
    total += totalMs;
    if (frames < 120) return;
    static const platform::Logger log("com.quillvane.compositor", "perf");
    const double n = static_cast<double>(frames);
    log.notice("preview CPU/frame (avg of %ld frames): total %.*fms | graph-build %.*fms | "
               "gpu-encode %.*fms | vision %.*fms",
               frames, 2, total / n, 2, graph / n, 2, encode / n, 2, vision / n);
    *this = PerfMeter{};
}

} // namespace qv
