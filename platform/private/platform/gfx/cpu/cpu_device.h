// The CPU backend of the compute device: command buffers run in commit order on one worker
// thread ("qv-device"); draws shade row bands on a small persistent pool.
//
// Thread safety: every member may be called from any thread. parallelRows calls are serialised;
// a call made from inside a parallelRows body runs inline instead of deadlocking.
// Lifetime: committed command buffers keep the device alive until they have completed; the
// destructor joins the worker and the pool (or lets the worker finish on its own when the last
// reference dies on it).
#pragma once

#include "platform/gfx/device.h"

#include <memory>

namespace qv::platform::gfx::cpu {

class RowBandPool;

class CpuDevice final : public Device {
public:
    CpuDevice();
    ~CpuDevice() override;
    CpuDevice(const CpuDevice &) = delete;
    CpuDevice &operator=(const CpuDevice &) = delete;

    std::string name() const override { return "CPU"; }
    TextureRef makeTexture(const TextureDescriptor &desc) override;
    TextureRef makeTexture(const TextureDescriptor &desc, const PixelBufferRef &buffer) override;
    RenderPipelineRef makeRenderPipeline(const RenderPipelineDescriptor &desc,
                                         std::string *error) override;
    void submit(std::shared_ptr<CommandBuffer> cb) override;
    void parallelRows(int rows, const std::function<void(int, int)> &body) override;

    // Threads shading rows, the caller of parallelRows included.
    int rowThreadCount() const noexcept;

private:
    struct Worker;
    std::shared_ptr<Worker> worker_;
    std::unique_ptr<RowBandPool> pool_;
};

} // namespace qv::platform::gfx::cpu
