#include "Compositor/engine/metal_video_compositor.h"

#include "platform/media/media_error.h"

#include "Compositor/engine/compositor_error.h"
#include "Compositor/engine/frame_timing.h"
#include "Compositor/engine/person_masks.h"
#include "Compositor/engine/scene_pass_kernel.h"
#include "Compositor/engine/scene_pass_setup.h"
#include "Compositor/engine/sprite_reduction.h"
#include "Compositor/scene/cursor_frame.h"
#include "Compositor/scene/dynamic_overlay.h"
#include "Compositor/scene/scene_renderer.h"
#include "Compositor/scene/webcam_frame.h"
#include "platform/core/clock.h"
#include "platform/core/log.h"
#include "platform/image/image_ops.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace qv {

namespace {

using platform::PixelFormat;
using namespace platform::gfx;
namespace media = platform::media;

platform::Logger &pipelineLog() {
    static platform::Logger l("com.quillvane.compositor", "pipeline");
    return l;
}

media::PixelBufferAttributes defaultAttributes() {
    return {{media::kPixelFormatTypeKey, std::int64_t(0x42475241)}, // 'BGRA'
            {media::kMetalCompatibilityKey, true}};
}

// Whole milliseconds, truncated toward zero, computed in integers: through a double, 1001/1000 s
// would become 1000.999... and land a millisecond early.
std::int64_t timelineMilliseconds(media::Time time) {
    if (time.timescale <= 0) return 0;
    const __int128 ms = static_cast<__int128>(time.value) * 1000 / time.timescale;
    return static_cast<std::int64_t>(ms);
}

bool sameObject(const std::weak_ptr<const SceneInstruction> &w,
                const std::shared_ptr<const SceneInstruction> &p) {
    return !w.expired() && !w.owner_before(p) && !p.owner_before(w);
}

// A copy of a frame in memory the device can alias. Throws std::bad_alloc when memory runs out,
// which fails the frame with that reason.
platform::PixelBufferRef deviceLayoutCopy(const platform::PixelBuffer &frame) {
    auto copy = platform::PixelBuffer::create(frame.width(), frame.height(), frame.format());
    if (!copy) throw std::bad_alloc();
    const std::size_t rowBytes =
        std::size_t(frame.width()) * std::size_t(platform::bytesPerPixel(frame.format()));
    for (int y = 0; y < frame.height(); ++y) std::memcpy(copy->row(y), frame.row(y), rowBytes);
    copy->setLineage(frame.lineage());
    return copy;
}

} // namespace

MetalVideoCompositor::MetalVideoCompositor()
    : renderQueue_("com.quillvane.compositor", platform::SerialQueue::Priority::userInitiated),
      personMasks_(std::make_unique<PersonMasks>(makePersonSegmentation())),
      sourcePixelBufferAttributes_(defaultAttributes()),
      requiredPixelBufferAttributesForRenderContext_(defaultAttributes()),
      outOfMemory_(compositionError(CompositorError::noFrame,
                                    "there is not enough memory for the frame's picture")) {
    metalDevice_ = Device::systemDefault();
    if (metalDevice_) commandQueue_ = metalDevice_->makeCommandQueue();
    if (!metalDevice_ || !commandQueue_) {
        metalDevice_.reset();
        commandQueue_.reset();
    }
}

MetalVideoCompositor::~MetalVideoCompositor() {
    // Frames already queued run to completion; then wait for the ones still on the device.
    renderQueue_.sync([] {});
    inFlight_.acquire();
    inFlight_.acquire();
    inFlight_.release(2);
}

std::optional<media::PixelBufferAttributes>
MetalVideoCompositor::sourcePixelBufferAttributes() const {
    std::lock_guard lock(attributesMutex_);
    return sourcePixelBufferAttributes_;
}

void MetalVideoCompositor::setSourcePixelBufferAttributes(
    std::optional<media::PixelBufferAttributes> a) {
    std::lock_guard lock(attributesMutex_);
    sourcePixelBufferAttributes_ = std::move(a);
}

