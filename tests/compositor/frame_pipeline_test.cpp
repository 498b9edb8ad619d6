// The frame pipeline's rules: failures finish a request once with noFrame and give back its
// permit, at most two frames are in flight, output time maps to source time, the pass is
// switched off for good when it cannot work, and the static layers and background are reused.
//
// Waits that could only end in a broken compositor are run on a thread of their own with a
// generous deadline, so that a deadlock fails the test instead of hanging the suite. Such a
// thread holds everything it touches by shared pointer.
#include "Compositor/engine/compositor_error.h"

#include "platform/core/log.h"
#include "platform/core/trace.h"

#include "scene_fixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <latch>
#include <optional>
#include <thread>
#include <type_traits>

#include <unistd.h>

namespace qv {
namespace {

using namespace std::chrono_literals;
using platform::PixelBuffer;
using platform::PixelBufferRef;
using platform::PixelFormat;
using platform::media::FixedSizeRenderContext;
using platform::media::FrameRequest;
using platform::media::Time;
using platform::media::TrackID;
using testing::flatEdits;
using testing::makeInstruction;
using testing::rgbNear;

constexpr auto kDeadlockGuard = 60s;
constexpr std::array<int, 3> kOrange{200, 100, 50};
constexpr std::array<int, 3> kMask{13, 13, 15};

PixelBufferRef orangeScreen() {
    return testing::solidBuffer(64, 48, 200, 100, 50);
}

// Runs `work` on a detached thread; the future never blocks in its destructor. What `work`
// captured is released before the result is handed over, so a caller that sees the result
// also knows the thread holds nothing any more.
template <class F> auto onOwnThread(F work) {
    using R = std::invoke_result_t<F &>;
    std::promise<R> promise;
    auto future = promise.get_future();
    std::thread([work = std::move(work), promise = std::move(promise)]() mutable {
        std::optional<F> w(std::move(work));
        if constexpr (std::is_void_v<R>) {
            (*w)();
            w.reset();
            promise.set_value();
        } else {
            R result = (*w)();
            w.reset();
            promise.set_value(std::move(result));
        }
    }).detach();
    return future;
}

// Drops the last reference on a thread of its own. The destructor waits for both permits, so
// a permit that was never given back fails here instead of hanging the suite.
::testing::AssertionResult releasesCleanly(std::shared_ptr<MetalVideoCompositor> c) {
    auto done = onOwnThread([c = std::move(c)]() mutable { c.reset(); });
    if (done.wait_for(kDeadlockGuard) == std::future_status::ready)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the compositor never finished shutting down";
}

// A compositor for one test, shut down under the deadlock guard.
struct GuardedCompositor {
    std::shared_ptr<MetalVideoCompositor> ptr = std::make_shared<MetalVideoCompositor>();
    ~GuardedCompositor() { EXPECT_TRUE(releasesCleanly(std::move(ptr))); }
    MetalVideoCompositor *operator->() const { return ptr.get(); }
};

std::shared_ptr<FrameRequest> request(platform::media::InstructionRef instruction, Time time,
                                      std::shared_ptr<platform::media::RenderContext> context) {
    return std::make_shared<FrameRequest>(time, std::move(instruction), std::move(context),
                                          std::map<TrackID, PixelBufferRef>{{1, orangeScreen()}});
}

std::shared_ptr<FrameRequest> request(platform::media::InstructionRef instruction,
                                      std::int64_t ms = 0) {
    return request(std::move(instruction), Time{ms, 1000},
                   std::make_shared<FixedSizeRenderContext>(64, 48));
}

::testing::AssertionResult isNoFrame(const FrameRequest::Outcome &outcome) {
    const auto *error = std::get_if<platform::media::CompositionError>(&outcome);
    if (!error) return ::testing::AssertionFailure() << "the frame was produced";
    if (error->domain != kCompositorErrorDomain)
        return ::testing::AssertionFailure() << "error of domain " << error->domain;
    return ::testing::AssertionSuccess();
}

// One frame, waited for under the deadlock guard.
FrameRequest::Outcome renderOnce(const std::shared_ptr<MetalVideoCompositor> &c,
                                 std::shared_ptr<FrameRequest> r) {
    auto done = onOwnThread([c, r] {
        c->startRequest(r);
        return r->wait();
    });
    if (done.wait_for(kDeadlockGuard) != std::future_status::ready) {
        ADD_FAILURE() << "the frame never finished";
        return platform::media::CompositionError{"deadlock", 0, ""};
    }
    return done.get();
}

// The same pixels as `frame`, in memory whose rows do not start on the device's alignment.
PixelBufferRef misalignedCopy(const PixelBuffer &frame) {
    const std::size_t stride = 4 * std::size_t(frame.width()) + 4;
    auto memory = std::make_shared<std::vector<std::uint8_t>>(stride * frame.height() + 8);
    auto copy = PixelBuffer::wrap(frame.width(), frame.height(), frame.format(), memory->data() + 4,
                                  stride, memory);
    for (int y = 0; y < frame.height(); ++y)
        std::memcpy(copy->row(y), frame.row(y), 4 * std::size_t(frame.width()));
    return copy;
}

class MisalignedContext final : public platform::media::RenderContext {
public:
    Size size() const override { return {64, 48}; }
    PixelBufferRef newPixelBuffer() override {
        return misalignedCopy(*PixelBuffer::create(64, 48, PixelFormat::bgra8));
    }
};

std::vector<std::uint8_t> pixelsOf(const PixelBuffer &pb) {
    std::vector<std::uint8_t> out;
    for (int y = 0; y < pb.height(); ++y)
        out.insert(out.end(), pb.row(y), pb.row(y) + 4 * pb.width());
    return out;
}

// A screen frame in another layout is copied for the device and drawn the same; an output buffer
// the device cannot alias fails the frame and says why.
TEST(FramePipeline, BuffersWithoutTheDeviceLayout) {
    const auto scene = makeInstruction({});
    const auto screen = orangeScreen();
    const auto misaligned = misalignedCopy(*screen);
    ASSERT_TRUE(screen->isSurfaceBacked());
    ASSERT_FALSE(misaligned->isSurfaceBacked());
    const auto context = std::make_shared<FixedSizeRenderContext>(64, 48);
    std::vector<std::vector<std::uint8_t>> drawn;
    for (const PixelBufferRef &source : {screen, misaligned}) {
        GuardedCompositor c;
        auto outcome = renderOnce(
            c.ptr, std::make_shared<FrameRequest>(Time{0, 1000}, scene, context,
                                                  std::map<TrackID, PixelBufferRef>{{1, source}}));
        const auto *frame = std::get_if<PixelBufferRef>(&outcome);
        ASSERT_TRUE(frame && *frame);
        EXPECT_TRUE(rgbNear(**frame, 32, 24, kOrange));
        drawn.push_back(pixelsOf(**frame));
    }
    EXPECT_EQ(drawn[0], drawn[1]);

    GuardedCompositor c;
    const auto outcome =
        renderOnce(c.ptr, request(scene, Time{0, 1000}, std::make_shared<MisalignedContext>()));
    ASSERT_TRUE(isNoFrame(outcome));
    EXPECT_NE(std::get<platform::media::CompositionError>(outcome).description.find("row layout"),
              std::string::npos)
        << std::get<platform::media::CompositionError>(outcome).description;
}

class ForeignInstruction final : public platform::media::VideoCompositionInstruction {
public:
    platform::media::TimeRange timeRange() const override { return {{0, 1000}, {60000, 1000}}; }
    bool enablePostProcessing() const override { return false; }
    bool containsTweening() const override { return true; }
    std::optional<std::vector<TrackID>> requiredSourceTrackIDs() const override {
        return std::vector<TrackID>{1};
    }
    TrackID passthroughTrackID() const override { return 0; }
};

TEST(FramePipeline, FailedFramesFinishOnceAndGiveBackTheirPermit) {
    const auto scene = makeInstruction({});
    struct Case {
        const char *name;
        std::function<std::shared_ptr<FrameRequest>()> make;
    } cases[] = {
        {"foreignInstruction", [] { return request(std::make_shared<ForeignInstruction>()); }},
        {"noOutputBuffer",
         [&] {
             return request(scene, Time{0, 1000}, std::make_shared<FixedSizeRenderContext>(0, 0));
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        GuardedCompositor compositor;
        // More failures than permits: a permit kept by any of them blocks the third call.
        std::vector<std::shared_ptr<FrameRequest>> failing;
        for (int k = 0; k < 4; ++k) failing.push_back(c.make());
        const auto good = request(scene);
        auto done = onOwnThread([c = compositor.ptr, failing, good] {
            for (const auto &r : failing) c->startRequest(r);
            c->startRequest(good);
            good->wait();
        });
        ASSERT_EQ(done.wait_for(kDeadlockGuard), std::future_status::ready);
        compositor->diagnostics(); // runs after every queued frame: no late second finish
        for (const auto &r : failing) {
            EXPECT_TRUE(isNoFrame(r->wait()));
            EXPECT_EQ(r->finishCount(), 1);
        }
        EXPECT_TRUE(std::holds_alternative<PixelBufferRef>(good->wait()));
        EXPECT_EQ(good->finishCount(), 1);
    }
}

// Output buffers that cannot be had until the gate opens: frames stay in flight meanwhile.
class GatedContext final : public platform::media::RenderContext {
public:
    explicit GatedContext(std::shared_ptr<std::latch> gate) : gate_(std::move(gate)) {}
    Size size() const override { return {64, 48}; }
    PixelBufferRef newPixelBuffer() override {
        gate_->wait();
        return PixelBuffer::create(64, 48, PixelFormat::bgra8);
    }

private:
    std::shared_ptr<std::latch> gate_;
};

TEST(FramePipeline, ThirdRequestWaitsUntilAFrameHasFinished) {
    GuardedCompositor c;
    auto gate = std::make_shared<std::latch>(1);
    const auto scene = makeInstruction({});
    std::vector<std::shared_ptr<FrameRequest>> r;
    for (int k = 0; k < 3; ++k)
        r.push_back(request(scene, Time{k * 40, 1000}, std::make_shared<GatedContext>(gate)));

    c->startRequest(r[0]);
    c->startRequest(r[1]);
    auto third = onOwnThread([c = c.ptr, first = r[0], third = r[2]] {
        c->startRequest(third);
        return first->isFinished();
    });
    // Both permits are held by frames stuck at the gate, so the call cannot have returned.
    EXPECT_EQ(third.wait_for(200ms), std::future_status::timeout);
    EXPECT_FALSE(r[0]->isFinished());
    gate->count_down();

    ASSERT_EQ(third.wait_for(kDeadlockGuard), std::future_status::ready);
    EXPECT_TRUE(third.get()) << "the third call returned before the first frame finished";
    auto all = onOwnThread([r] {
        for (const auto &x : r) x->wait();
    });
    ASSERT_EQ(all.wait_for(kDeadlockGuard), std::future_status::ready);
    for (const auto &x : r) {
        EXPECT_TRUE(std::holds_alternative<PixelBufferRef>(x->wait()));
        EXPECT_EQ(x->finishCount(), 1);
    }
}

// Renders `times` with a mask that covers the whole content at source millisecond 6001 only;
// the segment map takes timeline 1001 there.
void expectMaskedAt(std::initializer_list<std::pair<Time, bool>> times) {
    Edits e = flatEdits();
    e.masks = {Edits::Mask{"m", 6001, 6001, Edits::MaskStyle::solid, {{0, 0, 0, 1, 1}}}};
    const auto scene =
        makeInstruction({.edits = e, .segmentMap = SegmentMap({{5000, 9000, 1.0, 0}})});
    GuardedCompositor c;
    for (const auto &[time, masked] : times) {
        SCOPED_TRACE(std::to_string(time.value) + "/" + std::to_string(time.timescale) + " s");
        const auto outcome = renderOnce(
            c.ptr, request(scene, time, std::make_shared<FixedSizeRenderContext>(64, 48)));
        const auto *frame = std::get_if<PixelBufferRef>(&outcome);
        ASSERT_TRUE(frame);
        EXPECT_TRUE(rgbNear(**frame, 32, 24, masked ? kMask : kOrange));
    }
}

TEST(FramePipeline, OutputTimeIsTruncatedToMillisecondsThenMapped) {
    expectMaskedAt({
        {{10015, 10000}, true},  // 1.0015 s is 1001 ms, not 1002
        {{10019, 10000}, true},  // 1.0019 s: still 1001
        {{10025, 10000}, false}, // 1002 ms: source 6002
        {{10005, 10000}, false}, // 1000 ms: source 6000
    });
}

TEST(FramePipeline, WholeMillisecondTimesKeepTheirMillisecond) {
    // Through a double, 1001/1000 s would truncate to 1000 ms.
    expectMaskedAt({{{1001, 1000}, true}, {{6006, 6000}, true}, {{1000, 1000}, false}});
}

TEST(FramePipeline, BlurMaskFrameTakesTheFilterRendererAloneAndThePassGoesOn) {
    // A frame with an active blur mask is drawn by the image-filter renderer; the frames around
    // it are still drawn by the pass, which stays on.
    Edits e = flatEdits();
    e.masks = {Edits::Mask{"b", 0, 1000, Edits::MaskStyle::blur, {{0, 0, 0, 1, 1}}}};
    const auto scene = makeInstruction({.edits = e});
    GuardedCompositor c;
    for (int round = 1; round <= 2; ++round) {
        const auto blurred = renderOnce(c.ptr, request(scene, 500));
        const auto *frame = std::get_if<PixelBufferRef>(&blurred);
        ASSERT_TRUE(frame);
        // An even colour stays itself under a blur: no dark fill.
        EXPECT_TRUE(rgbNear(**frame, 32, 24, kOrange, 2));
        EXPECT_EQ(c->diagnostics().fallbackFrames, round);
        EXPECT_FALSE(c->diagnostics().metalUnavailable);
        const auto outcome = renderOnce(c.ptr, request(scene, 2000));
        frame = std::get_if<PixelBufferRef>(&outcome);
        ASSERT_TRUE(frame);
        EXPECT_TRUE(rgbNear(**frame, 32, 24, kOrange));
        EXPECT_EQ(c->diagnostics().gpuFrames, round);
    }
}

// How many times `needle` occurs in `text`.
std::size_t occurrences(const std::string &text, const std::string &needle) {
    std::size_t n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

TEST(FramePipeline, FilterFramesAreTracedByPhaseAndAveragedEvery120) {
    Edits e = flatEdits();
    e.masks = {Edits::Mask{"b", 0, 1000, Edits::MaskStyle::blur, {{0, 0, 0, 1, 1}}}};
    const auto scene = makeInstruction({.edits = e});
    std::vector<std::string> lines;
    platform::Logger::setSinkForTesting([&](const platform::LogRecord &r) {
        if (r.category == "perf") lines.push_back(r.message);
    });
    const auto trace = std::filesystem::temp_directory_path() /
                       ("qv-trace-" + std::to_string(::getpid()) + ".json");
    platform::enableTracingForTesting(trace);
    GuardedCompositor c;
    // One filter frame and one pass frame, traced.
    ASSERT_TRUE(std::holds_alternative<PixelBufferRef>(renderOnce(c.ptr, request(scene, 500))));
    ASSERT_TRUE(std::holds_alternative<PixelBufferRef>(renderOnce(c.ptr, request(scene, 2000))));
    // The device thread closes a frame's last intervals just after it hands the frame over:
    // wait for all 14 events (7 intervals, begun and ended).
    const auto until = std::chrono::steady_clock::now() + kDeadlockGuard;
    while (platform::recordedTraceEventCount() < 14 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(platform::flushTrace());
    platform::disableTracingForTesting();
    std::ifstream in(trace);
    const std::string json((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(trace);
    // Begin and end of each phase of the filter frame; both frames execute on the device.
    EXPECT_EQ(occurrences(json, "\"name\":\"vision\""), 2u);
    EXPECT_EQ(occurrences(json, "\"name\":\"render_graph\""), 2u);
    EXPECT_EQ(occurrences(json, "\"name\":\"gpu_encode\""), 2u);
    EXPECT_EQ(occurrences(json, "\"name\":\"gpu_execute\""), 4u);
    EXPECT_EQ(occurrences(json, "\"name\":\"frame\""), 4u);

    // Only filter frames count towards the average: 119 more make 120, and one line.
    EXPECT_TRUE(lines.empty());
    for (int i = 0; i < 119; ++i) renderOnce(c.ptr, request(scene, 500));
    renderOnce(c.ptr, request(scene, 2000));
    platform::Logger::setSinkForTesting(nullptr);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("preview CPU/frame (avg of 120 frames): total "), std::string::npos)
        << lines[0];
}

// Test hooks of the device are process-wide: always put them back.
struct CompileFailure {
    CompileFailure() { platform::gfx::setPipelineCompileFailureForTesting(true); }
    ~CompileFailure() { platform::gfx::setPipelineCompileFailureForTesting(false); }
};
struct NoDefaultDevice {
    NoDefaultDevice() { platform::gfx::setDefaultDeviceDisabledForTesting(true); }
    ~NoDefaultDevice() { platform::gfx::setDefaultDeviceDisabledForTesting(false); }
};

TEST(FramePipeline, PipelineCompileFailureSwitchesThePassOffForGood) {
    const auto scene = makeInstruction({});
    GuardedCompositor c;
    const auto drawnByFilters = [&](int frames) {
        const auto outcome = renderOnce(c.ptr, request(scene));
        const auto *frame = std::get_if<PixelBufferRef>(&outcome);
        ASSERT_TRUE(frame);
        EXPECT_TRUE(rgbNear(**frame, 32, 24, kOrange));
        EXPECT_TRUE(c->diagnostics().metalUnavailable);
        EXPECT_EQ(c->diagnostics().fallbackFrames, frames);
        EXPECT_EQ(c->diagnostics().gpuFrames, 0);
    };
    {
        CompileFailure failing;
        drawnByFilters(1);
    }
    // The compiler works again, but this compositor does not try it any more.
    drawnByFilters(2);

    GuardedCompositor fresh;
    EXPECT_TRUE(std::holds_alternative<PixelBufferRef>(renderOnce(fresh.ptr, request(scene))));
    EXPECT_EQ(fresh->diagnostics().gpuFrames, 1);
}

TEST(FramePipeline, RenderSizeBelowOnePixelSwitchesThePassOffForGood) {
    GuardedCompositor c;
    const auto tiny = makeInstruction({.renderSize = {0.5, 100}});
    // The output buffer itself is fine; only the instruction's size is unusable, for the
    // image-filter renderer too.
    EXPECT_TRUE(isNoFrame(renderOnce(c.ptr, request(tiny))));
    EXPECT_TRUE(c->diagnostics().metalUnavailable);
    // From now on frames are drawn by the image-filter renderer.
    EXPECT_TRUE(
        std::holds_alternative<PixelBufferRef>(renderOnce(c.ptr, request(makeInstruction({})))));
    EXPECT_TRUE(c->diagnostics().metalUnavailable);
    EXPECT_EQ(c->diagnostics().fallbackFrames, 1);
}

TEST(FramePipeline, WithoutADeviceEveryFrameFails) {
    std::optional<NoDefaultDevice> none(std::in_place);
    GuardedCompositor c; // keeps the absent device for its whole life
    none.reset();
    const auto scene = makeInstruction({});
    EXPECT_TRUE(isNoFrame(renderOnce(c.ptr, request(scene))));
    EXPECT_TRUE(isNoFrame(renderOnce(c.ptr, request(scene))));
}

TEST(FramePipeline, StaticLayersFollowTheInstructionObjectAndBackgroundTheDocument) {
    GuardedCompositor c;
    const auto render = [&](const std::shared_ptr<const SceneInstruction> &I, int w, int h) {
        const auto outcome = renderOnce(
            c.ptr, request(I, Time{0, 1000}, std::make_shared<FixedSizeRenderContext>(w, h)));
        EXPECT_TRUE(std::holds_alternative<PixelBufferRef>(outcome));
    };
    struct Counts {
        int staticLayers, backgrounds;
    };
    const auto expectCounts = [&](Counts want) {
        const auto d = c->diagnostics();
        EXPECT_EQ(d.staticLayerRenders, want.staticLayers);
        EXPECT_EQ(d.backgroundBuilds, want.backgrounds);
    };

    const auto first = makeInstruction({});
    render(first, 64, 48);
    render(first, 64, 48);
    expectCounts({1, 1});

    // Equal content in a new object: the layers are rebuilt, the document's background is not.
    auto second = makeInstruction({});
    render(second, 64, 48);
    expectCounts({2, 1});

    // Once the cached instruction is released, a new one (possibly at the same address) is
    // still a new instruction.
    second.reset();
    render(makeInstruction({}), 64, 48);
    expectCounts({3, 1});

    // A new output size rebuilds both.
    render(makeInstruction({.renderSize = {80, 60}}), 80, 60);
    expectCounts({4, 2});
}

TEST(FramePipeline, PixelBufferAttributesStartAsBgraForTheDeviceAndCanBeReplaced) {
    namespace media = platform::media;
    const media::PixelBufferAttributes defaults{
        {media::kPixelFormatTypeKey, std::int64_t(0x42475241)},
        {media::kMetalCompatibilityKey, true}};
    MetalVideoCompositor c;
    EXPECT_EQ(c.sourcePixelBufferAttributes(), defaults);
    EXPECT_EQ(c.requiredPixelBufferAttributesForRenderContext(), defaults);

    const media::PixelBufferAttributes other{{media::kPixelFormatTypeKey, std::int64_t(42)}};
    c.setSourcePixelBufferAttributes(other);
    EXPECT_EQ(c.sourcePixelBufferAttributes(), other);
    EXPECT_EQ(c.requiredPixelBufferAttributesForRenderContext(), defaults);
    c.setSourcePixelBufferAttributes(std::nullopt);
    EXPECT_FALSE(c.sourcePixelBufferAttributes());

    const media::PixelBufferAttributes render{{media::kMetalCompatibilityKey, false},
                                              {"Extra", std::string("x")}};
    c.setRequiredPixelBufferAttributesForRenderContext(render);
    EXPECT_EQ(c.requiredPixelBufferAttributesForRenderContext(), render);
}

} // namespace
} // namespace qv
