// The compute device, shaped like a GPU device: its command queue, command buffers, textures
// and compiled render pipelines. The CPU backend (platform/gfx/cpu) always exists; a GPU backend
// would fill the same interface.
//
// Threading: Device, CommandQueue and RenderPipeline are thread-safe. A CommandBuffer is encoded
// by one thread (the caller's queue), then committed; after commit it is executed on the device's
// worker thread, and its completion handlers run there, in the order they were added.
// Textures alias pixel-buffer memory: the texture keeps its buffer alive.
#pragma once

#include "platform/video/pixel_buffer.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qv::platform::gfx {

enum TextureUsage : unsigned {
    usageShaderRead = 1,
    usageShaderWrite = 2,
    usageRenderTarget = 4,
};

enum class StorageMode { shared, gpuPrivate };

struct TextureDescriptor {
    PixelFormat format = PixelFormat::bgra8;
    int width = 0;
    int height = 0;
    unsigned usage = usageShaderRead;
    StorageMode storage = StorageMode::shared;
};

// Where a BGRA texture is not fully transparent: per row, the half-open column runs of pixels
// that are not all zero. Passes use it to skip layers where they cannot contribute.
struct ContentRuns {
    std::vector<std::uint32_t> rowStart; // height + 1 entries into `runs`
    std::vector<std::pair<int, int>> runs;
};
// Null for a format other than BGRA8.
std::shared_ptr<const ContentRuns> computeContentRuns(const PixelBuffer &buffer);

// A texture is a view of a pixel buffer's memory; row 0 is the first row in memory.
class Texture {
public:
    explicit Texture(PixelBufferRef buffer) : buffer_(std::move(buffer)) {}
    int width() const noexcept { return buffer_->width(); }
    int height() const noexcept { return buffer_->height(); }
    PixelFormat format() const noexcept { return buffer_->format(); }
    PixelBuffer &buffer() const noexcept { return *buffer_; }
    const PixelBufferRef &bufferRef() const noexcept { return buffer_; }

    // The content hint, when whoever filled the texture recorded it. Set it before the
    // texture is used by committed work, and renew it whenever the pixels change.
    const std::shared_ptr<const ContentRuns> &contentRuns() const noexcept { return runs_; }
    void setContentRuns(std::shared_ptr<const ContentRuns> runs) { runs_ = std::move(runs); }

private:
    PixelBufferRef buffer_;
    std::shared_ptr<const ContentRuns> runs_;
};
using TextureRef = std::shared_ptr<Texture>;

struct DeviceError {
    std::string message;
};

// What a fragment program sees: the bytes and textures bound by index.
struct FragmentBindings {
    static constexpr int maxBuffers = 4;
    static constexpr int maxTextures = 16;
    std::array<std::vector<std::uint8_t>, maxBuffers> buffers;
    std::array<TextureRef, maxTextures> textures;
};

// A CPU fragment program shades the rows [rowBegin, rowEnd) of the target. It may be called
// concurrently for disjoint row ranges of one draw.
using FragmentProgram =
    std::function<void(const FragmentBindings &, Texture &target, int rowBegin, int rowEnd)>;

// The "program text" of the CPU backend: fragment programs registered under their function
// names. Registering the same name again replaces it.
void registerFragmentProgram(const std::string &name, FragmentProgram program);

struct RenderPipelineDescriptor {
    std::string vertexFunction;   // must name the full-canvas triangle "sceneV"-style vertex stage
    std::string fragmentFunction; // must name a registered fragment program
    PixelFormat colorFormat = PixelFormat::bgra8;
    // The fragment program promises to write every pixel of the rows it is given, opaquely and
    // without reading the target; the clear before its first draw is then skipped.
    bool writesEveryPixel = false;
};

class RenderPipeline {
public:
    RenderPipeline(RenderPipelineDescriptor d, FragmentProgram p)
        : descriptor_(std::move(d)), program_(std::move(p)) {}
    const RenderPipelineDescriptor &descriptor() const noexcept { return descriptor_; }
    const FragmentProgram &program() const noexcept { return program_; }

private:
    RenderPipelineDescriptor descriptor_;
    FragmentProgram program_;
};
using RenderPipelineRef = std::shared_ptr<const RenderPipeline>;

struct RenderPassDescriptor {
    TextureRef target;
    bool clear = true;
    std::array<float, 4> clearColor{0, 0, 0, 1}; // r, g, b, a
};

class CommandBuffer;