media::PixelBufferAttributes
MetalVideoCompositor::requiredPixelBufferAttributesForRenderContext() const {
    std::lock_guard lock(attributesMutex_);
    return requiredPixelBufferAttributesForRenderContext_;
}

void MetalVideoCompositor::setRequiredPixelBufferAttributesForRenderContext(
    media::PixelBufferAttributes a) {
    std::lock_guard lock(attributesMutex_);
    requiredPixelBufferAttributesForRenderContext_ = std::move(a);
}

MetalVideoCompositor::Diagnostics MetalVideoCompositor::diagnostics() const {
    Diagnostics d;
    renderQueue_.sync([&] {
        d.metalUnavailable = metalUnavailable_;
        d.backgroundBuilds = cache_.builds;
        d.staticLayerRenders = staticLayerRenders_;
        d.gpuFrames = gpuFrames_;
        d.fallbackFrames = fallbackFrames_;
        d.cursorUploads = cursorUploads_;
        d.partialFrames = partialFrames_;
        d.inPlaceFrames = inPlaceFrames_;
        d.keptPixels = keptPixels_;
        d.webcamFrames = webcamFrames_;
        d.personMaskFrames = personMaskFrames_;
        d.segmentations = personMasks_->segmentations();
    });
    return d;
}

void MetalVideoCompositor::startRequest(media::RequestRef request) {
    inFlight_.acquire();
    renderQueue_.async([this, request = std::move(request)] { renderFrame(request); });
}

void MetalVideoCompositor::prerollForRendering(const media::InstructionRef &instruction,
                                               Size renderSize) {
    auto scene = std::dynamic_pointer_cast<const SceneInstruction>(instruction);
    if (!scene || !(renderSize.width >= 1 && renderSize.height >= 1 && renderSize.width < 65536 &&
                    renderSize.height < 65536))
        return;
    renderQueue_.async([this, scene, renderSize] {
        if (metalUnavailable_ || !metalDevice_) return;
        // Only a head start: a failure here shows again, and is reported, with the first frame.
        try {
            const int W = static_cast<int>(renderSize.width),
                      H = static_cast<int>(renderSize.height);
            const platform::ImageRef &bg = cache_.background(scene->sharedEdits(), W, H, *scene);
            const double rw = scene->renderSize().width, rh = scene->renderSize().height;
            if (rw >= 1 && rh >= 1 && rw < 65536 && rh < 65536)
                staticLayers(scene, static_cast<int>(rw), static_cast<int>(rh), bg);
        } catch (...) {
        }
    });
}

void MetalVideoCompositor::renderFrame(const media::RequestRef &request) {
    auto frame = std::make_shared<FrameInterval>();
    frame->begin(interval::frame);
    // The failure rule: exactly once per failed frame, and never after the hand-off.
    auto fail = [&](const std::string &reason = {}) {
        frame->end();
        inFlight_.release();
        request->finish(compositionError(CompositorError::noFrame, reason));
    };

    auto instruction =
        std::dynamic_pointer_cast<const SceneInstruction>(request->videoCompositionInstruction());
    if (!instruction) return fail();
    if (!metalDevice_ || !commandQueue_) return fail();
    CommandBufferRef cb = commandQueue_->makeCommandBuffer();
    if (!cb) return fail();
    const Size canvas = request->renderContext().size();
    if (!(canvas.width >= 1 && canvas.height >= 1 && canvas.width < 65536 && canvas.height < 65536))
        return fail();

    const std::int64_t t =
        instruction->segmentMap().sourceTime(timelineMilliseconds(request->compositionTime()));

    Reuse reuse;
    bool prepared = false;
    platform::ImageRef bg;
    platform::PixelBufferRef screen, webcam;
    try {
        bg = cache_.background(instruction->sharedEdits(), int(canvas.width), int(canvas.height),
                               *instruction);
        screen = request->sourceFrame(instruction->screenTrackID());
        if (const auto id = instruction->webcamTrackID()) webcam = request->sourceFrame(*id);
        prepared = prepareGpuPass(instruction, t, bg, screen, webcam, *cb, request->renderContext(),
                                  reuse);
    } catch (...) {
        // Memory ran out while a layer was made (an image library's allocation, for one): the
        // frame fails with that reason instead of taking the process down.
        return fail(media::currentExceptionAsError().localizedDescription);
    }
    if (!prepared) {
        // Planned, but no buffer to draw into: the output pool could not allocate one.
        if (!reuse.problem.empty()) return fail(reuse.problem);
        if (reuse.lineage && !reuse.out)
            return fail("there is not enough memory for the frame's picture");
        // What the pass cannot draw (a blurred mask, or the pass switched off) the image-filter
        // renderer draws.
        std::string problem;
        bool handedOff = false;
        try {
            handedOff =
                renderWithFilters(request, instruction, t, bg, screen, webcam, cb, frame, problem);
        } catch (...) {
            return fail(media::currentExceptionAsError().localizedDescription);
        }
        if (!handedOff) return fail(problem);
        return;
    }

    ++gpuFrames_;
    platform::PixelBufferRef out = std::move(reuse.out);
    // Here, before the device or anyone else sees the buffer (pixel_buffer.h): the completion
    // handler runs on the device's thread, and the next frame's pass reads the lineage here.
    out->setLineage(std::move(reuse.lineage));
    if (!handOff(request, std::move(out), *cb, frame))
        return fail("there is not enough memory for the frame's picture");
}

