#include "platform/gfx/device.h"

#include "platform/gfx/cpu/cpu_device.h"
#include "platform/gfx/program_registry.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

namespace qv::platform::gfx {

struct CommandBuffer::State {
    std::shared_ptr<Device> device;
    mutable std::mutex mutex;
    std::condition_variable finished;
    Status status = Status::notEnqueued;
    std::optional<DeviceError> error;
    std::vector<Operation> ops;
    std::vector<CompletedHandler> handlers;
    bool handlersDone = false;
};

namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_map<std::string, FragmentProgram> programs;
};

Registry &registry() {
    // Leaked on purpose: pipelines may be compiled while other static objects are torn down.
    static auto *r = new Registry;
    return *r;
}

std::atomic<bool> compileFailureForced{false};
std::atomic<bool> defaultDeviceDisabled{false};

std::uint8_t unitToByte(float v) {
    if (!(v > 0)) return 0; // also maps NaN to 0
    if (v >= 1) return 255;
    return static_cast<std::uint8_t>(std::lround(v * 255.0f));
}

void clearTarget(Texture &target, const std::array<float, 4> &rgba) {
    const std::uint8_t px[4] = {unitToByte(rgba[2]), unitToByte(rgba[1]), unitToByte(rgba[0]),
                                unitToByte(rgba[3])};
    PixelBuffer &buffer = target.buffer();
    for (int y = 0; y < buffer.height(); ++y) {
        std::uint8_t *row = buffer.row(y);
        for (int x = 0; x < buffer.width(); ++x) std::memcpy(row + 4 * x, px, 4);
    }
}

// The failure of work that ran out of memory. Its full text needs memory of its own; when even
// that is not to be had, the short one fits in the string itself and allocates nothing.
DeviceError outOfMemoryError() noexcept {
    try {
        return DeviceError{"there is not enough memory for the frame's picture"};
    } catch (const std::bad_alloc &) {
        return DeviceError{"out of memory"};
    }
}

} // namespace

namespace detail {

std::optional<FragmentProgram> findFragmentProgram(const std::string &name) {
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.programs.find(name);
    if (it == r.programs.end()) return std::nullopt;
    return it->second;
}

bool pipelineCompileFailureForced() {
    return compileFailureForced.load();
}

} // namespace detail

void registerFragmentProgram(const std::string &name, FragmentProgram program) {
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    r.programs[name] = std::move(program);
}

void setPipelineCompileFailureForTesting(bool fail) {
    compileFailureForced.store(fail);
}
void setDefaultDeviceDisabledForTesting(bool disabled) {
    defaultDeviceDisabled.store(disabled);
}

// MARK: Render command encoder

RenderCommandEncoder::RenderCommandEncoder(CommandBuffer &cb, RenderPassDescriptor pass)
    : cb_(cb), pass_(std::move(pass)) {
}

void RenderCommandEncoder::setFragmentBytes(const void *bytes, std::size_t length, int index) {
    if (ended_ || index < 0 || index >= FragmentBindings::maxBuffers) return;
    auto &slot = bindings_.buffers[static_cast<std::size_t>(index)];
    const auto *b = static_cast<const std::uint8_t *>(bytes);
    if (b == nullptr) length = 0;
    slot.assign(b, b + length);
}

void RenderCommandEncoder::setFragmentTexture(TextureRef texture, int index) {
    if (ended_ || index < 0 || index >= FragmentBindings::maxTextures) return;
    bindings_.textures[static_cast<std::size_t>(index)] = std::move(texture);
}

void RenderCommandEncoder::drawFullCanvasTriangle() {
    if (ended_) return;
    const bool clear = pass_.clear && !drawn_;
    drawn_ = true;
    if (!pipeline_) {
        cb_.encode([] {
            return std::optional<DeviceError>(
                DeviceError{"draw encoded without a render pipeline state"});
        });
        return;
    }
    // The bindings are captured as they are now, so that later changes affect later draws only.
    cb_.encode([device = cb_.state_->device, target = pass_.target, clear,
                clearColor = pass_.clearColor, pipeline = pipeline_, bindings = bindings_,
                share = shadedShare_]() -> std::optional<DeviceError> {
        if (pipeline->descriptor().colorFormat != target->format())
            return DeviceError{"render pipeline colour format does not match the target"};
        // A program that writes every pixel of the target opaquely hides the clear entirely.
        if (clear && !pipeline->descriptor().writesEveryPixel) clearTarget(*target, clearColor);
        const FragmentProgram &program = pipeline->program();
        // Below this share of the target a draw is cheaper on one thread.
        constexpr double serialShare = 0.05;
        if (share < serialShare)
            program(bindings, *target, 0, target->height());
        else
            device->parallelRows(target->height(),
                                 [&](int r0, int r1) { program(bindings, *target, r0, r1); });
        return std::nullopt;
    });
}

