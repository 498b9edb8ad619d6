// MetalVideoCompositor: the custom video compositor that players and export sessions create to
// draw every frame of a composition built on SceneInstruction values.
//
// Threading: startRequest is called on the caller's thread and blocks while two frames are
// between acceptance and device completion. All frame work runs on the serial render queue
// "com.quillvane.compositor", one frame at a time, in request order; every piece of mutable
// state below is touched only there. Completion handlers run on the device's worker thread and
// touch only the request, its output buffer, the trace intervals and the permit.
// Lifetime: the destructor waits for queued frames and for frames still on the device.
#pragma once

#include "Compositor/engine/frame_reuse.h"
#include "Compositor/engine/frame_timing.h"
#include "Compositor/engine/result_cache.h"
#include "Compositor/engine/scene_instruction.h"
#include "platform/core/serial_queue.h"
#include "platform/gfx/device.h"
#include "platform/media/video_compositing.h"
#include "platform/video/frame_ring.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <string>
#include <vector>

namespace qv {

class PersonMasks;

class MetalVideoCompositor final : public platform::media::VideoCompositing {
public:
    MetalVideoCompositor();
    ~MetalVideoCompositor() override;
    MetalVideoCompositor(const MetalVideoCompositor &) = delete;
    MetalVideoCompositor &operator=(const MetalVideoCompositor &) = delete;

    std::optional<platform::media::PixelBufferAttributes>
    sourcePixelBufferAttributes() const override;
    void setSourcePixelBufferAttributes(std::optional<platform::media::PixelBufferAttributes> a);
    platform::media::PixelBufferAttributes
    requiredPixelBufferAttributesForRenderContext() const override;
    void setRequiredPixelBufferAttributesForRenderContext(platform::media::PixelBufferAttributes a);

    void renderContextChanged(platform::media::RenderContext &) override {}
    void startRequest(platform::media::RequestRef request) override;
    void cancelAllPendingVideoCompositionRequests() override {}
    // Makes the background and static layers of the instruction on the render queue.
    void prerollForRendering(const platform::media::InstructionRef &instruction,
                             Size renderSize) override;

    // What the compositor has done so far; read on the render queue.
    struct Diagnostics {
        bool metalUnavailable = false;
        int backgroundBuilds = 0;
        int staticLayerRenders = 0; // instruction/size changes that re-rendered the layers
        int gpuFrames = 0;
        int fallbackFrames = 0;
        int cursorUploads = 0;       // sprite sizes uploaded as textures
        int partialFrames = 0;       // frames that shaded only what changed
        int inPlaceFrames = 0;       // of those, frames drawn over a buffer kept from before
        std::int64_t keptPixels = 0; // pixels those plans took instead of shading
        int webcamFrames = 0;        // frames that showed the webcam bubble
        int personMaskFrames = 0;    // of those, frames with the person cut out
        std::int64_t segmentations = 0;
    };
    Diagnostics diagnostics() const;

private:
    struct StaticLayers {
        platform::gfx::TextureRef behind, chrome, border;
        double radius = 0;
    };

    // The buffer a frame is drawn into, and how the frame relates to the one before it.
    struct Reuse {
        platform::PixelBufferRef out;
        platform::FrameLineageRef lineage;
        std::string problem; // why no frame can be drawn, when it is not memory
    };

    // Where a frame is drawn and what of it is shaded (`shade` empty: everything). With
    // `copyFrom`, the rest is copied from the frame drawn before, which has that lineage id.
    struct Target {
        platform::PixelBufferRef buffer;
        platform::RowSpans shade;
        std::uint64_t copyFrom = 0;
        bool inPlace = false; // drawn over a kept buffer: the rest is there already
    };