bool MetalVideoCompositor::handOff(const media::RequestRef &request, platform::PixelBufferRef out,
                                   CommandBuffer &cb, const std::shared_ptr<FrameInterval> &frame) {
    std::shared_ptr<FrameInterval> execute;
    try {
        execute = std::make_shared<FrameInterval>();
    } catch (const std::bad_alloc &) {
        return false;
    }
    execute->begin(interval::gpuExecute);
    CommandBuffer::CompletedHandler handler = [this, request, out, frame,
                                               execute](CommandBuffer &done) {
        if (done.status() == CommandBuffer::Status::error) {
            // The buffer's pixels are not what its lineage says: none of the kept outputs is
            // drawn over again.
            outputsLost_.store(true, std::memory_order_relaxed);
            // Nothing may escape the device's thread: when the error's text cannot be made,
            // the one made with the compositor tells the request.
            try {
                const auto err = done.error();
                request->finish(
                    err ? media::CompositionError{"com.quillvane.device", 2, err->message}
                        : compositionError(CompositorError::noFrame));
            } catch (const std::bad_alloc &) {
                request->finish(outOfMemory_);
            }
        } else {
            request->finish(out);
        }
        execute->end();
        frame->end();
        inFlight_.release();
    };
    try {
        cb.addCompletedHandler(std::move(handler));
    } catch (const std::bad_alloc &) {
        execute->end();
        return false;
    }
    cb.commit();
    return true;
}