// Records one render pass: bindings, then full-canvas draws.
class RenderCommandEncoder {
public:
    void setRenderPipelineState(RenderPipelineRef pipeline) { pipeline_ = std::move(pipeline); }
    void setFragmentBytes(const void *bytes, std::size_t length, int index);
    void setFragmentTexture(TextureRef texture, int index);
    // Draws the one triangle that covers the whole target (clip space (-1,-1), (3,-1), (-1,3)).
    void drawFullCanvasTriangle();
    // How much of the target the next draws really shade, from 0 to 1 (1 by default). The CPU
    // backend shades a small share on one thread: waking the others costs more than it saves.
    void setShadedShare(double share) { shadedShare_ = share; }
    void endEncoding();

private:
    friend class CommandBuffer;
    RenderCommandEncoder(CommandBuffer &cb, RenderPassDescriptor pass);
    CommandBuffer &cb_;
    RenderPassDescriptor pass_;
    RenderPipelineRef pipeline_;
    FragmentBindings bindings_;
    bool ended_ = false;
    bool drawn_ = false; // the pass clears once, before its first draw
    double shadedShare_ = 1;
};

class CommandBuffer : public std::enable_shared_from_this<CommandBuffer> {
public:
    enum class Status { notEnqueued, committed, completed, error };
    using Operation = std::function<std::optional<DeviceError>()>;
    using CompletedHandler = std::function<void(CommandBuffer &)>;

    // Appends CPU work that runs on the device in encoding order; an error stops the rest of
    // the buffer and puts it in the error status.
    void encode(Operation op);
    // Null when the target is missing or not a render target of the pipeline's format.
    std::unique_ptr<RenderCommandEncoder>
    makeRenderCommandEncoder(const RenderPassDescriptor &pass);
    // Handlers must be added before commit; later ones are ignored.
    void addCompletedHandler(CompletedHandler handler);
    // Hands the buffer to the device. Committing twice, or encoding after commit, is a
    // programming error and is ignored.
    void commit();
    // Blocks until the completion handlers have run.
    void waitUntilCompleted();

    Status status() const;
    std::optional<DeviceError> error() const;

    // Implementation detail of the backend; public so that the backend can construct it.
    struct State;
    explicit CommandBuffer(std::shared_ptr<State> state);
    ~CommandBuffer();
    // Backend only: runs the encoded work, then the completion handlers, on the calling thread
    // (the device's worker), then wakes the waiters.
    void execute();

private:
    friend class RenderCommandEncoder;
    std::shared_ptr<State> state_;
};
using CommandBufferRef = std::shared_ptr<CommandBuffer>;

class Device;

class CommandQueue {
public:
    explicit CommandQueue(std::shared_ptr<Device> device) : device_(std::move(device)) {}
    CommandBufferRef makeCommandBuffer();
    const std::shared_ptr<Device> &device() const noexcept { return device_; }

private:
    std::shared_ptr<Device> device_;
};
using CommandQueueRef = std::shared_ptr<CommandQueue>;

class Device : public std::enable_shared_from_this<Device> {
public:
    virtual ~Device() = default;

    // The process-wide default device (the CPU backend), or null when a test has switched the
    // device off.
    static std::shared_ptr<Device> systemDefault();

    virtual std::string name() const = 0;
    CommandQueueRef makeCommandQueue();
    // A texture with its own zeroed memory; null for a size below 1 pixel.
    virtual TextureRef makeTexture(const TextureDescriptor &desc) = 0;
    // A texture that aliases the buffer's memory without copying; null when the descriptor does
    // not match the buffer's format and size.
    virtual TextureRef makeTexture(const TextureDescriptor &desc, const PixelBufferRef &buffer) = 0;
    // Compiles a pipeline; fails (null plus a message) for unknown functions or when the test
    // hook forces failure.
    virtual RenderPipelineRef makeRenderPipeline(const RenderPipelineDescriptor &desc,
                                                 std::string *error) = 0;

    // Runs a committed command buffer's work and then its completion handlers, asynchronously.
    virtual void submit(std::shared_ptr<CommandBuffer> cb) = 0;
    // Splits rows [0, rows) among the device's worker threads and waits for all.
    virtual void parallelRows(int rows, const std::function<void(int, int)> &body) = 0;
};

// Test hooks. Forcing compile failure makes every later makeRenderPipeline fail; switching the
// default device off makes systemDefault() return null.
void setPipelineCompileFailureForTesting(bool fail);
void setDefaultDeviceDisabledForTesting(bool disabled);

} // namespace qv::platform::gfx