    void renderFrame(const platform::media::RequestRef &request);
    // Hands the frame's command buffer to the device; its completion finishes the request.
    // False, with nothing handed off, when memory ran out.
    bool handOff(const platform::media::RequestRef &request, platform::PixelBufferRef out,
                 platform::gfx::CommandBuffer &cb, const std::shared_ptr<FrameInterval> &frame);
    // Draws the frame with the image-filter renderer and hands it off. False, with the reason
    // when there is one, when the frame cannot be drawn.
    bool renderWithFilters(const platform::media::RequestRef &request,
                           const std::shared_ptr<const SceneInstruction> &instruction,
                           std::int64_t t, const platform::ImageRef &bg,
                           const platform::PixelBufferRef &screen,
                           const platform::PixelBufferRef &webcam,
                           const platform::gfx::CommandBufferRef &cb,
                           const std::shared_ptr<FrameInterval> &frame, std::string &problem);
    std::optional<Target> chooseTarget(platform::media::RenderContext &context,
                                       const DrawnFrame &next,
                                       const platform::FrameLineage &lineage, std::string &problem);
    bool prepareGpuPass(const std::shared_ptr<const SceneInstruction> &instruction,
                        std::int64_t sourceMs, const platform::ImageRef &background,
                        const platform::PixelBufferRef &screen,
                        const platform::PixelBufferRef &webcam, platform::gfx::CommandBuffer &cb,
                        platform::media::RenderContext &context, Reuse &reuse);
    std::optional<StaticLayers>
    staticLayers(const std::shared_ptr<const SceneInstruction> &instruction, int W, int H,
                 const platform::ImageRef &background);
    platform::gfx::TextureRef renderToTexture(const platform::ImageRef &image, int W, int H);
    platform::gfx::TextureRef emptyTexture();
    // A render target for the dynamic overlay: one of two kept while the size stays, never the
    // one the frame before bound (it may still be on the device). Its content is overwritten by
    // the frame that takes it.
    platform::gfx::TextureRef overlayTarget(int W, int H);
    // The sprite as a texture, reduced to the smallest halving still at least drawnW × drawnH
    // (canvas pixels); each size is uploaded once per sprite.
    platform::gfx::TextureRef cursorTexture(const platform::ImageRef &sprite, double drawnW,
                                            double drawnH);
    // The bubble's halo and outline, canvas-sized, re-rendered only when their image changes.
    platform::gfx::TextureRef canvasLayerTexture(const platform::ImageRef &image, int W, int H,
                                                 platform::gfx::TextureRef &texture,
                                                 platform::ImageRef &source);
    // The person mask copied into a one-channel texture.
    platform::gfx::TextureRef maskTexture(const platform::PixelBuffer &mask);
    bool disable(const char *reason);

    mutable platform::SerialQueue renderQueue_;
    std::counting_semaphore<2> inFlight_{2};
    std::shared_ptr<platform::gfx::Device> metalDevice_;
    platform::gfx::CommandQueueRef commandQueue_;
    bool metalUnavailable_ = false;
    platform::gfx::RenderPipelineRef scenePipelineState_;

    // Identity of the instruction the static layers were made for. A weak reference, so that a
    // new instruction allocated where a released one lived is never mistaken for it.
    std::weak_ptr<const SceneInstruction> staticInstanceID_;
    int staticW_ = 0, staticH_ = 0;
    platform::gfx::TextureRef behindTexture_, chromeTexture_, borderTexture_;
    platform::gfx::TextureRef emptyTexture_;
    std::array<platform::gfx::TextureRef, 2> overlayScratch_;
    int overlayScratchW_ = 0, overlayScratchH_ = 0;
    platform::gfx::TextureRef overlayDrawn_; // the target the last encoded frame bound, if any

    platform::ImageRef cursorAtlasSource_;
    std::vector<platform::gfx::TextureRef> cursorLevels_; // by number of halvings

    platform::gfx::TextureRef camShadowTexture_, camHairTexture_;
    platform::ImageRef camShadowSource_, camHairSource_;
    std::unique_ptr<PersonMasks> personMasks_;
    int webcamFrames_ = 0;
    int personMaskFrames_ = 0;

    // The last frame handed to the device, which the next one may take rows from.
    DrawnFrame drawn_;
    // Output buffers drawn before, to draw over again.
    static constexpr std::size_t kKeptOutputs = 6;
    platform::FrameRing outputs_{kKeptOutputs};
    // Set by the device's thread when a frame failed there; the render queue then forgets the
    // kept outputs, whose pixels may no longer match their lineage.
    std::atomic<bool> outputsLost_{false};
    int partialFrames_ = 0;
    int inPlaceFrames_ = 0;
    std::int64_t keptPixels_ = 0;

    ResultCache cache_;
    PerfMeter perf_;
    int cursorUploads_ = 0;
    int staticLayerRenders_ = 0;
    int gpuFrames_ = 0;
    int fallbackFrames_ = 0;

    mutable std::mutex attributesMutex_;
    std::optional<platform::media::PixelBufferAttributes> sourcePixelBufferAttributes_;
    platform::media::PixelBufferAttributes requiredPixelBufferAttributesForRenderContext_;
    // Made while memory is there, for a frame whose own error cannot be made.
    const platform::media::CompositionError outOfMemory_;
};

} // namespace qv