bool MetalVideoCompositor::renderWithFilters(
    const media::RequestRef &request, const std::shared_ptr<const SceneInstruction> &instruction,
    std::int64_t t, const platform::ImageRef &bg, const platform::PixelBufferRef &screen,
    const platform::PixelBufferRef &webcam, const CommandBufferRef &cb,
    const std::shared_ptr<FrameInterval> &frame, std::string &problem) {
    // The next frame of the pass must not take rows from a frame it did not draw.
    drawn_ = {};
    const Size size = instruction->renderSize();
    if (!(size.width >= 1 && size.height >= 1 && size.width < 65536 && size.height < 65536)) {
        char text[96];
        std::snprintf(text, sizeof text, "the render size %g × %g has no whole pixel to draw",
                      size.width, size.height);
        problem = text;
        return false;
    }
    platform::PixelBufferRef out = request->renderContext().newPixelBuffer();
    if (!out) {
        problem = "there is not enough memory for the frame's picture";
        return false;
    }
    if (!out->isSurfaceBacked()) {
        problem = "the render context's buffer does not have the device's row layout";
        return false;
    }
    TextureRef outTex = metalDevice_->makeTexture(
        {PixelFormat::bgra8, out->width(), out->height(),
         usageShaderRead | usageShaderWrite | usageRenderTarget, StorageMode::shared},
        out);
    if (!outTex) return false;
    const double start = platform::hostTimeMs();

    FrameInterval vision;
    vision.begin(interval::vision);
    const bool removeBg = instruction->edits().effectiveScene().webcamRemoveBackground;
    const platform::ImageRef mask = personMasks_->filterMask(webcam, removeBg);
    vision.end();
    const double afterVision = platform::hostTimeMs();

    FrameInterval graph;
    graph.begin(interval::renderGraph);
    auto image = std::make_shared<platform::FloatImage>(
        SceneRenderer::render(screen, webcam, bg, *instruction, mask, t));
    graph.end();
    const double afterGraph = platform::hostTimeMs();
    if (image->empty()) {
        problem = "there is not enough memory for the frame's picture";
        return false;
    }
    if (webcam && SceneRenderer::webcamFrame(*instruction, webcam, t)) {
        ++webcamFrames_;
        if (removeBg && mask) ++personMaskFrames_;
    }

    FrameInterval encode;
    encode.begin(interval::gpuEncode);
    cb->encode([image, outTex]() -> std::optional<DeviceError> {
        const auto bitmap = platform::ImageContext{}.createImage(*image, image->extent());
        if (!bitmap) return DeviceError{"there is not enough memory for the frame's picture"};
        platform::renderImage(*bitmap, *outTex);
        return std::nullopt;
    });
    encode.end();
    const double afterEncode = platform::hostTimeMs();

    ++fallbackFrames_;
    auto lineage = std::make_shared<platform::FrameLineage>();
    lineage->id = platform::FrameLineage::newId();
    out->setLineage(std::move(lineage));
    if (!handOff(request, std::move(out), *cb, frame)) {
        problem = "there is not enough memory for the frame's picture";
        return false;
    }
    perf_.record(afterVision - start, afterGraph - afterVision, afterEncode - afterGraph,
                 platform::hostTimeMs() - start);
    return true;
}

bool MetalVideoCompositor::disable(const char *reason) {
    if (!metalUnavailable_)
        pipelineLog().error("compositing pass switched off (%s); frames are drawn by the "
                            "image-filter renderer from now on",
                            reason);
    metalUnavailable_ = true;
    return false;
}

