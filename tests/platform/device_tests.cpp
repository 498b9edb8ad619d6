#include "platform/gfx/cpu/cpu_device.h"
#include "platform/gfx/device.h"

#include <gtest/gtest.h>

#include <new>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

namespace qv::platform::gfx {
namespace {

std::string currentThreadName() {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

class DeviceTest : public ::testing::Test {
protected:
    std::shared_ptr<Device> device = std::make_shared<cpu::CpuDevice>();
    CommandQueueRef queue = device->makeCommandQueue();

    RenderPipelineRef pipeline(const std::string &fragment) {
        std::string error;
        auto p = device->makeRenderPipeline({"fullCanvasV", fragment, PixelFormat::bgra8}, &error);
        EXPECT_NE(p, nullptr) << error;
        return p;
    }
};

// MARK: Textures

TEST_F(DeviceTest, TextureAliasesItsPixelBuffer) {
    auto buffer = PixelBuffer::create(5, 3, PixelFormat::bgra8);
    auto texture = device->makeTexture({PixelFormat::bgra8, 5, 3, usageShaderRead, {}}, buffer);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(&texture->buffer(), buffer.get());
    texture->buffer().row(2)[4 * 4 + 1] = 77;
    EXPECT_EQ(buffer->row(2)[4 * 4 + 1], 77);

    std::weak_ptr<PixelBuffer> watch = buffer;
    buffer.reset();
    EXPECT_FALSE(watch.expired()) << "the texture keeps its buffer alive";
    texture.reset();
    EXPECT_TRUE(watch.expired());
}

TEST_F(DeviceTest, AliasingRejectsMismatchedDescriptors) {
    auto buffer = PixelBuffer::create(5, 3, PixelFormat::bgra8);
    const std::vector<TextureDescriptor> mismatches = {
        {PixelFormat::r8, 5, 3, usageShaderRead, {}},
        {PixelFormat::bgra8, 4, 3, usageShaderRead, {}},
        {PixelFormat::bgra8, 5, 4, usageShaderRead, {}},
    };
    for (const auto &d : mismatches) EXPECT_EQ(device->makeTexture(d, buffer), nullptr);
    EXPECT_EQ(device->makeTexture({PixelFormat::bgra8, 5, 3, usageShaderRead, {}}, nullptr),
              nullptr);
}

TEST_F(DeviceTest, OwnTexturesAreZeroedAndNeedAPixel) {
    auto t = device->makeTexture({PixelFormat::r8, 3, 2, usageShaderRead, {}});
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->format(), PixelFormat::r8);
    EXPECT_EQ(t->width(), 3);
    EXPECT_EQ(t->height(), 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(t->buffer().row(y)[x], 0);
    EXPECT_EQ(device->makeTexture({PixelFormat::bgra8, 0, 2, usageShaderRead, {}}), nullptr);
}

// MARK: Command buffers

TEST_F(DeviceTest, OperationsThenHandlersRunInOrderOnTheWorker) {
    std::vector<std::string> events; // touched only on the worker until waitUntilCompleted
    std::vector<std::thread::id> threads;
    std::string workerName;
    auto cb = queue->makeCommandBuffer();
    for (int i = 0; i < 3; ++i) {
        cb->encode([&, i]() -> std::optional<DeviceError> {
            events.push_back("op" + std::to_string(i));
            threads.push_back(std::this_thread::get_id());
            workerName = currentThreadName();
            return std::nullopt;
        });
    }
    for (int i = 0; i < 2; ++i) {
        cb->addCompletedHandler([&, i](CommandBuffer &done) {
            events.push_back("handler" + std::to_string(i));
            threads.push_back(std::this_thread::get_id());
            EXPECT_EQ(done.status(), CommandBuffer::Status::completed);
        });
    }
    EXPECT_EQ(cb->status(), CommandBuffer::Status::notEnqueued);
    cb->commit();
    cb->waitUntilCompleted();

    EXPECT_EQ(events, (std::vector<std::string>{"op0", "op1", "op2", "handler0", "handler1"}));
    ASSERT_EQ(threads.size(), 5u);
    for (auto id : threads) {
        EXPECT_NE(id, std::this_thread::get_id());
        EXPECT_EQ(id, threads[0]);
    }
    EXPECT_EQ(workerName, "qv-device");
    EXPECT_EQ(cb->status(), CommandBuffer::Status::completed);
    EXPECT_FALSE(cb->error().has_value());
}

TEST_F(DeviceTest, OperationThatRunsOutOfMemoryFailsItsBufferOnly) {
    bool laterRan = false;
    auto cb = queue->makeCommandBuffer();
    cb->encode([]() -> std::optional<DeviceError> { throw std::bad_alloc(); });
    cb->encode([&]() -> std::optional<DeviceError> {
        laterRan = true;
        return std::nullopt;
    });
    cb->commit();
    cb->waitUntilCompleted();
    EXPECT_FALSE(laterRan);
    EXPECT_EQ(cb->status(), CommandBuffer::Status::error);
    ASSERT_TRUE(cb->error().has_value());
    EXPECT_NE(cb->error()->message.find("not enough memory"), std::string::npos);

    // The device goes on with the next buffer.
    auto next = queue->makeCommandBuffer();
    next->encode([]() -> std::optional<DeviceError> { return std::nullopt; });
    next->commit();
    next->waitUntilCompleted();
    EXPECT_EQ(next->status(), CommandBuffer::Status::completed);
}

TEST_F(DeviceTest, FailingOperationStopsTheRestAndSetsError) {
    std::vector<int> ran;
    CommandBuffer::Status seenByHandler = CommandBuffer::Status::notEnqueued;
    auto cb = queue->makeCommandBuffer();
    cb->encode([&]() -> std::optional<DeviceError> {
        ran.push_back(0);
        return std::nullopt;
    });
    cb->encode([&]() -> std::optional<DeviceError> {
        ran.push_back(1);
        return DeviceError{"out of tiles"};
    });
    cb->encode([&]() -> std::optional<DeviceError> {
        ran.push_back(2);
        return std::nullopt;
    });
    cb->addCompletedHandler([&](CommandBuffer &done) { seenByHandler = done.status(); });
    cb->commit();
    cb->waitUntilCompleted();

    EXPECT_EQ(ran, (std::vector<int>{0, 1}));
    EXPECT_EQ(cb->status(), CommandBuffer::Status::error);
    EXPECT_EQ(seenByHandler, CommandBuffer::Status::error);
    ASSERT_TRUE(cb->error().has_value());
    EXPECT_EQ(cb->error()->message, "out of tiles");
}

TEST_F(DeviceTest, WaitUntilCompletedWaitsForHandlers) {
    std::promise<void> release;
    auto released = release.get_future();
    bool handlerRan = false;
    auto cb = queue->makeCommandBuffer();
    cb->encode([&]() -> std::optional<DeviceError> {
        released.wait(); // hold the buffer on the worker until the test has looked
        return std::nullopt;
    });
    cb->addCompletedHandler([&](CommandBuffer &) { handlerRan = true; });
    cb->commit();
    EXPECT_EQ(cb->status(), CommandBuffer::Status::committed);
    release.set_value();
    cb->waitUntilCompleted();
    EXPECT_TRUE(handlerRan);
    EXPECT_EQ(cb->status(), CommandBuffer::Status::completed);
}

TEST_F(DeviceTest, BuffersRunInCommitOrderAndIgnoreLateWork) {
    std::vector<int> order;
    std::vector<CommandBufferRef> buffers;
    for (int i = 0; i < 20; ++i) buffers.push_back(queue->makeCommandBuffer());
    // Encoded in reverse, committed forwards: commit order is what counts.
    for (int i = 19; i >= 0; --i) {
        buffers[static_cast<std::size_t>(i)]->encode([&order, i]() -> std::optional<DeviceError> {
            order.push_back(i);
            return std::nullopt;
        });
    }
    for (auto &cb : buffers) cb->commit();
    buffers[0]->commit(); // a second commit is ignored
    buffers[0]->encode([&order]() -> std::optional<DeviceError> {
        order.push_back(-1);
        return std::nullopt;
    });
    buffers.back()->waitUntilCompleted();
    std::vector<int> expected;
    for (int i = 0; i < 20; ++i) expected.push_back(i);
    EXPECT_EQ(order, expected);
}

TEST_F(DeviceTest, CommittedBufferOutlivesOtherReferencesToTheDevice) {
    std::weak_ptr<Device> watch = device;
    std::promise<void> ran;
    auto cb = queue->makeCommandBuffer();
    cb->addCompletedHandler([&](CommandBuffer &) { ran.set_value(); });
    device.reset();
    queue.reset();
    EXPECT_FALSE(watch.expired());
    cb->commit();
    cb.reset(); // the last reference to the device now dies on its own worker
    ran.get_future().wait();
    // A guard against hanging, not a timing requirement.
    for (int i = 0; i < 10000 && !watch.expired(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(watch.expired());
}

// MARK: Render passes

// Writes B = row, G = column, R = the first bound byte, A = 255 and counts shaded rows.
std::vector<std::atomic<int>> *rowVisits = nullptr;

void registerTestPrograms() {
    registerFragmentProgram("test.rowShade",
                            [](const FragmentBindings &b, Texture &target, int r0, int r1) {
                                const std::uint8_t red = b.buffers[0].empty() ? 0 : b.buffers[0][0];
                                for (int y = r0; y < r1; ++y) {
                                    if (rowVisits) (*rowVisits)[static_cast<std::size_t>(y)]++;
                                    std::uint8_t *p = target.buffer().row(y);
                                    for (int x = 0; x < target.width(); ++x, p += 4) {
                                        p[0] = static_cast<std::uint8_t>(y);
                                        p[1] = static_cast<std::uint8_t>(x);
                                        p[2] = red;
                                        p[3] = 255;
                                    }
                                }
                            });
    registerFragmentProgram("test.noop", [](const FragmentBindings &, Texture &, int, int) {});
    // Adds the bound texture 0 (same size) onto the target, byte by byte.
    registerFragmentProgram(
        "test.addTexture", [](const FragmentBindings &b, Texture &target, int r0, int r1) {
            const PixelBuffer &src = b.textures[0]->buffer();
            for (int y = r0; y < r1; ++y)
                for (int i = 0; i < 4 * target.width(); ++i)
                    target.buffer().row(y)[i] =
                        static_cast<std::uint8_t>(target.buffer().row(y)[i] + src.row(y)[i]);
        });
}

TEST_F(DeviceTest, DrawShadesEveryRowOnceWithCapturedBindings) {
    registerTestPrograms();
    const int W = 7, H = 301;
    auto target = device->makeTexture({PixelFormat::bgra8, W, H, usageRenderTarget, {}});
    std::vector<std::atomic<int>> visits(H);
    rowVisits = &visits;

    auto cb = queue->makeCommandBuffer();
    auto enc = cb->makeRenderCommandEncoder({target, true, {0, 0, 0, 0}});
    ASSERT_NE(enc, nullptr);
    enc->setRenderPipelineState(pipeline("test.rowShade"));
    std::uint8_t red = 42;
    enc->setFragmentBytes(&red, 1, 0);
    red = 99; // the encoder copied the bytes
    enc->drawFullCanvasTriangle();
    enc->endEncoding();
    cb->commit();
    cb->waitUntilCompleted();
    rowVisits = nullptr;

    ASSERT_EQ(cb->status(), CommandBuffer::Status::completed);
    for (int y = 0; y < H; ++y) {
        ASSERT_EQ(visits[static_cast<std::size_t>(y)].load(), 1) << "row " << y;
        const std::uint8_t *p = target->buffer().row(y);
        for (int x = 0; x < W; ++x, p += 4) {
            ASSERT_EQ(p[0], static_cast<std::uint8_t>(y));
            ASSERT_EQ(p[1], x);
            ASSERT_EQ(p[2], 42);
            ASSERT_EQ(p[3], 255);
        }
    }
}

// A draw that says it shades little of the target runs as one call on the worker; a full one
// is split into bands. Either way every row is shaded once.
TEST_F(DeviceTest, SmallDrawsRunAsOneCall) {
    static std::atomic<int> calls{0};
    registerFragmentProgram("test.countCalls",
                            [](const FragmentBindings &, Texture &target, int r0, int r1) {
                                ++calls;
                                for (int y = r0; y < r1; ++y) target.buffer().row(y)[0]++;
                            });
    const int H = 64;
    auto target = device->makeTexture({PixelFormat::bgra8, 4, H, usageRenderTarget, {}});
    for (double share : {0.01, 1.0}) {
        calls = 0;
        auto cb = queue->makeCommandBuffer();
        auto enc = cb->makeRenderCommandEncoder({target, false, {0, 0, 0, 0}});
        enc->setRenderPipelineState(pipeline("test.countCalls"));
        enc->setShadedShare(share);
        enc->drawFullCanvasTriangle();
        enc->endEncoding();
        cb->commit();
        cb->waitUntilCompleted();
        const bool split = static_cast<cpu::CpuDevice *>(device.get())->rowThreadCount() > 1;
        if (share < 0.05) {
            EXPECT_EQ(calls.load(), 1);
        } else if (split) {
            EXPECT_GT(calls.load(), 1);
        }
    }
    for (int y = 0; y < H; ++y) EXPECT_EQ(target->buffer().row(y)[0], 2) << "row " << y;
}

TEST_F(DeviceTest, PassClearsOnceBeforeItsDraws) {
    registerTestPrograms();
    auto target = device->makeTexture({PixelFormat::bgra8, 4, 3, usageRenderTarget, {}});
    auto addend = device->makeTexture({PixelFormat::bgra8, 4, 3, usageShaderRead, {}});
    for (int y = 0; y < 3; ++y) std::memset(addend->buffer().row(y), 1, 16);

    auto cb = queue->makeCommandBuffer();
    auto enc = cb->makeRenderCommandEncoder({target, true, {1.0f, 0.5f, 0.0f, 1.0f}});
    ASSERT_NE(enc, nullptr);
    enc->setRenderPipelineState(pipeline("test.addTexture"));
    enc->setFragmentTexture(addend, 0);
    enc->drawFullCanvasTriangle();
    enc->drawFullCanvasTriangle(); // must add again, not clear again
    enc->endEncoding();
    cb->commit();
    cb->waitUntilCompleted();

    ASSERT_EQ(cb->status(), CommandBuffer::Status::completed);
    // Clear colour (r 1, g 0.5, b 0, a 1) is BGRA (0, 128, 255, 255); two draws add 2 each.
    const std::uint8_t expected[4] = {2, 130, 1, 1};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            for (int c = 0; c < 4; ++c)
                ASSERT_EQ(target->buffer().row(y)[4 * x + c], expected[c]) << x << "," << y;
}

TEST_F(DeviceTest, LoadActionAppliesWithAndWithoutDraws) {
    registerTestPrograms();
    struct Case {
        bool clear;
        bool draw;
        std::uint8_t expectedBlue;
    };
    // Prefilled with 7; clear colour blue 1.0 gives 255.
    for (const Case c : {Case{true, true, 255}, Case{true, false, 255}, Case{false, true, 7},
                         Case{false, false, 7}}) {
        auto target = device->makeTexture({PixelFormat::bgra8, 2, 2, usageRenderTarget, {}});
        for (int y = 0; y < 2; ++y) std::memset(target->buffer().row(y), 7, 8);
        auto cb = queue->makeCommandBuffer();
        auto enc = cb->makeRenderCommandEncoder({target, c.clear, {0, 0, 1, 1}});
        enc->setRenderPipelineState(pipeline("test.noop"));
        if (c.draw) enc->drawFullCanvasTriangle();
        enc->endEncoding();
        cb->commit();
        cb->waitUntilCompleted();
        EXPECT_EQ(target->buffer().row(1)[4], c.expectedBlue)
            << "clear " << c.clear << " draw " << c.draw;
    }
}

TEST_F(DeviceTest, DrawWithoutPipelineFailsTheBuffer) {
    auto target = device->makeTexture({PixelFormat::bgra8, 2, 2, usageRenderTarget, {}});
    auto cb = queue->makeCommandBuffer();
    auto enc = cb->makeRenderCommandEncoder({target, true, {0, 0, 0, 1}});
    ASSERT_NE(enc, nullptr);
    enc->drawFullCanvasTriangle();
    enc->endEncoding();
    cb->commit();
    cb->waitUntilCompleted();
    EXPECT_EQ(cb->status(), CommandBuffer::Status::error);
    ASSERT_TRUE(cb->error().has_value());
    EXPECT_NE(cb->error()->message.find("pipeline"), std::string::npos);
}

TEST_F(DeviceTest, EncoderNeedsABgraTarget) {
    auto cb = queue->makeCommandBuffer();
    EXPECT_EQ(cb->makeRenderCommandEncoder({nullptr, true, {}}), nullptr);
    auto mask = device->makeTexture({PixelFormat::r8, 2, 2, usageRenderTarget, {}});
    EXPECT_EQ(cb->makeRenderCommandEncoder({mask, true, {}}), nullptr);
}

// MARK: Pipelines

TEST_F(DeviceTest, PipelineCompilationFailures) {
    registerTestPrograms();
    struct Case {
        RenderPipelineDescriptor desc;
        bool forced;
        std::string errorMentions; // empty: must succeed
    };
    const std::vector<Case> cases = {
        {{"fullCanvasV", "test.noop", PixelFormat::bgra8}, false, ""},
        {{"fullCanvasV", "test.noSuchProgram", PixelFormat::bgra8}, false, "test.noSuchProgram"},
        {{"", "test.noop", PixelFormat::bgra8}, false, "vertex"},
        {{"fullCanvasV", "test.noop", PixelFormat::bgra8}, true, "test.noop"},
    };
    for (const auto &c : cases) {
        setPipelineCompileFailureForTesting(c.forced);
        std::string error;
        auto p = device->makeRenderPipeline(c.desc, &error);
        setPipelineCompileFailureForTesting(false);
        SCOPED_TRACE(c.desc.vertexFunction + "/" + c.desc.fragmentFunction);
        if (c.errorMentions.empty()) {
            ASSERT_NE(p, nullptr) << error;
            EXPECT_EQ(p->descriptor().fragmentFunction, c.desc.fragmentFunction);
        } else {
            EXPECT_EQ(p, nullptr);
            EXPECT_NE(error.find(c.errorMentions), std::string::npos) << error;
        }
    }
}

TEST(DefaultDevice, ExistsUnlessSwitchedOff) {
    auto d = Device::systemDefault();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d, Device::systemDefault());
    EXPECT_EQ(d->name(), "CPU");
    setDefaultDeviceDisabledForTesting(true);
    EXPECT_EQ(Device::systemDefault(), nullptr);
    setDefaultDeviceDisabledForTesting(false);
    EXPECT_EQ(Device::systemDefault(), d);
}

// MARK: Row bands

TEST_F(DeviceTest, ParallelRowsCoversEveryRowOnceInContiguousBands) {
    for (int rows : {0, 1, 2, 3, 5, 16, 17, 1000, 1081}) {
        std::vector<std::atomic<int>> visits(static_cast<std::size_t>(rows));
        std::mutex m;
        std::vector<std::pair<int, int>> bands;
        device->parallelRows(rows, [&](int r0, int r1) {
            {
                std::lock_guard lock(m);
                bands.emplace_back(r0, r1);
            }
            for (int r = r0; r < r1; ++r) visits[static_cast<std::size_t>(r)]++;
        });
        for (int r = 0; r < rows; ++r)
            ASSERT_EQ(visits[static_cast<std::size_t>(r)].load(), 1) << rows << " rows, row " << r;
        for (auto [r0, r1] : bands) EXPECT_LT(r0, r1);
        const auto *cpu = static_cast<cpu::CpuDevice *>(device.get());
        // A few bands per thread at most, so that per-band set-up stays small.
        EXPECT_LE(static_cast<int>(bands.size()), 4 * std::max(1, cpu->rowThreadCount()));
    }
}

TEST_F(DeviceTest, NestedAndConcurrentParallelRowsComplete) {
    std::atomic<int> inner{0};
    auto nested = [&] {
        device->parallelRows(8, [&](int r0, int r1) {
            device->parallelRows(r1 - r0, [&](int a, int b) { inner += b - a; });
        });
    };
    std::thread other(nested);
    nested();
    other.join();
    EXPECT_EQ(inner.load(), 16);
}

} // namespace
} // namespace qv::platform::gfx
