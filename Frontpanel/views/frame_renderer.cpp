#include "Frontpanel/views/frame_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qv::ui {

namespace media = platform::media;

Result<std::unique_ptr<FrameRenderer>> FrameRenderer::open(const std::filesystem::path &folder,
                                                           std::optional<Edits> edits,
                                                           std::optional<Size> canvas) {
    auto meta = RecordingMeta::readFromRecording(folder);
    if (!meta) return meta.error();
    if (!edits) {
        auto read = Edits::readFromRecording(folder);
        if (!read) return read.error();
        edits = read->has_value() ? std::move(**read) : Edits::defaults();
    }
    auto built = CompositionBuilder::buildNow(folder, *meta, *edits, {}, canvas);
    if (auto *error = std::get_if<media::MediaError>(&built))
        return Error{error->localizedDescription};

    std::unique_ptr<FrameRenderer> renderer(new FrameRenderer);
    renderer->composition_ = std::move(std::get<EditorComposition>(built));
    const media::VideoComposition &video = *renderer->composition_.videoComposition;
    auto source = media::CompositionFrameSource::open(*renderer->composition_.asset, video);
    if (!source) return source.error();
    renderer->source_ = std::move(*source);
    renderer->width_ = static_cast<int>(video.renderSize.width);
    renderer->height_ = static_cast<int>(video.renderSize.height);
    renderer->compositor_ = video.customVideoCompositor();
    if (!renderer->compositor_) return Error{"the compositor could not be created"};
    renderer->context_ =
        std::make_shared<media::FixedSizeRenderContext>(renderer->width_, renderer->height_);
    renderer->compositor_->renderContextChanged(*renderer->context_);
    return renderer;
}

FrameRenderer::~FrameRenderer() {
    // The compositor's queue may still refer to the composition's instructions.
    if (compositor_) compositor_->cancelAllPendingVideoCompositionRequests();
    compositor_.reset();
}

std::int64_t FrameRenderer::frameCount() const noexcept {
    return source_->frameCount();
}

std::int64_t FrameRenderer::durationMs() const noexcept {
    return composition_.asset->durationMs;
}

double FrameRenderer::framesPerSecond() const noexcept {
    const media::Time d = composition_.videoComposition->frameDuration;
    return d.value > 0 ? double(d.timescale) / double(d.value) : 30.0;
}

std::int64_t FrameRenderer::frameIndexAt(std::int64_t outputMs) const noexcept {
    return source_->frameIndexAt(outputMs);
}

std::int64_t FrameRenderer::timeMsOf(std::int64_t index) const noexcept {
    const media::Time t = source_->timeOf(index);
    return t.timescale > 0 ? t.value * 1000 / t.timescale : 0;
}

Result<platform::PixelBufferRef> FrameRenderer::render(std::int64_t index) {
    auto request = start(index);
    if (!request) return request.error();
    return finish(*request);
}

Result<FrameRenderer::Request> FrameRenderer::start(std::int64_t index) {
    index = std::clamp<std::int64_t>(index, 0, std::max<std::int64_t>(frameCount() - 1, 0));
    auto frame = source_->frame(index);
    if (!frame) return frame.error();
    auto request = std::make_shared<media::FrameRequest>(frame->time, frame->instruction, context_,
                                                         std::move(frame->sources));
    compositor_->startRequest(request);
    return request;
}

Result<platform::PixelBufferRef> FrameRenderer::finish(const Request &request) {
    auto outcome = request->wait();
    if (const auto *error = std::get_if<media::CompositionError>(&outcome))
        return Error{error->description};
    return std::get<platform::PixelBufferRef>(std::move(outcome));
}

QImage FrameRenderer::toImage(const platform::PixelBuffer &frame) {
    QImage image(frame.width(), frame.height(), QImage::Format_ARGB32_Premultiplied);
    const std::size_t rowBytes = std::size_t(frame.width()) * 4;
    for (int y = 0; y < frame.height(); ++y)
        std::memcpy(image.scanLine(y), frame.baseAddress() + std::size_t(y) * frame.bytesPerRow(),
                    rowBytes);
    return image;
}

Size FrameRenderer::fittedCanvas(Size source, Size bounds) {
    if (source.width <= 0 || source.height <= 0) return {2, 2};
    // Never larger than the source: a preview shows no more detail than the export has.
    const double scale =
        std::min({1.0, bounds.width / source.width, bounds.height / source.height});
    auto even = [](double v) { return std::max(2.0, 2.0 * std::floor(v / 2.0)); };
    return {even(source.width * scale), even(source.height * scale)};
}

} // namespace qv::ui