bool MetalVideoCompositor::prepareGpuPass(
    const std::shared_ptr<const SceneInstruction> &instruction, std::int64_t t,
    const platform::ImageRef &background, const platform::PixelBufferRef &screen,
    const platform::PixelBufferRef &webcam, CommandBuffer &cb, media::RenderContext &context,
    Reuse &reuse) {
    if (metalUnavailable_) return false;
    if (!metalDevice_) return disable("no device");
    if (!scenePipelineState_) {
        registerScenePassProgram();
        std::string error;
        scenePipelineState_ = metalDevice_->makeRenderPipeline(scenePipelineDescriptor(), &error);
        if (!scenePipelineState_) {
            pipelineLog().error("cannot compile the compositing pass: %s", error.c_str());
            return disable("pipeline compile failed");
        }
    }
    const double rw = instruction->renderSize().width, rh = instruction->renderSize().height;
    // NaN and infinite sizes fail these tests too.
    if (!(rw >= 1 && rh >= 1 && rw < 65536 && rh < 65536)) return disable("render size");
    const int W = static_cast<int>(rw), H = static_cast<int>(rh);

    if (outputsLost_.exchange(false, std::memory_order_relaxed)) {
        outputs_ = platform::FrameRing(kKeptOutputs);
        drawn_ = {};
    }
    const auto layers = staticLayers(instruction, W, H, background);
    if (!layers) return disable("static layers");

    const auto geometry = sceneGeometry(*instruction, t);
    if (!geometry) return false; // an active blur mask: this frame only

    TextureRef screenTex;
    platform::PixelBufferRef screenFrame = screen;
    // A frame in memory of another layout is copied into the device's, with its lineage: the
    // pixels are the same.
    if (screenFrame && !screenFrame->isSurfaceBacked())
        screenFrame = deviceLayoutCopy(*screenFrame);
    if (screenFrame && screenFrame->format() == PixelFormat::bgra8)
        screenTex = metalDevice_->makeTexture(
            {PixelFormat::bgra8, screenFrame->width(), screenFrame->height(),
             usageShaderRead | usageShaderWrite | usageRenderTarget, StorageMode::shared},
            screenFrame);

    ScenePassLayers passLayers;
    passLayers.radius = layers->radius;
    passLayers.hasScreen = screenTex != nullptr;
    TextureRef cursorTex;
    if (const auto cursor =
            SceneRenderer::cursorFrame(*instruction, t, geometry->placement.cropOrigin)) {
        // The size the sprite covers on the canvas: content pixels scaled to the screen
        // rectangle, and by the zoom.
        const auto &P = geometry->placement;
        const double zoom = geometry->zoomActive ? geometry->zoomS : 1;
        const double drawnW =
            cursor->spriteRect.width * zoom * P.screenRect.width / P.contentSize.width;
        const double drawnH =
            cursor->spriteRect.height * zoom * P.screenRect.height / P.contentSize.height;
        if (cursor->sprite && (cursorTex = cursorTexture(cursor->sprite, drawnW, drawnH)))
            passLayers.cursorRect = cursor->spriteRect;
        if (const auto &fx = cursor->click)
            passLayers.click = ScenePassLayers::Click{static_cast<int>(fx->kind),
                                                      fx->center.x,
                                                      fx->center.y,
                                                      fx->radius,
                                                      fx->lineWidth,
                                                      fx->alpha};
    }
    TextureRef camTex, camShadowTex, camHairTex, personMaskTex;
    if (const auto cam = SceneRenderer::webcamFrame(*instruction, webcam, t)) {
        platform::PixelBufferRef camFrame = webcam;
        if (!camFrame->isSurfaceBacked()) camFrame = deviceLayoutCopy(*camFrame);
        if (camFrame->format() == PixelFormat::bgra8)
            camTex = metalDevice_->makeTexture({PixelFormat::bgra8, camFrame->width(),
                                                camFrame->height(), usageShaderRead,
                                                StorageMode::shared},
                                               camFrame);
        if (camTex) {
            ScenePassLayers::Webcam layer{cam->dest, cam->shape, cam->cornerRadius, cam->alpha,
                                          cam->camExtent};
            if (cam->shadow)
                camShadowTex =
                    canvasLayerTexture(cam->shadow, W, H, camShadowTexture_, camShadowSource_);
            if (cam->hairline)
                camHairTex =
                    canvasLayerTexture(cam->hairline, W, H, camHairTexture_, camHairSource_);
            layer.hasShadow = camShadowTex != nullptr;
            layer.hasHairline = camHairTex != nullptr;
            if (cam->removeBg)
                if (const auto mask = personMasks_->passMask(webcam, true))
                    personMaskTex = maskTexture(*mask);
            layer.maskBound = personMaskTex != nullptr;
            passLayers.webcam = layer;
            ++webcamFrames_;
            if (layer.maskBound) ++personMaskFrames_;
        }
    }
    TextureRef overlayTex;
    if (const auto overlay = SceneRenderer::dynamicOverlay(*instruction, t)) {
        overlayTex = overlayTarget(W, H);
        if (!overlayTex) return disable("overlay target");
        // The image is the canvas at the origin: its rows are the texture's, top first, and its
        // content runs are known before the render runs.
        const platform::PixelBuffer &bitmap = overlay->bitmap();
        overlayTex->setContentRuns(bitmap.width() == W && bitmap.height() == H
                                       ? platform::gfx::computeContentRuns(bitmap)
                                       : nullptr);
        cb.encode([overlay, overlayTex]() -> std::optional<DeviceError> {
            platform::renderImage(*overlay, *overlayTex);
            return std::nullopt;
        });
        passLayers.hasOverlay = true;
    }
    const ScenePassParameters params = fillSceneUniforms(*instruction, t, *geometry, passLayers);

    // Slots whose layer is off still get a valid image: the border layer always exists.
    DrawnFrame next;
    next.layers.fill(layers->border);
    next.layers[slotBehind] = layers->behind;
    next.layers[slotChrome] = layers->chrome;
    if (cursorTex) next.layers[slotCursor] = cursorTex;
    if (camTex) next.layers[slotCamera] = camTex;
    if (camShadowTex) next.layers[slotCamShadow] = camShadowTex;
    if (camHairTex) next.layers[slotCamHairline] = camHairTex;
    if (personMaskTex) next.layers[slotPersonMask] = personMaskTex;
    if (overlayTex) next.layers[slotOverlay] = overlayTex;
    next.outputId = platform::FrameLineage::newId();
    const Size canvas = context.size();
    next.width = static_cast<int>(canvas.width);
    next.height = static_cast<int>(canvas.height);
    next.uniforms = params.uniforms;
    next.masks = params.masks;
    if (screenTex) {
        next.screenId = screenFrame->lineage() ? screenFrame->lineage()->id : 0;
        next.screenWidth = screenFrame->width();
        next.screenHeight = screenFrame->height();
    }
    // The plan relates the frames themselves, whichever buffers they are drawn into; the
    // output carries it once drawn.
    auto lineage = std::make_shared<platform::FrameLineage>();
    lineage->id = next.outputId;
    if (auto plan = planRedraw(drawn_, next, screenTex ? screenFrame->lineage() : nullptr)) {
        lineage->parent = drawn_.outputId;
        lineage->changed = std::move(*plan);
    }
    reuse.lineage = lineage;
    outputs_.record(lineage);

    const auto target = chooseTarget(context, next, *lineage, reuse.problem);
    if (!target) return false;
    reuse.out = target->buffer;
    const bool inPlace = target->inPlace;
    const platform::RowSpans *shade = target->shade.empty() ? nullptr : &target->shade;
    const std::uint64_t copyFrom = target->copyFrom;
    TextureRef outTex = metalDevice_->makeTexture(
        {PixelFormat::bgra8, reuse.out->width(), reuse.out->height(),
         usageShaderRead | usageShaderWrite | usageRenderTarget, StorageMode::shared},
        reuse.out);
    if (!outTex) return false;

    // A buffer drawn over in place keeps what it holds: no clear.
    auto encoder = cb.makeRenderCommandEncoder({outTex, !inPlace, {0, 0, 0, 1}});
    if (!encoder) return false;
    encoder->setRenderPipelineState(scenePipelineState_);
    encoder->setFragmentBytes(&params.uniforms, sizeof params.uniforms, 0);
    encoder->setFragmentBytes(params.masks.data(), params.masks.size() * sizeof(MaskRect), 1);
    for (int slot = 0; slot < sceneSlotCount; ++slot)
        if (slot != slotScreen) encoder->setFragmentTexture(next.layers[slot], slot);
    encoder->setFragmentTexture(screenTex ? screenTex : layers->border, slotScreen);
    if (shade) {
        const auto plan = redrawPlanBytes(copyFrom, *shade);
        encoder->setFragmentBytes(plan.data(), plan.size(), kRedrawPlanBuffer);
        if (copyFrom) encoder->setFragmentTexture(drawn_.output, kPreviousFrameSlot);
        ++partialFrames_;
        std::int64_t shaded = 0;
        for (const platform::RowChanges &r : *shade)
            for (platform::RowSpan s : r) shaded += s.end - s.begin;
        const std::int64_t all = std::int64_t(next.width) * next.height;
        keptPixels_ += all - shaded;
        // Copying the unchanged pixels is work too.
        encoder->setShadedShare(copyFrom ? 1.0
                                         : double(shaded) / double(std::max<std::int64_t>(all, 1)));
    }
    next.output = outTex;
    overlayDrawn_ = overlayTex;
    drawn_ = std::move(next);
    encoder->drawFullCanvasTriangle();
    encoder->endEncoding();
    return true;
}