void RenderCommandEncoder::endEncoding() {
    if (ended_) return;
    ended_ = true;
    // A pass without draws still applies its load action.
    if (pass_.clear && !drawn_) {
        cb_.encode([target = pass_.target, clearColor = pass_.clearColor] {
            clearTarget(*target, clearColor);
            return std::optional<DeviceError>();
        });
    }
}

// MARK: Command buffer

CommandBuffer::CommandBuffer(std::shared_ptr<State> state) : state_(std::move(state)) {
}
CommandBuffer::~CommandBuffer() = default;

void CommandBuffer::encode(Operation op) {
    std::lock_guard lock(state_->mutex);
    if (state_->status != Status::notEnqueued) return;
    state_->ops.push_back(std::move(op));
}

std::unique_ptr<RenderCommandEncoder>
CommandBuffer::makeRenderCommandEncoder(const RenderPassDescriptor &pass) {
    if (!pass.target || pass.target->format() != PixelFormat::bgra8) return nullptr;
    if (status() != Status::notEnqueued) return nullptr;
    return std::unique_ptr<RenderCommandEncoder>(new RenderCommandEncoder(*this, pass));
}

void CommandBuffer::addCompletedHandler(CompletedHandler handler) {
    std::lock_guard lock(state_->mutex);
    if (state_->status != Status::notEnqueued) return;
    state_->handlers.push_back(std::move(handler));
}

void CommandBuffer::commit() {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->status != Status::notEnqueued) return;
        state_->status = Status::committed;
    }
    state_->device->submit(shared_from_this());
}

void CommandBuffer::waitUntilCompleted() {
    std::unique_lock lock(state_->mutex);
    if (state_->status == Status::notEnqueued) return; // would never complete
    state_->finished.wait(lock, [&] { return state_->handlersDone; });
}

CommandBuffer::Status CommandBuffer::status() const {
    std::lock_guard lock(state_->mutex);
    return state_->status;
}

std::optional<DeviceError> CommandBuffer::error() const {
    std::lock_guard lock(state_->mutex);
    return state_->error;
}

void CommandBuffer::execute() {
    std::vector<Operation> ops;
    {
        std::lock_guard lock(state_->mutex);
        ops.swap(state_->ops);
    }
    std::optional<DeviceError> failure;
    for (auto &op : ops) {
        // Work that runs out of memory fails this buffer, not the process.
        try {
            failure = op();
        } catch (const std::bad_alloc &) {
            failure = outOfMemoryError();
        }
        if (failure) break;
    }
    // Captured state (textures, the device) is released before the handlers run.
    ops.clear();

    std::vector<CompletedHandler> handlers;
    {
        std::lock_guard lock(state_->mutex);
        state_->status = failure ? Status::error : Status::completed;
        state_->error = std::move(failure);
        handlers.swap(state_->handlers);
    }
    for (auto &handler : handlers) handler(*this);
    {
        std::lock_guard lock(state_->mutex);
        state_->handlersDone = true;
    }
    state_->finished.notify_all();
}

// MARK: Queue and device

CommandBufferRef CommandQueue::makeCommandBuffer() {
    auto state = std::make_shared<CommandBuffer::State>();
    state->device = device_;
    return std::make_shared<CommandBuffer>(std::move(state));
}

CommandQueueRef Device::makeCommandQueue() {
    return std::make_shared<CommandQueue>(shared_from_this());
}

std::shared_ptr<Device> Device::systemDefault() {
    static const std::shared_ptr<Device> device = std::make_shared<cpu::CpuDevice>();
    if (defaultDeviceDisabled.load()) return nullptr;
    return device;
}

} // namespace qv::platform::gfx
