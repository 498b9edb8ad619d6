#include "platform/gfx/cpu/cpu_device.h"

#include "platform/gfx/cpu/row_pool.h"
#include "platform/gfx/program_registry.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace qv::platform::gfx::cpu {

// Shared with the worker thread so that the thread can outlive the device when the last
// reference to the device is dropped on the worker itself.
struct CpuDevice::Worker {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::shared_ptr<CommandBuffer>> queue;
    bool stopping = false;
    std::thread thread;

    static void loop(const std::shared_ptr<Worker> &self) {
        pthread_setname_np(pthread_self(), "qv-device");
        std::unique_lock lock(self->mutex);
        for (;;) {
            self->wake.wait(lock, [&] { return self->stopping || !self->queue.empty(); });
            if (self->queue.empty()) return;
            auto cb = std::move(self->queue.front());
            self->queue.pop_front();
            lock.unlock();
            cb->execute();
            cb.reset(); // may destroy the device, which must not hold our lock
            lock.lock();
        }
    }
};

CpuDevice::CpuDevice()
    : worker_(std::make_shared<Worker>()),
      pool_(std::make_unique<RowBandPool>(
          std::max(1, static_cast<int>(std::thread::hardware_concurrency())))) {
    worker_->thread = std::thread([w = worker_] { Worker::loop(w); });
}

CpuDevice::~CpuDevice() {
    {
        std::lock_guard lock(worker_->mutex);
        worker_->stopping = true;
    }
    worker_->wake.notify_all();
    if (worker_->thread.get_id() == std::this_thread::get_id())
        worker_->thread.detach(); // the loop sees `stopping` and ends after this returns
    else
        worker_->thread.join();
}

int CpuDevice::rowThreadCount() const noexcept {
    return pool_->threadCount();
}

TextureRef CpuDevice::makeTexture(const TextureDescriptor &desc) {
    auto buffer = PixelBuffer::create(desc.width, desc.height, desc.format);
    if (!buffer) return nullptr;
    return std::make_shared<Texture>(std::move(buffer));
}

TextureRef CpuDevice::makeTexture(const TextureDescriptor &desc, const PixelBufferRef &buffer) {
    if (!buffer || buffer->format() != desc.format || buffer->width() != desc.width ||
        buffer->height() != desc.height)
        return nullptr;
    return std::make_shared<Texture>(buffer);
}

RenderPipelineRef CpuDevice::makeRenderPipeline(const RenderPipelineDescriptor &desc,
                                                std::string *error) {
    auto fail = [&](std::string message) -> RenderPipelineRef {
        if (error) *error = std::move(message);
        return nullptr;
    };
    if (detail::pipelineCompileFailureForced())
        return fail("render pipeline '" + desc.fragmentFunction +
                    "' failed to compile (forced by a test)");
    if (desc.vertexFunction.empty()) return fail("render pipeline has no vertex function");
    auto program = detail::findFragmentProgram(desc.fragmentFunction);
    if (!program)
        return fail("render pipeline: unknown fragment function '" + desc.fragmentFunction + "'");
    return std::make_shared<const RenderPipeline>(desc, std::move(*program));
}

void CpuDevice::submit(std::shared_ptr<CommandBuffer> cb) {
    if (!cb) return;
    {
        std::lock_guard lock(worker_->mutex);
        worker_->queue.push_back(std::move(cb));
    }
    worker_->wake.notify_one();
}

void CpuDevice::parallelRows(int rows, const std::function<void(int, int)> &body) {
    pool_->run(rows, body);
}

} // namespace qv::platform::gfx::cpu