std::optional<MetalVideoCompositor::Target>
MetalVideoCompositor::chooseTarget(media::RenderContext &context, const DrawnFrame &next,
                                   const platform::FrameLineage &lineage, std::string &problem) {
    // The cheapest target: a kept buffer brought up to date in place; else a fresh one, which
    // takes the unchanged pixels from the frame before when there is a plan.
    const platform::PixelBuffer *heldByDrawn = drawn_.output ? &drawn_.output->buffer() : nullptr;
    if (lineage.parent)
        if (auto kept = outputs_.reusable(next.width, next.height, {heldByDrawn})) {
            ++inPlaceFrames_;
            return Target{std::move(kept->buffer), std::move(kept->spans), 0, true};
        }
    if (!lineage.parent)
        if (auto idle = outputs_.idle(next.width, next.height))
            return Target{std::move(idle), {}, 0, false}; // drawn whole, over whatever it held
    Target t{context.newPixelBuffer(), {}, 0, false};
    if (!t.buffer) return std::nullopt;
    // The pass draws straight into the buffer through a texture that aliases it.
    if (!t.buffer->isSurfaceBacked()) {
        problem = "the render context's buffer does not have the device's row layout";
        return std::nullopt;
    }
    outputs_.keep(t.buffer);
    if (lineage.parent && drawn_.output) {
        t.shade = lineage.changed;
        t.copyFrom = drawn_.outputId;
    }
    return t;
}

std::optional<MetalVideoCompositor::StaticLayers>
MetalVideoCompositor::staticLayers(const std::shared_ptr<const SceneInstruction> &instruction,
                                   int W, int H, const platform::ImageRef &background) {
    const Edits::Scene &scene = instruction->edits().effectiveScene();
    // The radius is fresh every frame; the layers themselves (a full-canvas composite of the
    // shadow over the background among them) are baked only when the key changes.
    const double radius = SceneRenderer::staticOverlayRadius(scene, instruction->screenSize(),
                                                             instruction->renderSize());
    if (sameObject(staticInstanceID_, instruction) && staticW_ == W && staticH_ == H &&
        behindTexture_ && chromeTexture_ && borderTexture_)
        return StaticLayers{behindTexture_, chromeTexture_, borderTexture_, radius};
    const auto overlays = SceneRenderer::staticOverlays(scene, instruction->screenSize(),
                                                        instruction->renderSize(), background);

    TextureRef empty = emptyTexture();
    if (!empty) return std::nullopt;
    TextureRef behind = renderToTexture(overlays.behind, W, H);
    if (!behind) return std::nullopt;
    TextureRef chrome = overlays.chrome ? renderToTexture(overlays.chrome, W, H) : nullptr;
    TextureRef border = overlays.border ? renderToTexture(overlays.border, W, H) : nullptr;

    behindTexture_ = behind;
    chromeTexture_ = chrome ? chrome : empty;
    borderTexture_ = border ? border : empty;
    staticInstanceID_ = instruction;
    staticW_ = W;
    staticH_ = H;
    ++staticLayerRenders_;
    return StaticLayers{behindTexture_, chromeTexture_, borderTexture_, radius};
}

TextureRef MetalVideoCompositor::renderToTexture(const platform::ImageRef &image, int W, int H) {
    if (!image || !metalDevice_ || !commandQueue_) return nullptr;
    TextureRef texture = metalDevice_->makeTexture(
        {PixelFormat::bgra8, W, H, usageShaderRead | usageShaderWrite | usageRenderTarget,
         StorageMode::gpuPrivate});
    if (!texture) return nullptr;
    CommandBufferRef cb = commandQueue_->makeCommandBuffer();
    if (!cb) return nullptr;
    cb->encode([image, texture]() -> std::optional<DeviceError> {
        platform::renderImage(*image, *texture);
        return std::nullopt;
    });
    cb->commit();
    cb->waitUntilCompleted();
    if (cb->status() == CommandBuffer::Status::error) return nullptr;
    // Static layers are drawn every frame: record where they are empty, once.
    texture->setContentRuns(computeContentRuns(texture->buffer()));
    return texture;
}

TextureRef MetalVideoCompositor::canvasLayerTexture(const platform::ImageRef &image, int W, int H,
                                                    TextureRef &texture,
                                                    platform::ImageRef &source) {
    if (texture && source == image && texture->width() == W && texture->height() == H)
        return texture;
    TextureRef rendered = renderToTexture(image, W, H);
    if (!rendered) return nullptr;
    texture = rendered;
    source = image;
    return texture;
}

TextureRef MetalVideoCompositor::maskTexture(const platform::PixelBuffer &mask) {
    const int w = mask.width(), h = mask.height();
    if (w < 1 || h < 1 || mask.format() != PixelFormat::r8 || !metalDevice_) return nullptr;
    // A texture per frame: the frame before may still be reading its own on the device, and a
    // mask is small.
    TextureRef texture =
        metalDevice_->makeTexture({PixelFormat::r8, w, h, usageShaderRead, StorageMode::shared});
    if (!texture) return nullptr;
    for (int y = 0; y < h; ++y)
        std::memcpy(texture->buffer().row(y), mask.row(y), static_cast<std::size_t>(w));
    return texture;
}

TextureRef MetalVideoCompositor::cursorTexture(const platform::ImageRef &sprite, double drawnW,
                                               double drawnH) {
    if (cursorAtlasSource_ != sprite) {
        cursorLevels_.clear();
        cursorAtlasSource_ = nullptr;
    }
    const platform::PixelBuffer &bitmap = sprite->bitmap();
    const int level = reductionLevel(bitmap.width(), bitmap.height(), drawnW, drawnH);
    if (level < static_cast<int>(cursorLevels_.size()) && cursorLevels_[level])
        return cursorLevels_[level];
    const int w = reducedSize(bitmap.width(), level), h = reducedSize(bitmap.height(), level);
    if (w < 1 || h < 1 || !metalDevice_) return nullptr;
    const platform::PixelBufferRef picture = reducedSprite(sprite->bitmapRef(), level);
    if (!picture) return nullptr;
    TextureRef texture =
        metalDevice_->makeTexture({PixelFormat::bgra8, w, h, usageShaderRead, StorageMode::shared});
    if (!texture) return nullptr;
    // Row 0 of the texture is the sprite's visual bottom.
    for (int y = 0; y < h; ++y)
        std::memcpy(texture->buffer().row(y), picture->row(h - 1 - y),
                    static_cast<std::size_t>(w) * 4);
    if (level >= static_cast<int>(cursorLevels_.size())) cursorLevels_.resize(level + 1);
    cursorLevels_[level] = texture;
    cursorAtlasSource_ = sprite;
    ++cursorUploads_;
    return texture;
}

TextureRef MetalVideoCompositor::overlayTarget(int W, int H) {
    if (!metalDevice_ || W < 1 || H < 1) return nullptr;
    if (overlayScratchW_ != W || overlayScratchH_ != H) {
        overlayScratch_ = {};
        overlayScratchW_ = W;
        overlayScratchH_ = H;
    }
    // Command buffers complete in commit order and at most two frames are in flight, so only
    // the last encoded frame can still be reading its target.
    TextureRef &target = overlayScratch_[0] && overlayScratch_[0] == overlayDrawn_
                             ? overlayScratch_[1]
                             : overlayScratch_[0];
    if (!target)
        target = metalDevice_->makeTexture({PixelFormat::bgra8, W, H,
                                            usageShaderRead | usageShaderWrite | usageRenderTarget,
                                            StorageMode::gpuPrivate});
    return target;
}

TextureRef MetalVideoCompositor::emptyTexture() {
    if (!emptyTexture_ && metalDevice_)
        emptyTexture_ = metalDevice_->makeTexture(
            {PixelFormat::bgra8, 1, 1, usageShaderRead, StorageMode::shared});
    return emptyTexture_;
}

} // namespace qv
